#include "KsAudioFileDecoder.h"

std::unique_ptr<KsAudioFileBase> makeDecodedFileReader() {
    return std::make_unique<KsAudioFileDecoder>();
}

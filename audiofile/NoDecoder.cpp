#include "KsAudioFileBase.h"

// Systems without the platform's codec have no decoded files.
std::unique_ptr<KsAudioFileBase> makeDecodedFileReader() {
    return nullptr;
}

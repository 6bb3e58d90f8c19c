#include "KsAudioFileAIFF.h"
#include "KsAudioFileBase.h"
#include "KsAudioFileWAV.h"

#include <cctype>

// The reader for paths that name neither WAV nor AIFF: the platform's
// decoder where there is one, else none.
std::unique_ptr<KsAudioFileBase> makeDecodedFileReader();

namespace {

char lowerCase(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// ".aifc" names the compressed AIFF variant, which the AIFF reader reads.
bool endsInAifc(const std::string& path) {
    const std::string ending = ".aifc";
    if (path.size() < ending.size())
        return false;
    for (size_t i = 0; i < ending.size(); ++i) {
        if (lowerCase(path[path.size() - ending.size() + i]) != ending[i])
            return false;
    }
    return true;
}

} // namespace

uint32_t createReaderForPath(std::unique_ptr<KsAudioFileBase>& slot, const std::string& path) {
    slot.reset();
    const char last = path.empty() ? '\0' : lowerCase(path.back());
    if (last == 'v')
        slot = std::make_unique<KsAudioFileWAV>();
    else if (last == 'f' || endsInAifc(path))
        slot = std::make_unique<KsAudioFileAIFF>();
    else
        slot = makeDecodedFileReader();
    return slot != nullptr ? slot->openForReading(path) : 0;
}

bool hasWriterForPath(const std::string& path) {
    return !path.empty() && (path.back() == 'v' || path.back() == 'f');
}

bool createWriterForPath(std::unique_ptr<KsAudioFileBase>& slot, const std::string& path,
                         uint32_t frames, uint32_t rate) {
    slot.reset();
    const char last = path.empty() ? '\0' : path.back();
    if (last == 'v')
        slot = std::make_unique<KsAudioFileWAV>();
    else if (last == 'f')
        slot = std::make_unique<KsAudioFileAIFF>();
    else
        return false;
    return slot->openForWriting(path, frames, rate);
}

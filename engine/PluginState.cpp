// The plug-in's state between runs: its chunk in "saved.chunk" in the folder
// its installation names in the registry ("contentpath").

#include "KsVSTHostInterface.h"

#include "Files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

namespace {

const char* const kStateFileName = "saved.chunk";

// Chunk sizes are kept within 32 bits: plug-ins take the size as a 32-bit
// number, so a larger state is neither written nor handed over.
constexpr long kLargestChunk = std::numeric_limits<int32_t>::max();

bool writeWholeFile(const std::string& path, const void* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    const bool flushed = platform::flushToDisk(file);
    return std::fclose(file) == 0 && written && flushed;
}

enum class StateFile { absent, unreadable, read };

// The whole file, or nothing: a short read hands no partial state over. A
// file that is there but cannot be read whole (locked by another program,
// too large, no memory for it) is told apart from one that is not there.
StateFile readWholeFile(const std::string& path, std::vector<char>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return errno == ENOENT ? StateFile::absent : StateFile::unreadable;
    bool complete = false;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size >= 0 && size <= kLargestChunk && std::fseek(file, 0, SEEK_SET) == 0) {
            try {
                bytes.resize(static_cast<size_t>(size));
                complete = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
            } catch (const std::bad_alloc&) {
                complete = false; // no memory for it: as unreadable as a locked file
            }
        }
    }
    std::fclose(file);
    return complete ? StateFile::read : StateFile::unreadable;
}

bool fileIsThere(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return errno != ENOENT;
    std::fclose(file);
    return true;
}

} // namespace

// The chunk goes to a temporary file beside the state file, which replaces
// the old one only after a complete write: a failed save keeps the last
// good state. A state file this run could not hand over is the user's, not
// ours to overwrite: it is first kept as "saved.chunk.bak", and while such a
// backup is there the save is skipped.
void KsVSTHostInterface::saveState() {
    if (settings == nullptr)
        return;
    std::string folder;
    if (!settings->readString("contentpath", folder))
        return;
    if (hostLib == nullptr || hostLib->effect == nullptr)
        return;
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, 0, 0, &data);
    if (size <= 0 || size > kLargestChunk || data == nullptr)
        return; // nothing to keep, or a state that could never be loaded again
    const std::string path = folder + kStateFileName;
    if (stateFileNotLoaded) {
        // An older backup may be the only copy of the user's bank (the file
        // was not handed over in an earlier run either): it is never replaced.
        const std::string backup = path + ".bak";
        if (fileIsThere(backup) || !platform::replaceFile(path, backup))
            return;
        stateFileNotLoaded = false; // a second save must not put our own state in the .bak
    }
    const std::string temporary = path + ".new";
    if (!writeWholeFile(temporary, data, static_cast<size_t>(size)) ||
        !platform::replaceFile(temporary, path))
        std::remove(temporary.c_str());
}

void KsVSTHostInterface::loadState() {
    if (settings == nullptr)
        return;
    std::string folder;
    if (!settings->readString("contentpath", folder))
        return;
    std::vector<char> chunk;
    const StateFile state = readWholeFile(folder + kStateFileName, chunk);
    stateFileNotLoaded = state == StateFile::unreadable;
    if (state != StateFile::read)
        return;
    // An empty chunk still comes with a valid address: plug-ins may look at
    // the bytes before they look at the size.
    static char emptyChunk = 0;
    if (hostLib != nullptr && hostLib->effect != nullptr)
        dispatch(effSetChunk, 0, static_cast<VstIntPtr>(chunk.size()),
                 chunk.empty() ? &emptyChunk : chunk.data());
}

#include "DynamicLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {
bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}
} // namespace

DynamicLibrary DynamicLibrary::load(const std::string& path, LibraryLoadError* error) {
    LibraryLoadError result = LibraryLoadError::none;
    void* h = nullptr;
    if (!fileExists(path)) {
        result = LibraryLoadError::fileNotFound;
    } else {
        // A bare file name means the file here, not a search of the
        // system's library folders.
        const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
        h = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr)
            result = LibraryLoadError::notLoadable;
    }
    if (error != nullptr)
        *error = result;
    return DynamicLibrary(h);
}

void* DynamicLibrary::symbol(const char* name) const {
    return handle != nullptr ? ::dlsym(handle, name) : nullptr;
}

void DynamicLibrary::free() {
    if (handle != nullptr)
        ::dlclose(handle);
    handle = nullptr;
}

std::string executablePath() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
}

char pathSeparator() {
    return '/';
}

} // namespace platform

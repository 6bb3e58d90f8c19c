#include "DynamicLibrary.h"

#include <windows.h>

namespace platform {

namespace {

// The file looked at must be the file loaded: a bare or relative name would
// be looked for beside the program and in the system folders first.
std::string fullPathOf(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

} // namespace

DynamicLibrary DynamicLibrary::load(const std::string& given, LibraryLoadError* error) {
    const std::string path = fullPathOf(given);
    LibraryLoadError result = LibraryLoadError::none;
    HMODULE h = nullptr;
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        result = LibraryLoadError::fileNotFound;
    } else {
        // No "cannot find DLL" dialog for a broken library: the caller reports it.
        const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        h = LoadLibraryA(path.c_str());
        SetErrorMode(previous);
        if (h == nullptr)
            result = LibraryLoadError::notLoadable;
    }
    if (error != nullptr)
        *error = result;
    return DynamicLibrary(reinterpret_cast<void*>(h));
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void DynamicLibrary::free() {
    if (handle != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle));
    handle = nullptr;
}

std::string executablePath() {
    char buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, length < MAX_PATH ? length : 0);
}

char pathSeparator() {
    return '\\';
}

} // namespace platform

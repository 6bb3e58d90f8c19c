#pragma once

#include <string>

namespace platform {

enum class LibraryLoadError {
    none,
    fileNotFound, // nothing exists at the path
    notLoadable,  // the file exists but the system loader refused it
};

// An owned handle to a loaded library: Windows DLL or POSIX shared object.
// Freed when destroyed; movable, not copyable.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library at a full path. On failure the object stays empty
    // and `error` (if given) says why.
    static DynamicLibrary load(const std::string& path, LibraryLoadError* error = nullptr);

    bool isLoaded() const { return handle != nullptr; }
    // Address of an exported symbol, or null.
    void* symbol(const char* name) const;
    void free();

private:
    explicit DynamicLibrary(void* h) : handle(h) {}
    void* handle = nullptr;
};

// The full path of the running program's own executable file.
std::string executablePath();

// The folder holding the running program, without a trailing separator.
std::string executableDirectory();

// The separator the system puts between folder and file names.
char pathSeparator();

} // namespace platform

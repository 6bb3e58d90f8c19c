#include "DynamicLibrary.h"

#include <utility>

namespace platform {

DynamicLibrary::~DynamicLibrary() {
    free();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        free();
        handle = std::exchange(other.handle, nullptr);
    }
    return *this;
}

std::string executableDirectory() {
    std::string path = executablePath();
    const auto slash = path.find_last_of(pathSeparator() == '\\' ? "\\/" : "/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace platform

#include "Registry.h"

#include <utility>

namespace platform {

RegistryKey::~RegistryKey() {
    close();
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, nullptr);
    }
    return *this;
}

bool RegistryKey::isOpen() const {
    return handle != nullptr;
}

bool RegistryKey::setString(const std::string& name, const std::string& text) {
    return set(name, registryString, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

bool RegistryKey::setDword(const std::string& name, uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return set(name, registryDword, bytes, 4);
}

} // namespace platform

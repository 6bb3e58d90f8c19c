#include "Registry.h"

#include <windows.h>

namespace platform {

struct RegistryKey::Handle {
    HKEY key;
};

namespace {

HKEY rootKey(RegistryRoot root) {
    return root == RegistryRoot::currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

} // namespace

RegistryKey RegistryKey::create(RegistryRoot root, const std::string& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(rootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(new Handle{key});
}

RegistryKey RegistryKey::open(RegistryRoot root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(new Handle{key});
}

RegistryKey RegistryKey::openForReading(RegistryRoot root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(rootKey(root), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return RegistryKey();
    return RegistryKey(new Handle{key});
}

void RegistryKey::close() {
    if (handle != nullptr)
        RegCloseKey(handle->key);
    delete handle;
    handle = nullptr;
}

bool RegistryKey::query(const std::string& name, void* buffer, uint32_t capacity,
                        uint32_t& size) const {
    if (handle == nullptr)
        return false;
    DWORD bytes = capacity;
    if (RegQueryValueExA(handle->key, name.c_str(), nullptr, nullptr, static_cast<BYTE*>(buffer),
                         &bytes) != ERROR_SUCCESS)
        return false;
    size = bytes;
    return true;
}

bool RegistryKey::set(const std::string& name, uint32_t type, const void* data, uint32_t size) {
    if (handle == nullptr)
        return false;
    return RegSetValueExA(handle->key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                          size) == ERROR_SUCCESS;
}

bool RegistryKey::remove(const std::string& name) {
    return handle != nullptr && RegDeleteValueA(handle->key, name.c_str()) == ERROR_SUCCESS;
}

std::vector<std::string> RegistryKey::subkeyNames() const {
    std::vector<std::string> names;
    if (handle == nullptr)
        return names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(handle->key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

bool deleteRegistryTree(RegistryRoot root, const std::string& path) {
    const LSTATUS status = RegDeleteTreeA(rootKey(root), path.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool saveRegistryToFile(const std::string&) {
    return false;
}
bool loadRegistryFromFile(const std::string&) {
    return false;
}
bool loadRegistryFromBytes(const std::string&) {
    return false;
}

} // namespace platform

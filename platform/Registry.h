#pragma once

// The registry: the system's own on Windows; elsewhere an in-memory store with
// the same semantics that can be saved to and loaded from a file, so the
// settings code runs and is tested on every system.
//
// Semantics callers rely on: key and value names compare without regard to
// case; a string value set through `setString` holds its bytes plus one NUL; a
// read into a buffer too small for the stored bytes fails and leaves the
// buffer unspecified; reads never check the stored type.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum RegistryValueType : uint32_t {
    registryString = 1, // REG_SZ
    registryBinary = 3, // REG_BINARY
    registryDword = 4,  // REG_DWORD
    registryQword = 11, // REG_QWORD
};

enum class RegistryRoot { currentUser, localMachine };

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey();
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Creates the key with every missing parent, or opens it, with full
    // access. Empty on failure.
    static RegistryKey create(RegistryRoot root, const std::string& path);
    // Opens an existing key with full access; empty when it does not exist.
    static RegistryKey open(RegistryRoot root, const std::string& path);
    // Opens an existing key for reading only.
    static RegistryKey openForReading(RegistryRoot root, const std::string& path);

    bool isOpen() const;
    void close();

    // Copies the value's bytes into `buffer` when they fit in `capacity`;
    // `size` receives their count. False when the value is missing or larger.
    bool query(const std::string& name, void* buffer, uint32_t capacity, uint32_t& size) const;
    bool set(const std::string& name, uint32_t type, const void* data, uint32_t size);
    bool setString(const std::string& name, const std::string& text);
    bool setDword(const std::string& name, uint32_t value);
    bool remove(const std::string& name);
    // The names of the direct subkeys, in the system's order.
    std::vector<std::string> subkeyNames() const;

private:
    struct Handle;
    explicit RegistryKey(Handle* h) : handle(h) {}
    Handle* handle = nullptr;
};

// Deletes a key with all its subkeys and values; true when it is gone.
bool deleteRegistryTree(RegistryRoot root, const std::string& path);

// The in-memory store of systems without a registry: saved to and loaded from
// a file. On Windows these do nothing and return false.
bool saveRegistryToFile(const std::string& path);
bool loadRegistryFromFile(const std::string& path);
// The same from the bytes of such a file; a malformed one changes nothing.
bool loadRegistryFromBytes(const std::string& bytes);

} // namespace platform

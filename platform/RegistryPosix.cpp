#include "Registry.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <strings.h>

namespace platform {

namespace {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return ::strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

struct Value {
    uint32_t type = 0;
    std::vector<unsigned char> data;
};

struct Node {
    std::map<std::string, Value, CaseInsensitiveLess> values;
    std::map<std::string, std::shared_ptr<Node>, CaseInsensitiveLess> children;
};

std::mutex& storeMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Node>& rootNode(RegistryRoot root) {
    static std::shared_ptr<Node> currentUser = std::make_shared<Node>();
    static std::shared_ptr<Node> localMachine = std::make_shared<Node>();
    return root == RegistryRoot::currentUser ? currentUser : localMachine;
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::shared_ptr<Node> walk(RegistryRoot root, const std::string& path, bool createMissing) {
    std::shared_ptr<Node> node = rootNode(root);
    for (const std::string& part : splitPath(path)) {
        auto it = node->children.find(part);
        if (it == node->children.end()) {
            if (!createMissing)
                return nullptr;
            it = node->children.emplace(part, std::make_shared<Node>()).first;
        }
        node = it->second;
    }
    return node;
}

} // namespace

struct RegistryKey::Handle {
    std::shared_ptr<Node> node;
    bool writable;
};

RegistryKey RegistryKey::create(RegistryRoot root, const std::string& path) {
    std::lock_guard lock(storeMutex());
    return RegistryKey(new Handle{walk(root, path, true), true});
}

RegistryKey RegistryKey::open(RegistryRoot root, const std::string& path) {
    std::lock_guard lock(storeMutex());
    auto node = walk(root, path, false);
    return node ? RegistryKey(new Handle{node, true}) : RegistryKey();
}

RegistryKey RegistryKey::openForReading(RegistryRoot root, const std::string& path) {
    std::lock_guard lock(storeMutex());
    auto node = walk(root, path, false);
    return node ? RegistryKey(new Handle{node, false}) : RegistryKey();
}

void RegistryKey::close() {
    delete handle;
    handle = nullptr;
}

bool RegistryKey::query(const std::string& name, void* buffer, uint32_t capacity,
                        uint32_t& size) const {
    if (handle == nullptr)
        return false;
    std::lock_guard lock(storeMutex());
    const auto it = handle->node->values.find(name);
    if (it == handle->node->values.end() || it->second.data.size() > capacity)
        return false;
    size = static_cast<uint32_t>(it->second.data.size());
    if (size > 0)
        std::memcpy(buffer, it->second.data.data(), size);
    return true;
}

bool RegistryKey::set(const std::string& name, uint32_t type, const void* data, uint32_t size) {
    if (handle == nullptr || !handle->writable)
        return false;
    std::lock_guard lock(storeMutex());
    const auto* bytes = static_cast<const unsigned char*>(data);
    Value& value = handle->node->values[name];
    value.type = type;
    value.data.assign(bytes, bytes + size);
    return true;
}

bool RegistryKey::remove(const std::string& name) {
    if (handle == nullptr || !handle->writable)
        return false;
    std::lock_guard lock(storeMutex());
    return handle->node->values.erase(name) > 0;
}

std::vector<std::string> RegistryKey::subkeyNames() const {
    std::vector<std::string> names;
    if (handle == nullptr)
        return names;
    std::lock_guard lock(storeMutex());
    for (const auto& [name, child] : handle->node->children)
        names.push_back(name);
    return names;
}

bool deleteRegistryTree(RegistryRoot root, const std::string& path) {
    std::lock_guard lock(storeMutex());
    std::vector<std::string> parts = splitPath(path);
    if (parts.empty())
        return false;
    const std::string last = parts.back();
    parts.pop_back();
    std::shared_ptr<Node> parent = rootNode(root);
    for (const std::string& part : parts) {
        const auto it = parent->children.find(part);
        if (it == parent->children.end())
            return true;
        parent = it->second;
    }
    parent->children.erase(last);
    return true;
}

// File format: for each root a node; a node is its value count, then each
// value (name, type, bytes), then its child count and each child (name, node).
// Lengths and counts are 32-bit little-endian numbers.
namespace {

void writeNumber(std::ostream& out, uint32_t n) {
    const char bytes[4] = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    out.write(bytes, 4);
}

void writeBytes(std::ostream& out, const void* data, size_t size) {
    writeNumber(out, static_cast<uint32_t>(size));
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void writeNode(std::ostream& out, const Node& node) {
    writeNumber(out, static_cast<uint32_t>(node.values.size()));
    for (const auto& [name, value] : node.values) {
        writeBytes(out, name.data(), name.size());
        writeNumber(out, value.type);
        writeBytes(out, value.data.data(), value.data.size());
    }
    writeNumber(out, static_cast<uint32_t>(node.children.size()));
    for (const auto& [name, child] : node.children) {
        writeBytes(out, name.data(), name.size());
        writeNode(out, *child);
    }
}

constexpr uint32_t kMaxStoredBytes = 1u << 24;
constexpr int kMaxDepth = 64;

bool readNumber(std::istream& in, uint32_t& n) {
    unsigned char bytes[4];
    if (!in.read(reinterpret_cast<char*>(bytes), 4))
        return false;
    n = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t(bytes[3]) << 24);
    return true;
}

// Grows the buffer as the bytes arrive, so a length that lies costs nothing.
template <typename Bytes> bool readBytes(std::istream& in, Bytes& bytes) {
    uint32_t size = 0;
    if (!readNumber(in, size) || size > kMaxStoredBytes)
        return false;
    bytes.clear();
    constexpr uint32_t kPiece = 1u << 16;
    while (bytes.size() < size) {
        const size_t done = bytes.size();
        const size_t piece = std::min<size_t>(kPiece, size - done);
        bytes.resize(done + piece);
        if (!in.read(reinterpret_cast<char*>(bytes.data()) + done,
                     static_cast<std::streamsize>(piece)))
            return false;
    }
    return true;
}

bool readNode(std::istream& in, Node& node, int depth) {
    uint32_t count = 0;
    if (depth > kMaxDepth || !readNumber(in, count))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        Value value;
        if (!readBytes(in, name) || !readNumber(in, value.type) || !readBytes(in, value.data))
            return false;
        node.values[name] = std::move(value);
    }
    if (!readNumber(in, count))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        std::string name;
        auto child = std::make_shared<Node>();
        if (!readBytes(in, name) || !readNode(in, *child, depth + 1))
            return false;
        node.children[name] = child;
    }
    return true;
}

} // namespace

bool saveRegistryToFile(const std::string& path) {
    std::lock_guard lock(storeMutex());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    writeNode(out, *rootNode(RegistryRoot::currentUser));
    writeNode(out, *rootNode(RegistryRoot::localMachine));
    out.close();
    return !out.fail();
}

namespace {
bool loadRegistryFromStream(std::istream& in) {
    auto currentUser = std::make_shared<Node>();
    auto localMachine = std::make_shared<Node>();
    if (!in || !readNode(in, *currentUser, 0) || !readNode(in, *localMachine, 0))
        return false;
    std::lock_guard lock(storeMutex());
    rootNode(RegistryRoot::currentUser) = currentUser;
    rootNode(RegistryRoot::localMachine) = localMachine;
    return true;
}
} // namespace

bool loadRegistryFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return loadRegistryFromStream(in);
}

bool loadRegistryFromBytes(const std::string& bytes) {
    std::istringstream in(bytes);
    return loadRegistryFromStream(in);
}

} // namespace platform

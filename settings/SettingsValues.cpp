#include "HostSettings.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace settingsValues {

bool readDword(const platform::RegistryKey& key, const std::string& name, int32_t& out) {
    unsigned char bytes[4] = {};
    uint32_t size = 0;
    if (!key.query(name, bytes, sizeof(bytes), size))
        return false;
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i)
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    out = static_cast<int32_t>(value);
    return true;
}

bool readBool(const platform::RegistryKey& key, const std::string& name, bool& out) {
    int32_t value = 0;
    if (!readDword(key, name, value))
        return false;
    out = value != 0;
    return true;
}

bool readString(const platform::RegistryKey& key, const std::string& name, std::string& out) {
    char text[kMaxTextBytes] = {};
    uint32_t size = 0;
    if (!key.query(name, text, sizeof(text), size))
        return false;
    size_t length = 0;
    while (length < size && text[length] != '\0')
        ++length;
    out.assign(text, length);
    return true;
}

bool writeDword(platform::RegistryKey& key, const std::string& name, int32_t value) {
    key.remove(name);
    return key.setDword(name, static_cast<uint32_t>(value));
}

bool writeBool(platform::RegistryKey& key, const std::string& name, bool value) {
    return writeDword(key, name, value ? 1 : 0);
}

bool writeString(platform::RegistryKey& key, const std::string& name, const std::string& text) {
    key.remove(name);
    return key.setString(name, text);
}

std::string formatTempo(double bpm) {
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << bpm;
    return stream.str();
}

bool parseTempo(const std::string& text, double& bpm) {
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    double value = 0.0;
    if (!(stream >> value) || !std::isfinite(value) || value <= 0.0)
        return false;
    bpm = value;
    return true;
}

} // namespace settingsValues

#pragma once

#include "HostSettings.h"

#include <gtest/gtest.h>

#include <string>

// A settings key of its own for every test, removed again afterwards.
class SettingsTest : public testing::Test {
protected:
    SettingsTest() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        pluginName = std::string("KsTest ") + info->test_suite_name() + " " + info->name();
        for (char& c : pluginName) {
            if (c == '/')
                c = '_';
        }
        keyPath = "Software\\Kestrune\\" + pluginName;
        hostPath = keyPath + "\\Host";
        platform::deleteRegistryTree(platform::RegistryRoot::currentUser, keyPath);
    }
    ~SettingsTest() override {
        platform::deleteRegistryTree(platform::RegistryRoot::currentUser, keyPath);
    }

    platform::RegistryKey hostKey() {
        return platform::RegistryKey::create(platform::RegistryRoot::currentUser, hostPath);
    }
    void setRaw(const std::string& path, const std::string& name, uint32_t type,
                const std::string& bytes) {
        auto key = platform::RegistryKey::create(platform::RegistryRoot::currentUser, path);
        ASSERT_TRUE(key.set(name, type, bytes.data(), static_cast<uint32_t>(bytes.size())));
    }
    // The stored bytes of a value, or "<missing>".
    std::string rawValue(const std::string& path, const std::string& name) {
        auto key = platform::RegistryKey::openForReading(platform::RegistryRoot::currentUser, path);
        std::string bytes(4096, '\0');
        uint32_t size = 0;
        if (!key.query(name, bytes.data(), 4096, size))
            return "<missing>";
        bytes.resize(size);
        return bytes;
    }

    std::string pluginName;
    std::string keyPath;
    std::string hostPath;
};

inline std::string dwordBytes(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

inline std::unique_ptr<AudioDeviceSettings> makeDevice(int32_t type, const std::string& name,
                                                       bool isInput, bool isDefault = false) {
    auto device = std::make_unique<AudioDeviceSettings>();
    device->type = type;
    device->name = name;
    device->isInput = isInput;
    device->isDefault = isDefault;
    device->bufferSize = type == audioDeviceAsio ? 512 : 256;
    return device;
}

#include "SettingsTestSupport.h"

#include <cstdio>

using platform::RegistryKey;
using platform::RegistryRoot;

namespace {

using RegistryLayerTest = SettingsTest;

TEST_F(RegistryLayerTest, StringsStoreTheirBytesAndOneNul) {
    auto key = RegistryKey::create(RegistryRoot::currentUser, keyPath);
    ASSERT_TRUE(key.isOpen());
    ASSERT_TRUE(key.setString("text", "abc"));
    EXPECT_EQ(rawValue(keyPath, "text"), std::string("abc\0", 4));
    ASSERT_TRUE(key.setDword("number", 0x01020304));
    EXPECT_EQ(rawValue(keyPath, "number"), "\x04\x03\x02\x01");
}

TEST_F(RegistryLayerTest, ReadsFailWhenTheValueIsLargerThanTheBuffer) {
    auto key = RegistryKey::create(RegistryRoot::currentUser, keyPath);
    const std::string eight(8, 'x');
    key.set("eight", platform::registryBinary, eight.data(), 8);
    char buffer[8];
    uint32_t size = 0;
    EXPECT_FALSE(key.query("eight", buffer, 7, size));
    EXPECT_TRUE(key.query("eight", buffer, 8, size));
    EXPECT_EQ(size, 8u);
    EXPECT_FALSE(key.query("absent", buffer, 8, size));
}

TEST_F(RegistryLayerTest, NamesIgnoreCase) {
    auto key = RegistryKey::create(RegistryRoot::currentUser, keyPath + "\\Sub\\Deeper");
    key.setDword("Value", 7);
    auto again = RegistryKey::open(RegistryRoot::currentUser, keyPath + "\\SUB\\deeper");
    ASSERT_TRUE(again.isOpen());
    int32_t value = 0;
    EXPECT_TRUE(settingsValues::readDword(again, "VALUE", value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(again.remove("value"));
    EXPECT_FALSE(again.remove("value"));
}

TEST_F(RegistryLayerTest, OpenDoesNotCreateAndSubkeysAreListed) {
    EXPECT_FALSE(RegistryKey::open(RegistryRoot::currentUser, keyPath + "\\None").isOpen());
    EXPECT_FALSE(RegistryKey::open(RegistryRoot::currentUser, keyPath).isOpen());
    RegistryKey::create(RegistryRoot::currentUser, keyPath + "\\b");
    RegistryKey::create(RegistryRoot::currentUser, keyPath + "\\a");
    auto parent = RegistryKey::open(RegistryRoot::currentUser, keyPath);
    auto names = parent.subkeyNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(platform::deleteRegistryTree(RegistryRoot::currentUser, keyPath));
    EXPECT_FALSE(RegistryKey::open(RegistryRoot::currentUser, keyPath).isOpen());
}

TEST_F(RegistryLayerTest, ReadOnlyKeysRefuseWrites) {
    RegistryKey::create(RegistryRoot::currentUser, keyPath);
    auto key = RegistryKey::openForReading(RegistryRoot::currentUser, keyPath);
    ASSERT_TRUE(key.isOpen());
    EXPECT_FALSE(key.setDword("x", 1));
}

#if !defined(_WIN32)
TEST_F(RegistryLayerTest, InMemoryStoreSurvivesAFile) {
    auto key = RegistryKey::create(RegistryRoot::currentUser, keyPath + "\\Host");
    key.setString("Tempo", "98.5");
    key.setDword("tempoTab", 0xB040);
    const std::string file = testing::TempDir() + "registry-roundtrip.bin";
    ASSERT_TRUE(platform::saveRegistryToFile(file));
    platform::deleteRegistryTree(RegistryRoot::currentUser, keyPath);
    ASSERT_TRUE(platform::loadRegistryFromFile(file));
    EXPECT_EQ(rawValue(keyPath + "\\Host", "Tempo"), std::string("98.5\0", 5));
    EXPECT_EQ(rawValue(keyPath + "\\host", "TEMPOTAB"), dwordBytes(0xB040));
    std::remove(file.c_str());
}

TEST_F(RegistryLayerTest, CorruptStoreFileIsRefusedAndChangesNothing) {
    RegistryKey::create(RegistryRoot::currentUser, keyPath).setDword("kept", 1);
    const std::string file = testing::TempDir() + "registry-corrupt.bin";
    std::FILE* out = std::fopen(file.c_str(), "wb");
    const unsigned char junk[] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 'x'};
    std::fwrite(junk, 1, sizeof(junk), out);
    std::fclose(out);
    EXPECT_FALSE(platform::loadRegistryFromFile(file));
    EXPECT_FALSE(platform::loadRegistryFromFile(file + ".absent"));
    EXPECT_EQ(rawValue(keyPath, "kept"), dwordBytes(1));
    std::remove(file.c_str());
}
#endif

} // namespace

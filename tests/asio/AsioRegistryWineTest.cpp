// The registry walk over real registrations: the test environment's two
// test drivers plus keys this test adds for the cases a walk must skip.

#include "AsioDrivers.h"
#include "TestAsioEnvironment.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>

namespace {

const char* const kAsioKey = "SOFTWARE\\ASIO";
const char* const kClassA = "{8C4E1F20-5A3B-4D6E-9F10-2B3C4D5E6F01}"; // upper case on purpose
const char* const kMissingFileClass = "{8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f03}";
const char* const kUnregisteredClass = "{8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f04}";
const std::string kLongName = "KsTest ASIO registered with forty chars."; // 40 characters

void setString(HKEY root, const std::string& path, const char* name, const std::string& value) {
    HKEY key;
    ASSERT_EQ(
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

class AsioRegistryWalk : public testing::Test {
protected:
    void SetUp() override {
        const std::string asio = std::string(kAsioKey) + "\\";
        setString(HKEY_LOCAL_MACHINE, asio + "KsTest Walk 1 missing file", "clsid",
                  kMissingFileClass);
        setString(HKEY_CLASSES_ROOT,
                  std::string("CLSID\\") + kMissingFileClass + "\\InprocServer32", nullptr,
                  "Z:\\nowhere\\KsNoSuchDriver.dll");
        setString(HKEY_LOCAL_MACHINE, asio + "KsTest Walk 2 without class", "description",
                  "never listed");
        setString(HKEY_LOCAL_MACHINE, asio + "KsTest Walk 3 long", "clsid", kClassA);
        setString(HKEY_LOCAL_MACHINE, asio + "KsTest Walk 3 long", "description", kLongName);
        setString(HKEY_LOCAL_MACHINE, asio + "KsTest Walk 4 unregistered", "clsid",
                  kUnregisteredClass);
    }
    void TearDown() override {
        for (const char* key : {"KsTest Walk 1 missing file", "KsTest Walk 2 without class",
                                "KsTest Walk 3 long", "KsTest Walk 4 unregistered"})
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kAsioKey) + "\\" + key).c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kMissingFileClass).c_str());
    }

    TestAsioEnvironment environment;
};

TEST_F(AsioRegistryWalk, ListsUsableDriversOnlyNumberedWithoutGaps) {
    AsioDrivers drivers;
    std::set<std::string> names;
    for (int32_t number = 0; number < drivers.driverCount(); ++number) {
        char name[128];
        ASSERT_EQ(drivers.getDriverName(number, name, sizeof name), 0) << number;
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"KsTest ASIO A", "KsTest ASIO B", kLongName}));
    EXPECT_EQ(drivers.driverCount(), 3);
}

TEST_F(AsioRegistryWalk, ADriverWithALongNameLoads) {
    AsioDrivers drivers;
    ASSERT_TRUE(drivers.loadDriver(kLongName));
    EXPECT_NE(currentDriver.load(), nullptr);
    ASIODriverInfo info{};
    EXPECT_EQ(ASIOInit(&info), asioOk);
    drivers.unloadCurrentDriver();
    EXPECT_EQ(currentDriver.load(), nullptr);
}

} // namespace

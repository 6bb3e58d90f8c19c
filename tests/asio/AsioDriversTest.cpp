// The driver list and the host calls over drivers registered in-process.

#include "AsioDrivers.h"
#include "AsioRegistration.h"
#include "TestAsioEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const std::string kLongName = "KsTest ASIO with a name of forty letters"; // 40 characters

IAsioDriver* createLongNamed(void* instance) {
    return new TestAsioDriver(*static_cast<TestAsioInstance*>(instance));
}

class AsioDriversTest : public testing::Test {
protected:
    AsioDriversTest() {
        registerInProcessAsioDriver(kLongName, {7, 7, 7, {7}}, createLongNamed, &longNamed);
    }
    TestAsioEnvironment environment;
    TestAsioInstance longNamed;
};

TEST_F(AsioDriversTest, NamesAreCutToTheBufferWithoutWritingOutsideIt) {
    ASSERT_EQ(kLongName.size(), 40u);
    AsioDrivers drivers;
    ASSERT_EQ(drivers.driverCount(), 3);
    struct Row {
        int32_t size;
        std::string expected;
    };
    const Row rows[] = {{41, kLongName},
                        {40, kLongName.substr(0, 36) + "..."},
                        {32, kLongName.substr(0, 28) + "..."},
                        {4, "..."},
                        {3, ".."},
                        {1, ""}};
    for (const Row& row : rows) {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        ASSERT_EQ(drivers.getDriverName(2, buffer + 8, row.size), 0);
        EXPECT_EQ(std::string(buffer + 8), row.expected) << row.size;
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(buffer[i], '#') << "before the buffer, size " << row.size;
        for (int i = 8 + row.size; i < 64; ++i)
            EXPECT_EQ(buffer[i], '#') << "after the buffer, size " << row.size;
    }
    char buffer[8];
    EXPECT_EQ(drivers.getDriverName(2, buffer, 0), asioListInvalidParameter);
    EXPECT_EQ(drivers.getDriverName(2, nullptr, 8), asioListInvalidParameter);
    EXPECT_EQ(drivers.getDriverName(3, buffer, 8), asioListNoSuchDriver);
}

TEST_F(AsioDriversTest, OpenAndCloseReportEachMisuse) {
    AsioDrivers drivers;
    IAsioDriver* driver = nullptr;
    EXPECT_EQ(drivers.openDriver(0, nullptr), asioListInvalidParameter);
    EXPECT_EQ(drivers.openDriver(9, &driver), asioListNoSuchDriver);
    ASSERT_EQ(drivers.openDriver(0, &driver), 0);
    EXPECT_NE(driver, nullptr);
    EXPECT_EQ(drivers.openDriver(0, &driver), asioListDriverAlreadyCreated);
    EXPECT_EQ(drivers.closeDriver(9), 0);
    EXPECT_EQ(drivers.closeDriver(0), 0);
    EXPECT_EQ(environment.instance(TestAsioEnvironment::kDriverA).released.load(), 1);
    environment.failCreation(TestAsioEnvironment::kDriverB, true);
    EXPECT_NE(drivers.openDriver(1, &driver), 0);
}

TEST_F(AsioDriversTest, LoadingReplacesTheDriverAndRestoresItOnFailure) {
    AsioDrivers drivers;
    TestAsioInstance& a = environment.instance(TestAsioEnvironment::kDriverA);
    ASSERT_TRUE(drivers.loadDriver(kLongName));
    ASSERT_TRUE(drivers.loadDriver("KsTest ASIO A"));
    EXPECT_EQ(longNamed.released.load(), 1);
    ASSERT_TRUE(drivers.loadDriver("KsTest ASIO A")); // created anew
    EXPECT_EQ(a.created.load(), 2);
    EXPECT_EQ(a.released.load(), 1);
    EXPECT_FALSE(drivers.loadDriver("no such driver"));
    EXPECT_EQ(drivers.currentIndex, 0);

    environment.failCreation(TestAsioEnvironment::kDriverB, true);
    EXPECT_FALSE(drivers.loadDriver("KsTest ASIO B"));
    EXPECT_EQ(drivers.currentIndex, 0); // A is back
    EXPECT_NE(currentDriver.load(), nullptr);
    EXPECT_EQ(a.created.load(), 3);
    drivers.unloadCurrentDriver();
    EXPECT_EQ(drivers.currentIndex, -1);
    EXPECT_EQ(currentDriver.load(), nullptr);
    EXPECT_EQ(a.created.load(), a.released.load());
}

TEST_F(AsioDriversTest, HostCallsWithoutADriverFillTheirFallbacks) {
    ASSERT_EQ(currentDriver.load(), nullptr);
    ASIODriverInfo info{};
    EXPECT_EQ(ASIOInit(&info), asioNotPresent);
    EXPECT_STREQ(info.name, "No ASIO Driver");
    ASIOChannelInfo channel{};
    EXPECT_EQ(ASIOGetChannelInfo(&channel), asioNotPresent);
    EXPECT_EQ(channel.channelGroup, -1);
    EXPECT_EQ(channel.type, 0);
    EXPECT_STREQ(channel.name, "None");
    int32_t a = 5, b = 5, c = 5, d = 5;
    EXPECT_EQ(ASIOGetChannels(&a, &b), asioNotPresent);
    EXPECT_EQ(a + b, 0);
    EXPECT_EQ(ASIOGetBufferSize(&a, &b, &c, &d), asioNotPresent);
    EXPECT_EQ(a + b + c + d, 0);
    ASIOBufferInfo buffers[2];
    int dummy = 0;
    buffers[0].buffers[0] = buffers[1].buffers[1] = &dummy;
    EXPECT_EQ(ASIOCreateBuffers(buffers, 2, 64, nullptr), asioNotPresent);
    EXPECT_EQ(buffers[0].buffers[0], nullptr);
    EXPECT_EQ(buffers[1].buffers[1], nullptr);
    for (auto call : {ASIOStart, ASIOStop, ASIODisposeBuffers, ASIOControlPanel, ASIOOutputReady})
        EXPECT_EQ(call(), asioNotPresent);
}

TEST_F(AsioDriversTest, AFailedInitLeavesTheErrorTextAndNoCurrentDriver) {
    environment.configure(TestAsioEnvironment::kDriverA, "initFails 1\nerrorText no box\n");
    AsioDrivers drivers;
    ASSERT_TRUE(drivers.loadDriver("KsTest ASIO A"));
    ASIODriverInfo info{};
    EXPECT_EQ(ASIOInit(&info), asioNotPresent);
    EXPECT_STREQ(info.errorMessage, "no box");
    EXPECT_EQ(currentDriver.load(), nullptr);
    TestAsioInstance& a = environment.instance(TestAsioEnvironment::kDriverA);
    EXPECT_EQ(a.released.load(), 0); // the entry keeps it until it is unloaded
    drivers.unloadCurrentDriver();
    EXPECT_EQ(a.released.load(), 1);
}

} // namespace

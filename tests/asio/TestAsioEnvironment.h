#pragma once

// The two instances of the test ASIO driver as a test sees them: "KsTest
// ASIO A" (registered with a description) and "KsTest ASIO B" (listed under
// its key name). Natively they are registered in-process; under Windows the
// test environment registered them as COM servers and this loads their
// library to reach their records.

#include "TestAsioDriver.h"

#include <string>

class TestAsioEnvironment {
public:
    static constexpr int kDriverA = 0;
    static constexpr int kDriverB = 1;

    TestAsioEnvironment();
    ~TestAsioEnvironment();
    TestAsioEnvironment(const TestAsioEnvironment&) = delete;
    TestAsioEnvironment& operator=(const TestAsioEnvironment&) = delete;

    static std::string name(int which);
    // The settings each new driver object of that instance takes.
    void configure(int which, const std::string& settings);
    // Natively: new objects of that instance fail to be created.
    void failCreation(int which, bool fail);
    TestAsioInstance& instance(int which);
    bool ready() const;

private:
    struct Native;
    Native* native = nullptr;
    void* library = nullptr;
};

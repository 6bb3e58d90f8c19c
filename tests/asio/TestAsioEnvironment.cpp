#include "TestAsioEnvironment.h"

#include "AsioRegistration.h"

#if defined(_WIN32)
#include "DynamicLibrary.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#endif

namespace {

const char* const kNames[2] = {"KsTest ASIO A", "KsTest ASIO B"};
[[maybe_unused]] const char* const kClassTexts[2] = {"{8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f01}",
                                                     "{8c4e1f20-5a3b-4d6e-9f10-2b3c4d5e6f02}"};

} // namespace

std::string TestAsioEnvironment::name(int which) {
    return kNames[which];
}

#if defined(_WIN32)

struct TestAsioEnvironment::Native {};

namespace {
using InstanceProc = TestAsioInstance* (*)(const char*);

std::string settingsPath(int which) {
    std::string text = kClassTexts[which];
    text = text.substr(1, text.size() - 2);
    return platform::executableDirectory() + "\\ksasio-" + text + ".conf";
}
} // namespace

TestAsioEnvironment::TestAsioEnvironment() {
    library = LoadLibraryA((platform::executableDirectory() + "\\KsTestAsio.dll").c_str());
    for (int which : {kDriverA, kDriverB}) {
        configure(which, "");
        if (library != nullptr)
            instance(which).reset(); // the library's records outlive a test
    }
}

TestAsioEnvironment::~TestAsioEnvironment() {
    for (int which : {kDriverA, kDriverB})
        std::remove(settingsPath(which).c_str());
    // The library stays: COM may still hold it.
}

bool TestAsioEnvironment::ready() const {
    return library != nullptr;
}

void TestAsioEnvironment::configure(int which, const std::string& settings) {
    std::ofstream file(settingsPath(which), std::ios::trunc);
    file << settings;
}

void TestAsioEnvironment::failCreation(int, bool) {}

TestAsioInstance& TestAsioEnvironment::instance(int which) {
    auto get = reinterpret_cast<InstanceProc>(reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(library), "ksTestAsioInstance")));
    return *get(kClassTexts[which]);
}

#else

struct TestAsioEnvironment::Native {
    TestAsioInstance instances[2];
    bool failing[2] = {false, false};
};

namespace {
AsioClassId classIdOf(int which) {
    return {0x8c4e1f20u,
            0x5a3b,
            0x4d6e,
            {0x9f, 0x10, 0x2b, 0x3c, 0x4d, 0x5e, 0x6f, static_cast<uint8_t>(which + 1)}};
}

struct FactoryContext {
    TestAsioInstance* instance;
    bool* failing;
};
FactoryContext contexts[2];

IAsioDriver* createTestDriver(void* context) {
    auto* factory = static_cast<FactoryContext*>(context);
    if (*factory->failing)
        return nullptr;
    return new TestAsioDriver(*factory->instance);
}
} // namespace

TestAsioEnvironment::TestAsioEnvironment() : native(new Native) {
    clearInProcessAsioDrivers();
    for (int which : {kDriverA, kDriverB}) {
        contexts[which] = {&native->instances[which], &native->failing[which]};
        registerInProcessAsioDriver(kNames[which], classIdOf(which), createTestDriver,
                                    &contexts[which]);
    }
}

TestAsioEnvironment::~TestAsioEnvironment() {
    clearInProcessAsioDrivers();
    delete native;
}

bool TestAsioEnvironment::ready() const {
    return true;
}

void TestAsioEnvironment::configure(int which, const std::string& settings) {
    native->instances[which].config = parseTestAsioConfig(settings);
}

void TestAsioEnvironment::failCreation(int which, bool fail) {
    native->failing[which] = fail;
}

TestAsioInstance& TestAsioEnvironment::instance(int which) {
    return native->instances[which];
}

#endif

#include "GuardedCall.h"

#include <gtest/gtest.h>

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

void returns(void*) {}

void throwsOurOwn(void*) {
    throw std::runtime_error("ours");
}

#ifdef _WIN32
void raisesForeignThrow(void*) {
    const ULONG_PTR arguments[4] = {0x19930520, 0, 0, 0};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, arguments);
}

void writesThroughNull(void*) {
    *static_cast<volatile int*>(nullptr) = 1;
}

// An inner guard that catches, then the outer call fails itself.
void failsAfterAnInnerGuard(void* innerCompleted) {
    *static_cast<bool*>(innerCompleted) = platform::callGuarded(raisesForeignThrow, nullptr);
    raisesForeignThrow(nullptr);
}

// Inside a window procedure, where the system may handle an exception on
// its own before any last-chance filter sees it.
LRESULT CALLBACK guardingWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        *static_cast<bool*>(create->lpCreateParams) =
            platform::callGuarded(raisesForeignThrow, nullptr);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void failsInsideAWindowProcedure(void* innerCompleted) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = guardingWindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KsGuardedCallTest";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("KsGuardedCallTest", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, innerCompleted);
    DestroyWindow(window);
}
#endif

struct GuardedCase {
    const char* name;
    void (*call)(void*);
    bool completes;
    bool innerCompletes; // of a guard the call runs itself
};

class GuardedCallTest : public testing::TestWithParam<GuardedCase> {};

TEST_P(GuardedCallTest, ReturnsWhetherTheCallCompleted) {
    const GuardedCase& c = GetParam();
    bool innerCompleted = true;
    if (c.call == throwsOurOwn)
        EXPECT_THROW(platform::callGuarded(c.call, nullptr), std::runtime_error);
    else
        EXPECT_EQ(platform::callGuarded(c.call, &innerCompleted), c.completes);
    EXPECT_EQ(innerCompleted, c.innerCompletes);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, GuardedCallTest,
    testing::Values(GuardedCase{"Returns", returns, true, true},
#ifdef _WIN32
                    GuardedCase{"ForeignThrow", raisesForeignThrow, false, true},
                    GuardedCase{"AccessViolation", writesThroughNull, false, true},
                    GuardedCase{"InnerGuardThenItsOwn", failsAfterAnInnerGuard, false, false},
                    GuardedCase{"InsideAWindowProcedure", failsInsideAWindowProcedure, true, false},
#endif
                    GuardedCase{"ThrowsOurOwn", throwsOurOwn, false, true}),
    [](const testing::TestParamInfo<GuardedCase>& info) { return std::string(info.param.name); });

} // namespace

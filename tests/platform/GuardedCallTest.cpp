#include "GuardedCall.h"

#include <gtest/gtest.h>

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <xmmintrin.h>
#endif

namespace {

void returns(void*) {}

void throwsOurOwn(void*) {
    throw std::runtime_error("ours");
}

#ifdef _WIN32
unsigned short x87ControlWord() {
    unsigned short word = 0;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

void raisesForeignThrow(void*) {
    const ULONG_PTR arguments[4] = {0x19930520, 0, 0, 0};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, arguments);
}

void writesThroughNull(void*) {
    *static_cast<volatile int*>(nullptr) = 1;
}

void raisesDelphisException(void*) {
    RaiseException(0x0EEDFADE, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// Rounds toward zero in both units, then fails: the guard puts the host's
// floating-point control back.
void changesRoundingThenRaises(void*) {
    _mm_setcsr(_mm_getcsr() | _MM_ROUND_TOWARD_ZERO);
    const unsigned short towardZero = x87ControlWord() | 0x0C00;
    asm volatile("fldcw %0" : : "m"(towardZero));
    raisesForeignThrow(nullptr);
}

// Deep enough for any thread's stack: 4 KiB a level, a million levels.
int recurse(volatile char* below, int depth) {
    if (depth == 0)
        return 0;
    volatile char frame[4096];
    frame[0] = below != nullptr ? below[0] : 1;
    return recurse(frame, depth - 1) + frame[0];
}

void overflowsTheStack(void*) {
    recurse(nullptr, 1 << 20);
}

// The second overflow on the same thread is caught as the first.
void overflowsAfterAnOverflow(void* innerCompleted) {
    *static_cast<bool*>(innerCompleted) = platform::callGuarded(overflowsTheStack, nullptr);
    overflowsTheStack(nullptr);
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
#ifdef _WIN32
    constexpr unsigned int kMxcsrControl = 0xFFC0; // not the sticky status flags
    const unsigned int mxcsrBefore = _mm_getcsr() & kMxcsrControl;
    const unsigned short x87Before = x87ControlWord();
#endif
    bool innerCompleted = true;
    if (c.call == throwsOurOwn)
        EXPECT_THROW(platform::callGuarded(c.call, nullptr), std::runtime_error);
    else
        EXPECT_EQ(platform::callGuarded(c.call, &innerCompleted), c.completes);
    EXPECT_EQ(innerCompleted, c.innerCompletes);
#ifdef _WIN32
    EXPECT_EQ(_mm_getcsr() & kMxcsrControl, mxcsrBefore);
    EXPECT_EQ(x87ControlWord(), x87Before);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Calls, GuardedCallTest,
    testing::Values(GuardedCase{"Returns", returns, true, true},
#ifdef _WIN32
                    GuardedCase{"ForeignThrow", raisesForeignThrow, false, true},
                    GuardedCase{"AccessViolation", writesThroughNull, false, true},
                    GuardedCase{"DelphiRaise", raisesDelphisException, false, true},
                    GuardedCase{"ChangedRounding", changesRoundingThenRaises, false, true},
                    GuardedCase{"StackOverflowTwice", overflowsAfterAnOverflow, false, false},
                    GuardedCase{"InnerGuardThenItsOwn", failsAfterAnInnerGuard, false, false},
                    GuardedCase{"InsideAWindowProcedure", failsInsideAWindowProcedure, true, false},
#endif
                    GuardedCase{"ThrowsOurOwn", throwsOurOwn, false, true}),
    [](const testing::TestParamInfo<GuardedCase>& info) { return std::string(info.param.name); });

} // namespace

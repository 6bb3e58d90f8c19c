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

void raisesInsideAnInnerGuard(void* innerCompleted) {
    *static_cast<bool*>(innerCompleted) = platform::callGuarded(raisesForeignThrow, nullptr);
}

LONG WINAPI appsOwnFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}
#endif

struct GuardedCase {
    const char* name;
    void (*call)(void*);
    bool completes;
};

class GuardedCallTest : public testing::TestWithParam<GuardedCase> {};

// Every way out leaves the process's own last-chance filter in place, so a
// later crash is reported as it would have been.
TEST_P(GuardedCallTest, ReturnsWhetherTheCallCompletedAndKeepsTheFilterBefore) {
#ifdef _WIN32
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(appsOwnFilter);
#endif
    const GuardedCase& c = GetParam();
    bool innerCompleted = true;
    if (c.call == throwsOurOwn)
        EXPECT_THROW(platform::callGuarded(c.call, nullptr), std::runtime_error);
    else
        EXPECT_EQ(platform::callGuarded(c.call, &innerCompleted), c.completes);
#ifdef _WIN32
    if (c.call == raisesInsideAnInnerGuard) {
        EXPECT_FALSE(innerCompleted);
    }
    EXPECT_EQ(SetUnhandledExceptionFilter(before), appsOwnFilter);
#endif
}

INSTANTIATE_TEST_SUITE_P(Calls, GuardedCallTest,
                         testing::Values(GuardedCase{"Returns", returns, true},
                                         GuardedCase{"ThrowsOurOwn", throwsOurOwn, false},
#ifdef _WIN32
                                         GuardedCase{"ForeignThrow", raisesForeignThrow, false},
                                         GuardedCase{"AccessViolation", writesThroughNull, false},
                                         GuardedCase{"InnerGuard", raisesInsideAnInnerGuard, true},
#endif
                                         GuardedCase{"ReturnsAgain", returns, true}),
                         [](const testing::TestParamInfo<GuardedCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

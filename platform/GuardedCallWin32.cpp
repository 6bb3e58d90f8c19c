#include "GuardedCall.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

// Where an unhandled exception on this thread resumes: the return point of
// `enterGuarded` inside `guardFrame`, as if it had returned false.
struct ResumePoint {
    ULONG64 frame = 0;
    ULONG64 instruction = 0;
};

thread_local ResumePoint* tResumePoint = nullptr;
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> gOuterFilter{nullptr};

LONG WINAPI unwindToResumePoint(EXCEPTION_POINTERS* info) {
    ResumePoint* resume = tResumePoint;
    if (resume == nullptr) {
        LPTOP_LEVEL_EXCEPTION_FILTER outer = gOuterFilter.load();
        return outer != nullptr ? outer(info) : EXCEPTION_CONTINUE_SEARCH;
    }
    // A second exception during the unwind goes to the outer filter.
    tResumePoint = nullptr;
    CONTEXT scratch;
    RtlUnwindEx(reinterpret_cast<void*>(resume->frame),
                reinterpret_cast<void*>(resume->instruction), info->ExceptionRecord, nullptr,
                &scratch, nullptr);
    return EXCEPTION_CONTINUE_SEARCH; // not reached: the unwind resumes elsewhere
}

// Steps `context` out of its function; false where there is no unwind record.
bool unwindOneFrame(CONTEXT& context, ULONG64& establisherFrame) {
    ULONG64 imageBase = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
    if (function == nullptr)
        return false;
    void* handlerData = nullptr;
    RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                     &establisherFrame, nullptr);
    return true;
}

// Neither of the next two functions may hold anything with a destructor or a
// try block: the unwind to the resume point must meet no handler of ours.
__attribute__((noinline)) bool enterGuarded(void (*call)(void*), void* context) {
    CONTEXT caller;
    RtlCaptureContext(&caller);
    ULONG64 ownFrame = 0;
    ResumePoint resume;
    bool found = unwindOneFrame(caller, ownFrame); // `caller` now stands at the return point
    if (found) {
        resume.instruction = caller.Rip;
        found = unwindOneFrame(caller, resume.frame);
    }
    tResumePoint = found ? &resume : nullptr;
    call(context);
    tResumePoint = nullptr;
    return true;
}

__attribute__((noinline)) bool guardFrame(void (*call)(void*), void* context) {
    // Volatile: the unwind returns here with the value 0 in place of the call's.
    volatile bool completed = enterGuarded(call, context);
    return completed;
}

void restoreFilter(LPTOP_LEVEL_EXCEPTION_FILTER before, ResumePoint* outerResume) {
    tResumePoint = outerResume;
    if (before == unwindToResumePoint)
        return;
    // A filter the call installed for itself (a crash reporter) stays.
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(before);
    if (current != unwindToResumePoint)
        SetUnhandledExceptionFilter(current);
}

} // namespace

bool callGuarded(void (*call)(void*), void* context) {
    ResumePoint* outerResume = tResumePoint;
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(unwindToResumePoint);
    if (before != unwindToResumePoint)
        gOuterFilter.store(before);
    bool completed = false;
    try {
        completed = guardFrame(call, context);
    } catch (...) {
        restoreFilter(before, outerResume);
        throw;
    }
    restoreFilter(before, outerResume);
    return completed;
}

} // namespace platform

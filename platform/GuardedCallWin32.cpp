#include "GuardedCall.h"

#include <windows.h>

// `ksGuardFrame(call, context)` calls `call(context)` and returns 1. Its
// exception handler takes every exception of error severity that reaches it
// (whatever the frames inside did not handle) and unwinds to `ksGuardResume`
// with 0 as the result. Written here so the frame carries our handler: a
// compiled function would carry the compiler's, or none.
extern "C" {
int ksGuardFrame(void (*call)(void*), void* context);
extern const char ksGuardResume[];
EXCEPTION_DISPOSITION ksGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                     CONTEXT* context, void* dispatcherContext);
}

asm(R"(
    .text
    .globl ksGuardFrame
    .def ksGuardFrame; .scl 2; .type 32; .endef
    .seh_proc ksGuardFrame
ksGuardFrame:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movl $1, %eax
    .globl ksGuardResume
ksGuardResume:
    addq $40, %rsp
    retq
    .seh_handler ksGuardHandler, @except
    .seh_endproc
)");

namespace {

// Errors only: a GCC throw (severity 0) passes to our own catch, and warnings
// or notices (a breakpoint, a thread's name) are left to whoever handles them.
bool isErrorSeverity(DWORD code) {
    return (code >> 30) == 3;
}

} // namespace

extern "C" EXCEPTION_DISPOSITION ksGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                CONTEXT*, void* dispatcherContext) {
    if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0 || !isErrorSeverity(record->ExceptionCode))
        return ExceptionContinueSearch;
    auto* dispatcher = static_cast<DISPATCHER_CONTEXT*>(dispatcherContext);
    RtlUnwindEx(establisherFrame, const_cast<char*>(ksGuardResume), record, nullptr,
                dispatcher->ContextRecord, dispatcher->HistoryTable);
    return ExceptionContinueSearch; // not reached: the unwind resumes at ksGuardResume
}

namespace platform {

bool callGuarded(void (*call)(void*), void* context) {
    return ksGuardFrame(call, context) != 0;
}

} // namespace platform

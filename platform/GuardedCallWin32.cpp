#include "GuardedCall.h"

#include <windows.h>

#include <malloc.h>

#include <cstdint>

// `ksGuardFrame(call, context)` calls `call(context)` and returns 0. Its
// exception handler takes the exceptions `takesException` names that reach
// it (whatever the frames inside did not handle) and unwinds to
// `ksGuardResume`, which returns `kRaised` with the exception's code. Written
// here so the frame carries our handler: a compiled function would carry the
// compiler's, or none. The floating-point control words the call may have
// changed are put back on that path; a normal return leaves them to the
// callee, as every call does.
extern "C" {
uint64_t ksGuardFrame(void (*call)(void*), void* context);
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
    stmxcsr 32(%rsp)
    fnstcw 36(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
    addq $40, %rsp
    retq
    .globl ksGuardResume
ksGuardResume:
    ldmxcsr 32(%rsp)
    fnclex
    fldcw 36(%rsp)
    addq $40, %rsp
    retq
    .seh_handler ksGuardHandler, @except
    .seh_endproc
)");

namespace {

constexpr uint64_t kRaised = uint64_t{1} << 32;

// GCC's own throw and unwinds pass to our `catch`; warnings and notices (a
// breakpoint, a thread's name for a debugger) to whoever handles them. Errors
// and the codes of other languages' exceptions (Delphi's has severity 0)
// are taken.
bool takesException(DWORD code) {
    const bool gccOwn = code == 0x20474343 || code == 0x21474343 || code == 0x22474343;
    const DWORD severity = code >> 30;
    return !gccOwn && (severity == 0 || severity == 3);
}

} // namespace

extern "C" EXCEPTION_DISPOSITION ksGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                CONTEXT*, void* dispatcherContext) {
    if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0 || !takesException(record->ExceptionCode))
        return ExceptionContinueSearch;
    auto* dispatcher = static_cast<DISPATCHER_CONTEXT*>(dispatcherContext);
    const uint64_t result = kRaised | record->ExceptionCode;
    RtlUnwindEx(establisherFrame, const_cast<char*>(ksGuardResume), record,
                reinterpret_cast<void*>(result), dispatcher->ContextRecord,
                dispatcher->HistoryTable);
    return ExceptionContinueSearch; // not reached: the unwind resumes at ksGuardResume
}

namespace platform {

bool callGuarded(void (*call)(void*), void* context) {
    const uint64_t result = ksGuardFrame(call, context);
    if (result == (kRaised | STATUS_STACK_OVERFLOW))
        _resetstkoflw(); // the thread's next overflow is caught again, not fatal
    return result == 0;
}

} // namespace platform

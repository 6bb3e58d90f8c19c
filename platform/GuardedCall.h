#pragma once

// Calls into code built by another compiler.

namespace platform {

// Runs `call(context)`. Returns false when it raised an exception of error
// severity that nothing inside handled: on Windows another compiler's C++
// throw (which our own `catch (...)` does not see) or an access violation.
// The frames of other compilers the exception left are unwound with their
// own handlers; frames of ours in between run no cleanups, so the call must
// hold nothing of ours that needs one. Our own C++ exceptions pass through
// to the caller as usual. Elsewhere `call` runs plainly and this returns true.
bool callGuarded(void (*call)(void*), void* context);

} // namespace platform

#pragma once

// Calls into code built by another compiler.

namespace platform {

// Runs `call(context)`. Returns false when it raised a system exception that
// nothing handled: on Windows another compiler's C++ throw (which our own
// `catch (...)` does not see) or an access violation. The frames the
// exception left are unwound with their own handlers, and this call returns
// instead of the process ending. Our own C++ exceptions pass through to the
// caller as usual. Elsewhere `call` runs plainly and this returns true.
bool callGuarded(void (*call)(void*), void* context);

} // namespace platform

#pragma once

// The process as a whole.

namespace platform {

// Ends the process at once with `exitCode`: no destructor, exit handler or
// library unload runs, and no other thread runs on.
[[noreturn]] void endProcessNow(int exitCode);

} // namespace platform

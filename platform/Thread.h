#pragma once

// Threads and their priority.

namespace platform {

// Raises the calling thread to the highest (time-critical) priority the
// system grants; where it grants none, the thread keeps its priority.
void raiseCurrentThreadToTimeCritical();

} // namespace platform

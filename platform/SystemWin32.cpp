// Counters, sleeping, CPU times, thread priority, messages and the process
// on Windows.

#include "Clock.h"
#include "CpuTimes.h"
#include "MessageBox.h"
#include "ProcessEnd.h"
#include "Thread.h"

#include <windows.h>

namespace platform {

namespace {
uint64_t hundredNanoseconds(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}
} // namespace

int64_t performanceCounter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

int64_t performanceFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

uint32_t tickCountMs() {
    return GetTickCount();
}

void sleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

bool readSystemTimes(SystemTimes& times) {
    FILETIME idle, kernel, user;
    if (!GetSystemTimes(&idle, &kernel, &user))
        return false;
    times.idle = hundredNanoseconds(idle);
    times.kernel = hundredNanoseconds(kernel);
    times.user = hundredNanoseconds(user);
    return true;
}

bool readProcessTimes(ProcessTimes& times) {
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user))
        return false;
    times.kernel = hundredNanoseconds(kernel);
    times.user = hundredNanoseconds(user);
    return true;
}

void raiseCurrentThreadToTimeCritical() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

void endProcessNow(int exitCode) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    ExitProcess(static_cast<UINT>(exitCode)); // not reached: the call above does not return
}

// Without an owner, only task-modal keeps the thread's other windows from
// taking clicks while the box is up: a click there could start audio again
// inside the start that shows the box.
void showSystemMessage(const std::string& text, const std::string& caption) {
    MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_TASKMODAL);
}

} // namespace platform

#include "Files.h"

namespace platform {

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace platform

#include <io.h>

namespace platform {

bool flushToDisk(std::FILE* stream) {
    return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

} // namespace platform

namespace platform {

bool isTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

} // namespace platform

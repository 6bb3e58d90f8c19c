// Counters, sleeping, CPU times, thread priority, messages and the process
// on POSIX.

#include "Clock.h"
#include "CpuTimes.h"
#include "GuardedCall.h"
#include "MessageBox.h"
#include "ProcessEnd.h"
#include "Thread.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {
int64_t nanosecondsOf(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

uint64_t hundredNanoseconds(const timeval& t) {
    return static_cast<uint64_t>(t.tv_sec) * 10000000u + static_cast<uint64_t>(t.tv_usec) * 10u;
}
} // namespace

int64_t performanceCounter() {
    return nanosecondsOf(CLOCK_MONOTONIC);
}
int64_t performanceFrequency() {
    return 1000000000;
}
uint32_t tickCountMs() {
    return static_cast<uint32_t>(nanosecondsOf(CLOCK_MONOTONIC) / 1000000);
}

void sleepMs(uint32_t milliseconds) {
    timespec duration{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&duration, &duration) != 0) {
    }
}

// Reads the first line of /proc/stat into a stack buffer: the audio thread
// measures its load with this and must not allocate.
bool readSystemTimes(SystemTimes& times) {
    const int file = ::open("/proc/stat", O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    char line[512];
    const ssize_t length = ::read(file, line, sizeof(line) - 1);
    ::close(file);
    if (length <= 4 || std::strncmp(line, "cpu ", 4) != 0)
        return false;
    line[length] = '\0';
    uint64_t fields[7] = {}; // user nice system idle iowait irq softirq
    char* cursor = line + 4;
    for (uint64_t& field : fields) {
        char* end = nullptr;
        field = std::strtoull(cursor, &end, 10);
        if (end == cursor)
            return false;
        cursor = end;
    }
    const uint64_t tick = 10000000u / static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
    times.idle = (fields[3] + fields[4]) * tick;
    times.kernel = (fields[2] + fields[5] + fields[6]) * tick + times.idle;
    times.user = (fields[0] + fields[1]) * tick;
    return true;
}

bool readProcessTimes(ProcessTimes& times) {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return false;
    times.kernel = hundredNanoseconds(usage.ru_stime);
    times.user = hundredNanoseconds(usage.ru_utime);
    return true;
}

// The native build serves tests and offline tools: a first-in-first-out
// real-time thread that never sleeps (an offline driver, a test loop) would
// starve the rest of the machine, so the thread keeps its priority here.
void raiseCurrentThreadToTimeCritical() {}

void endProcessNow(int exitCode) {
    _exit(exitCode);
}

bool callGuarded(void (*call)(void*), void* context) {
    call(context);
    return true;
}

void showSystemMessage(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

} // namespace platform

#include "Files.h"

#include <cstdio>

namespace platform {

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool flushToDisk(std::FILE* stream) {
    return std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0;
}

} // namespace platform

namespace platform {

bool isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

} // namespace platform

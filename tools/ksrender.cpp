// ksrender: runs a plug-in over an audio file and/or a MIDI file, faster
// than real time, through the host's own engine, and writes what it plays.

#include "Files.h"
#include "Renderer.h"

#include <cstdio>

int main(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    if (!parseRenderArguments(argc, argv, options, error)) {
        std::fprintf(stderr, "ksrender: %s\n", error.c_str());
        return 2;
    }
    options.progress = platform::isTerminal(stderr);
    const RenderResult result = render(options);
    if (!result.ok) {
        std::fprintf(stderr, "ksrender: %s\n", result.error.c_str());
        return 1;
    }
    const double audioSeconds = double(result.frames) / options.rate;
    std::printf("rendered %llu frames (%.2f s) in %.2f s: %.1f x real time\n",
                static_cast<unsigned long long>(result.frames), audioSeconds, result.seconds,
                result.seconds > 0.0 ? audioSeconds / result.seconds : 0.0);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}

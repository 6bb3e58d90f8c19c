#include "Renderer.h"

#include <cstdlib>
#include <cstring>

namespace {

bool parseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(parsed >= low && parsed <= high))
        return false;
    value = parsed;
    return true;
}

struct NumberOption {
    const char* name;
    double low;
    double high;
};

} // namespace

bool parseRenderArguments(int argc, const char* const* argv, RenderOptions& options,
                          std::string& error) {
    const struct {
        const char* name;
        std::string RenderOptions::*field;
    } texts[] = {
        {"--plugin", &RenderOptions::pluginPath}, {"--input", &RenderOptions::inputPath},
        {"--midi", &RenderOptions::midiPath},     {"--output", &RenderOptions::outputPath},
        {"--state", &RenderOptions::statePath},   {"--save-state", &RenderOptions::saveStatePath}};
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--float") {
            options.floatOutput = true;
            continue;
        }
        bool known = false;
        for (const auto& t : texts) {
            if (option == t.name) {
                if (i + 1 >= argc) {
                    error = option + " needs a value";
                    return false;
                }
                options.*t.field = argv[++i];
                known = true;
            }
        }
        if (known)
            continue;
        double value = 0.0;
        const NumberOption numbers[] = {{"--seconds", 0.001, 86400.0},
                                        {"--rate", 8000.0, 384000.0},
                                        {"--block", 1.0, 8192.0},
                                        {"--tempo", 1.0, 999.0}};
        for (const NumberOption& n : numbers) {
            if (option != n.name)
                continue;
            if (i + 1 >= argc || !parseNumber(argv[++i], n.low, n.high, value)) {
                error = option + " takes a number from " + std::to_string(int(n.low)) + " to " +
                        std::to_string(int(n.high));
                return false;
            }
            known = true;
            if (option == "--seconds")
                options.seconds = value;
            else if (option == "--rate")
                options.rate = static_cast<uint32_t>(value);
            else if (option == "--block")
                options.block = static_cast<uint32_t>(value);
            else
                options.tempo = value;
        }
        if (!known) {
            error = "unknown option " + option;
            return false;
        }
    }
    if (options.pluginPath.empty() || options.outputPath.empty()) {
        error = "usage: ksrender --plugin PATH [--input AUDIOFILE] [--midi FILE.mid] "
                "--output OUT.wav|OUT.aif [--seconds S] [--rate HZ] [--block FRAMES] "
                "[--tempo BPM] [--state CHUNKFILE] [--save-state CHUNKFILE] [--float]";
        return false;
    }
    return true;
}

#include "Renderer.h"

#include "HostSettings.h"
#include "KsVSTHostInterface.h"
#include "MessageBox.h"
#include "MidiFile.h"
#include "OfflineAudio.h"
#include "OutputWriter.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include <sys/stat.h>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace {

// State files and MIDI files larger than this are no files this tool takes.
constexpr long kLargestReadFile = std::numeric_limits<int32_t>::max();

struct NoMidi : KsMidiBase {
    bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback,
              void*) override {
        return false;
    }
    void close() override {}
    void sendShortMessage(const MidiMessage&) override {}
};

bool isFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The whole file, or nothing (as the engine reads its state file).
bool readFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bool complete = false;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size >= 0 && size <= kLargestReadFile && std::fseek(file, 0, SEEK_SET) == 0) {
            bytes.resize(static_cast<size_t>(size));
            complete = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
        }
    }
    std::fclose(file);
    return complete;
}

bool writeFile(const std::string& path, const void* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    const bool flushed = std::fflush(file) == 0;
    return std::fclose(file) == 0 && written && flushed;
}

void printMessage(const std::string& text, const std::string&, void*) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    std::fprintf(stderr, "ksrender: %s\n", line.c_str());
}

// The settings key this tool needs is its own and this run's alone, so runs
// side by side never share or delete each other's; it is removed at exit.
class ScratchSettings {
public:
    ScratchSettings() : name(uniqueName()), settings(name, false) {}
    ~ScratchSettings() {
        settings.key.close();
        platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                     std::string("Software\\Kestrune\\") + name);
    }
    static std::string uniqueName() {
#if defined(_WIN32)
        return "ksrender-" + std::to_string(_getpid());
#else
        return "ksrender-" + std::to_string(getpid());
#endif
    }
    std::string name;
    HostSettings settings;
};

class Session {
public:
    explicit Session(const RenderOptions& o)
        : options(o), drivers(std::make_unique<KsOfflineAudio>(o.rate, o.block),
                              std::make_unique<KsOfflineAudio>(o.rate, o.block)) {}
    ~Session();
    RenderResult run();

private:
    bool fail(const std::string& why) {
        result.error = why;
        return false;
    }
    bool refuseFolders();
    bool loadPlugin();
    bool startEngine();
    bool prepareInput();
    bool prepareMidi();
    bool chooseLength();
    size_t appendEventsBefore(uint64_t blockEnd, size_t nextEvent);
    void reportEventsLeftOver(size_t nextEvent) const;
    bool renderBlocks();
    bool saveState();
    void showProgress(uint64_t done);

    RenderOptions options;
    RenderResult result;
    KsVSTHostLib lib;
    bool opened = false;
    uint64_t crowdedBlocks = 0;
    AudioDriverPair drivers;
    NoMidi midi;
    ScratchSettings scratch;
    KsVSTHostInterface engine;
    MidiFileContents midiEvents;
    uint64_t totalFrames = 0;
    int lastPercent = -1;
};

Session::~Session() {
    engine.stopAudio();
    if (opened)
        lib.effect->dispatcher(lib.effect, effClose, 0, 0, nullptr, 0.0f);
    platform::setMessageSink(nullptr, nullptr);
}

bool Session::refuseFolders() {
    for (const std::string* path : {&options.inputPath, &options.midiPath, &options.statePath}) {
        if (!path->empty() && isFolder(*path))
            return fail(*path + " is a folder, not a file");
    }
    return true;
}

bool Session::loadPlugin() {
    if (lib.load(options.pluginPath) == nullptr)
        return fail(options.pluginPath + ": " + describeLoadFailure(lib.lastFailure));
    lib.effect->dispatcher(lib.effect, effOpen, 0, 0, nullptr, 0.0f);
    opened = true;
    if (options.statePath.empty())
        return true;
    std::vector<unsigned char> chunk;
    if (!readFile(options.statePath, chunk))
        return fail("cannot read state file " + options.statePath);
    lib.effect->dispatcher(lib.effect, effSetChunk, 0, static_cast<VstIntPtr>(chunk.size()),
                           chunk.data(), 0.0f);
    return true;
}

bool Session::startEngine() {
    auto* offline = static_cast<KsOfflineAudio*>(drivers.asio.get());
    HostSettings& settings = scratch.settings;
    settings.inputDevice = offline->input();
    settings.outputDevice = offline->output();
    engine.attach(&lib, &drivers, &midi, &settings);
    if (options.tempo > 0.0)
        engine.tempo = options.tempo;
    if (!engine.startAudio())
        return fail("the engine did not start");
    return true;
}

bool Session::prepareInput() {
    if (options.inputPath.empty()) {
        engine.setTransport(true);
        return true;
    }
    if (engine.loadPlayerFile(options.inputPath) == 0)
        return fail("cannot read audio file " + options.inputPath);
    return engine.setPlayerState(1, false) || fail("cannot play " + options.inputPath);
}

bool Session::prepareMidi() {
    if (options.midiPath.empty())
        return true;
    std::vector<unsigned char> bytes;
    std::string why;
    if (!readFile(options.midiPath, bytes))
        return fail("cannot read MIDI file " + options.midiPath);
    if (!parseMidiFile(bytes, options.tempo, midiEvents, why))
        return fail(options.midiPath + ": " + why);
    return true;
}

bool Session::chooseLength() {
    const double rate = options.rate;
    double seconds = options.seconds;
    const char* source = "--seconds";
    if (seconds <= 0.0 && !options.inputPath.empty()) {
        seconds = engine.playerLength / double(engine.playerFileSampleRate()) + 1.0;
        source = "the input file";
    } else if (seconds <= 0.0 && !options.midiPath.empty()) {
        seconds = midiEvents.lengthSeconds + 1.0;
        source = "the MIDI file";
    }
    if (seconds <= 0.0)
        return fail("nothing sets the length: give --seconds, --input or --midi");
    // Checked in seconds, before any conversion to frames can overflow.
    const uint64_t mostFrames = OutputWriter::mostFrames(options.floatOutput);
    const double mostSeconds = double(mostFrames) / rate;
    if (!(seconds <= mostSeconds)) {
        char why[200];
        std::snprintf(why, sizeof why,
                      "%s asks for %.0f s, more than the largest output file holds (%.0f s at "
                      "%u Hz)",
                      source, seconds, std::floor(mostSeconds), options.rate);
        return fail(why);
    }
    totalFrames = std::min<uint64_t>(static_cast<uint64_t>(std::ceil(seconds * rate)), mostFrames);
    return true;
}

void Session::showProgress(uint64_t done) {
    if (!options.progress)
        return;
    const int percent = static_cast<int>(done * 100 / totalFrames);
    if (percent == lastPercent)
        return;
    lastPercent = percent;
    char bar[41];
    for (int i = 0; i < 40; ++i)
        bar[i] = i < percent * 40 / 100 ? '#' : ' ';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    if (done == totalFrames)
        std::fprintf(stderr, "\n");
}

// Every event that falls inside the block reaches the plug-in with it, as
// many as one block's list holds; the rest follow in the next blocks.
size_t Session::appendEventsBefore(uint64_t blockEnd, size_t nextEvent) {
    const auto& events = midiEvents.events;
    // Compared as doubles: an event far beyond the render has a frame
    // number no integer holds.
    const auto inBlock = [&](size_t index) {
        return index < events.size() &&
               std::floor(events[index].seconds * options.rate) < double(blockEnd);
    };
    for (uint32_t appended = 0; appended < EventList::kCapacity && inBlock(nextEvent); ++appended) {
        const uint8_t* b = events[nextEvent++].bytes;
        engine.appendEvent(b[0], b[1], b[2]);
    }
    if (inBlock(nextEvent))
        ++crowdedBlocks;
    return nextEvent;
}

// Events pushed on by crowded blocks past the last block are not played.
void Session::reportEventsLeftOver(size_t nextEvent) const {
    const auto& events = midiEvents.events;
    size_t left = 0;
    while (nextEvent + left < events.size() &&
           std::floor(events[nextEvent + left].seconds * options.rate) < double(totalFrames))
        ++left;
    if (left > 0)
        std::fprintf(stderr, "ksrender: %zu MIDI events found no room before the end; dropped\n",
                     left);
}

bool Session::renderBlocks() {
    OutputWriter writer;
    if (!writer.open(options.outputPath, totalFrames, options.rate, options.floatOutput))
        return fail("cannot write " + options.outputPath);
    auto* offline = static_cast<KsOfflineAudio*>(drivers.asio.get());
    size_t nextEvent = 0;
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t done = 0; done < totalFrames;) {
        const auto frames =
            static_cast<uint32_t>(std::min<uint64_t>(options.block, totalFrames - done));
        const uint64_t blockEnd = done + frames;
        nextEvent = appendEventsBefore(blockEnd, nextEvent);
        if (!offline->runBlock(frames))
            return fail("the engine stopped");
        if (!writer.write(offline->channelBuffers[0], offline->channelBuffers[1], frames))
            return fail("cannot write " + options.outputPath);
        done = blockEnd;
        showProgress(done);
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.frames = totalFrames;
    if (crowdedBlocks > 0)
        std::fprintf(stderr,
                     "ksrender: %llu blocks held more than %u MIDI events; the rest were played "
                     "in the blocks after them\n",
                     static_cast<unsigned long long>(crowdedBlocks), EventList::kCapacity);
    reportEventsLeftOver(nextEvent);
    return writer.finish() || fail("cannot write " + options.outputPath);
}

bool Session::saveState() {
    if (options.saveStatePath.empty())
        return true;
    void* data = nullptr;
    const VstIntPtr size = lib.effect->dispatcher(lib.effect, effGetChunk, 0, 0, &data, 0.0f);
    const size_t bytes = size > 0 && data != nullptr ? static_cast<size_t>(size) : 0;
    return writeFile(options.saveStatePath, data, bytes) ||
           fail("cannot write state file " + options.saveStatePath);
}

RenderResult Session::run() {
    platform::setMessageSink(printMessage, nullptr);
    result.ok = refuseFolders() && loadPlugin() && prepareMidi() && startEngine() &&
                prepareInput() && chooseLength() && renderBlocks() && saveState();
    return result;
}

} // namespace

RenderResult render(const RenderOptions& options) {
    Session session(options);
    return session.run();
}

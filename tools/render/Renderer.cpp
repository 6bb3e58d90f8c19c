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
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const char* const kSettingsName = "ksrender";

struct NoMidi : KsMidiBase {
    bool open(const MidiDeviceSettings*, const MidiDeviceSettings*, MidiInputCallback,
              void*) override {
        return false;
    }
    void close() override {}
    void sendShortMessage(const MidiMessage&) override {}
};

bool readFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

void printMessage(const std::string& text, const std::string&, void*) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    std::fprintf(stderr, "ksrender: %s\n", line.c_str());
}

// The settings key this tool needs is its own; it is removed again unless it
// was there before.
class ScratchSettings {
public:
    ScratchSettings()
        : existed(platform::RegistryKey::open(platform::RegistryRoot::currentUser,
                                              std::string("Software\\Kestrune\\") + kSettingsName)
                      .isOpen()),
          settings(kSettingsName, false) {}
    ~ScratchSettings() {
        settings.key.close();
        if (!existed)
            platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                         std::string("Software\\Kestrune\\") + kSettingsName);
    }
    bool existed;
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
    bool loadPlugin();
    bool startEngine();
    bool prepareInput();
    bool prepareMidi();
    bool chooseLength();
    bool renderBlocks();
    bool saveState();
    void showProgress(uint64_t done);

    RenderOptions options;
    RenderResult result;
    KsVSTHostLib lib;
    bool opened = false;
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
    if (seconds <= 0.0 && !options.inputPath.empty())
        seconds = engine.playerLength / double(engine.playerFileSampleRate()) + 1.0;
    else if (seconds <= 0.0 && !options.midiPath.empty())
        seconds = midiEvents.lengthSeconds + 1.0;
    if (seconds <= 0.0)
        return fail("nothing sets the length: give --seconds, --input or --midi");
    totalFrames = static_cast<uint64_t>(std::ceil(seconds * rate));
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
        // Every event that falls inside this block reaches the plug-in with it.
        const uint64_t blockEnd = done + frames;
        while (nextEvent < midiEvents.events.size() &&
               static_cast<uint64_t>(midiEvents.events[nextEvent].seconds * options.rate) <
                   blockEnd) {
            const uint8_t* b = midiEvents.events[nextEvent++].bytes;
            engine.appendEvent(b[0], b[1], b[2]);
        }
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
    return writer.finish() || fail("cannot write " + options.outputPath);
}

bool Session::saveState() {
    if (options.saveStatePath.empty())
        return true;
    void* data = nullptr;
    const VstIntPtr size = lib.effect->dispatcher(lib.effect, effGetChunk, 0, 0, &data, 0.0f);
    std::ofstream out(options.saveStatePath, std::ios::binary | std::ios::trunc);
    if (size > 0 && data != nullptr)
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out.flush()) ||
           fail("cannot write state file " + options.saveStatePath);
}

RenderResult Session::run() {
    platform::setMessageSink(printMessage, nullptr);
    result.ok = loadPlugin() && prepareMidi() && startEngine() && prepareInput() &&
                chooseLength() && renderBlocks() && saveState();
    return result;
}

} // namespace

RenderResult render(const RenderOptions& options) {
    Session session(options);
    return session.run();
}

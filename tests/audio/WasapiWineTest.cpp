// The WASAPI driver on real endpoints: Wine's audio session API over ALSA,
// whose default device is the clock-paced file PCM of the test environment.
// A control file beside this program chooses each direction's raw file,
// format, rate and channel count; every test writes its own.

#include "EngineTestSupport.h"
#include "KsWASAPI.h"

#include "DynamicLibrary.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr double kRate = 48000.0;
constexpr double kPi = 3.14159265358979323846;
const char* const kOtherFormats = "Wine has listed other device formats in this process: "
                                  "run each test in its own process (as ctest does)";

std::string programDirectory() {
    return platform::executableDirectory();
}

// Wine maps the Unix root to drive Z:.
std::string unixPath(const std::string& windowsPath) {
    std::string path = windowsPath;
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
        path.erase(0, 2);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

// The devices of one test: written before the driver lists them, removed
// with the test.
class DeviceControl {
public:
    explicit DeviceControl(const std::string& testName)
        : controlPath(programDirectory() + "\\ksfile-devices.conf"),
          renderPath(programDirectory() + "\\wasapi-" + testName + "-render.raw"),
          capturePath(programDirectory() + "\\wasapi-" + testName + "-capture.raw"),
          playerPath(programDirectory() + "\\wasapi-" + testName + "-player.wav") {
        std::remove(renderPath.c_str());
    }
    ~DeviceControl() {
        std::remove(controlPath.c_str());
        std::remove(renderPath.c_str());
        std::remove(capturePath.c_str());
        std::remove(playerPath.c_str());
    }
    DeviceControl(const DeviceControl&) = delete;
    DeviceControl& operator=(const DeviceControl&) = delete;

    // Wine reads a device's format once per process: a later test that
    // asks for other formats cannot have them (ctest runs each test in a
    // process of its own). False then, and nothing is written.
    bool write(const std::string& extraLines = "") const {
        static const std::string* firstFormats = nullptr;
        if (firstFormats == nullptr)
            firstFormats = new std::string(extraLines);
        if (*firstFormats != extraLines)
            return false;
        std::ofstream control(controlPath, std::ios::trunc);
        control << "playback.file " << unixPath(renderPath) << "\n"
                << "capture.file " << unixPath(capturePath) << "\n"
                << extraLines;
        return true;
    }
    void writeCaptureInput(const std::vector<float>& interleaved) const {
        std::ofstream file(capturePath, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(interleaved.data()),
                   static_cast<std::streamsize>(interleaved.size() * sizeof(float)));
    }
    std::vector<unsigned char> rendered() const {
        std::ifstream file(renderPath, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
    }
    std::vector<float> renderedFloats() const {
        const std::vector<unsigned char> bytes = rendered();
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        return samples;
    }

    std::string controlPath;
    std::string renderPath;
    std::string capturePath;
    std::string playerPath;
};

// Usable in a file name: a parameterised test's name has a slash.
std::string currentTestName() {
    std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

AudioDeviceSettings* findEntry(KsAudioBase& driver, bool isInput, int32_t type) {
    for (auto& device : driver.devices)
        if (device->isInput == isInput && device->type == type)
            return device.get();
    return nullptr;
}

// One channel of an interleaved stereo signal.
std::vector<float> channel(const std::vector<float>& interleaved, size_t which) {
    std::vector<float> samples;
    for (size_t i = which; i < interleaved.size(); i += 2)
        samples.push_back(interleaved[i]);
    return samples;
}

// The part of a channel between the first and the last sample above the
// noise floor.
std::vector<float> audiblePart(const std::vector<float>& samples) {
    size_t first = 0;
    while (first < samples.size() && std::fabs(samples[first]) < 1e-3f)
        ++first;
    size_t last = samples.size();
    while (last > first && std::fabs(samples[last - 1]) < 1e-3f)
        --last;
    return std::vector<float>(samples.begin() + static_cast<long>(first),
                              samples.begin() + static_cast<long>(last));
}

double rms(const std::vector<float>& samples) {
    double sum = 0.0;
    for (float s : samples)
        sum += double(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / double(samples.size()));
}

// Frequency from the rising zero crossings.
double frequency(const std::vector<float>& samples, double rate) {
    size_t crossings = 0;
    size_t first = 0;
    size_t last = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : double(crossings - 1) * rate / double(last - first);
}

// The largest step between neighbouring samples: a gap or a dropped block
// in a sine shows as a step far above what its frequency allows.
float largestStep(const std::vector<float>& samples) {
    float largest = 0.0f;
    for (size_t i = 1; i < samples.size(); ++i)
        largest = std::max(largest, std::fabs(samples[i] - samples[i - 1]));
    return largest;
}

float largestStepOfSine(double amplitude, double hz) {
    return static_cast<float>(amplitude * 2.0 * kPi * hz / kRate * 1.05 + 1e-4);
}

// One second of 441 Hz left and 662 Hz right at half scale, 16-bit stereo
// at 48 kHz: whole periods of both, so it loops without a seam.
std::string writeTwoToneFile(const std::string& path) {
    const uint32_t frames = static_cast<uint32_t>(kRate);
    std::vector<int16_t> samples;
    for (uint32_t n = 0; n < frames; ++n) {
        samples.push_back(static_cast<int16_t>(16384.0 * std::sin(2 * kPi * 441.0 * n / kRate)));
        samples.push_back(static_cast<int16_t>(16384.0 * std::sin(2 * kPi * 662.0 * n / kRate)));
    }
    const uint32_t dataBytes = frames * 4;
    auto le32 = [](uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << "RIFF" << le32(36 + dataBytes) << "WAVEfmt " << le32(16) << std::string{1, 0, 2, 0}
         << le32(48000) << le32(48000 * 4) << std::string{4, 0, 16, 0} << "data" << le32(dataBytes);
    file.write(reinterpret_cast<const char*>(samples.data()), dataBytes);
    return path;
}

// A channel that carries one unbroken sine from its first audible sample to
// its last, for at least `minimumFrames`.
void expectSine(const std::vector<float>& audible, double amplitude, double hz,
                size_t minimumFrames) {
    ASSERT_GT(audible.size(), minimumFrames);
    EXPECT_NEAR(rms(audible), amplitude / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(frequency(audible, kRate), hz, 1.0);
    EXPECT_LT(largestStep(audible), largestStepOfSine(amplitude, hz));
}

uint32_t streamSeconds() {
    const char* seconds = std::getenv("KS_STREAM_SECONDS");
    return seconds != nullptr && std::atoi(seconds) > 0 ? static_cast<uint32_t>(std::atoi(seconds))
                                                        : 3;
}

TEST(WasapiWine, ListsWhatWineReports) {
    DeviceControl devices(currentTestName());
    if (!devices.write("playback.format S16_LE\nplayback.rate 44100\n"
                       "capture.format S32_LE\ncapture.channels 1\n"))
        GTEST_SKIP() << kOtherFormats;
    KsWASAPI driver;
    ASSERT_EQ(driver.devices.size(), 4u);
    const int32_t types[] = {8, 4, 8, 4};
    for (size_t i = 0; i < 4; ++i) {
        const AudioDeviceSettings& entry = *driver.devices[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.type, types[i]);
        EXPECT_EQ(entry.isInput, i >= 2);
        EXPECT_TRUE(entry.isDefault);
        EXPECT_FALSE(entry.id.empty());
        EXPECT_EQ(entry.bufferSize, types[i] == 8 ? 256 : 1024);
    }
    const AudioDeviceSettings& out = *driver.devices[1];
    EXPECT_EQ(out.name, "Out: default");
    EXPECT_EQ(out.sampleRate, 44100.0);
    EXPECT_EQ(out.bitsPerSample, 16);
    EXPECT_EQ(out.channelCount, 2);
    ASSERT_EQ(out.channelNames.size(), 2u);
    EXPECT_EQ(out.channelNames[1],
              out.channelNames[0].substr(0, out.channelNames[0].size() - 1) + "2");
    EXPECT_NE(out.channelNames[0].find(" Out 1"), std::string::npos);
    const AudioDeviceSettings& in = *driver.devices[3];
    EXPECT_EQ(in.name, "In: default");
    EXPECT_EQ(in.sampleRate, 48000.0);
    EXPECT_EQ(in.bitsPerSample, 32);
    EXPECT_EQ(in.channelCount, 1);
    ASSERT_EQ(in.channelNames.size(), 1u);
    EXPECT_NE(in.channelNames[0].find(" In 1"), std::string::npos);

    // Wine's shared stream buffer is 30 ms.
    AudioDeviceSettings* shared = driver.devices[1].get();
    ASSERT_TRUE(driver.open(shared, true));
    EXPECT_EQ(shared->bufferSize, 1323);
    EXPECT_EQ(driver.renderClient, nullptr);
}

struct BlockCounter {
    int blocks = 0;
    int endAfter = 0;
    static bool callback(float**, float** outputs, uint32_t frames, void* self) {
        auto& counter = *static_cast<BlockCounter*>(self);
        for (uint32_t i = 0; i < frames; ++i) {
            outputs[0][i] = 0.25f;
            outputs[1][i] = -0.25f;
        }
        return ++counter.blocks < counter.endAfter;
    }
};

TEST(WasapiWine, OpenFailures) {
    DeviceControl devices(currentTestName());
    if (!devices.write())
        GTEST_SKIP() << kOtherFormats;
    KsWASAPI driver;
    AudioDeviceSettings missing = *findEntry(driver, false, 4);
    missing.id = "{0.0.0.00000000}.{00000000-0000-0000-0000-000000000000}";
    EXPECT_FALSE(driver.open(&missing, true));
    EXPECT_FALSE(driver.open(&missing, false));
    EXPECT_FALSE(missing.infoValid);

    AudioDeviceSettings* exclusive = findEntry(driver, false, 8);
    exclusive->bufferSize = 0;
    EXPECT_FALSE(driver.open(exclusive, true));
    exclusive->bufferSize = 256;
    EXPECT_TRUE(driver.open(exclusive, true));

    // A stream to an endpoint that has gone never begins.
    BlockCounter counter;
    counter.endAfter = 10;
    EXPECT_FALSE(driver.start(nullptr, &missing, BlockCounter::callback, &counter));
    EXPECT_FALSE(
        driver.start(&missing, findEntry(driver, false, 4), BlockCounter::callback, &counter));
    EXPECT_EQ(counter.blocks, 0);
    EXPECT_EQ(driver.renderClient, nullptr);
    EXPECT_EQ(driver.channelBuffers[0], nullptr);
}

// A device format, and the samples +0.25 and -0.25 become in it.
struct SampleFormatCase {
    const char* alsaFormat;
    size_t bytes;
    int64_t plusQuarter;
    int64_t minusQuarter;
    int64_t silence;
};

void PrintTo(const SampleFormatCase& format, std::ostream* out) {
    *out << format.alsaFormat;
}

int64_t readDeviceSample(const unsigned char* at, const SampleFormatCase& format) {
    if (format.bytes == 1)
        return at[0];
    uint32_t bits = 0;
    for (size_t i = 0; i < format.bytes; ++i)
        bits |= uint32_t(at[i]) << (8 * i);
    const unsigned unused = unsigned(32 - 8 * format.bytes);
    return static_cast<int32_t>(bits << unused) >> unused; // sign-extended
}

class WasapiWineFormats : public testing::TestWithParam<SampleFormatCase> {};

TEST_P(WasapiWineFormats, StreamEndsInOrderWithEverySampleExact) {
    const SampleFormatCase& format = GetParam();
    DeviceControl devices(currentTestName());
    if (!devices.write(std::string("playback.format ") + format.alsaFormat + "\n"))
        GTEST_SKIP() << kOtherFormats;
    KsWASAPI driver;
    AudioDeviceSettings* output = findEntry(driver, false, 4);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->bitsPerSample, format.bytes * 8);
    BlockCounter counter;
    counter.endAfter = 50;
    ASSERT_TRUE(driver.start(nullptr, output, BlockCounter::callback, &counter));
    EXPECT_EQ(counter.blocks, 50);
    EXPECT_EQ(driver.renderClient, nullptr);
    driver.stop();

    // Silence from the pre-roll, then every frame exactly +-0.25.
    const std::vector<unsigned char> bytes = devices.rendered();
    const size_t frameBytes = 2 * format.bytes;
    size_t loud = 0;
    for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
        const int64_t left = readDeviceSample(bytes.data() + at, format);
        const int64_t right = readDeviceSample(bytes.data() + at + format.bytes, format);
        if (left == format.silence && right == format.silence)
            continue;
        ASSERT_EQ(left, format.plusQuarter) << "byte " << at;
        ASSERT_EQ(right, format.minusQuarter) << "byte " << at;
        ++loud;
    }
    EXPECT_GT(loud, 40u * 480);
}

INSTANTIATE_TEST_SUITE_P(Devices, WasapiWineFormats,
                         testing::Values(SampleFormatCase{"S16_LE", 2, 8191, -8191, 0},
                                         SampleFormatCase{"S24_3LE", 3, 2097152, -2097152, 0},
                                         SampleFormatCase{"S32_LE", 4, 536870912, -536870912, 0},
                                         SampleFormatCase{"U8", 1, 128 + 31, 128 - 31, 128},
                                         // Float devices: the bits of 0.25f and -0.25f.
                                         SampleFormatCase{"FLOAT_LE", 4, 0x3E800000,
                                                          int32_t(0xBE800000), 0}),
                         [](const testing::TestParamInfo<SampleFormatCase>& info) {
                             return std::string(info.param.alsaFormat);
                         });

TEST(WasapiWine, ExclusiveModeIsRefusedCleanly) {
    DeviceControl devices(currentTestName());
    if (!devices.write())
        GTEST_SKIP() << kOtherFormats;
    KsWASAPI driver;
    BlockCounter counter;
    counter.endAfter = 10;
    EXPECT_FALSE(
        driver.start(nullptr, findEntry(driver, false, 8), BlockCounter::callback, &counter));
    EXPECT_EQ(counter.blocks, 0);
    EXPECT_EQ(driver.renderClient, nullptr);
    EXPECT_EQ(driver.renderService, nullptr);
}

// The real driver, telling how its last stream ended.
// The real driver, counting the blocks it hands the engine and telling how
// its last stream ended.
class WatchedWasapi : public KsWASAPI {
public:
    bool start(AudioDeviceSettings* input, AudioDeviceSettings* output, AudioCallback callback,
               void* userData) override {
        engineCallback = callback;
        engineData = userData;
        const bool result = KsWASAPI::start(input, output, countBlock, this);
        lastStart.store(result ? 1 : 0);
        return result;
    }
    std::atomic<int> lastStart{-1}; // -1 until a stream has ended
    std::atomic<uint64_t> blocks{0};
    std::atomic<uint64_t> emptyBlocks{0}; // a full device buffer: the plug-in is not called
    // Blocks the engine refused: the one that carried its stop request, with
    // a packet or (the capture device being quiet) with no frames.
    std::atomic<uint64_t> refusedBlocks{0};
    std::atomic<uint64_t> frames{0};
    std::atomic<uint32_t> largestBlock{0};

private:
    static bool countBlock(float** inputs, float** outputs, uint32_t count, void* self) {
        auto& driver = *static_cast<WatchedWasapi*>(self);
        driver.blocks.fetch_add(1);
        const bool accepted = driver.engineCallback(inputs, outputs, count, driver.engineData);
        if (!accepted)
            driver.refusedBlocks.fetch_add(1);
        else if (count == 0)
            driver.emptyBlocks.fetch_add(1);
        driver.frames.fetch_add(count);
        if (count > driver.largestBlock.load())
            driver.largestBlock.store(count);
        return accepted;
    }
    AudioCallback engineCallback = nullptr;
    void* engineData = nullptr;
};

// The engine with the test effect on the real driver.
class WasapiEngine : public EngineTest {
protected:
    WasapiEngine() : devices(currentTestName()) {}
    // False (the test skips) when this process already saw other formats.
    bool useWasapi(const std::string& controlLines = "") {
        if (!devices.write(controlLines))
            return false;
        auto driver = std::make_unique<WatchedWasapi>();
        watched = driver.get();
        drivers = std::make_unique<AudioDriverPair>(std::move(driver),
                                                    std::make_unique<CallbackDriver>());
        asio = static_cast<CallbackDriver*>(drivers->asio.get());
        wasapi = nullptr;
        engine.attach(&lib, drivers.get(), &midi, settings.get());
        return true;
    }
    AudioDeviceSettings* entry(bool isInput, int32_t type) {
        return findEntry(*drivers->wasapi, isInput, type);
    }
    // Streams for `seconds`, then stops; the measured rate is reported.
    void streamFor(uint32_t seconds) {
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_TRUE(engine.startAudio());
        platform::sleepMs(seconds * 1000);
        const uint64_t blocks = watched->blocks.load();
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        engine.stopAudio();
        // The stop request ended the stream in order, within the engine's checks.
        EXPECT_FALSE(engine.running.load());
        EXPECT_EQ(watched->lastStart.load(), 1);
        EXPECT_LE(watched->largestBlock.load(), uint32_t(settings->outputDevice->bufferSize));
        // The last block only carried the stop request to the driver.
        EXPECT_EQ(watched->refusedBlocks.load(), 1u);
        EXPECT_EQ(uint64_t(processInfo().processCalls) + watched->refusedBlocks.load() +
                      watched->emptyBlocks.load(),
                  watched->blocks.load());
        std::printf("stream timing: %llu blocks in %.2f s = %.1f blocks/s (expected %.1f)\n",
                    static_cast<unsigned long long>(blocks), elapsed, double(blocks) / elapsed,
                    kRate / 480.0);
        RecordProperty("blocks_per_second", std::to_string(double(blocks) / elapsed));
    }

    // The device plays by its own clock and fills any gap with silence, so
    // the frames it played are the stream's length in device time: the
    // blocks must have delivered all of them but the pre-roll, the last
    // unplayed buffer and the periods before the first captured packet.
    void expectBlocksKeptPaceWithTheDevice(uint64_t playedFrames) {
        const auto buffer = uint64_t(settings->outputDevice->bufferSize);
        const uint64_t delivered = watched->frames.load() + buffer; // with the pre-roll
        EXPECT_LE(playedFrames, delivered + 3 * 480) << "the device waited for blocks";
        EXPECT_GE(playedFrames + buffer + 480, delivered);
        std::printf(
            "device played %llu frames, blocks delivered %llu after a %llu-frame pre-roll\n",
            static_cast<unsigned long long>(playedFrames),
            static_cast<unsigned long long>(watched->frames.load()),
            static_cast<unsigned long long>(buffer));
    }

    DeviceControl devices;
    WatchedWasapi* watched = nullptr;
};

TEST_F(WasapiEngine, PlayerThroughTheEffectReachesTheRenderEndpoint) {
    if (!useWasapi())
        GTEST_SKIP() << kOtherFormats;
    settings->outputDevice = entry(false, 4);
    settings->inputDevice = nullptr;
    ASSERT_GT(engine.loadPlayerFile(writeTwoToneFile(devices.playerPath)), 0u);
    ASSERT_TRUE(engine.setPlayerState(1, true));
    streamFor(streamSeconds());
    EXPECT_EQ(settings->outputDevice->bufferSize, 1440);
    EXPECT_LE(processInfo().lastFrames, 1440);

    // 441 Hz left, 662 Hz right, amplitude 0.5, looped.
    const std::vector<float> played = devices.renderedFloats();
    expectBlocksKeptPaceWithTheDevice(played.size() / 2);
    const size_t minimumFrames = size_t(kRate) * (streamSeconds() - 1);
    expectSine(audiblePart(channel(played, 0)), 0.5, 441.0, minimumFrames);
    expectSine(audiblePart(channel(played, 1)), 0.5, 662.0, minimumFrames);
}

TEST_F(WasapiEngine, SwappedChannelsAndA16BitDevice) {
    if (!useWasapi("playback.format S16_LE\n"))
        GTEST_SKIP() << kOtherFormats;
    settings->outputDevice = entry(false, 4);
    settings->outputDevice->leftChannel = 1;
    settings->outputDevice->rightChannel = 0;
    ASSERT_GT(engine.loadPlayerFile(writeTwoToneFile(devices.playerPath)), 0u);
    ASSERT_TRUE(engine.setPlayerState(1, true));
    streamFor(2);
    const std::vector<unsigned char> bytes = devices.rendered();
    std::vector<float> played(bytes.size() / 2);
    for (size_t i = 0; i < played.size(); ++i) {
        int16_t s;
        std::memcpy(&s, bytes.data() + 2 * i, 2);
        played[i] = s / 32768.0f;
    }
    expectSine(audiblePart(channel(played, 0)), 0.5, 662.0, size_t(kRate));
    expectSine(audiblePart(channel(played, 1)), 0.5, 441.0, size_t(kRate));
}

TEST_F(WasapiEngine, CapturedSignalPassesThroughInLockStep) {
    // 1000 Hz left, 500 Hz right, amplitude 0.4, for 2.5 s.
    std::vector<float> input;
    for (size_t n = 0; n < size_t(kRate * 2.5); ++n) {
        input.push_back(0.4f * static_cast<float>(std::sin(2 * kPi * 1000.0 * n / kRate)));
        input.push_back(0.4f * static_cast<float>(std::sin(2 * kPi * 500.0 * n / kRate)));
    }
    devices.writeCaptureInput(input);
    if (!useWasapi())
        GTEST_SKIP() << kOtherFormats;
    settings->outputDevice = entry(false, 4);
    settings->inputDevice = entry(true, 4);
    streamFor(2);
    EXPECT_EQ(processInfo().lastFrames, 480); // one block per captured packet

    const std::vector<float> played = devices.renderedFloats();
    expectBlocksKeptPaceWithTheDevice(played.size() / 2);
    expectSine(audiblePart(channel(played, 0)), 0.4, 1000.0, size_t(kRate * 1.5));
    expectSine(audiblePart(channel(played, 1)), 0.4, 500.0, size_t(kRate * 1.5));
}

TEST_F(WasapiEngine, MismatchedRatesAreRefusedWithTheEnginesMessage) {
    if (!useWasapi("capture.rate 44100\n"))
        GTEST_SKIP() << kOtherFormats;
    settings->outputDevice = entry(false, 4);
    settings->inputDevice = entry(true, 4);
    EXPECT_FALSE(engine.startAudio());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.substr(0, 60),
              std::string("Different sample rates for input and output device not supported!")
                  .substr(0, 60));
    EXPECT_NE(messages[0].text.find("Automatic adjustment failed."), std::string::npos);
    EXPECT_FALSE(engine.running.load());
}

TEST_F(WasapiEngine, ExclusiveOutputThatWineRefusesDropsRunning) {
    if (!useWasapi())
        GTEST_SKIP() << kOtherFormats;
    settings->outputDevice = entry(false, 8);
    EXPECT_FALSE(engine.startAudio());
    EXPECT_FALSE(engine.running.load());
    EXPECT_EQ(watched->lastStart.load(), 0);
    EXPECT_EQ(drivers->wasapi->channelBuffers[0], nullptr);
    EXPECT_EQ(watched->renderClient, nullptr);
}

} // namespace

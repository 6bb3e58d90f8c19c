// The ASIO driver against our test ASIO driver: registered in-process
// natively, and as a real COM server found through the registry under Wine.

#include "KsASIO.h"
#include "AsioSamples.h"
#include "Clock.h"
#include "EngineTestSupport.h"
#include "TestAsioEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

namespace {

constexpr int kA = TestAsioEnvironment::kDriverA;
constexpr int kB = TestAsioEnvironment::kDriverB;

// Waits (without judging the time it takes) until the driver ran `count`
// more blocks than `from`.
bool waitForBlocks(TestAsioInstance& instance, int count) {
    const int from = instance.blocks.load();
    for (int wait = 0; wait < 2000; ++wait) {
        if (instance.blocks.load() >= from + count)
            return true;
        platform::sleepMs(5);
    }
    return false;
}

// The bytes one output block should hold: the input channel's signal of
// those frames, read and written back in the type as the host converts.
std::vector<unsigned char> expectedBlock(int32_t type, int32_t inputChannel, uint32_t firstFrame,
                                         uint32_t frames) {
    const size_t width = asioSampleBytes(type);
    std::vector<unsigned char> raw(frames * width);
    for (uint32_t i = 0; i < frames; ++i)
        encodeTestAsioSample(type, testAsioSignal(inputChannel, firstFrame + i),
                             raw.data() + i * width);
    std::vector<float> floats(frames);
    asioToFloat(type, raw.data(), floats.data(), frames);
    std::vector<unsigned char> out(frames * width);
    floatToAsio(type, floats.data(), out.data(), frames);
    return out;
}

std::vector<unsigned char> recordedBlock(const TestAsioInstance& instance, size_t output,
                                         size_t block) {
    const std::vector<unsigned char>& all = instance.recorded.at(output);
    const size_t bytes = size_t(instance.createdBufferSize.load()) *
                         testAsioSampleWidth(instance.outputTypes.at(output));
    if ((block + 1) * bytes > all.size())
        return {};
    return std::vector<unsigned char>(all.begin() + long(block * bytes),
                                      all.begin() + long((block + 1) * bytes));
}

bool allZero(const std::vector<unsigned char>& bytes) {
    for (unsigned char b : bytes)
        if (b != 0)
            return false;
    return !bytes.empty();
}

class KsASIOTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(environment.ready()) << "the test ASIO driver is missing"; }
    void makeDriver() { asio = std::make_unique<KsASIO>(); }
    AudioDeviceSettings* entry(int which, bool isInput) const {
        for (auto& device : asio->devices)
            if (device->name == TestAsioEnvironment::name(which) && device->isInput == isInput)
                return device.get();
        return nullptr;
    }

    TestAsioEnvironment environment;
    std::unique_ptr<KsASIO> asio;
};

TEST_F(KsASIOTest, ListsAnInputAndAnOutputEntryPerDriverInListOrder) {
    makeDriver();
    AudioDeviceSettings* a = entry(kA, true);
    AudioDeviceSettings* b = entry(kB, true);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (int which : {kA, kB}) {
        AudioDeviceSettings* input = entry(which, true);
        AudioDeviceSettings* output = entry(which, false);
        ASSERT_NE(output, nullptr);
        // The output follows its input directly and carries the same number.
        const auto at = [&](AudioDeviceSettings* device) {
            for (size_t i = 0; i < asio->devices.size(); ++i)
                if (asio->devices[i].get() == device)
                    return i;
            return size_t(0);
        };
        EXPECT_EQ(at(output), at(input) + 1);
        EXPECT_EQ(at(input) % 2, 0u);
        EXPECT_EQ(size_t(input->index), at(input) / 2);
        EXPECT_EQ(output->index, input->index);
        EXPECT_EQ(output->type, audioDeviceAsio);
        EXPECT_EQ(output->bufferSize, 512);
        EXPECT_FALSE(output->infoValid);
    }
}

TEST_F(KsASIOTest, OpenReadsChannelsRateSizeAndNamesOnceForProbes) {
    environment.configure(kA, "inputs 3\noutputs 2\npreferredSize 128\nsampleRate 44100\n"
                              "input.2.name Mic\noutput.0.name Main L\n");
    makeDriver();
    AudioDeviceSettings* input = entry(kA, true);
    AudioDeviceSettings* output = entry(kA, false);
    ASSERT_TRUE(asio->open(input, true));
    ASSERT_TRUE(asio->open(output, true));
    EXPECT_EQ(input->channelCount, 3);
    EXPECT_EQ(output->channelCount, 2);
    EXPECT_EQ(output->sampleRate, 44100.0);
    EXPECT_EQ(output->bufferSize, 128);
    EXPECT_EQ(input->channelNames, (std::vector<std::string>{"In 1", "In 2", "Mic"}));
    EXPECT_EQ(output->channelNames, (std::vector<std::string>{"Main L", "Out 2"}));
    // Each open loaded the driver and let it go again.
    TestAsioInstance& driver = environment.instance(kA);
    EXPECT_EQ(driver.created.load(), driver.released.load());
    const int created = driver.created.load();
    EXPECT_TRUE(asio->open(output, true));
    EXPECT_EQ(driver.created.load(), created);
    EXPECT_FALSE(asio->open(nullptr, true));
}

TEST_F(KsASIOTest, OpenBeforeAStartRereadsWhatTheControlPanelChanged) {
    environment.configure(kA, "preferredSize 256\n");
    makeDriver();
    AudioDeviceSettings* output = entry(kA, false);
    ASSERT_TRUE(asio->open(output, true));
    environment.configure(kA, "preferredSize 1024\nsampleRate 96000\n");
    ASSERT_TRUE(asio->open(output, true));
    EXPECT_EQ(output->bufferSize, 256); // a probe answers from the entry
    ASSERT_TRUE(asio->open(output, false));
    EXPECT_EQ(output->bufferSize, 1024);
    EXPECT_EQ(output->sampleRate, 96000.0);
    // Changed again after the plug-in was told: no stream at a size it does not know.
    auto pass = [](float**, float**, uint32_t, void*) { return true; };
    for (const char* changed :
         {"preferredSize 512\nsampleRate 96000\n", "preferredSize 1024\nsampleRate 48000\n"}) {
        environment.configure(kA, changed);
        EXPECT_FALSE(asio->start(nullptr, output, pass, nullptr)) << changed;
        EXPECT_FALSE(asio->running);
    }
    environment.configure(kA, "preferredSize 512\nsampleRate 96000\n");
    ASSERT_TRUE(asio->open(output, false));
    EXPECT_TRUE(asio->start(nullptr, output, pass, nullptr));
    EXPECT_EQ(environment.instance(kA).createdBufferSize.load(), 512);
    asio->stop();
}

// A driver may still deliver a block after its stop returned, while its
// buffers are being disposed of: the block must not write them.
TEST_F(KsASIOTest, ABlockDeliveredAfterTheDriversStopWritesNothing) {
    environment.configure(kA, "preferredSize 64\nblockAfterStop 1\n");
    makeDriver();
    auto pass = [](float**, float**, uint32_t, void*) { return true; };
    ASSERT_TRUE(asio->start(entry(kA, true), entry(kA, false), pass, nullptr));
    ASSERT_TRUE(waitForBlocks(environment.instance(kA), 2));
    asio->stop();
    EXPECT_EQ(environment.instance(kA).lateBlocks.load(), 1);
    EXPECT_EQ(environment.instance(kA).writesAfterStop.load(), 0);
}

TEST_F(KsASIOTest, ADriverWhoseInitFailsCannotOpenOrStart) {
    environment.configure(kA, "initFails 1\n");
    makeDriver();
    EXPECT_FALSE(asio->open(entry(kA, false), false));
    EXPECT_FALSE(asio->start(entry(kA, true), entry(kA, false), nullptr, nullptr));
    EXPECT_FALSE(asio->running);
    EXPECT_EQ(environment.instance(kA).starts.load(), 0);
}

TEST_F(KsASIOTest, AStreamNeedsInputAndOutputOfOneDriver) {
    makeDriver();
    EXPECT_FALSE(asio->start(entry(kA, true), entry(kB, false), nullptr, nullptr));
    EXPECT_FALSE(asio->start(entry(kA, true), nullptr, nullptr, nullptr));
    EXPECT_EQ(environment.instance(kA).created.load(), 0);
    EXPECT_EQ(environment.instance(kB).created.load(), 0);
}

TEST_F(KsASIOTest, BadBufferSizesOfADriverAreRefused) {
    for (const char* sizes : {"preferredSize 4096\nmaxSize 2048\n", "preferredSize 0\n",
                              "maxSize -5\npreferredSize -10\nminSize -20\n", "inputs 2000000000\n",
                              "outputs 70000\n", "maxSize 2000000000\npreferredSize 256\n"}) {
        environment.configure(kA, sizes);
        makeDriver();
        EXPECT_FALSE(asio->open(entry(kA, false), false)) << sizes;
    }
}

TEST_F(KsASIOTest, TheControlPanelOpensThroughTheDriver) {
    environment.configure(kA, "controlPanelResult 0\n");
    environment.configure(kB, "controlPanelResult -1000\n");
    makeDriver();
    EXPECT_TRUE(asio->showControlPanel(entry(kA, false)));
    EXPECT_FALSE(asio->showControlPanel(entry(kB, false)));
    EXPECT_FALSE(asio->showControlPanel(nullptr));
    EXPECT_EQ(environment.instance(kA).controlPanels.load(), 1);
    EXPECT_EQ(environment.instance(kA).inits.load(), 0); // not initialised for this
    EXPECT_EQ(environment.instance(kA).created.load(), environment.instance(kA).released.load());
}

TEST_F(KsASIOTest, DriverMessagesGetTheirAnswers) {
    struct Row {
        int32_t selector;
        int32_t value;
        int32_t answer;
    };
    const Row rows[] = {{kAsioSelectorSupported, 2, 1},    {kAsioSelectorSupported, 3, 1},
                        {kAsioSelectorSupported, 4, 0},    {kAsioSelectorSupported, 7, 1},
                        {kAsioSelectorSupported, 9, 0},    {kAsioSelectorSupported, 10, 1},
                        {kAsioEngineVersion, 0, 2},        {kAsioResetRequest, 0, 1},
                        {kAsioBufferSizeChange, 0, 0},     {kAsioResyncRequest, 0, 1},
                        {kAsioLatenciesChanged, 0, 1},     {kAsioSupportsTimeInfo, 0, 1},
                        {kAsioSupportsTimeCode, 0, 0},     {kAsioMMCCommand, 0, 0},
                        {kAsioSupportsInputMonitor, 0, 0}, {99, 0, 0}};
    for (const Row& row : rows)
        EXPECT_EQ(asioMessageAnswer(row.selector, row.value), row.answer)
            << row.selector << " " << row.value;
}

// A plug-in stand-in that adds to what it gets, as a delay or reverb does:
// an input array left over from the last block would grow every block.
bool addQuarter(float** inputs, float** outputs, uint32_t frames, void*) {
    for (int side = 0; side < 2; ++side)
        for (uint32_t i = 0; i < frames; ++i)
            outputs[side][i] = inputs[side][i] + 0.25f;
    return true;
}

TEST_F(KsASIOTest, AnInputArrayNoChannelFilledIsSilentInEveryBlock) {
    struct Row {
        const char* settings;
        int32_t rightInput;
    };
    const Row rows[] = {{"inputs 40\noutputs 2\npreferredSize 64\n", 35},
                        {"inputs 2\noutputs 2\npreferredSize 64\ninput.1.type 5\n", 1}};
    for (const Row& row : rows) {
        environment.configure(kA, row.settings);
        makeDriver();
        AudioDeviceSettings* input = entry(kA, true);
        input->leftChannel = 0;
        input->rightChannel = row.rightInput;
        ASSERT_TRUE(asio->start(input, entry(kA, false), addQuarter, nullptr));
        ASSERT_TRUE(waitForBlocks(environment.instance(kA), 8));
        asio->stop();
        const std::vector<float> quarter(64, 0.25f);
        std::vector<unsigned char> wanted(quarter.size() * sizeof(float));
        std::memcpy(wanted.data(), quarter.data(), wanted.size());
        for (size_t block = 0; block < 6; ++block)
            EXPECT_EQ(recordedBlock(environment.instance(kA), 1, block), wanted)
                << row.settings << "block " << block;
    }
}

// A block that does not end (a plug-in stuck, or waiting for the window
// thread) keeps the driver and every buffer: a stop gives up after a while
// without freeing them, a start fails, and once the block has ended a stop
// releases everything.
TEST_F(KsASIOTest, AStuckBlockKeepsItsBuffersUntilItEnds) {
    environment.configure(kA, "inputs 2\noutputs 2\npreferredSize 64\n");
    makeDriver();
    static std::atomic<int> stuck{0}; // 1: a block is held, 2: let go
    auto hold = [](float**, float**, uint32_t, void*) {
        int free = 0;
        if (stuck.compare_exchange_strong(free, 1))
            for (int waited = 0; stuck.load() == 1 && waited < 20000; ++waited)
                platform::sleepMs(1);
        return true;
    };
    ASSERT_TRUE(asio->start(entry(kA, true), entry(kA, false), hold, nullptr));
    while (stuck.load() == 0)
        platform::sleepMs(1);
    // A block of another driver thread ends while the stuck one is inside.
    asio->processBlock(1);
    asio->stop();
    EXPECT_TRUE(asio->running);
    EXPECT_NE(asio->channelBuffers[0], nullptr);
    EXPECT_EQ(environment.instance(kA).stops.load(), 0);
    EXPECT_FALSE(asio->start(entry(kA, true), entry(kA, false), hold, nullptr));
    stuck.store(2);
    asio->stop();
    EXPECT_FALSE(asio->running);
    EXPECT_EQ(asio->channelBuffers[0], nullptr);
    EXPECT_EQ(environment.instance(kA).stops.load(), 1);
}

// The engine with the test effect (gain 1) on the two entries of driver A.
class AsioEngineTest : public EngineTest {
protected:
    void startWith(const std::string& settings, int32_t leftIn, int32_t rightIn, int32_t leftOut,
                   int32_t rightOut) {
        environment.configure(kA, settings);
        ksAsio = new KsASIO();
        drivers = std::make_unique<AudioDriverPair>(nullptr, std::unique_ptr<KsAudioBase>(ksAsio));
        engine.attach(&lib, drivers.get(), &midi, this->settings.get());
        for (auto& device : ksAsio->devices) {
            if (device->name != TestAsioEnvironment::name(kA))
                continue;
            (device->isInput ? this->settings->inputDevice : this->settings->outputDevice) =
                device.get();
            device->leftChannel = device->isInput ? leftIn : leftOut;
            device->rightChannel = device->isInput ? rightIn : rightOut;
        }
        ASSERT_TRUE(engine.startAudio());
    }
    void TearDown() override {
        engine.stopAudio();
        if (drivers->asio)
            drivers->asio->stop();
    }
    TestAsioInstance& driver() { return environment.instance(kA); }

    TestAsioEnvironment environment;
    KsASIO* ksAsio = nullptr;
};

class AsioEngineTypes : public AsioEngineTest, public testing::WithParamInterface<int32_t> {};

// Input 3 and 1 selected: channel 1 (lower) goes to the left array, 3 to the
// right; outputs 2 and 0 selected: output 0 takes the left array.
TEST_P(AsioEngineTypes, KnownInputComesBackConvertedOnTheSelectedOutputsInChannelOrder) {
    const int32_t type = GetParam();
    const std::string settings = "inputs 4\noutputs 4\npreferredSize 64\nrecordBlocks 8\n"
                                 "inputType " +
                                 std::to_string(type) + "\noutputType " + std::to_string(type) +
                                 "\n";
    startWith(settings, 3, 1, 2, 0);
    ASSERT_TRUE(waitForBlocks(driver(), 12));
    engine.stopAudio();
    ASSERT_EQ(driver().running.load(), 0);
    for (size_t block = 0; block < 4; ++block) {
        const uint32_t first = uint32_t(block * 64);
        EXPECT_EQ(recordedBlock(driver(), 0, block), expectedBlock(type, 1, first, 64))
            << "output 0, block " << block;
        EXPECT_EQ(recordedBlock(driver(), 2, block), expectedBlock(type, 3, first, 64))
            << "output 2, block " << block;
        EXPECT_TRUE(allZero(recordedBlock(driver(), 1, block))) << "block " << block;
        EXPECT_TRUE(allZero(recordedBlock(driver(), 3, block))) << "block " << block;
    }
    // After the stop the driver was handed silence, not the last block again.
    for (size_t output = 0; output < 4; ++output)
        EXPECT_TRUE(allZero(driver().lastBlocks.at(output))) << "output " << output;
}

INSTANTIATE_TEST_SUITE_P(EveryHandledType, AsioEngineTypes,
                         testing::Values(ASIOSTInt16LSB, ASIOSTInt16MSB, ASIOSTInt24LSB,
                                         ASIOSTInt24MSB, ASIOSTInt32LSB, ASIOSTInt32MSB,
                                         ASIOSTFloat32LSB, ASIOSTFloat32MSB, ASIOSTFloat64LSB,
                                         ASIOSTFloat64MSB, ASIOSTInt32LSB16, ASIOSTInt32MSB16,
                                         ASIOSTInt32LSB18, ASIOSTInt32MSB18, ASIOSTInt32LSB20,
                                         ASIOSTInt32MSB20, ASIOSTInt32LSB24, ASIOSTInt32MSB24),
                         [](const testing::TestParamInfo<int32_t>& info) {
                             return "type" + std::to_string(info.param);
                         });

TEST_F(AsioEngineTest, OneChannelSelectedTwiceFeedsBothSidesAndNeverTheLastOutput) {
    startWith("inputs 2\noutputs 2\npreferredSize 64\ntimeInfo 1\n", 1, 1, 0, 1);
    ASSERT_TRUE(waitForBlocks(driver(), 8));
    engine.stopAudio();
    for (size_t block = 0; block < 4; ++block) {
        const std::vector<unsigned char> wanted =
            expectedBlock(ASIOSTFloat32LSB, 1, uint32_t(block * 64), 64);
        EXPECT_EQ(recordedBlock(driver(), 0, block), wanted) << "block " << block;
        EXPECT_EQ(recordedBlock(driver(), 1, block), wanted) << "block " << block;
    }
}

TEST_F(AsioEngineTest, AChannelBeyondTheCreatedBuffersCarriesSilence) {
    // 40 inputs: only the first 32 get buffers; channel 35 cannot stream.
    startWith("inputs 40\noutputs 40\npreferredSize 64\n", 35, 0, 0, 31);
    ASSERT_TRUE(waitForBlocks(driver(), 8));
    engine.stopAudio();
    EXPECT_EQ(driver().createdBuffers.load(), 64);
    for (size_t block = 0; block < 4; ++block) {
        // Channel 0 is the only one found, so it takes the left array.
        EXPECT_EQ(recordedBlock(driver(), 0, block),
                  expectedBlock(ASIOSTFloat32LSB, 0, uint32_t(block * 64), 64));
        EXPECT_TRUE(allZero(recordedBlock(driver(), 31, block))) << "block " << block;
    }
}

TEST_F(AsioEngineTest, MoreThan64ChannelsAreAllNamed) {
    environment.configure(kA, "inputs 40\noutputs 40\n");
    KsASIO driverObject;
    AudioDeviceSettings* output = nullptr;
    for (auto& device : driverObject.devices)
        if (device->name == TestAsioEnvironment::name(kA) && !device->isInput)
            output = device.get();
    ASSERT_TRUE(driverObject.open(output, true));
    ASSERT_EQ(output->channelNames.size(), 40u);
    EXPECT_EQ(output->channelNames[39], "Out 40");
}

TEST_F(AsioEngineTest, AResetRequestIsAcknowledgedAndTheStreamGoesOn) {
    startWith("preferredSize 64\nresetAfter 3\n", 0, 1, 0, 1);
    ASSERT_TRUE(waitForBlocks(driver(), 10));
    EXPECT_EQ(driver().resetAnswer.load(), 1);
    EXPECT_EQ(driver().stops.load(), 0);
}

TEST_F(AsioEngineTest, StopReturnsTheDriverToIdleAndUnloadsIt) {
    startWith("preferredSize 64\n", 0, 1, 0, 1);
    ASSERT_TRUE(waitForBlocks(driver(), 4));
    EXPECT_TRUE(ksAsio->showControlPanel(nullptr)); // the running driver's
    engine.stopAudio();
    EXPECT_FALSE(ksAsio->running);
    EXPECT_EQ(driver().running.load(), 0);
    EXPECT_EQ(driver().stops.load(), 1);
    EXPECT_EQ(driver().created.load(), driver().released.load());
    EXPECT_EQ(currentDriver.load(), nullptr);
    EXPECT_EQ(ksAsio->channelBuffers[0], nullptr);
}

TEST_F(AsioEngineTest, ANewBufferSizeReachesThePlugInAtTheNextStart) {
    startWith("preferredSize 256\n", 0, 1, 0, 1);
    ASSERT_TRUE(waitForBlocks(driver(), 2));
    engine.stopAudio();
    environment.configure(kA, "preferredSize 512\n");
    control.clearCalls(lib.effect);
    ASSERT_TRUE(engine.startAudio());
    ASSERT_TRUE(waitForBlocks(driver(), 2));
    engine.stopAudio();
    bool toldSize = false;
    for (const KsTestCall& call : control.calls(lib.effect))
        toldSize = toldSize || (call.opcode == effSetBlockSize && call.value == 512);
    EXPECT_TRUE(toldSize);
    EXPECT_EQ(processInfo().lastFrames, 512);
}

} // namespace

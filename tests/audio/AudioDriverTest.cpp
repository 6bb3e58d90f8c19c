#include "KsAudioBase.h"
#include "KsMidiBase.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// A driver double that streams a fixed number of blocks from the calling
// thread, as a blocking stream loop does.
class LoopDriver : public KsAudioBase {
public:
    bool start(AudioDeviceSettings* input, AudioDeviceSettings* output, AudioCallback callback,
               void* userData) override {
        if (output == nullptr)
            return false;
        const int32_t frames = std::max(output->bufferSize, input ? input->bufferSize : 0);
        if (!allocateChannelBuffers(static_cast<size_t>(frames)))
            return false;
        for (int block = 0; block < 1000; ++block) {
            if (!callback(channelBuffers, channelBuffers, static_cast<uint32_t>(frames), userData))
                return true;
        }
        return false;
    }
    void stop() override { freeChannelBuffers(); }
    bool matchFormats(AudioDeviceSettings*, AudioDeviceSettings*) override { return true; }
    bool open(AudioDeviceSettings* device, bool) override {
        if (device == nullptr)
            return false;
        device->infoValid = true;
        return true;
    }
};

TEST(AudioDriverPair, ChoosesTheDriverByType) {
    auto wasapi = std::make_unique<LoopDriver>();
    auto asio = std::make_unique<LoopDriver>();
    KsAudioBase* wasapiDriver = wasapi.get();
    KsAudioBase* asioDriver = asio.get();
    AudioDriverPair pair(std::move(wasapi), std::move(asio));
    const struct {
        int32_t type;
        KsAudioBase* driver;
    } cases[] = {{audioDeviceAsio, asioDriver},
                 {audioDeviceWasapiShared, wasapiDriver},
                 {audioDeviceWasapiExclusive, wasapiDriver},
                 {0, nullptr},
                 {6, nullptr},
                 {16, nullptr}};
    for (const auto& c : cases)
        EXPECT_EQ(pair.driverFor(c.type), c.driver) << "type " << c.type;
    EXPECT_EQ(pair.driverFor(static_cast<const AudioDeviceSettings*>(nullptr)), nullptr);
}

struct BlockLog {
    int blocks = 0;
    bool sameArrays = true;
    bool aligned = true;
    bool zeroedAtStart = true;
    uint32_t frames = 0;
};

bool recordBlock(float** inputs, float** outputs, uint32_t frames, void* user) {
    auto* log = static_cast<BlockLog*>(user);
    log->sameArrays = log->sameArrays && inputs == outputs;
    for (int c = 0; c < 2; ++c) {
        log->aligned = log->aligned && reinterpret_cast<uintptr_t>(outputs[c]) % 64 == 0;
        if (log->blocks == 0) {
            for (uint32_t i = 0; i < frames; ++i)
                log->zeroedAtStart = log->zeroedAtStart && outputs[c][i] == 0.0f;
        }
        for (uint32_t i = 0; i < frames; ++i)
            outputs[c][i] = 1.0f; // the output overwrites the same block's input
    }
    log->frames = frames;
    return ++log->blocks < 3;
}

TEST(KsAudioBase, ChannelBuffersAreOnePairAlignedAndZeroed) {
    for (int32_t frames : {1, 3, 64, 1023}) {
        LoopDriver driver;
        AudioDeviceSettings output;
        output.bufferSize = frames;
        AudioDeviceSettings input;
        input.bufferSize = frames / 2;
        BlockLog log;
        EXPECT_TRUE(driver.start(&input, &output, recordBlock, &log));
        EXPECT_EQ(log.blocks, 3);
        EXPECT_EQ(log.frames, static_cast<uint32_t>(frames));
        EXPECT_TRUE(log.sameArrays);
        EXPECT_TRUE(log.aligned) << frames;
        EXPECT_TRUE(log.zeroedAtStart) << frames;
        driver.stop();
        EXPECT_EQ(driver.channelBuffers[0], nullptr);
        EXPECT_EQ(driver.channelBuffers[1], nullptr);
    }
}

TEST(AudioDeviceSettings, StartsWithTheDocumentedDefaults) {
    AudioDeviceSettings entry;
    EXPECT_FALSE(entry.infoValid);
    EXPECT_EQ(entry.leftChannel, 0);
    EXPECT_EQ(entry.rightChannel, 1);
    EXPECT_FALSE(entry.isDefault);
}

TEST(MidiMessage, UnpacksShortMessages) {
    const struct {
        uint8_t bytes[3];
        uint8_t status, type, channel, data1, data2;
    } cases[] = {
        {{0x93, 60, 100}, 0x90, 0x90, 3, 60, 100},  {{0x80, 0xFF, 0x80}, 0x80, 0x80, 0, 0x7F, 0},
        {{0xBF, 64, 127}, 0xB0, 0xB0, 15, 64, 127}, {{0xF8, 0, 0}, 0xF8, 0xF0, 8, 0, 0},
        {{0xFA, 0, 0}, 0xFA, 0xF0, 10, 0, 0},       {{0xE1, 0x00, 0x40}, 0xE0, 0xE0, 1, 0, 0x40},
    };
    for (const auto& c : cases) {
        const MidiMessage m = MidiMessage::fromBytes(c.bytes[0], c.bytes[1], c.bytes[2], 1.5);
        EXPECT_EQ(m.status, c.status) << std::hex << int(c.bytes[0]);
        EXPECT_EQ(m.type, c.type);
        EXPECT_EQ(m.channel, c.channel);
        EXPECT_EQ(m.data1, c.data1);
        EXPECT_EQ(m.data2, c.data2);
        EXPECT_EQ(m.deltaMs, 1.5);
    }
}

} // namespace

// KsDemoSynth loaded as the host loads it, through its own library.

#include "DemoEvents.h"
#include "DemoParameters.h"
#include "KsVSTHostLib.h"
#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct LoadedDemo {
    LoadedDemo() {
        effect = lib.load(testPluginPath("KsDemoSynth"));
        if (effect != nullptr)
            dispatch(effOpen);
    }
    ~LoadedDemo() {
        if (effect != nullptr)
            dispatch(effClose);
        lib.unload();
    }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    std::string text(VstInt32 opcode, VstInt32 index = 0) {
        char buffer[256] = {};
        dispatch(opcode, index, 0, buffer);
        return buffer;
    }
    template <typename Proc> Proc privateEntry(size_t offset) {
        Proc proc;
        std::memcpy(&proc, reinterpret_cast<const char*>(effect) + offset, sizeof(proc));
        return proc;
    }
    void play(std::vector<VstMidiEvent> events, int frames = 256) {
        EventBlock block(std::move(events));
        if (block.get()->numEvents > 0)
            dispatch(effProcessEvents, 0, 0, block.get());
        std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
        float* pair[2] = {left.data(), right.data()};
        lib.process(pair, pair, frames);
        lastLeft = left;
    }

    KsVSTHostLib lib;
    AEffect* effect = nullptr;
    std::vector<float> lastLeft;
};

TEST(DemoPlugin, IsAKestruneInstrumentWithItsPrivateEntryPoints) {
    LoadedDemo demo;
    ASSERT_NE(demo.effect, nullptr) << describeLoadFailure(demo.lib.lastFailure);
    EXPECT_EQ(demo.text(effGetEffectName), "KsDemoSynth");
    EXPECT_EQ(demo.text(effGetVendorString), "Kestrune");
    EXPECT_EQ(demo.effect->numInputs, 0);
    EXPECT_EQ(demo.effect->numOutputs, 2);
    EXPECT_NE(demo.effect->flags & effFlagsIsSynth, 0);
    EXPECT_NE(demo.effect->flags & effFlagsProgramChunks, 0);
    EXPECT_EQ(demo.effect->numParams, demo::kParameterCount);
    for (size_t offset : {kShowAboutScreenOffset, kShowHelpOffset, kExtraCommandOffset})
        EXPECT_NE(demo.privateEntry<PluginPrivateProc>(offset), nullptr) << offset;
    auto hasFocus = demo.privateEntry<PluginKeyFocusProc>(kEditorHasKeyFocusOffset);
    ASSERT_NE(hasFocus, nullptr);
    EXPECT_FALSE(hasFocus(demo.effect)); // no editor open
    for (const char* capability : {"receiveVstMidiEvent", "sendVstMidiEvent", "hasAboutScreen"})
        EXPECT_EQ(demo.dispatch(effCanDo, 0, 0, const_cast<char*>(capability)), 1) << capability;
    EXPECT_EQ(demo.dispatch(effCanDo, 0, 0, nullptr), 0);
}

struct EchoLog {
    std::vector<VstMidiEvent> events;
    static void hook(const VstMidiEvent& event, void* user) {
        static_cast<EchoLog*>(user)->events.push_back(event);
    }
};

TEST(DemoPlugin, EchoesItsNotesThroughTheHostCallback) {
    LoadedDemo demo;
    ASSERT_NE(demo.effect, nullptr);
    EchoLog log;
    demo.lib.record.midiOutHook = EchoLog::hook;
    demo.lib.record.midiOutUserData = &log;
    demo.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    demo.play({noteOn(60, 17), midiEvent(0xE0, 0, 64, 20), noteOff(60, 100)});
    ASSERT_EQ(log.events.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(log.events[0].midiData[0]), 0x90);
    EXPECT_EQ(log.events[0].deltaFrames, 17);
    EXPECT_EQ(static_cast<unsigned char>(log.events[1].midiData[0]), 0x80);
    EXPECT_EQ(log.events[1].deltaFrames, 100);
}

TEST(DemoPlugin, ChunkRestoresParametersAndABadOneChangesNothing) {
    LoadedDemo demo;
    ASSERT_NE(demo.effect, nullptr);
    demo.effect->setParameter(demo.effect, demo::kDetune, 0.75f);
    void* data = nullptr;
    const VstIntPtr size = demo.dispatch(effGetChunk, 0, 0, &data);
    ASSERT_EQ(size, static_cast<VstIntPtr>(demo::kChunkSize));
    const std::vector<char> saved(static_cast<char*>(data), static_cast<char*>(data) + size);
    demo.effect->setParameter(demo.effect, demo::kDetune, 0.1f);
    EXPECT_EQ(demo.dispatch(effSetChunk, 0, size, const_cast<char*>(saved.data())), 1);
    EXPECT_EQ(demo.effect->getParameter(demo.effect, demo::kDetune), 0.75f);
    EXPECT_EQ(demo.dispatch(effSetChunk, 0, size - 1, const_cast<char*>(saved.data())), 0);
    EXPECT_EQ(demo.dispatch(effSetChunk, 0, -1, const_cast<char*>(saved.data())), 0);
    EXPECT_EQ(demo.dispatch(effSetChunk, 0, size, nullptr), 0);
    EXPECT_EQ(demo.dispatch(effGetChunk, 0, 0, nullptr), 0);
    EXPECT_EQ(demo.effect->getParameter(demo.effect, demo::kDetune), 0.75f);
}

TEST(DemoPlugin, ParameterTextsStayInsideTheHostsBuffer) {
    LoadedDemo demo;
    ASSERT_NE(demo.effect, nullptr);
    demo.effect->setParameter(demo.effect, demo::kWaveform, 0.3f);
    for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
        for (int index = 0; index < demo::kParameterCount; ++index) {
            char buffer[16];
            std::memset(buffer, '#', sizeof(buffer));
            EXPECT_EQ(demo.dispatch(opcode, index, 0, buffer), 1);
            EXPECT_EQ(std::string(buffer + 9, 7), "#######") << opcode << " " << index;
        }
        EXPECT_EQ(demo.dispatch(opcode, demo::kParameterCount, 0, nullptr), 0);
    }
    EXPECT_EQ(demo.text(effGetParamDisplay, demo::kWaveform), "Triangle");
    EXPECT_EQ(demo.text(effGetParamName, demo::kDetune), "Detune");
}

TEST(DemoPlugin, ProcessingWithoutAnySetupIsSafe) {
    LoadedDemo demo;
    ASSERT_NE(demo.effect, nullptr);
    demo.dispatch(effSetSampleRate, 0, 0, nullptr, -1.0f);
    demo.dispatch(effProcessEvents, 0, 0, nullptr);
    demo.play({noteOn(60)});
    demo.effect->processReplacing(demo.effect, nullptr, nullptr, 64);
    EXPECT_NE(demo.lastLeft.back(), 0.0f);
}

// The window thread changes parameters and chunks, asks for the chunk and
// idles the editor while the audio thread plays and echoes notes.
TEST(DemoPluginThreads, WindowThreadAndAudioThreadShareOnlyAtomics) {
    LoadedDemo demo;
    ASSERT_NE(demo.effect, nullptr);
    std::atomic<int> echoed{0};
    demo.lib.record.midiOutHook = [](const VstMidiEvent&, void* user) {
        static_cast<std::atomic<int>*>(user)->fetch_add(1);
    };
    demo.lib.record.midiOutUserData = &echoed;
    demo.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    demo.dispatch(effMainsChanged, 0, 1);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        EventBlock on({noteOn(60), noteOn(64, 10)}), off({noteOff(60, 5), noteOff(64, 7)});
        std::vector<float> left(128), right(128);
        float* pair[2] = {left.data(), right.data()};
        for (int block = 0; block < 4000 || !stop.load(); ++block) {
            demo.dispatch(effProcessEvents, 0, 0, (block % 2 == 0 ? on : off).get());
            demo.lib.process(pair, pair, 128);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        demo.effect->setParameter(demo.effect, i % demo::kParameterCount, (i % 100) / 100.0f);
        void* data = nullptr;
        const VstIntPtr size = demo.dispatch(effGetChunk, 0, 0, &data);
        demo.dispatch(effSetChunk, 0, size, data);
        demo.dispatch(effEditIdle);
        if (i % 500 == 0)
            demo.dispatch(effMainsChanged, 0, 1);
    }
    stop = true;
    audio.join();
    EXPECT_GE(echoed.load(), 8000);
}

} // namespace

#include "KsVSTHostLib.h"
#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct HookLog {
    std::vector<std::vector<unsigned char>> midi;
    std::vector<double> tempos;
    int resizes = 0;
};

void recordMidi(const VstMidiEvent& event, void* user) {
    auto* log = static_cast<HookLog*>(user);
    log->midi.push_back({static_cast<unsigned char>(event.midiData[0]),
                         static_cast<unsigned char>(event.midiData[1]),
                         static_cast<unsigned char>(event.midiData[2])});
}
void recordTempo(double bpm, void* user) {
    static_cast<HookLog*>(user)->tempos.push_back(bpm);
}
void recordResize(void* user) {
    static_cast<HookLog*>(user)->resizes++;
}

class HostCallbackTest : public testing::Test {
protected:
    void SetUp() override {
        effect = lib.load(testPluginPath("KsTestEffect"));
        ASSERT_NE(effect, nullptr) << describeLoadFailure(lib.lastFailure);
    }
    void TearDown() override {
        if (effect != nullptr)
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    }
    void installHooks() {
        lib.record.midiOutUserData = &hooks;
        lib.record.midiOutHook = recordMidi;
        lib.record.tempoUserData = &hooks;
        lib.record.tempoHook = recordTempo;
        lib.record.resizeUserData = &hooks;
        lib.record.resizeHook = recordResize;
    }
    VstIntPtr call(VstInt32 opcode, VstInt32 index = 0, void* ptr = nullptr, float opt = 0.0f) {
        return control.callHost(effect, opcode, index, 0, ptr, opt);
    }
    void processOneBlock() {
        std::vector<float> left(64), right(64);
        float* pair[2] = {left.data(), right.data()};
        lib.process(pair, pair, 64);
    }

    KsVSTHostLib lib;
    AEffect* effect = nullptr;
    TestPluginControl control{"KsTestEffect"};
    HookLog hooks;
};

TEST_F(HostCallbackTest, AnswersIdentity) {
    EXPECT_EQ(call(audioMasterVersion), 2400);
    EXPECT_EQ(call(audioMasterCurrentId), 0);
    char text[256] = {};
    EXPECT_EQ(call(audioMasterGetVendorString, 0, text), 1);
    EXPECT_STREQ(text, "Kestrune");
    EXPECT_EQ(call(audioMasterGetProductString, 0, text), 1);
    EXPECT_STREQ(text, "Kestrune Standalone");
}

TEST_F(HostCallbackTest, CanDoListIsExactAndCaseSensitive) {
    const struct {
        const char* capability;
        VstIntPtr answer;
    } cases[] = {
        {"supplyIdle", 1},       {"sendVstEvents", 1},
        {"sendVstMidiEvent", 1}, {"sendVstTimeInfo", 1},
        {"receiveVstEvents", 1}, {"receiveVstMidiEvent", 1},
        {"supportShell", 1},     {"shellCategory", 1},
        {"sizeWindow", 1},       {"SizeWindow", 0},
        {"sizewindow", 0},       {"sizeWindow ", 0},
        {"offline", 0},          {"openFileSelector", 0},
        {"startStopProcess", 0}, {"reportConnectionChanges", 0},
        {"acceptIOChanges", 0},  {"", 0},
    };
    for (const auto& c : cases) {
        std::string text = c.capability;
        EXPECT_EQ(call(audioMasterCanDo, 0, text.data()), c.answer) << '"' << c.capability << '"';
    }
    EXPECT_EQ(call(audioMasterCanDo, 0, nullptr), 0);
}

TEST_F(HostCallbackTest, UnhandledOpcodesAnswerZero) {
    installHooks();
    for (VstInt32 opcode : std::initializer_list<VstInt32>{
             audioMasterAutomate, audioMasterIdle, audioMasterGetSampleRate,
             audioMasterGetBlockSize, audioMasterGetCurrentProcessLevel,
             audioMasterGetAutomationState, audioMasterGetLanguage, audioMasterUpdateDisplay,
             audioMasterBeginEdit, audioMasterEndEdit, 49, 51, 52, 54, 1000, -1}) {
        EXPECT_EQ(call(opcode), 0) << "opcode " << opcode;
    }
}

TEST_F(HostCallbackTest, TimeInfoIsTheRecordsOwnWithItsInitialValues) {
    const auto address = call(audioMasterGetTime, 0, nullptr, 0.0f);
    ASSERT_EQ(address, reinterpret_cast<VstIntPtr>(&lib.record.timeInfo));
    const VstTimeInfo& time = *reinterpret_cast<const VstTimeInfo*>(address);
    EXPECT_EQ(time.sampleRate, 44100.0);
    EXPECT_EQ(time.tempo, 120.0);
    EXPECT_EQ(time.timeSigNumerator, 4);
    EXPECT_EQ(time.timeSigDenominator, 4);
    EXPECT_EQ(time.smpteFrameRate, kVstSmpte25fps);
    EXPECT_EQ(time.flags, kVstPpqPosValid | kVstTempoValid);
    EXPECT_EQ(time.samplePos, 0.0);
    EXPECT_EQ(time.ppqPos, 0.0);
    EXPECT_EQ(time.barStartPos, 0.0);
    EXPECT_EQ(time.samplesToNextClock, 0);
}

TEST_F(HostCallbackTest, TimeAskedInsideTheEntryPointIsNotAnswered) {
    EXPECT_EQ(control.entryTimeAnswer(), 0);
}

TEST_F(HostCallbackTest, TempoFromThePluginNeedsAHook) {
    EXPECT_EQ(call(audioMasterSetHostTempo, 0, nullptr, 133.5f), 0);
    installHooks();
    EXPECT_EQ(call(audioMasterSetHostTempo, 0, nullptr, 133.5f), 1);
    EXPECT_EQ(hooks.tempos, std::vector<double>{133.5});
}

TEST_F(HostCallbackTest, TransportFromThePluginSetsPlayingAndRewinds) {
    VstTimeInfo& time = lib.record.timeInfo;
    time.ppqPos = 17.25;
    EXPECT_EQ(call(audioMasterSetHostTransport, 1), 1);
    EXPECT_EQ(time.flags, kVstPpqPosValid | kVstTempoValid | kVstTransportPlaying);
    EXPECT_EQ(time.ppqPos, 0.0);
    time.ppqPos = 3.0;
    EXPECT_EQ(call(audioMasterSetHostTransport, 7), 1);
    EXPECT_EQ(time.flags & kVstTransportPlaying, kVstTransportPlaying);
    EXPECT_EQ(call(audioMasterSetHostTransport, 0), 1);
    EXPECT_EQ(time.flags, kVstPpqPosValid | kVstTempoValid);
    EXPECT_EQ(time.ppqPos, 0.0);
}

TEST_F(HostCallbackTest, SizeWindowCallsTheResizeHook) {
    EXPECT_EQ(call(audioMasterSizeWindow), 0);
    installHooks();
    EXPECT_EQ(call(audioMasterSizeWindow), 1);
    EXPECT_EQ(hooks.resizes, 1);
}

TEST_F(HostCallbackTest, MidiOutPassesOnlyMidiEventsInOrder) {
    struct Case {
        bool hooked;
        bool withSysex;
        bool sysexOnly;
        VstIntPtr answer;
        size_t passed;
    } cases[] = {
        {true, false, false, 1, 1},
        {true, true, false, 1, 1},
        {true, false, true, 0, 0},
        {false, false, false, 0, 0},
    };
    for (const Case& c : cases) {
        hooks = {};
        lib.record.clearHooks();
        if (c.hooked)
            installHooks();
        KsTestHostRequest request{audioMasterProcessEvents, 0,           0,          0.0f,
                                  {0x90, 60, 100},          c.withSysex, c.sysexOnly};
        ASSERT_TRUE(control.queueHostCall(effect, request));
        processOneBlock();
        EXPECT_EQ(control.processInfo(effect).lastRequestResult, c.answer)
            << "hooked " << c.hooked << " sysex " << c.withSysex << " only " << c.sysexOnly;
        ASSERT_EQ(hooks.midi.size(), c.passed);
        if (c.passed > 0) {
            EXPECT_EQ(hooks.midi[0], (std::vector<unsigned char>{0x90, 60, 100}));
        }
    }
}

TEST_F(HostCallbackTest, CallsFromTheAudioPathReachTheHooks) {
    installHooks();
    control.queueHostCall(effect, {audioMasterSetHostTempo, 0, 0, 98.0f, {}, false, false});
    control.queueHostCall(effect, {audioMasterSetHostTransport, 1, 0, 0.0f, {}, false, false});
    processOneBlock();
    EXPECT_EQ(hooks.tempos, std::vector<double>{98.0});
    EXPECT_TRUE(lib.record.timeInfo.flags & kVstTransportPlaying);
    const KsTestProcessInfo info = control.processInfo(effect);
    EXPECT_TRUE(info.hadTimeInfo);
    EXPECT_EQ(info.timeInfo.tempo, 120.0);
}

// The plug-in calls from its audio thread while the window thread installs
// and removes the hook: a hook it sees always has its user data.
TEST_F(HostCallbackTest, AHookBeingInstalledIsNeverCalledWithoutItsUserData) {
    static std::atomic<int> withoutUserData{0};
    std::atomic<bool> done{false};
    std::thread audio([&] {
        while (!done.load())
            call(audioMasterSetHostTempo, 0, nullptr, 99.0f);
    });
    for (int i = 0; i < 200000; ++i) {
        lib.record.tempoHook = nullptr; // as the engine removes it at a stop
        lib.record.tempoUserData = &hooks;
        lib.record.tempoHook = [](double, void* user) {
            if (user == nullptr)
                withoutUserData.fetch_add(1);
        };
    }
    done.store(true);
    audio.join();
    EXPECT_EQ(withoutUserData.load(), 0);
}

TEST_F(HostCallbackTest, UnknownCallerGetsNoRecord) {
    AEffect stranger{};
    installHooks();
    EXPECT_EQ(hostCallback(&stranger, audioMasterGetTime, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(hostCallback(&stranger, audioMasterSetHostTempo, 0, 0, nullptr, 90.0f), 0);
    EXPECT_EQ(hostCallback(&stranger, audioMasterSizeWindow, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(hostCallback(nullptr, audioMasterGetTime, 0, 0, nullptr, 0.0f), 0);
    // The transport opcode answers 1 even without a record, and changes nothing.
    EXPECT_EQ(hostCallback(&stranger, audioMasterSetHostTransport, 1, 0, nullptr, 0.0f), 1);
    EXPECT_FALSE(lib.record.timeInfo.flags & kVstTransportPlaying);
    EXPECT_EQ(hostCallback(&stranger, audioMasterVersion, 0, 0, nullptr, 0.0f), 2400);
    EXPECT_TRUE(hooks.tempos.empty());
    EXPECT_EQ(hooks.resizes, 0);
}

} // namespace

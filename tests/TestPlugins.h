#pragma once

// Finding our test plug-ins and reaching what they record.

#include "DynamicLibrary.h"
#include "KsTestPlugin.h"

#include <string>
#include <vector>

// The full path of a test plug-in (name without extension) built beside the
// running test program.
std::string testPluginPath(const std::string& name);

// The platform's file name ending for a plug-in library.
const char* pluginExtension();

// The test plug-in's own exports, reached by loading its library a second
// time (the system hands back the same module).
class TestPluginControl {
public:
    explicit TestPluginControl(const std::string& name);

    std::vector<KsTestCall> calls(AEffect* effect) const;
    std::vector<VstInt32> opcodes(AEffect* effect) const;
    void clearCalls(AEffect* effect) const { clearCallsProc(effect); }
    VstIntPtr callHost(AEffect* effect, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const {
        return callHostProc(effect, opcode, index, value, ptr, opt);
    }
    bool queueHostCall(AEffect* effect, const KsTestHostRequest& request) const {
        return queueProc(effect, &request) != 0;
    }
    KsTestProcessInfo processInfo(AEffect* effect) const;
    std::vector<VstMidiEvent> receivedEvents(AEffect* effect) const;
    VstIntPtr entryTimeAnswer() const { return entryTimeProc(); }
    void setChannels(AEffect* effect, VstInt32 inputs, VstInt32 outputs) const {
        setChannelsProc(effect, inputs, outputs);
    }
    // From now on the plug-in writes over the arrays and events it is handed.
    void scribbleOnHostArrays(AEffect* effect) const { scribbleProc(effect); }

private:
    template <typename Proc> Proc find(const char* name) const;

    platform::DynamicLibrary library;
    KsTestCallsProc callsProc = nullptr;
    KsTestClearCallsProc clearCallsProc = nullptr;
    KsTestCallHostProc callHostProc = nullptr;
    KsTestQueueHostCallProc queueProc = nullptr;
    KsTestProcessInfoProc processInfoProc = nullptr;
    KsTestReceivedEventsProc receivedProc = nullptr;
    KsTestEntryTimeAnswerProc entryTimeProc = nullptr;
    KsTestSetChannelsProc setChannelsProc = nullptr;
    KsTestScribbleProc scribbleProc = nullptr;
};

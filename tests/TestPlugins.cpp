#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <stdexcept>

const char* pluginExtension() {
#if defined(_WIN32)
    return ".dll";
#else
    return ".so";
#endif
}

std::string testPluginPath(const std::string& name) {
    return platform::executableDirectory() + platform::pathSeparator() + name + pluginExtension();
}

template <typename Proc> Proc TestPluginControl::find(const char* name) const {
    auto proc = reinterpret_cast<Proc>(library.symbol(name));
    if (proc == nullptr)
        throw std::runtime_error(std::string("test plug-in lacks ") + name);
    return proc;
}

TestPluginControl::TestPluginControl(const std::string& name)
    : library(platform::DynamicLibrary::load(testPluginPath(name))) {
    callsProc = find<KsTestCallsProc>("ksTestCalls");
    clearCallsProc = find<KsTestClearCallsProc>("ksTestClearCalls");
    callHostProc = find<KsTestCallHostProc>("ksTestCallHost");
    queueProc = find<KsTestQueueHostCallProc>("ksTestQueueHostCall");
    processInfoProc = find<KsTestProcessInfoProc>("ksTestProcessInfo");
    receivedProc = find<KsTestReceivedEventsProc>("ksTestReceivedEvents");
    entryTimeProc = find<KsTestEntryTimeAnswerProc>("ksTestEntryTimeAnswer");
    setChannelsProc = find<KsTestSetChannelsProc>("ksTestSetChannels");
    scribbleProc = find<KsTestScribbleProc>("ksTestScribbleOnHostArrays");
}

std::vector<KsTestCall> TestPluginControl::calls(AEffect* effect) const {
    std::vector<KsTestCall> result(4096);
    result.resize(static_cast<size_t>(callsProc(effect, result.data(), 4096)));
    return result;
}

std::vector<VstInt32> TestPluginControl::opcodes(AEffect* effect) const {
    std::vector<VstInt32> result;
    for (const KsTestCall& call : calls(effect))
        result.push_back(call.opcode);
    return result;
}

KsTestProcessInfo TestPluginControl::processInfo(AEffect* effect) const {
    KsTestProcessInfo info{};
    processInfoProc(effect, &info);
    return info;
}

std::vector<VstMidiEvent> TestPluginControl::receivedEvents(AEffect* effect) const {
    std::vector<VstMidiEvent> events(4096);
    const int count = receivedProc(effect, events.data(), 4096);
    events.resize(static_cast<size_t>(std::min(count, 4096)));
    return events;
}

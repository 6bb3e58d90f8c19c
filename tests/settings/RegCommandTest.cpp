// Settings written and read by the system's own `reg` command, as another
// program (or a user) would.

#include "SettingsTestSupport.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = _popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "<no pipe>";
    char line[512];
    while (std::fgets(line, sizeof(line), pipe) != nullptr)
        output += line;
    _pclose(pipe);
    return output;
}

using RegCommandTest = SettingsTest;

TEST_F(RegCommandTest, LoadReadsWhatRegAddWrote) {
    const std::string host = "\"HKCU\\" + hostPath + "\"";
    run("reg add " + host + " /v AudioDeviceType /t REG_DWORD /d 4 /f");
    run("reg add " + host + " /v \"AudioDeviceOut Name\" /t REG_SZ /d Speakers /f");
    run("reg add " + host + " /v Tempo /t REG_SZ /d 98.5 /f");
    run("reg add " + host + " /v sampleLooped /t REG_DWORD /d 0 /f");
    run("reg add " + host + " /v sampleRecordMaxBars /t REG_DWORD /d 3 /f");
    AudioDeviceList wasapi;
    wasapi.push_back(makeDevice(audioDeviceWasapiShared, "Speakers", false));
    AudioDeviceList asio;
    HostSettings settings(pluginName, false);
    settings.load(wasapi, asio);
    EXPECT_EQ(settings.outputDevice, wasapi[0].get());
    EXPECT_EQ(wasapi[0]->bufferSize, 1024);
    EXPECT_EQ(settings.tempo.load(), 98.5);
    EXPECT_FALSE(settings.sampleLooped);
    EXPECT_EQ(settings.sampleRecordMaxBars, 3);
}

TEST_F(RegCommandTest, RegQueryReadsWhatSaveWrote) {
    HostSettings settings(pluginName, false);
    settings.tempo = 98.5;
    settings.tempoTab = 0xB040;
    settings.samplePath = "C:\\Loops\\Beat.wav";
    auto device = std::make_unique<MidiDeviceSettings>();
    device->name = "Keys";
    device->isInput = true;
    device->channel = 10;
    settings.midiDevices.push_back(std::move(device));
    settings.save();

    const std::string host = run("reg query \"HKCU\\" + hostPath + "\"");
    EXPECT_NE(host.find("Tempo    REG_SZ    98.5"), std::string::npos) << host;
    EXPECT_NE(host.find("tempoTab    REG_DWORD    0xb040"), std::string::npos) << host;
    EXPECT_NE(host.find("samplePath    REG_SZ    C:\\Loops\\Beat.wav"), std::string::npos);
    EXPECT_NE(host.find("sampleLooped    REG_DWORD    0x1"), std::string::npos);
    const std::string midi = run("reg query \"HKCU\\" + hostPath + "\\Midi Device 0\"");
    EXPECT_NE(midi.find("name    REG_SZ    Keys"), std::string::npos) << midi;
    EXPECT_NE(midi.find("channel    REG_DWORD    0xa"), std::string::npos) << midi;
    EXPECT_NE(midi.find("keyboardRangeRight    REG_DWORD    0x7f"), std::string::npos);
}

} // namespace

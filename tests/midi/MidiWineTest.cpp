// The winmm MIDI driver on the virtual MIDI devices of the test environment:
// Wine's winmm with the driver scripts/wine-env.sh installs, messages
// injected over UDP as another process would, output read back from the
// device's byte file.

#include "EngineTestSupport.h"
#include "KsMMMidi.h"

#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr const char* kKey = "Software\\Kestrune\\Virtual MIDI";
constexpr DWORD kPatienceMs = 5000; // how long an expected delivery may take at most

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The devices' side of the test: what another process does to them.
class VirtualMidi {
public:
    VirtualMidi() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        char buffer[MAX_PATH] = {};
        DWORD size = sizeof buffer;
        if (RegGetValueA(HKEY_CURRENT_USER, kKey, "Folder", RRF_RT_REG_SZ, nullptr, buffer,
                         &size) == ERROR_SUCCESS)
            folder = buffer;
        for (int n = 1; n <= 2; ++n)
            std::remove(outputPath(n).c_str());
        clearRefusals(); // an earlier test that crashed may have left some
    }
    ~VirtualMidi() {
        clearRefusals();
        WSACleanup();
    }
    static void clearRefusals() {
        for (const char* name : {"FailInputOpen", "FailInputStart", "FailOutputOpen",
                                 "LateCloseNotice", "SendLateCloseNotice", "LateCloseNoticeSent"})
            refuse(name, 0);
    }
    bool installed() const { return !folder.empty(); }
    std::string outputPath(int n) const { return folder + "\\out" + std::to_string(n) + ".mid"; }
    Bytes output(int n) const {
        const std::string bytes = readFile(outputPath(n));
        return Bytes(bytes.begin(), bytes.end());
    }
    // Sends one datagram of MIDI bytes to input n (1 or 2), which must be open.
    bool inject(int n, const Bytes& bytes) const { return Sender(*this, n).send(bytes); }

    // A socket to input n, for many messages in quick succession.
    class Sender {
    public:
        Sender(const VirtualMidi& devices, int n) {
            const std::string port =
                readFile(devices.folder + "\\in" + std::to_string(n) + ".port");
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<u_short>(std::atoi(port.c_str())));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        }
        ~Sender() { closesocket(s); }
        Sender(const Sender&) = delete;
        Sender& operator=(const Sender&) = delete;
        bool send(const Bytes& bytes) const {
            if (address.sin_port == 0 || s == INVALID_SOCKET)
                return false;
            const int sent = sendto(s, reinterpret_cast<const char*>(bytes.data()),
                                    static_cast<int>(bytes.size()), 0,
                                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
            return sent == static_cast<int>(bytes.size());
        }

    private:
        SOCKET s = INVALID_SOCKET;
        sockaddr_in address{};
    };

    // Makes the devices of `mask` (bit 0 = device 1) refuse: "FailInputOpen",
    // "FailInputStart", "FailOutputOpen", or hold back their close notice
    // ("LateCloseNotice") until "SendLateCloseNotice" is set.
    static void refuse(const char* what, DWORD mask) {
        RegSetKeyValueA(HKEY_CURRENT_USER, kKey, what, REG_DWORD, &mask, sizeof mask);
    }
    static DWORD setting(const char* name) {
        DWORD value = 0, size = sizeof value;
        RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
        return value;
    }

    std::string folder;
};

template <class Condition> bool waitFor(Condition condition) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > kPatienceMs)
            return false;
        Sleep(1);
    }
    return true;
}

// Sleeps, then spins, until the performance counter reaches `due`.
void waitUntil(LONGLONG due) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    for (QueryPerformanceCounter(&now); now.QuadPart < due; QueryPerformanceCounter(&now)) {
        if (due - now.QuadPart > frequency.QuadPart / 500)
            Sleep(1);
    }
}

// Records what the driver delivers, from its thread.
struct Recorder {
    std::mutex mutex;
    std::vector<MidiMessage> messages;
    std::atomic<int> count{0};
    std::atomic<int> closeNotices{0};
    std::atomic<bool> closeReturned{false};
    std::atomic<int> afterClose{0};

    static void callback(const MidiMessage& m, void* user) {
        auto* self = static_cast<Recorder*>(user);
        if (self->closeReturned.load())
            self->afterClose.fetch_add(1);
        if (m.status == 0 && m.type == 0) {
            self->closeNotices.fetch_add(1);
            return;
        }
        std::lock_guard<std::mutex> lock(self->mutex);
        self->messages.push_back(m);
        self->count.fetch_add(1);
    }
};

class VirtualMidiTest : public testing::Test {
protected:
    void SetUp() override {
        if (!devices.installed())
            GTEST_SKIP() << "the virtual MIDI driver is not installed in this Wine prefix";
    }
    const MidiDeviceSettings& device(const std::string& name) {
        for (const auto& d : midi->devices)
            if (d->name == name)
                return *d;
        throw std::runtime_error("no device " + name);
    }

    VirtualMidi devices;
    std::unique_ptr<KsMMMidi> midi = std::make_unique<KsMMMidi>();
};

TEST_F(VirtualMidiTest, DeviceListInIdOrderWithTheMapperLast) {
    struct Entry {
        int32_t deviceIndex;
        std::string name;
        bool isInput;
        bool active;
    } expected[] = {
        {0, "KsVirtual In 1", true, true},
        {1, "KsVirtual In 2", true, true},
        {0, "KsVirtual Out 1", false, false},
        {1, "KsVirtual Out 2", false, false},
    };
    ASSERT_EQ(midi->devices.size(), 5u);
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(midi->devices[i]->deviceIndex, expected[i].deviceIndex) << i;
        EXPECT_EQ(midi->devices[i]->name, expected[i].name) << i;
        EXPECT_EQ(midi->devices[i]->isInput, expected[i].isInput) << i;
        EXPECT_EQ(midi->devices[i]->active, expected[i].active) << i;
    }
    const MidiDeviceSettings& mapper = *midi->devices.back();
    EXPECT_EQ(mapper.deviceIndex, -1);
    EXPECT_FALSE(mapper.isInput);
    EXPECT_FALSE(mapper.name.empty());
}

TEST_F(VirtualMidiTest, MergeRestoresStoredOptionsByNameAndDirection) {
    const std::string plugin = "KsTest Virtual MIDI merge";
    {
        HostSettings stored(plugin, false);
        auto in2 = std::make_unique<MidiDeviceSettings>();
        in2->name = "KsVirtual In 2";
        in2->isInput = true;
        in2->channel = 5;
        in2->sync = true;
        auto out1AsInput = std::make_unique<MidiDeviceSettings>();
        out1AsInput->name = "KsVirtual Out 1";
        out1AsInput->isInput = true;
        out1AsInput->active = true;
        out1AsInput->channel = 9;
        stored.midiDevices.push_back(std::move(in2));
        stored.midiDevices.push_back(std::move(out1AsInput));
        stored.save();
    }
    HostSettings settings(plugin, false);
    settings.load({}, {});
    settings.mergeMidiDevices(midi->devices);
    const MidiDeviceSettings* in2 = settings.findMidiDevice(device("KsVirtual In 2"));
    ASSERT_NE(in2, nullptr);
    EXPECT_EQ(in2->deviceIndex, 1);
    EXPECT_EQ(in2->channel, 5);
    EXPECT_TRUE(in2->sync);
    EXPECT_FALSE(device("KsVirtual In 2").active); // stored inactive
    const MidiDeviceSettings* out1 = settings.findMidiDevice(device("KsVirtual Out 1"));
    ASSERT_NE(out1, nullptr);
    EXPECT_FALSE(out1->isInput);
    EXPECT_EQ(out1->channel, 0); // a new record: the stored input of that name is another device
    EXPECT_EQ(settings.midiDevices[1]->deviceIndex, -1);
    EXPECT_EQ(settings.midiDevices.size(),
              2u + 4u); // the stored two, then In 1, Out 1, Out 2, mapper
    platform::deleteRegistryTree(platform::RegistryRoot::currentUser,
                                 "Software\\Kestrune\\" + plugin);
}

TEST_F(VirtualMidiTest, InjectedMessagesArriveUnpacked) {
    Recorder r;
    ASSERT_TRUE(midi->open(&device("KsVirtual In 1"), nullptr, Recorder::callback, &r));
    ASSERT_TRUE(devices.inject(1, {0x93, 0x3C, 0x64, 0xF8, 0xC5, 0x07}));
    ASSERT_TRUE(waitFor([&] { return r.count.load() >= 3; }));
    midi->close();
    std::lock_guard<std::mutex> lock(r.mutex);
    ASSERT_EQ(r.messages.size(), 3u);
    const MidiMessage& note = r.messages[0];
    EXPECT_EQ(note.status, 0x90);
    EXPECT_EQ(note.type, 0x90);
    EXPECT_EQ(note.channel, 3);
    EXPECT_EQ(note.data1, 60);
    EXPECT_EQ(note.data2, 100);
    EXPECT_EQ(note.deltaMs, 0.0); // the first message after construction
    EXPECT_EQ(r.messages[1].status, 0xF8);
    EXPECT_EQ(r.messages[1].type, 0xF0);
    EXPECT_EQ(r.messages[1].channel, 8);
    EXPECT_GE(r.messages[1].deltaMs, 0.0);
    EXPECT_EQ(r.messages[2].status, 0xC0);
    EXPECT_EQ(r.messages[2].data1, 7);
    EXPECT_EQ(r.closeNotices.load(), 1);
}

// The engine frees its input contexts as soon as `close` returns: messages
// streaming in on both inputs while they close never reach a callback
// afterwards, and each input gives exactly one close notice.
TEST_F(VirtualMidiTest, NothingArrivesAfterCloseReturns) {
    Recorder r;
    ASSERT_TRUE(midi->open(&device("KsVirtual In 1"), nullptr, Recorder::callback, &r));
    ASSERT_TRUE(midi->open(&device("KsVirtual In 2"), nullptr, Recorder::callback, &r));
    std::atomic<bool> stop{false};
    std::thread injector([&] {
        while (!stop.load()) {
            devices.inject(1, {0x90, 60, 100});
            devices.inject(2, {0xB0, 1, 2});
        }
    });
    EXPECT_TRUE(waitFor([&] { return r.count.load() > 50; }));
    midi->close();
    r.closeReturned.store(true);
    const int atClose = r.count.load();
    Sleep(100);
    stop.store(true);
    injector.join();
    EXPECT_EQ(r.afterClose.load(), 0);
    EXPECT_EQ(r.count.load(), atClose);
    EXPECT_EQ(r.closeNotices.load(), 2);
}

// A close notice that comes after the driver stopped waiting for it finds
// the caller's user data gone: it must reach no callback.
TEST_F(VirtualMidiTest, ACloseNoticeTooLateReachesNoCallback) {
    Recorder r;
    ASSERT_TRUE(midi->open(&device("KsVirtual In 1"), nullptr, Recorder::callback, &r));
    VirtualMidi::refuse("LateCloseNotice", 1);
    midi->close();
    r.closeReturned.store(true);
    VirtualMidi::refuse("SendLateCloseNotice", 1);
    ASSERT_TRUE(waitFor([] { return VirtualMidi::setting("LateCloseNoticeSent") != 0; }));
    EXPECT_EQ(r.closeNotices.load(), 0);
    EXPECT_EQ(r.afterClose.load(), 0);
}

// An input that opens but cannot start is closed at once: its close notice
// comes, and the device opens again (a device left open would refuse).
TEST_F(VirtualMidiTest, AnInputThatCannotStartIsClosedAndOpensAgain) {
    Recorder r;
    VirtualMidi::refuse("FailInputStart", 1);
    EXPECT_FALSE(midi->open(&device("KsVirtual In 1"), nullptr, Recorder::callback, &r));
    EXPECT_EQ(r.closeNotices.load(), 1);
    VirtualMidi::refuse("FailInputStart", 0);
    Recorder again;
    ASSERT_TRUE(midi->open(&device("KsVirtual In 1"), nullptr, Recorder::callback, &again));
    ASSERT_TRUE(devices.inject(1, {0x90, 1, 1}));
    EXPECT_TRUE(waitFor([&] { return again.count.load() == 1; }));
    midi->close();
    EXPECT_EQ(again.closeNotices.load(), 1);
}

TEST_F(VirtualMidiTest, AnOutputThatCannotOpenFails) {
    VirtualMidi::refuse("FailOutputOpen", 2);
    EXPECT_FALSE(midi->open(nullptr, &device("KsVirtual Out 2"), nullptr, nullptr));
    EXPECT_FALSE(midi->open(nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(midi->open(nullptr, &device("KsVirtual Out 1"), nullptr, nullptr));
}

TEST_F(VirtualMidiTest, SentMessagesArriveByteForByteAndNothingAfterClose) {
    ASSERT_TRUE(midi->open(nullptr, &device("KsVirtual Out 2"), nullptr, nullptr));
    auto send = [&](uint8_t status, uint8_t data1, uint8_t data2) {
        MidiMessage m;
        m.status = status;
        m.data1 = data1;
        m.data2 = data2;
        midi->sendShortMessage(m);
    };
    send(0x91, 64, 33);
    send(0xC3, 7, 0);
    send(0xF8, 0, 0);
    send(0xE0, 0, 64);
    const Bytes expected = {0x91, 64, 33, 0xC3, 7, 0xF8, 0xE0, 0, 64};
    EXPECT_EQ(devices.output(2), expected);
    midi->close();
    send(0x90, 1, 1);
    EXPECT_EQ(devices.output(2), expected);
    EXPECT_TRUE(devices.output(1).empty());
}

// The engine over the virtual devices: the test instrument or effect behind
// it, blocks run by the test.
class VirtualMidiEngineTest : public EngineTest {
protected:
    explicit VirtualMidiEngineTest(const char* plugin = "KsTestEffect") : EngineTest(plugin) {
        engine.attach(&lib, drivers.get(), &winmm, settings.get());
    }
    ~VirtualMidiEngineTest() override {
        engine.stopAudio();
        engine.stopMidi();
        engine.attach(&lib, drivers.get(), &midi, settings.get());
    }
    void SetUp() override {
        if (!devices.installed())
            GTEST_SKIP() << "the virtual MIDI driver is not installed in this Wine prefix";
        settings->load(drivers->wasapi->devices, drivers->asio->devices);
        settings->mergeMidiDevices(winmm.devices);
        useManualDevices();
        ASSERT_TRUE(engine.startAudio());
    }
    MidiDeviceSettings& known(const std::string& name, bool isInput) {
        MidiDeviceSettings probe;
        probe.name = name;
        probe.isInput = isInput;
        return *settings->findMidiDevice(probe);
    }
    // Runs blocks until the plug-in has received `count` events or time is up.
    std::vector<Bytes> runUntilReceived(size_t count) {
        waitFor([&] {
            asio->runBlocks(1);
            return received().size() >= count;
        });
        asio->runBlocks(2);
        std::vector<Bytes> out;
        for (const VstMidiEvent& e : received())
            out.push_back({static_cast<uint8_t>(e.midiData[0]), static_cast<uint8_t>(e.midiData[1]),
                           static_cast<uint8_t>(e.midiData[2])});
        return out;
    }

    VirtualMidi devices;
    KsMMMidi winmm;
};

TEST_F(VirtualMidiEngineTest, InjectedMessagesReachThePluginThroughTheFilters) {
    MidiDeviceSettings& in1 = known("KsVirtual In 1", true);
    in1.channel = 3;
    in1.filterCCMessages = true;
    in1.filterProgramChanges = true;
    in1.keyboardRangeLeft = 36;
    in1.keyboardRangeRight = 96;
    known("KsVirtual In 2", true).active = false;
    ASSERT_TRUE(engine.startMidi());
    ASSERT_TRUE(devices.inject(1, {
                                      0x92, 60, 100, // passes
                                      0x93, 60, 100, // another channel
                                      0xB2, 64, 127, // a controller
                                      0xC2, 40,      // a program change
                                      0x92, 30, 100, // below the range
                                      0x92, 97, 100, // above the range
                                      0x82, 96, 0,   // passes
                                  }));
    const std::vector<Bytes> expected = {{0x92, 60, 100}, {0x82, 96, 0}};
    EXPECT_EQ(runUntilReceived(2), expected);
}

TEST_F(VirtualMidiEngineTest, AnInputThatFailsToOpenIsMarkedInactive) {
    VirtualMidi::refuse("FailInputOpen", 2);
    EXPECT_FALSE(engine.startMidi());
    EXPECT_FALSE(known("KsVirtual In 2", true).active);
    EXPECT_TRUE(known("KsVirtual In 1", true).active);
    ASSERT_TRUE(devices.inject(1, {0x90, 50, 60}));
    EXPECT_EQ(runUntilReceived(1), (std::vector<Bytes>{{0x90, 50, 60}}));
}

TEST_F(VirtualMidiEngineTest, PluginOutputArrivesAtTheChosenDeviceByteForByte) {
    known("KsVirtual Out 2", false).active = true;
    settings->mergeMidiDevices(winmm.devices);
    ASSERT_TRUE(engine.startMidi());
    ASSERT_EQ(engine.midiOutDevice, winmm.devices[3].get());
    control.queueHostCall(lib.effect,
                          {audioMasterProcessEvents, 0, 0, 0.0f, {0x91, 64, 33}, false, false});
    asio->runBlocks(1);
    control.queueHostCall(lib.effect,
                          {audioMasterProcessEvents, 0, 0, 0.0f, {0xC3, 7, 0}, false, false});
    asio->runBlocks(1);
    EXPECT_EQ(devices.output(2), (Bytes{0x91, 64, 33, 0xC3, 7}));
    EXPECT_TRUE(devices.output(1).empty());
    engine.stopMidi();
    control.queueHostCall(lib.effect,
                          {audioMasterProcessEvents, 0, 0, 0.0f, {0x90, 1, 1}, false, false});
    asio->runBlocks(1);
    EXPECT_EQ(devices.output(2), (Bytes{0x91, 64, 33, 0xC3, 7}));
}

// MIDI clock at 120 BPM from the synced input starts the transport and sets
// the tempo. The clocks are paced by this test's own timing, so only the
// region of the tempo is checked; its exact figure is checked natively. Two
// beats of clock: the tempo of the second does not depend on how late the
// first clock came.
TEST_F(VirtualMidiEngineTest, ClockStartsTheTransportAndSetsTheTempo) {
    known("KsVirtual In 2", true).sync = true;
    engine.setTempo(90.0);
    ASSERT_TRUE(engine.startMidi());
    asio->runBlocks(1);
    const VirtualMidi::Sender clockInput(devices, 2), otherInput(devices, 1);
    ASSERT_TRUE(clockInput.send({0xFA}));
    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i <= 48; ++i) {
        waitUntil(start.QuadPart + frequency.QuadPart * i * 500 / 24 / 1000);
        ASSERT_TRUE(clockInput.send({0xF8}));
        otherInput.send({0xFE}); // active sensing on the other input between the clocks
    }
    // Every clock moves the clock position by a 24th of a beat.
    EXPECT_TRUE(waitFor([&] { return engine.clockPpq.load() > 48.5 / 24.0; }));
    asio->runBlocks(1);
    const KsTestProcessInfo info = processInfo();
    EXPECT_EQ(info.timeInfo.flags & kVstTransportPlaying, kVstTransportPlaying);
    const double tempo = engine.getTempo();
    std::printf("tempo from injected 120 BPM clock: %.1f\n", tempo);
    EXPECT_GT(tempo, 100.0);
    EXPECT_LT(tempo, 144.0);
}

TEST_F(VirtualMidiEngineTest, ALearnedTriggerTapsTheTempo) {
    engine.setTempo(90.0);
    ASSERT_TRUE(engine.startMidi());
    engine.learnMode = true;
    ASSERT_TRUE(devices.inject(1, {0x90, 36, 100}));
    ASSERT_TRUE(waitFor([&] { return !engine.learnMode.load(); }));
    EXPECT_EQ(settings->tempoTab.load(), 0x9024);
    ASSERT_TRUE(devices.inject(1, {0x90, 36, 100}));
    Sleep(400);
    ASSERT_TRUE(devices.inject(1, {0x93, 36, 0}));
    EXPECT_TRUE(waitFor([&] { return engine.getTempo() != 90.0; }));
    EXPECT_GE(engine.getTempo(), 45.0);
    EXPECT_LE(engine.getTempo(), 250.0);
    asio->runBlocks(2);
    EXPECT_TRUE(received().empty()); // taps and learning are used up
}

// Reported, not checked: blocks from injecting a note until the plug-in
// receives it, with a block run every 10 ms (Wine's shared-mode period).
TEST_F(VirtualMidiEngineTest, LatencyInBlocks) {
    ASSERT_TRUE(engine.startMidi());
    std::vector<int> blocks;
    for (int i = 0; i < 40; ++i) {
        const size_t before = received().size();
        ASSERT_TRUE(devices.inject(1, {0x90, static_cast<uint8_t>(40 + i), 100}));
        int n = 0;
        do {
            Sleep(10);
            asio->runBlocks(1);
            ++n;
        } while (received().size() == before && n < 500);
        blocks.push_back(n);
    }
    std::sort(blocks.begin(), blocks.end());
    std::printf("blocks from injection to the plug-in (10 ms blocks): median %d, max %d\n",
                blocks[blocks.size() / 2], blocks.back());
    EXPECT_LT(blocks.back(), 500);
}

} // namespace

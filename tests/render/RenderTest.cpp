// ksrender end to end: the program is run as a user would run it, and its
// output files are read back with the program's own readers.

#include "AudioFileTestSupport.h"
#include "Registry.h"
#include "Renderer.h"
#include "TestPlugins.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

int currentProcessId() {
#if defined(_WIN32)
    return _getpid();
#else
    return getpid();
#endif
}

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

ProgramRun ksrender(const std::string& arguments) {
    const std::string folder = platform::executableDirectory() + platform::pathSeparator();
#if defined(_WIN32)
    const std::string program = folder + "ksrender.exe";
#else
    const std::string program = folder + "ksrender";
#endif
    const TempFile out("stdout.txt");
    const TempFile err("stderr.txt");
    std::string command = quoted(program) + " " + arguments + " > " + quoted(out.path()) + " 2> " +
                          quoted(err.path());
#if defined(_WIN32)
    command = "\"" + command + "\""; // cmd strips one pair of outer quotes
#endif
    ProgramRun run;
    const int status = std::system(command.c_str());
#if defined(_WIN32)
    run.exitCode = status;
#else
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run.out = slurp(out.path());
    run.err = slurp(err.path());
    return run;
}

// A format 1 file: track 0 holds the tempo map (120 BPM, then 60 BPM from
// tick 960), track 1 the notes, with running status.
Bytes testMidiFile() {
    Bytes file;
    append(file, "MThd");
    appendBe(file, 6, 4);
    appendBe(file, 1, 2);
    appendBe(file, 2, 2);
    appendBe(file, 480, 2);
    const Bytes tempoTrack = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,       // 120 BPM
                              0x87, 0x40, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, // tick 960: 60 BPM
                              0x00, 0xFF, 0x2F, 0x00};
    const Bytes noteTrack = {
        0x83, 0x60, 0x90, 69,  100, // tick 480: note on 69 (0.5 s)
        0x81, 0x70, 69,   0,        // tick 720: note off by velocity 0, running status (0.75 s)
        0x00, 0xB0, 7,    100,      // controller: passed to the plug-in
        0x85, 0x50, 0x90, 72,  90,  // tick 1440: note on 72 (2.0 s)
        0x83, 0x60, 0x80, 72,  0,   // tick 1920: note off (3.0 s)
        0x00, 0xFF, 0x2F, 0x00};
    for (const Bytes* track : {&tempoTrack, &noteTrack}) {
        append(file, "MTrk");
        appendBe(file, static_cast<uint32_t>(track->size()), 4);
        file.insert(file.end(), track->begin(), track->end());
    }
    return file;
}

// A format 0 file of one track.
Bytes singleTrackMidiFile(uint16_t division, const Bytes& track) {
    Bytes file;
    append(file, "MThd");
    appendBe(file, 6, 4);
    appendBe(file, 0, 2);
    appendBe(file, 1, 2);
    appendBe(file, division, 2);
    append(file, "MTrk");
    appendBe(file, static_cast<uint32_t>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

size_t firstSound(const std::vector<float>& samples, size_t from = 0) {
    for (size_t i = from; i < samples.size(); ++i) {
        if (samples[i] != 0.0f)
            return i;
    }
    return samples.size();
}

TEST(Render, EffectPassesTheInputFileThrough) {
    const TempFile output("effect.wav");
    const std::string input = soxFilesFolder() + "wav-s16-stereo.wav";
    const ProgramRun run = ksrender("--plugin " + quoted(testPluginPath("KsTestEffect")) +
                                    " --input " + quoted(input) + " --output " +
                                    quoted(output.path()) + " --rate 44100 --block 256");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("rendered 57330 frames"), std::string::npos) << run.out;
    const ReadResult in = readWhole(input);
    const ReadResult out = readWhole(output.path());
    ASSERT_EQ(out.frames, 13230u + 44100u) << "the file and one second of tail";
    for (size_t i = 0; i < in.frames; ++i) {
        ASSERT_NEAR(out.left[i], in.left[i], 1.0 / 32768 + 1e-9) << "frame " << i;
        ASSERT_NEAR(out.right[i], in.right[i], 1.0 / 32768 + 1e-9) << "frame " << i;
    }
    EXPECT_EQ(firstSound(out.left, in.frames), out.frames) << "silence after the file";
}

TEST(Render, PlayerStepsAFileToAnotherRate) {
    const TempFile output("stepped.aif");
    const ProgramRun run = ksrender("--plugin " + quoted(testPluginPath("KsTestEffect")) +
                                    " --input " + quoted(soxFilesFolder() + "wav-s16-stereo.wav") +
                                    " --output " + quoted(output.path()));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ReadResult out = readWhole(output.path());
    ASSERT_EQ(out.frames, 62400u); // 1.3 s at 48 kHz
    EXPECT_EQ(out.reader->sampleRate, 48000);
    EXPECT_EQ(out.reader->fileKind, fileKindAIFF);
    int crossings = 0;
    for (size_t i = 1; i < 12000; ++i) // the first 0.25 s
        crossings += (out.left[i - 1] < 0.0f) != (out.left[i] < 0.0f);
    EXPECT_NEAR(crossings, 2 * 441 / 4, 2) << "441 Hz after stepping";
}

TEST(Render, InstrumentPlaysTheMidiFileToTheBlock) {
    const TempFile midi("notes.mid");
    midi.write(testMidiFile());
    const TempFile output("synth.wav");
    const ProgramRun run =
        ksrender("--plugin " + quoted(testPluginPath("KsTestSynth")) + " --midi " +
                 quoted(midi.path()) + " --output " + quoted(output.path()));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ReadResult out = readWhole(output.path());
    ASSERT_EQ(out.frames, 192000u) << "3.0 s of notes and one second";
    // The test instrument's sine starts at phase 0: its first sample is 0.
    EXPECT_EQ(firstSound(out.left), 23552u + 1) << "0.5 s falls in the block from 23552";
    EXPECT_EQ(firstSound(out.left, 35840), 95744u + 1)
        << "off in the block from 35840, on again in the block from 95744 (2.0 s)";
    EXPECT_EQ(firstSound(out.left, 144128), out.frames) << "off at 3.0 s";
}

TEST(Render, FixedTempoOverridesTheTempoMap) {
    const TempFile midi("notes.mid");
    midi.write(testMidiFile());
    const TempFile output("fixed.wav");
    const ProgramRun run = ksrender("--plugin " + quoted(testPluginPath("KsTestSynth")) +
                                    " --midi " + quoted(midi.path()) + " --tempo 120 --output " +
                                    quoted(output.path()) + " --float");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ReadResult out = readWhole(output.path());
    ASSERT_EQ(out.frames, 144000u) << "the last note ends at 2.0 s";
    EXPECT_EQ(out.reader->format, StereoFloat32);
    EXPECT_EQ(firstSound(out.left, 35840), 71680u + 1) << "tick 1440 at 120 BPM is 1.5 s";
}

TEST(Render, StateGoesInAndComesOut) {
    const TempFile state("in.chunk");
    state.write({'K', 'S', 0, 1, 2, 0xFF});
    const TempFile saved("out.chunk");
    const TempFile output("state.wav");
    const ProgramRun run =
        ksrender("--plugin " + quoted(testPluginPath("KsTestEffect")) + " --seconds 0.1 --state " +
                 quoted(state.path()) + " --save-state " + quoted(saved.path()) + " --output " +
                 quoted(output.path()));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(saved.read(), (Bytes{'K', 'S', 0, 1, 2, 0xFF}));
}

TEST(Render, EveryBadInputGivesOneLineAndAFailure) {
    const TempFile garbage("bad.mid");
    garbage.write({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1});
    const TempFile smpteZero("smpte.mid");
    smpteZero.write(singleTrackMidiFile(0xE700, {0x00, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}));
    // The slowest tempo, one tick per quarter and the longest delta: 142 years.
    const TempFile farAway("far.mid");
    farAway.write(singleTrackMidiFile(1, {0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0x7F, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}));
    // Without its final separator: a backslash would escape the closing quote.
    const std::string tempDir = testing::TempDir();
    const std::string folder = quoted(tempDir.substr(0, tempDir.size() - 1));
    const TempFile output("never.wav");
    const std::string effect = " --plugin " + quoted(testPluginPath("KsTestEffect"));
    const struct {
        std::string arguments;
        const char* says;
    } cases[] = {
        {"--plugin " + quoted(testPluginPath("Nothing")) + " --seconds 1 --output " +
             quoted(output.path()),
         "file not found"},
        {effect + " --input " + quoted(soxFilesFolder() + "missing.wav") + " --output " +
             quoted(output.path()),
         "cannot read audio file"},
        {effect + " --midi " + quoted(garbage.path()) + " --output " + quoted(output.path()),
         "not a Standard MIDI File"},
        {effect + " --midi " + folder + " --output " + quoted(output.path()), "is a folder"},
        {effect + " --input " + folder + " --output " + quoted(output.path()), "is a folder"},
        {effect + " --seconds 1 --state " + folder + " --output " + quoted(output.path()),
         "is a folder"},
        {effect + " --midi " + quoted(smpteZero.path()) + " --output " + quoted(output.path()),
         "SMPTE division with 0 ticks per frame"},
        {effect + " --midi " + quoted(farAway.path()) + " --output " + quoted(output.path()),
         "the MIDI file asks for"},
        {effect + " --seconds 86400 --rate 96000 --output " + quoted(output.path()),
         "more than the largest output file holds"},
        {effect + " --seconds 1 --output " + quoted(testing::TempDir() + "no/such/folder.wav"),
         "cannot write"},
        {effect + " --seconds 1 --output " + quoted(testing::TempDir() + "x.mp3"), "cannot write"},
        {effect + " --output " + quoted(output.path()), "nothing sets the length"},
        {effect + " --bogus", "unknown option --bogus"},
        {effect + " --rate 12 --output x.wav", "--rate takes a number"},
        {"", "usage: ksrender"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = ksrender(c.arguments);
        EXPECT_NE(run.exitCode, 0) << c.arguments;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.arguments << "\n" << run.err;
        EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

// The vendor's keys a render run makes, but those of other render processes
// running beside this one (named after their process ids); this process
// renders in-process. Keys of other programs are left out: tests running
// beside this one make and delete them.
std::vector<std::string> renderKeys() {
    std::vector<std::string> keys =
        platform::RegistryKey::open(platform::RegistryRoot::currentUser, "Software\\Kestrune")
            .subkeyNames();
    const std::string ownRun = "ksrender-" + std::to_string(currentProcessId());
    std::erase_if(keys, [&](const std::string& key) {
        return key.rfind("ksrender", 0) != 0 || (key.rfind("ksrender-", 0) == 0 && key != ownRun);
    });
    return keys;
}

// Runs side by side each use a settings key of their own: a run leaves no
// key behind and never touches another run's (here one of the shared name
// older runs used).
TEST(Render, ARunKeepsToItsOwnSettingsKey) {
    const std::string otherRun = "Software\\Kestrune\\ksrender";
    platform::RegistryKey::create(platform::RegistryRoot::currentUser, otherRun)
        .setString("owner", "another run");
    const std::vector<std::string> before = renderKeys();
    const TempFile output("own-key.wav");
    RenderOptions options;
    options.pluginPath = testPluginPath("KsTestEffect");
    options.outputPath = output.path();
    options.seconds = 0.05;
    ASSERT_TRUE(render(options).ok);
    EXPECT_EQ(renderKeys(), before);
    const platform::RegistryKey other =
        platform::RegistryKey::open(platform::RegistryRoot::currentUser, otherRun);
    EXPECT_TRUE(other.subkeyNames().empty()) << "nothing written into another run's key";
    char owner[32] = {};
    uint32_t size = 0;
    EXPECT_TRUE(other.query("owner", owner, sizeof owner, size));
    EXPECT_STREQ(owner, "another run");
    platform::deleteRegistryTree(platform::RegistryRoot::currentUser, otherRun);
}

// 300 controllers and a note at the very start: one block's list holds 256
// events, the rest (the note among them) follow in the next block.
TEST(Render, EventsBeyondOneBlocksListPlayInTheNextBlock) {
    Bytes track;
    for (int i = 0; i < 300; ++i)
        track.insert(track.end(), {0x00, 0xB0, 7, static_cast<unsigned char>(i % 128)});
    track.insert(track.end(),
                 {0x00, 0x90, 69, 100, 0x83, 0x60, 0x80, 69, 0, 0x00, 0xFF, 0x2F, 0x00});
    const TempFile midi("crowded.mid");
    midi.write(singleTrackMidiFile(480, track));
    const TempFile output("crowded.wav");
    const ProgramRun run =
        ksrender("--plugin " + quoted(testPluginPath("KsTestSynth")) + " --midi " +
                 quoted(midi.path()) + " --block 512 --output " + quoted(output.path()));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("1 blocks held more than 256 MIDI events"), std::string::npos)
        << run.err;
    const ReadResult out = readWhole(output.path());
    EXPECT_EQ(firstSound(out.left), 512u + 1) << "the note in the second block";
}

// A render too short for the events its crowded block pushed on says how
// many were dropped.
TEST(Render, EventsLeftBeyondTheLastBlockAreReported) {
    Bytes track;
    for (int i = 0; i < 300; ++i)
        track.insert(track.end(), {0x00, 0xB0, 7, static_cast<unsigned char>(i % 128)});
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    const TempFile midi("crowded-short.mid");
    midi.write(singleTrackMidiFile(480, track));
    const TempFile output("crowded-short.wav");
    const ProgramRun run = ksrender(
        "--plugin " + quoted(testPluginPath("KsTestSynth")) + " --midi " + quoted(midi.path()) +
        " --block 512 --seconds 0.01 --output " + quoted(output.path()));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("44 MIDI events found no room before the end; dropped"),
              std::string::npos)
        << run.err;
}

#if !defined(_WIN32)
// /dev/full takes the header into the stream's buffer and fails at the flush.
TEST(Render, AFullDiskFailsTheRender) {
    for (const char* format : {"", " --float"}) {
        const std::string path = testing::TempDir() + "ks-render-full.wav";
        std::remove(path.c_str());
        ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
        const ProgramRun run = ksrender("--plugin " + quoted(testPluginPath("KsTestEffect")) +
                                        " --seconds 0.01" + format + " --output " + quoted(path));
        std::remove(path.c_str());
        EXPECT_EQ(run.exitCode, 1) << format;
        EXPECT_NE(run.err.find("cannot write"), std::string::npos) << format << run.err;
    }
}

TEST(Render, ThirdPartyInstrumentRendersSound) {
    const TempFile midi("kars.mid");
    midi.write(testMidiFile());
    const TempFile output("kars.wav");
    const ProgramRun run =
        ksrender("--plugin /usr/lib/vst/Kars-vst.so --midi " + quoted(midi.path()) + " --output " +
                 quoted(output.path()) + " --float");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ReadResult out = readWhole(output.path());
    ASSERT_GT(out.frames, 0u);
    double energy = 0.0;
    for (float s : out.left) {
        ASSERT_TRUE(std::isfinite(s));
        energy += double(s) * s;
    }
    EXPECT_GT(energy, 1.0);
}
#endif

} // namespace

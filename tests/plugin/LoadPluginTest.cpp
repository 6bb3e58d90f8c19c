#include "KsVSTHostLib.h"
#include "TestPlugins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

std::string notALibraryPath() {
    const std::string path = testPluginPath("NotALibrary");
    std::ofstream(path) << "This is a text file, not a library.\n";
    return path;
}

struct RefusalCase {
    const char* name; // a test plug-in, or a special file made by the test
    PluginLoadFailure failure;
    bool libraryKept; // the library stays loaded after the refusal
};

class LoadRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(LoadRefusalTest, ReturnsNullAndRegistersNothing) {
    const RefusalCase& c = GetParam();
    const std::string name = c.name;
    const std::string path = name == "NotALibrary" ? notALibraryPath()
                             : name == "Missing"   ? testPluginPath("NoSuchPlugin")
                                                   : testPluginPath(name);
    const size_t tableBefore = hostTable::size();
    HostRecord record;
    LoadedPlugin loaded = loadPlugin(path, record);
    EXPECT_EQ(loaded.effect, nullptr);
    EXPECT_EQ(loaded.failure, c.failure) << describeLoadFailure(loaded.failure);
    EXPECT_EQ(loaded.library.isLoaded(), c.libraryKept);
    EXPECT_EQ(hostTable::size(), tableBefore);
    EXPECT_EQ(hostTable::find(nullptr), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, LoadRefusalTest,
    testing::Values(RefusalCase{"Missing", PluginLoadFailure::fileNotFound, false},
                    RefusalCase{"NotALibrary", PluginLoadFailure::notALibrary, false},
                    RefusalCase{"KsTestNoEntry", PluginLoadFailure::noEntryPoint, true},
                    RefusalCase{"KsTestNullEntry", PluginLoadFailure::entryReturnedNull, true},
                    RefusalCase{"KsTestThrowingEntry", PluginLoadFailure::entryThrew, true},
#ifdef _WIN32
                    // Another compiler's throw: refused, and the process goes on.
                    RefusalCase{"KsTestForeignThrow", PluginLoadFailure::entryThrew, true},
#endif
                    RefusalCase{"KsTestBadMagic", PluginLoadFailure::badMagic, false},
                    RefusalCase{"KsTestTooManyOutputs", PluginLoadFailure::tooManyChannels, false},
                    RefusalCase{"KsTestNegativeInputs", PluginLoadFailure::negativeChannelCount,
                                false}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(LoadPlugin, EveryFailureHasItsOwnDescription) {
    std::vector<std::string> texts;
    for (auto failure :
         {PluginLoadFailure::none, PluginLoadFailure::fileNotFound, PluginLoadFailure::notALibrary,
          PluginLoadFailure::noEntryPoint, PluginLoadFailure::entryReturnedNull,
          PluginLoadFailure::entryThrew, PluginLoadFailure::badMagic,
          PluginLoadFailure::tooManyChannels, PluginLoadFailure::incompleteRecord,
          PluginLoadFailure::negativeChannelCount}) {
        const std::string text = describeLoadFailure(failure);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
        texts.push_back(text);
    }
}

void closePlugin(AEffect* effect) {
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}

TEST(LoadPlugin, MainExportIsUsedWhenVstPluginMainIsAbsent) {
    KsVSTHostLib lib;
    AEffect* effect = lib.load(testPluginPath("KsTestMainOnly"));
    ASSERT_NE(effect, nullptr) << describeLoadFailure(lib.lastFailure);
    EXPECT_EQ(effect->magic, kEffectMagic);
    closePlugin(effect);
}

// A relative name is the file in the current folder, not a library of the
// same name beside the program (the tools take names as typed).
TEST(LoadPlugin, ARelativeNameLoadsTheFileInTheCurrentFolder) {
    namespace fs = std::filesystem;
    const fs::path synth = testPluginPath("KsTestSynth");
    const fs::path effectName = fs::path("KsTestEffect").replace_extension(synth.extension());
    const fs::path folder = fs::temp_directory_path() / "ks-relative-load";
    fs::create_directories(folder);
    fs::copy_file(synth, folder / effectName, fs::copy_options::overwrite_existing);
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    KsVSTHostLib lib;
    AEffect* effect = lib.load(effectName.string());
    fs::current_path(previous);
    ASSERT_NE(effect, nullptr) << describeLoadFailure(lib.lastFailure);
    EXPECT_NE(effect->flags & effFlagsIsSynth, 0) << "the synth copied in, not the effect";
    closePlugin(effect);
}

TEST(LoadPlugin, HostTableFollowsTheLibraryObjects) {
    const size_t before = hostTable::size();
    {
        KsVSTHostLib first;
        KsVSTHostLib second;
        AEffect* a = first.load(testPluginPath("KsTestEffect"));
        AEffect* b = second.load(testPluginPath("KsTestSynth"));
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(hostTable::size(), before + 2);
        EXPECT_EQ(hostTable::find(a), &first.record);
        EXPECT_EQ(hostTable::find(b), &second.record);
        closePlugin(a);
        closePlugin(b);
    }
    EXPECT_EQ(hostTable::size(), before);
}

TEST(LoadPlugin, UnloadClearsHooksAndForgetsThePlugin) {
    KsVSTHostLib lib;
    AEffect* effect = lib.load(testPluginPath("KsTestEffect"));
    ASSERT_NE(effect, nullptr);
    int user = 0;
    lib.record.resizeHook = [](void* u) { ++*static_cast<int*>(u); };
    lib.record.resizeUserData = &user;
    closePlugin(effect);
    lib.unload();
    EXPECT_EQ(lib.effect, nullptr);
    EXPECT_FALSE(lib.module.isLoaded());
    EXPECT_EQ(lib.record.resizeHook, nullptr);
    EXPECT_EQ(hostTable::find(effect), nullptr);
}

TEST(LoadPlugin, ReloadingReplacesTheEarlierPlugin) {
    const size_t before = hostTable::size();
    KsVSTHostLib lib;
    AEffect* first = lib.load(testPluginPath("KsTestEffect"));
    ASSERT_NE(first, nullptr);
    closePlugin(first);
    AEffect* second = lib.load(testPluginPath("KsTestSynth"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(hostTable::size(), before + 1);
    EXPECT_EQ(hostTable::find(second), &lib.record);
    closePlugin(second);
}

class ProcessTest : public testing::Test {
protected:
    AEffect* load(const char* name) {
        AEffect* effect = lib.load(testPluginPath(name));
        EXPECT_NE(effect, nullptr) << name << ": " << describeLoadFailure(lib.lastFailure);
        return effect;
    }
    void TearDown() override {
        if (lib.effect != nullptr)
            closePlugin(lib.effect);
    }
    KsVSTHostLib lib;
    std::vector<float> left = std::vector<float>(256, 0.5f);
    std::vector<float> right = std::vector<float>(256, -0.25f);
    float* pair[2] = {left.data(), right.data()};
};

TEST_F(ProcessTest, StereoPluginProcessesThePairInPlace) {
    AEffect* effect = load("KsTestEffect");
    ASSERT_NE(effect, nullptr);
    effect->setParameter(effect, 0, 0.5f);
    lib.process(nullptr, pair, 256);
    const KsTestProcessInfo info = TestPluginControl("KsTestEffect").processInfo(effect);
    EXPECT_EQ(info.processCalls, 1);
    EXPECT_EQ(info.lastFrames, 256);
    EXPECT_TRUE(info.inputsAreOutputs);
    EXPECT_EQ(info.channelPointers[0], left.data());
    EXPECT_EQ(info.channelPointers[1], right.data());
    EXPECT_EQ(info.channelPointers[2], nullptr);
    EXPECT_EQ(left[0], 0.25f);
    EXPECT_EQ(right[255], -0.125f);
}

TEST_F(ProcessTest, ThreeOutputsGetTwoPairs) {
    AEffect* effect = load("KsTestThreeOutputs");
    ASSERT_NE(effect, nullptr);
    lib.process(nullptr, pair, 64);
    const KsTestProcessInfo info = TestPluginControl("KsTestThreeOutputs").processInfo(effect);
    const float* expected[8] = {left.data(), right.data(), left.data(), right.data(),
                                nullptr,     nullptr,      nullptr,     nullptr};
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(info.channelPointers[k], expected[k]) << "entry " << k;
}

TEST_F(ProcessTest, InstrumentPlaysAHeldNote) {
    AEffect* effect = load("KsTestSynth");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->flags & effFlagsIsSynth);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    VstMidiEvent note{
        kVstMidiType, sizeof(VstMidiEvent), 32, 0, 0, 0, {char(0x90), 69, 100, 0}, 0, 0, 0, 0};
    VstEvents events{1, 0, {reinterpret_cast<VstEvent*>(&note), nullptr}};
    effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
    lib.process(nullptr, pair, 256);
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(left[static_cast<size_t>(i)], 0.0f) << "before the note's frame " << i;
    float peak = 0.0f;
    for (float sample : left)
        peak = std::max(peak, std::abs(sample));
    EXPECT_NEAR(peak, 0.2f, 0.01f);
}

} // namespace

#include "KsVSTHostLib.h"

#include <gtest/gtest.h>

namespace {

struct PathCase {
    const char* modulePath;
    const char* expected;
};

class PluginPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(PluginPathTest, ReplacesFirstExeOnly) {
    const PathCase& c = GetParam();
    EXPECT_EQ(pluginPathForModule(c.modulePath), c.expected) << "module path: " << c.modulePath;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PluginPathTest,
    testing::Values(PathCase{"C:\\Program Files\\Synth\\Synth.exe",
                             "C:\\Program Files\\Synth\\Synth.dll"},
                    // The first ".exe" wins, even in a folder name.
                    PathCase{"C:\\tools\\a.exe.d\\host.exe", "C:\\tools\\a.dll.d\\host.exe"},
                    PathCase{"/opt/a.exe.d/host.exe", "/opt/a.dll.d/host.exe"},
                    PathCase{"C:\\x\\host.exe.backup\\y.exe", "C:\\x\\host.dll.backup\\y.exe"},
                    // Case-sensitive: no usable path, never the program itself.
                    PathCase{"C:\\PROGRA~1\\SYNTH.EXE", ""}, PathCase{"C:\\x\\Host.Exe", ""},
                    PathCase{"/usr/bin/host", ""}, PathCase{"", ""}, PathCase{".exe", ".dll"},
                    PathCase{"host.exex", "host.dllx"}));

TEST(PluginLibraryPath, FollowsTheRunningProgram) {
    const std::string path = pluginLibraryPath();
#if defined(_WIN32)
    // The test program is an .exe: its plug-in is the .dll of the same name.
    ASSERT_GE(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), ".dll");
    EXPECT_NE(path.find("plugin_tests.dll"), std::string::npos) << path;
#else
    EXPECT_EQ(path, "") << "a program without .exe in its path has no plug-in library";
#endif
}

} // namespace

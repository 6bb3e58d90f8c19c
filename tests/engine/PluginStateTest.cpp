#include "EngineTestSupport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class PluginStateTest : public EngineTest {
protected:
    PluginStateTest() {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::path(testing::TempDir()) / (std::string("ks-state-") + test->name());
        fs::remove_all(folder);
        fs::create_directories(folder / "Content");
    }
    ~PluginStateTest() override { fs::remove_all(folder); }
    void setContentPath(const std::string& path) {
        auto key =
            platform::RegistryKey::create(platform::RegistryRoot::currentUser, settings->keyPath);
        key.setString("contentpath", path);
    }
    std::string contentFolder() const {
        return (folder / "Content").string() + platform::pathSeparator();
    }
    void setPluginChunk(const std::string& bytes) {
        lib.effect->dispatcher(lib.effect, effSetChunk, 0, static_cast<VstIntPtr>(bytes.size()),
                               const_cast<char*>(bytes.data()), 0.0f);
    }
    int callsOf(VstInt32 opcode) const {
        int n = 0;
        for (const KsTestCall& call : control.calls(lib.effect))
            n += call.opcode == opcode;
        return n;
    }

    fs::path folder;
};

TEST_F(PluginStateTest, WithoutContentPathNothingHappens) {
    engine.saveState();
    engine.loadState();
    EXPECT_EQ(callsOf(effGetChunk), 0);
    EXPECT_EQ(callsOf(effSetChunk), 0);
}

TEST_F(PluginStateTest, SaveWritesTheChunkExactlyAndLoadHandsItBack) {
    setContentPath(contentFolder());
    const std::string chunk("state\0with\xff binary", 18);
    setPluginChunk(chunk);
    engine.saveState();
    EXPECT_EQ(readFile(folder / "Content" / "saved.chunk"), chunk);
    EXPECT_FALSE(fs::exists(folder / "Content" / "saved.chunk.new"));

    setPluginChunk("other");
    control.clearCalls(lib.effect);
    engine.loadState();
    const std::vector<KsTestCall> calls = control.calls(lib.effect);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].opcode, effSetChunk);
    EXPECT_EQ(calls[0].value, 18);
    EXPECT_EQ(std::string(calls[0].text, 18), chunk);
}

TEST_F(PluginStateTest, EmptyFileGivesAnEmptyChunk) {
    setContentPath(contentFolder());
    writeFile(folder / "Content" / "saved.chunk", "");
    engine.loadState();
    const std::vector<KsTestCall> calls = control.calls(lib.effect);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().opcode, effSetChunk);
    EXPECT_EQ(calls.back().value, 0);
    EXPECT_TRUE(calls.back().ptrGiven) << "plug-ins may read a header before the size";
}

TEST_F(PluginStateTest, PathWithoutSeparatorRunsIntoTheFolderName) {
    setContentPath((folder / "Content").string());
    setPluginChunk("abc");
    engine.saveState();
    EXPECT_EQ(readFile(folder / "Contentsaved.chunk"), "abc");
}

TEST_F(PluginStateTest, FailedWriteKeepsTheLastGoodState) {
    setContentPath(contentFolder());
    writeFile(folder / "Content" / "saved.chunk", "good old state");
    fs::create_directories(folder / "Content" / "saved.chunk.new"); // cannot be written
    setPluginChunk("new state");
    engine.saveState();
    EXPECT_EQ(readFile(folder / "Content" / "saved.chunk"), "good old state");
}

TEST_F(PluginStateTest, MissingFolderChangesNothing) {
    setContentPath((folder / "Gone").string() + platform::pathSeparator());
    setPluginChunk("abc");
    engine.saveState();
    engine.loadState();
    EXPECT_FALSE(fs::exists(folder / "Gone"));
    EXPECT_EQ(callsOf(effSetChunk), 1) << "only the test's own";
}

TEST_F(PluginStateTest, FolderInsteadOfAFileIsNotHandedOver) {
    setContentPath(contentFolder());
    fs::create_directories(folder / "Content" / "saved.chunk");
    control.clearCalls(lib.effect);
    engine.loadState();
    EXPECT_EQ(callsOf(effSetChunk), 0);
}

} // namespace

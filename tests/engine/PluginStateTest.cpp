#include "EngineTestSupport.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A state file of 2^31 bytes, one more than a chunk may have, and so one that
// cannot be handed over. Sparse: writing its last byte only.
constexpr uintmax_t kTooLarge = uintmax_t{1} << 31;
void writeTooLargeFile(const fs::path& path) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, static_cast<long>(kTooLarge - 1), SEEK_SET), 0);
    std::fputc(0, file);
    ASSERT_EQ(std::fclose(file), 0);
    ASSERT_EQ(fs::file_size(path), kTooLarge);
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
    engine.saveState();
    EXPECT_FALSE(fs::exists(folder / "Content" / "saved.chunk.bak")) << "a loaded state is ours";
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

TEST_F(PluginStateTest, StateFileNotHandedOverIsKeptAsBackupBeforeTheSave) {
    setContentPath(contentFolder());
    const fs::path state = folder / "Content" / "saved.chunk";
    const fs::path backup = folder / "Content" / "saved.chunk.bak";
    writeTooLargeFile(state);
    control.clearCalls(lib.effect);
    engine.loadState();
    EXPECT_EQ(callsOf(effSetChunk), 0);
    setPluginChunk("defaults");
    engine.saveState();
    engine.saveState(); // Exit saves twice
    EXPECT_EQ(readFile(state), "defaults");
    EXPECT_EQ(fs::file_size(backup), kTooLarge);

    // The next run cannot read its state either: the backup from before,
    // perhaps the only copy of the bank, stays, and so does the state file.
    writeTooLargeFile(state);
    writeFile(backup, "older backup");
    engine.loadState();
    setPluginChunk("defaults again");
    engine.saveState();
    ASSERT_EQ(fs::file_size(backup), std::string("older backup").size());
    EXPECT_EQ(readFile(backup), "older backup");
    EXPECT_EQ(fs::file_size(state), kTooLarge);
}

TEST_F(PluginStateTest, StateFileThatCannotBeMovedAsideStays) {
    setContentPath(contentFolder());
    const fs::path state = folder / "Content" / "saved.chunk";
    writeTooLargeFile(state);
    fs::create_directories(folder / "Content" / "saved.chunk.bak" / "in the way");
    engine.loadState();
    setPluginChunk("defaults");
    engine.saveState();
    EXPECT_EQ(fs::file_size(state), kTooLarge);
    EXPECT_FALSE(fs::exists(folder / "Content" / "saved.chunk.new"));
}

#if defined(_WIN32)
TEST_F(PluginStateTest, StateFileLockedByAnotherProgramIsNotReplaced) {
    setContentPath(contentFolder());
    const fs::path state = folder / "Content" / "saved.chunk";
    writeFile(state, "user's bank");
    HANDLE lock = CreateFileA(state.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    control.clearCalls(lib.effect);
    engine.loadState();
    EXPECT_EQ(callsOf(effSetChunk), 0);
    setPluginChunk("defaults");
    engine.saveState();
    CloseHandle(lock);
    EXPECT_EQ(readFile(state), "user's bank");
    engine.saveState(); // unlocked by the second save at exit: kept aside first
    EXPECT_EQ(readFile(folder / "Content" / "saved.chunk.bak"), "user's bank");
    EXPECT_EQ(readFile(state), "defaults");
}
#endif

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

#include "MainWindowLogic.h"
#include "DataExchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(MainWindowLogic, TransportStartsOnlyForTheTwoNamedPluginsWithoutClockSync) {
    EXPECT_TRUE(startsWithTransportPlaying("Lumetra", false));
    EXPECT_TRUE(startsWithTransportPlaying("Quorbel", false));
    EXPECT_FALSE(startsWithTransportPlaying("Lumetra", true));
    EXPECT_FALSE(startsWithTransportPlaying("lumetra", false));
    EXPECT_FALSE(startsWithTransportPlaying("Lumetra ", false));
    EXPECT_FALSE(startsWithTransportPlaying("", false));
}

TEST(MainWindowLogic, VendorMustMatchExactly) {
    EXPECT_TRUE(isHostVendor("Kestrune"));
    EXPECT_FALSE(isHostVendor("kestrune"));
    EXPECT_FALSE(isHostVendor("Kestrune GmbH"));
    EXPECT_FALSE(isHostVendor(""));
    EXPECT_STREQ(engineItemText(true), "&Audioengine Running\tCtrl+R");
    EXPECT_STREQ(engineItemText(false), "&Audioengine Stopped\tCtrl+R");
}

// What the audio start-up did, as letters in order: s start, c choose
// defaults, v save, m message, o open the audio settings.
std::string runAudioStartup(std::string startAnswers, bool hasOutput, bool chooses, bool& running) {
    std::string log;
    AudioStartSteps steps;
    steps.startAudio = [&] {
        log += 's';
        bool answer = !startAnswers.empty() && startAnswers.front() == '1';
        if (!startAnswers.empty())
            startAnswers.erase(0, 1);
        return answer;
    };
    steps.hasOutputDevice = [&] { return hasOutput; };
    steps.chooseDefaultDevices = [&] {
        log += 'c';
        return chooses;
    };
    steps.saveSettings = [&] { log += 'v'; };
    steps.showError = [&](const char* text) {
        EXPECT_STREQ(text, "Couldn't start Audioengine");
        log += 'm';
    };
    steps.openAudioSettings = [&] { log += 'o'; };
    running = startAudioAtStartup(steps);
    return log;
}

TEST(MainWindowLogic, AudioStartupOutcomes) {
    struct Row {
        const char* startAnswers;
        bool hasOutput;
        bool chooses;
        const char* log;
        bool running;
    };
    const Row rows[] = {
        {"1", true, false, "s", true},      // stored devices start
        {"0", true, false, "smo", false},   // stored devices fail: message, dialog
        {"01", false, true, "scsv", true},  // defaults chosen and started: kept
        {"00", false, true, "scso", false}, // defaults fail: dialog, no message
        {"0", false, false, "sco", false},  // nothing to choose: dialog, no message
    };
    for (const Row& row : rows) {
        bool running = false;
        EXPECT_EQ(runAudioStartup(row.startAnswers, row.hasOutput, row.chooses, running), row.log)
            << row.startAnswers << ' ' << row.hasOutput << ' ' << row.chooses;
        EXPECT_EQ(running, row.running);
    }
}

TEST(MainWindowLogic, WindowAndEditorSizes) {
    ERect editor{0, 0, 300, 400}; // top, left, bottom, right
    EXPECT_EQ(windowSizeForEditor({16, 59}, editor), (PixelSize{416, 359}));
    EXPECT_EQ(attachedEditorWindowSize({345, 158}, editor), (PixelSize{735, 448}));
    EXPECT_EQ(centredOrigin({416, 359}, {1280, 1024}), (PixelPoint{432, 332}));
    ERect negative{0, 0, -5, -7};
    EXPECT_EQ(editorSize(negative), (PixelSize{0, 0}));
    EXPECT_EQ(windowSizeForEditor({16, 59}, negative), (PixelSize{16, 59}));
    EXPECT_EQ(attachedEditorWindowSize({4, 4}, ERect{}), (PixelSize{0, 0}));
}

TEST(MainWindowLogic, StatusCaptionFormat) {
    EXPECT_EQ(statusCaption("Demo", 120.0, 0), "Demo | Tempo: 120.00 | CPU: 0%\n");
    EXPECT_EQ(statusCaption("Demo", 98.765, -1), "Demo | Tempo: 98.77 | CPU: -1%\n");
    EXPECT_EQ(statusCaption("", 60.5, 100), " | Tempo: 60.50 | CPU: 100%\n");
    std::string longName(255, 'n');
    EXPECT_EQ(statusCaption(longName.c_str(), 1.0, 7), longName + " | Tempo: 1.00 | CPU: 7%\n");
}

// A plug-in record whose dispatcher answers as the test sets it.
struct FakePlugin {
    AEffect effect{};
    VstIntPtr nameAnswer = 1;
    bool fillsRect = true;
    ERect rect{0, 0, 120, 240};

    static VstIntPtr dispatch(AEffect* e, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float) {
        auto* self = reinterpret_cast<FakePlugin*>(e);
        switch (opcode) {
        case effGetEffectName:
            std::strcpy(static_cast<char*>(ptr), "EffectName");
            return self->nameAnswer;
        case effGetProductString:
            std::strcpy(static_cast<char*>(ptr), "ProductName");
            return 1;
        case effGetVendorString:
            std::memset(ptr, 'v', 256); // fills the whole buffer, unterminated
            return 1;
        case effEditGetRect:
            if (self->fillsRect)
                *static_cast<ERect**>(ptr) = &self->rect;
            return self->fillsRect ? 1 : 0;
        default:
            return 0;
        }
    }
    FakePlugin() { effect.dispatcher = dispatch; }
};

TEST(MainWindowLogic, PluginIdentityAndEditorRectAreReadSafely) {
    static_assert(offsetof(FakePlugin, effect) == 0);
    FakePlugin named;
    EXPECT_EQ(readPluginName(&named.effect), "EffectName");
    FakePlugin unnamed;
    unnamed.nameAnswer = 0;
    EXPECT_EQ(readPluginName(&unnamed.effect), "ProductName");
    EXPECT_EQ(readEditorRect(&named.effect).right, 240);
    FakePlugin noRect;
    noRect.fillsRect = false;
    ERect rect = readEditorRect(&noRect.effect);
    EXPECT_EQ(rect.right, 0);
    EXPECT_EQ(rect.bottom, 0);
    EXPECT_EQ(readPluginName(nullptr), "");
    EXPECT_EQ(readVendorString(&named.effect), std::string(255, 'v'));
}

TEST(DataExchange, Integers) {
    const std::pair<const char*, std::optional<int32_t>> rows[] = {
        {"12", 12},
        {" -7 ", -7},
        {"+3", 3},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"1.5", std::nullopt},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"12abc", std::nullopt},
        {"abc", std::nullopt},
        {"+-3", std::nullopt},
    };
    for (auto [text, expected] : rows)
        EXPECT_EQ(parseInteger(text), expected) << '"' << text << '"';
}

TEST(DataExchange, Numbers) {
    const std::pair<const char*, std::optional<double>> rows[] = {
        {"1.5", 1.5},
        {" 120 ", 120.0},
        {"-0.25", -0.25},
        {"1e3", 1000.0},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e999", std::nullopt},
        {"1,5", std::nullopt},
        {"", std::nullopt},
        {"12x", std::nullopt},
    };
    for (auto [text, expected] : rows)
        EXPECT_EQ(parseNumber(text), expected) << '"' << text << '"';
}

TEST(DataExchange, NumbersKeepFifteenSignificantDigits) {
    EXPECT_EQ(formatNumber(120.0), "120");
    EXPECT_EQ(formatNumber(0.1), "0.1");
    EXPECT_EQ(formatNumber(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(formatNumber(123456789.123456789), "123456789.123457");
    EXPECT_EQ(formatInteger(-42), "-42");
    EXPECT_STREQ(kEnterIntegerText, "Enter an integer.");
    EXPECT_STREQ(kEnterNumberText, "Enter a number.");
}

} // namespace

// The clock-paced file PCM the Wine audio tests stand on, driven directly
// through alsa-lib: what it offers, what it writes and what it reads.

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string pluginPath() {
    return KS_ALSA_PLUGIN_PATH;
}

std::string tempPath(const std::string& name) {
    return testing::TempDir() + "ksfile-" + name;
}

// A PCM named "ks" from a configuration of its own, never the user's.
class FilePcm {
public:
    FilePcm(snd_pcm_stream_t stream, const std::string& parameters) {
        const std::string text = "pcm_type.ksfile { lib \"" + pluginPath() +
                                 "\" }\npcm.ks { type ksfile " + parameters + " }\n";
        snd_input_t* input = nullptr;
        if (snd_config_top(&config) < 0 ||
            snd_input_buffer_open(&input, text.data(), static_cast<ssize_t>(text.size())) < 0)
            return;
        const int loaded = snd_config_load(config, input);
        snd_input_close(input);
        if (loaded >= 0)
            openResult = snd_pcm_open_lconf(&pcm, "ks", stream, 0, config);
    }
    ~FilePcm() {
        if (pcm != nullptr)
            snd_pcm_close(pcm);
        if (config != nullptr)
            snd_config_delete(config);
    }
    FilePcm(const FilePcm&) = delete;
    FilePcm& operator=(const FilePcm&) = delete;

    // Interleaved access at the given format, rate and channels, 10 ms periods.
    int configure(snd_pcm_format_t format, unsigned int rate, unsigned int channels) {
        snd_pcm_hw_params_t* params = nullptr;
        snd_pcm_hw_params_alloca(&params);
        snd_pcm_uframes_t period = rate / 100;
        snd_pcm_uframes_t buffer = period * 4;
        int result = snd_pcm_hw_params_any(pcm, params);
        if (result >= 0)
            result = snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED);
        if (result >= 0)
            result = snd_pcm_hw_params_set_format(pcm, params, format);
        if (result >= 0)
            result = snd_pcm_hw_params_set_channels(pcm, params, channels);
        if (result >= 0)
            result = snd_pcm_hw_params_set_rate(pcm, params, rate, 0);
        if (result >= 0)
            result = snd_pcm_hw_params_set_period_size_near(pcm, params, &period, nullptr);
        if (result >= 0)
            result = snd_pcm_hw_params_set_buffer_size_near(pcm, params, &buffer);
        if (result >= 0)
            result = snd_pcm_hw_params(pcm, params);
        return result;
    }

    snd_config_t* config = nullptr;
    snd_pcm_t* pcm = nullptr;
    int openResult = -1;
};

std::vector<int16_t> ramp(size_t samples) {
    std::vector<int16_t> values(samples);
    for (size_t i = 0; i < samples; ++i)
        values[i] = static_cast<int16_t>(i * 7 - 20000);
    return values;
}

std::vector<char> readAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), {});
}

TEST(KsFilePcm, PlaybackWritesEveryFrameItIsGiven) {
    const std::string output = tempPath("played.raw");
    std::remove(output.c_str());
    FilePcm device(SND_PCM_STREAM_PLAYBACK, "file \"" + output + "\" format \"S16_LE\"");
    ASSERT_EQ(device.openResult, 0);
    ASSERT_EQ(device.configure(SND_PCM_FORMAT_S16_LE, 48000, 2), 0);
    const std::vector<int16_t> samples = ramp(2 * 4800); // 0.1 s
    snd_pcm_uframes_t written = 0;
    while (written < 4800) {
        const snd_pcm_sframes_t n =
            snd_pcm_writei(device.pcm, samples.data() + 2 * written, 4800 - written);
        ASSERT_GT(n, 0) << snd_strerror(static_cast<int>(n));
        written += static_cast<snd_pcm_uframes_t>(n);
    }
    snd_pcm_drop(device.pcm);
    const std::vector<char> bytes = readAll(output);
    ASSERT_EQ(bytes.size(), samples.size() * 2);
    EXPECT_EQ(std::memcmp(bytes.data(), samples.data(), bytes.size()), 0);
    std::remove(output.c_str());
}

TEST(KsFilePcm, CaptureReadsTheFileThenSilence) {
    const std::string input = tempPath("input.raw");
    const std::vector<int16_t> samples = ramp(2 * 1000);
    {
        std::ofstream file(input, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * 2));
    }
    FilePcm device(SND_PCM_STREAM_CAPTURE, "file \"" + input + "\" format \"S16_LE\"");
    ASSERT_EQ(device.openResult, 0);
    ASSERT_EQ(device.configure(SND_PCM_FORMAT_S16_LE, 48000, 2), 0);
    std::vector<int16_t> got(2 * 2400, 99);
    snd_pcm_uframes_t read = 0;
    while (read < 2400) {
        const snd_pcm_sframes_t n = snd_pcm_readi(device.pcm, got.data() + 2 * read, 2400 - read);
        ASSERT_GT(n, 0) << snd_strerror(static_cast<int>(n));
        read += static_cast<snd_pcm_uframes_t>(n);
    }
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), got.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + 2000, got.end(), [](int16_t v) { return v == 0; }));
    std::remove(input.c_str());
}

TEST(KsFilePcm, OffersOneFormatRateAndChannelCountChosenByTheControlFile) {
    const std::string control = tempPath("control.conf");
    {
        std::ofstream file(control, std::ios::trunc);
        file << "capture.rate 96000\nplayback.rate 44100\nplayback.channels 1\n"
                "playback.format S24_3LE\n";
    }
    const std::string parameters = "rate 48000 control \"" + control + "\"";
    {
        FilePcm device(SND_PCM_STREAM_PLAYBACK, parameters);
        ASSERT_EQ(device.openResult, 0);
        EXPECT_LT(device.configure(SND_PCM_FORMAT_FLOAT_LE, 44100, 1), 0);
    }
    {
        FilePcm device(SND_PCM_STREAM_PLAYBACK, parameters);
        EXPECT_LT(device.configure(SND_PCM_FORMAT_S24_3LE, 48000, 1), 0);
    }
    {
        FilePcm device(SND_PCM_STREAM_PLAYBACK, parameters);
        EXPECT_LT(device.configure(SND_PCM_FORMAT_S24_3LE, 44100, 2), 0);
    }
    {
        FilePcm device(SND_PCM_STREAM_PLAYBACK, parameters);
        EXPECT_EQ(device.configure(SND_PCM_FORMAT_S24_3LE, 44100, 1), 0);
    }
    {
        FilePcm device(SND_PCM_STREAM_CAPTURE, parameters);
        EXPECT_EQ(device.configure(SND_PCM_FORMAT_FLOAT_LE, 96000, 2), 0);
    }
    std::remove(control.c_str());
}

TEST(KsFilePcm, BadParametersAreRefused) {
    for (const char* parameters : {"format \"NOT_A_FORMAT\"", "rate 0", "channels 0", "colour 3"}) {
        FilePcm device(SND_PCM_STREAM_PLAYBACK, parameters);
        EXPECT_LT(device.openResult, 0) << parameters;
    }
}

} // namespace

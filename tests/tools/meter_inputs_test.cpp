// crestline-meter on files libsndfile cannot read (FFmpeg's libraries read
// them) and on surround files, made here with libsndfile and the ffmpeg
// command.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/tools/tool_run.h"
#include "tools/meter/audio_input.h"
#include "tools/meter/sound_file.h"

using namespace crestline;
using namespace crestline::meter_tool;
using namespace crestline::tools_test;
using nlohmann::json;
using MeterInputs = ToolTest;

namespace {

// As writeAudio, with the speakers stated in the file (a WAVE_FORMAT_EXTENSIBLE
// mask, a CAF layout).
template <class Sample>
void writeMapped(const fs::path& path, int format, int rate, const std::vector<int>& map, int frames, Sample sample) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(map.size());
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<int> m = map;
    ASSERT_EQ(sf_command(f, SFC_SET_CHANNEL_MAP_INFO, m.data(), static_cast<int>(m.size() * sizeof(int))), SF_TRUE);
    std::vector<float> data(static_cast<std::size_t>(frames) * map.size());
    for (int i = 0; i < frames; ++i) {
        for (std::size_t c = 0; c < map.size(); ++c) {
            data[static_cast<std::size_t>(i) * map.size() + c] = sample(i, static_cast<int>(c));
        }
    }
    ASSERT_EQ(sf_writef_float(f, data.data(), frames), frames);
    sf_close(f);
}

// The ffmpeg command, quietly; `codec` options go between input and output.
int convert(const fs::path& in, const std::string& codec, const fs::path& out) {
    const std::string command = "ffmpeg -nostdin -loglevel error -y -i " + quoted(in) + " " + codec + " " + quoted(out);
    return std::system(command.c_str());
}

// The final line of one file, without its name, for comparing two files.
json result(const ToolRun& r) {
    EXPECT_EQ(r.code, 0) << r.err;
    if (r.lines().empty()) return json();
    json j = json::parse(r.lines().back());
    j.erase("file");
    return j;
}

// Levels of EBU Tech 3341 case 6 by speaker: 1 kHz, L R −28, C −24, surrounds −30 dBFS;
// a 60 Hz LFE at −6 dBFS, louder than everything else together.
float case6(Speaker speaker, int i) {
    switch (speaker) {
        case Speaker::frontLeft:
        case Speaker::frontRight: return sineAt(-28.0, 1000.0, 48000, i);
        case Speaker::frontCentre: return sineAt(-24.0, 1000.0, 48000, i);
        case Speaker::lfe: return sineAt(-6.0, 60.0, 48000, i);
        default: return sineAt(-30.0, 1000.0, 48000, i);
    }
}

}  // namespace

TEST_F(MeterInputs, FilesOnlyFfmpegReadsMeasureAsTheirSourceDoes) {
    const fs::path stereo = dir_ / "stereo.wav", surround = dir_ / "surround.wav";
    writeAudio(stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 44100 * 6, [](int i, int c) {
        return (i < 44100 * 3 ? 1.0f : 0.3f) * sineAt(c == 0 ? -9.0 : -12.0, 440.0 + 110.0 * c, 44100, i);
    });
    writeAudio(surround, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 6, 48000 * 4,
               [](int i, int c) { return case6(defaultLayout(6)[static_cast<std::size_t>(c)], i); });
    // ALAC is lossless: the same samples, so the same readings to the last bit.
    for (const fs::path& source : {stereo, surround}) {
        const fs::path alac = dir_ / (source.stem().string() + ".m4a");
        ASSERT_EQ(convert(source, "-c:a alac", alac), 0);
        EXPECT_EQ(result(run("crestline-meter", quoted(alac))), result(run("crestline-meter", quoted(source))))
            << alac;
    }
    // AAC: every frame back (the encoder's priming and padding taken off), the loudness within its loss.
    const fs::path aac = dir_ / "stereo-aac.m4a";
    ASSERT_EQ(convert(stereo, "-c:a aac -b:a 256k", aac), 0);
    const json lossy = result(run("crestline-meter", quoted(aac)));
    const json exact = result(run("crestline-meter", quoted(stereo)));
    EXPECT_EQ(lossy["frames"], exact["frames"]);
    EXPECT_EQ(lossy["sampleRate"], 44100);
    EXPECT_NEAR(lossy["integrated"].get<double>(), exact["integrated"].get<double>(), 0.1);
    EXPECT_NEAR(lossy["samplePeak"][1].get<double>(), -12.0, 0.5);
}

TEST_F(MeterInputs, SurroundFilesWeighTheirChannelsByWhereTheyPlayAndLeaveTheLfeOut) {
    const int frames = 48000 * 5;
    const auto file = [&](const std::vector<Speaker>& layout) {
        return [layout](int i, int c) { return case6(layout[static_cast<std::size_t>(c)], i); };
    };
    using S = Speaker;
    const fs::path plain = dir_ / "five.wav", film = dir_ / "film.caf", threeOne = dir_ / "three-one.wav";
    const fs::path quad = dir_ / "quad.wav", aac = dir_ / "six.m4a", six = dir_ / "six.wav";
    // No layout stated: the usual order for five channels, FL FR FC BL BR.
    writeAudio(plain, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 5, frames, file(defaultLayout(5)));
    // Film order, which a CAF layout can state: L C R Ls Rs LFE.
    writeMapped(film, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 48000,
                {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_REAR_LEFT,
                 SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_LFE},
                frames, file({S::frontLeft, S::frontCentre, S::frontRight, S::backLeft, S::backRight, S::lfe}));
    // 3.1 by its channel mask; without the mask, four channels would be FL FR BL BR.
    writeMapped(threeOne, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000,
                {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE}, frames,
                file({S::frontLeft, S::frontRight, S::frontCentre, S::lfe}));
    writeAudio(quad, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 4, frames,
               file({S::frontLeft, S::frontRight, S::frontCentre, S::lfe}));
    // AAC codes 5.1 in its own order; FFmpeg's layout says which is which.
    writeAudio(six, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 6, frames, file(defaultLayout(6)));
    ASSERT_EQ(convert(six, "-c:a aac -b:a 384k", aac), 0);

    const double threeOneLufs = 10.0 * std::log10(2.0 * std::pow(10.0, -3.1) + std::pow(10.0, -2.7));
    // File, its channels, its integrated loudness (LUFS) and tolerance.
    for (const auto& [path, channels, lufs, tolerance] : std::vector<std::tuple<fs::path, std::string, double, double>>{
             {plain, R"(["FL","FR","FC","BL","BR"])", -23.0, 0.1},
             {film, R"(["FL","FC","FR","BL","BR","LFE"])", -23.0, 0.1},
             {threeOne, R"(["FL","FR","FC","LFE"])", threeOneLufs, 0.1},
             {aac, R"(["FL","FR","FC","LFE","BL","BR"])", -23.0, 0.2}}) {
        const json j = result(run("crestline-meter", quoted(path)));
        EXPECT_EQ(j["channels"], json::parse(channels)) << path;
        EXPECT_NEAR(j["integrated"].get<double>(), lufs, tolerance) << path;
        EXPECT_NEAR(j["correlation"].get<double>(), 1.0, 1e-3) << path;  // front left against front right
        ASSERT_EQ(j["samplePeak"].size(), j["channels"].size()) << path;
        const auto lfe = std::find(j["channels"].begin(), j["channels"].end(), "LFE");
        const auto peakOf = [&](std::ptrdiff_t c) { return j["samplePeak"][static_cast<std::size_t>(c)].get<double>(); };
        if (lfe != j["channels"].end()) {
            EXPECT_NEAR(peakOf(lfe - j["channels"].begin()), -6.0, 0.3) << path;
            EXPECT_NEAR(j["truePeak"].get<double>(), -6.0, 0.3) << path;  // the LFE counts for the peak
        }
        EXPECT_NEAR(peakOf(0), -28.0, path == aac ? 4.0 : 0.01) << path;
    }
    // The same samples without the mask: the LFE's 60 Hz counts as a back right surround.
    const json j = result(run("crestline-meter", quoted(quad)));
    EXPECT_EQ(j["channels"], json::parse(R"(["FL","FR","BL","BR"])"));
    EXPECT_GT(j["integrated"].get<double>(), threeOneLufs + 10.0);
}

TEST(AudioInput, FfmpegReadsTheSameSamplesAndSpeakersAsLibsndfile) {
    fixtures::ScratchFolder scratch;
    const fs::path path = scratch.path() / "three-one.wav";
    writeMapped(path, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 44100,
                {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE}, 70001,
                [](int i, int c) { return sineAt(-1.0 - 3.0 * c, 100.0 + 250.0 * c, 44100, i); });
    std::string reason;
    bool recognised = false;
    const auto byLibsndfile = openWithSndfile(path.string(), reason);
    const auto byFfmpeg = openWithFfmpeg(path.string(), reason, recognised);
    ASSERT_TRUE(byLibsndfile && byFfmpeg) << reason;
    EXPECT_EQ(byFfmpeg->layout(), byLibsndfile->layout());
    EXPECT_EQ(byFfmpeg->sampleRate(), 44100.0);
    EXPECT_EQ(byFfmpeg->framesHint(), 70001);
    // Whole files through blocks of different sizes, so both readers' leftovers are crossed.
    const auto readAll = [](AudioInput& input, int block) {
        std::vector<std::vector<float>> all(4), buffers(4, std::vector<float>(static_cast<std::size_t>(block)));
        std::vector<float*> planes;
        for (auto& b : buffers) planes.push_back(b.data());
        for (int n; (n = input.read(planes.data(), block)) > 0;) {
            for (std::size_t c = 0; c < 4; ++c) all[c].insert(all[c].end(), buffers[c].begin(), buffers[c].begin() + n);
        }
        return all;
    };
    const auto expected = readAll(*byLibsndfile, 4096);
    EXPECT_EQ(expected[0].size(), 70001u);
    EXPECT_EQ(readAll(*byFfmpeg, 333), expected);
}

TEST_F(MeterInputs, FilesNeitherLibraryReadsAndTooManyChannelsGetOneLine) {
    const fs::path wav = dir_ / "tone.wav", m4a = dir_ / "tone.m4a", fast = dir_ / "fast.m4a";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 3,
               [](int i, int) { return sineAt(-10.0, 1000.0, 48000, i); });
    ASSERT_EQ(convert(wav, "-c:a aac", m4a), 0);
    ASSERT_EQ(convert(wav, "-c:a aac -movflags +faststart", fast), 0);
    const std::string whole = fixtures::readFile(m4a), wholeFast = fixtures::readFile(fast);
    const std::string noise = [] {
        std::string s;
        for (unsigned x = 12345; s.size() < 50000;) s.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 16));
        return s;
    }();
    // The bytes of each bad file and the start of its reason.
    for (const auto& [name, bytes, reason] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"index-lost.m4a", whole.substr(0, whole.size() / 2), "not a readable audio file (Format not recognised)"},
             {"header-only.m4a", wholeFast.substr(0, 1500), ""},
             {"cut-in-the-audio.m4a", wholeFast.substr(0, wholeFast.size() / 2), ""},
             {"noise.m4a", noise, "not a readable audio file (Format not recognised)"},
             {"text.aac", "not audio\n", "not a readable audio file (Format not recognised)"}}) {
        fixtures::writeFile(dir_ / name, bytes);
        const ToolRun r = run("crestline-meter", quoted(dir_ / name));
        EXPECT_EQ(r.code, 2) << name;
        EXPECT_EQ(r.out, "") << name;
        EXPECT_EQ(r.err.rfind("crestline-meter: " + (dir_ / name).string() + ": " + reason, 0), 0u) << r.err;
        EXPECT_EQ(r.errorLines(), 1) << r.err;
    }
    const fs::path nine = dir_ / "nine.wav";
    writeAudio(nine, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 9, 4800, [](int, int) { return 0.1f; });
    const ToolRun r = run("crestline-meter", quoted(nine) + " " + quoted(wav));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "crestline-meter: " + nine.string() + ": 9 channels (files of up to 8 channels, 7.1, are metered)\n");
    EXPECT_EQ(r.lines().size(), 1u);  // the next file is still metered
}

TEST(SoundFile, TwoChannelViewsShowFrontLeftAndRightWhereverTheFilePutsThem) {
    fixtures::ScratchFolder scratch;
    const fs::path film = scratch.path() / "film.caf", mono = scratch.path() / "mono.wav";
    // L C R Ls Rs LFE, each channel a constant of its own index.
    writeMapped(film, SF_FORMAT_CAF | SF_FORMAT_FLOAT, 48000,
                {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_REAR_LEFT,
                 SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_LFE},
                1000, [](int, int c) { return 0.1f * static_cast<float>(c + 1); });
    writeAudio(mono, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 1000, [](int, int) { return 0.5f; });
    for (const auto& [path, left, right] :
         std::vector<std::tuple<fs::path, float, float>>{{film, 0.1f, 0.3f}, {mono, 0.5f, 0.5f}}) {
        SoundFile file(path.string(), 600);
        ASSERT_TRUE(file.isOpen()) << file.error();
        std::vector<float> l(600), r(600);
        EXPECT_EQ(file.read(l.data(), r.data()), 600);
        EXPECT_EQ(file.read(l.data(), r.data()), 400);
        EXPECT_EQ(file.read(l.data(), r.data()), 0);
        EXPECT_EQ(l[399], left) << path;
        EXPECT_EQ(r[399], right) << path;
    }
    EXPECT_FALSE(SoundFile((scratch.path() / "absent.m4a").string()).isOpen());
}

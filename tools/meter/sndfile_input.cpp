// Files that libsndfile reads. Its channel map (a WAVE_FORMAT_EXTENSIBLE
// mask, a CAF or AIFF layout) names the speakers where the file states them.
#include <sndfile.h>

#include <algorithm>

#include "tools/meter/audio_input.h"

namespace crestline::meter_tool {
namespace {

// libsndfile's texts end with a period or a newline; one line is wanted.
std::string tidy(const char* text) {
    std::string s = text != nullptr ? text : "unknown error";
    while (!s.empty() && (s.back() == '\n' || s.back() == '.' || s.back() == ' ')) s.pop_back();
    for (char& c : s) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return s;
}

// False for a map entry that names no speaker (ambisonics, invalid).
bool speakerOf(int entry, Speaker& speaker) {
    switch (entry) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT: speaker = Speaker::frontLeft; return true;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT: speaker = Speaker::frontRight; return true;
        case SF_CHANNEL_MAP_MONO:
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER: speaker = Speaker::frontCentre; return true;
        case SF_CHANNEL_MAP_LFE: speaker = Speaker::lfe; return true;
        case SF_CHANNEL_MAP_REAR_LEFT: speaker = Speaker::backLeft; return true;
        case SF_CHANNEL_MAP_REAR_RIGHT: speaker = Speaker::backRight; return true;
        case SF_CHANNEL_MAP_REAR_CENTER: speaker = Speaker::backCentre; return true;
        case SF_CHANNEL_MAP_SIDE_LEFT: speaker = Speaker::sideLeft; return true;
        case SF_CHANNEL_MAP_SIDE_RIGHT: speaker = Speaker::sideRight; return true;
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER: speaker = Speaker::frontLeftOfCentre; return true;
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER: speaker = Speaker::frontRightOfCentre; return true;
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT: speaker = Speaker::topFrontLeft; return true;
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: speaker = Speaker::topFrontRight; return true;
        case SF_CHANNEL_MAP_TOP_FRONT_CENTER: speaker = Speaker::topFrontCentre; return true;
        case SF_CHANNEL_MAP_TOP_CENTER: speaker = Speaker::topCentre; return true;
        case SF_CHANNEL_MAP_TOP_REAR_LEFT: speaker = Speaker::topBackLeft; return true;
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT: speaker = Speaker::topBackRight; return true;
        case SF_CHANNEL_MAP_TOP_REAR_CENTER: speaker = Speaker::topBackCentre; return true;
        default: return false;
    }
}

std::vector<Speaker> layoutOf(SNDFILE* sf, int channels) {
    if (channels > kMaxLayoutChannels) return {};
    std::vector<int> map(static_cast<std::size_t>(channels));
    if (sf_command(sf, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int))) == SF_TRUE) {
        std::vector<Speaker> layout(map.size());
        bool named = true;
        for (std::size_t c = 0; c < map.size() && named; ++c) named = speakerOf(map[c], layout[c]);
        if (named) return layout;
    }
    return defaultLayout(channels);
}

class SndfileInput final : public AudioInput {
public:
    SndfileInput(SNDFILE* sf, const SF_INFO& info) : sf_(sf) {
        sampleRate_ = info.samplerate;
        channels_ = info.channels;
        framesHint_ = info.frames;
        layout_ = layoutOf(sf, channels_);
    }
    ~SndfileInput() override { sf_close(sf_); }
    SndfileInput(const SndfileInput&) = delete;
    SndfileInput& operator=(const SndfileInput&) = delete;

    int read(float* const* out, int frames) override {
        if (frames < 1) return 0;
        const auto c = static_cast<std::size_t>(channels_);
        if (interleaved_.size() < static_cast<std::size_t>(frames) * c) {
            interleaved_.resize(static_cast<std::size_t>(frames) * c);
        }
        const sf_count_t got = sf_readf_float(sf_, interleaved_.data(), frames);
        if (got <= 0 || got > frames) {
            if (sf_error(sf_) != SF_ERR_NO_ERROR) {
                error_ = "read failed (" + tidy(sf_strerror(sf_)) + ")";
                return -1;
            }
            return 0;
        }
        const auto n = static_cast<std::size_t>(got);
        const float* in = interleaved_.data();
        if (c == 2) {
            float *l = out[0], *r = out[1];
            for (std::size_t i = 0; i < n; ++i) {
                l[i] = in[2 * i];
                r[i] = in[2 * i + 1];
            }
        } else {
            for (std::size_t ch = 0; ch < c; ++ch) {
                float* o = out[ch];
                for (std::size_t i = 0; i < n; ++i) o[i] = in[i * c + ch];
            }
        }
        return static_cast<int>(n);
    }

private:
    SNDFILE* sf_;
    std::vector<float> interleaved_;
};

}  // namespace

std::unique_ptr<AudioInput> openWithSndfile(const std::string& path, std::string& reason) {
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (sf == nullptr) {
        reason = tidy(sf_strerror(nullptr));
        return nullptr;
    }
    if (info.channels < 1) {
        sf_close(sf);
        reason = "no audio channels";
        return nullptr;
    }
    return std::make_unique<SndfileInput>(sf, info);
}

}  // namespace crestline::meter_tool

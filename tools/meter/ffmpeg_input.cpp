// Files that libsndfile cannot read, through FFmpeg's libraries: the
// container by libavformat, the best audio stream decoded by libavcodec,
// its samples turned into planar float by libswresample at the same rate
// and layout (a format conversion only: no resampling, no remixing).
//
// Only the local file is ever opened: the path goes through the file
// protocol, and no other protocol is allowed, so a playlist or a name that
// looks like a URL cannot make the meter reach the network.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>

#include "tools/meter/audio_input.h"

namespace crestline::meter_tool {
namespace {

std::string describe(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// False for a channel that names no loudspeaker (ambisonics, unknown).
bool speakerOf(AVChannel channel, Speaker& speaker) {
    switch (channel) {
        case AV_CHAN_FRONT_LEFT:
        case AV_CHAN_STEREO_LEFT: speaker = Speaker::frontLeft; return true;
        case AV_CHAN_FRONT_RIGHT:
        case AV_CHAN_STEREO_RIGHT: speaker = Speaker::frontRight; return true;
        case AV_CHAN_FRONT_CENTER: speaker = Speaker::frontCentre; return true;
        case AV_CHAN_LOW_FREQUENCY:
        case AV_CHAN_LOW_FREQUENCY_2: speaker = Speaker::lfe; return true;
        case AV_CHAN_BACK_LEFT: speaker = Speaker::backLeft; return true;
        case AV_CHAN_BACK_RIGHT: speaker = Speaker::backRight; return true;
        case AV_CHAN_BACK_CENTER: speaker = Speaker::backCentre; return true;
        case AV_CHAN_SIDE_LEFT:
        case AV_CHAN_SURROUND_DIRECT_LEFT: speaker = Speaker::sideLeft; return true;
        case AV_CHAN_SIDE_RIGHT:
        case AV_CHAN_SURROUND_DIRECT_RIGHT: speaker = Speaker::sideRight; return true;
        case AV_CHAN_FRONT_LEFT_OF_CENTER: speaker = Speaker::frontLeftOfCentre; return true;
        case AV_CHAN_FRONT_RIGHT_OF_CENTER: speaker = Speaker::frontRightOfCentre; return true;
        case AV_CHAN_TOP_FRONT_LEFT: speaker = Speaker::topFrontLeft; return true;
        case AV_CHAN_TOP_FRONT_RIGHT: speaker = Speaker::topFrontRight; return true;
        case AV_CHAN_TOP_FRONT_CENTER: speaker = Speaker::topFrontCentre; return true;
        case AV_CHAN_TOP_CENTER: speaker = Speaker::topCentre; return true;
        case AV_CHAN_TOP_BACK_LEFT: speaker = Speaker::topBackLeft; return true;
        case AV_CHAN_TOP_BACK_RIGHT: speaker = Speaker::topBackRight; return true;
        case AV_CHAN_TOP_BACK_CENTER: speaker = Speaker::topBackCentre; return true;
        case AV_CHAN_WIDE_LEFT:
        case AV_CHAN_WIDE_RIGHT:
        case AV_CHAN_TOP_SIDE_LEFT:
        case AV_CHAN_TOP_SIDE_RIGHT:
        case AV_CHAN_BOTTOM_FRONT_CENTER:
        case AV_CHAN_BOTTOM_FRONT_LEFT:
        case AV_CHAN_BOTTOM_FRONT_RIGHT: speaker = Speaker::other; return true;
        default: return false;
    }
}

std::vector<Speaker> layoutOf(const AVChannelLayout& layout) {
    const int channels = layout.nb_channels;
    if (channels > kMaxLayoutChannels) return {};
    if (layout.order == AV_CHANNEL_ORDER_NATIVE || layout.order == AV_CHANNEL_ORDER_CUSTOM) {
        std::vector<Speaker> speakers(static_cast<std::size_t>(channels));
        bool named = true;
        for (int c = 0; c < channels && named; ++c) {
            named = speakerOf(av_channel_layout_channel_from_index(&layout, static_cast<unsigned>(c)),
                              speakers[static_cast<std::size_t>(c)]);
        }
        if (named) return speakers;
    }
    return defaultLayout(channels);
}

class FfmpegInput final : public AudioInput {
public:
    FfmpegInput() = default;
    ~FfmpegInput() override {
        swr_free(&swr_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }
    FfmpegInput(const FfmpegInput&) = delete;
    FfmpegInput& operator=(const FfmpegInput&) = delete;

    // Returns "" on success; `recognised` once an audio stream with a
    // decoder was found.
    std::string open(const std::string& path, bool& recognised) {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        int r = avformat_open_input(&format_, ("file:" + path).c_str(), nullptr, &options);
        av_dict_free(&options);
        if (r < 0) return describe(r);
        if ((r = avformat_find_stream_info(format_, nullptr)) < 0) return describe(r);
        const AVCodec* decoder = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (stream_ < 0 || decoder == nullptr) return stream_ == AVERROR_DECODER_NOT_FOUND ? "no decoder" : "no audio";
        recognised = true;
        const AVStream* stream = format_->streams[stream_];
        codec_ = avcodec_alloc_context3(decoder);
        if (codec_ == nullptr) return "out of memory";
        if ((r = avcodec_parameters_to_context(codec_, stream->codecpar)) < 0) return describe(r);
        if ((r = avcodec_open2(codec_, decoder, nullptr)) < 0) return describe(r);
        if (codec_->ch_layout.nb_channels < 1) return "no audio channels";
        if (codec_->sample_rate < 1) return "no sample rate";
        sampleRate_ = codec_->sample_rate;
        channels_ = codec_->ch_layout.nb_channels;
        layout_ = layoutOf(codec_->ch_layout);
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            framesHint_ = av_rescale_q(stream->duration, stream->time_base, AVRational{1, codec_->sample_rate});
            // An MP4 states the programme's exact length (its edit list);
            // the decoder would add the encoder's padding after the end.
            if (std::strstr(format_->iformat->name, "mp4") != nullptr) remaining_ = framesHint_;
        } else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
            framesHint_ = av_rescale(format_->duration, codec_->sample_rate, AV_TIME_BASE);
        }
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (packet_ == nullptr || frame_ == nullptr) return "out of memory";
        planes_.resize(static_cast<std::size_t>(channels_));
        outPlanes_.resize(planes_.size());
        return {};
    }

    int read(float* const* out, int frames) override {
        int done = 0;
        while (done < frames) {
            if (offset_ == available_) {
                const int got = decodeNext();
                if (got < 0) return -1;
                if (got == 0) break;
            }
            int n = std::min(frames - done, available_ - offset_);
            if (remaining_ >= 0) {
                if (remaining_ == 0) break;
                n = static_cast<int>(std::min<long long>(n, remaining_));
                remaining_ -= n;
            }
            for (std::size_t c = 0; c < planes_.size(); ++c) {
                std::memcpy(out[c] + done, planes_[c].data() + offset_, static_cast<std::size_t>(n) * sizeof(float));
            }
            done += n;
            offset_ += n;
        }
        return done;
    }

private:
    int fail(const char* what, int code) {
        error_ = std::string(what) + " (" + describe(code) + ")";
        return -1;
    }
    int fail(const char* what) {
        error_ = what;
        return -1;
    }

    // The next decoded frame into planes_; its frame count, 0 at the end.
    int decodeNext() {
        offset_ = available_ = 0;
        for (;;) {
            int r = avcodec_receive_frame(codec_, frame_);
            if (r == 0) {
                const int n = convert();
                av_frame_unref(frame_);
                if (n != 0) return n;
                continue;
            }
            if (r == AVERROR_EOF) return 0;
            if (r != AVERROR(EAGAIN)) return fail("decoding failed", r);
            if (draining_) return 0;
            r = av_read_frame(format_, packet_);
            if (r == AVERROR_EOF) {
                draining_ = true;
                r = avcodec_send_packet(codec_, nullptr);
                if (r < 0 && r != AVERROR_EOF) return fail("decoding failed", r);
                continue;
            }
            if (r < 0) return fail("read failed", r);
            if (packet_->stream_index != stream_) {
                av_packet_unref(packet_);
                continue;
            }
            r = avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
            if (r < 0) return fail("decoding failed", r);
        }
    }

    // frame_ into planes_ as float; −1 when the stream changed its form.
    int convert() {
        if (frame_->sample_rate != codec_->sample_rate) return fail("the sample rate changes within the file");
        if (frame_->ch_layout.nb_channels != channels_) return fail("the channel count changes within the file");
        if (swr_ == nullptr || frame_->format != swrFormat_) {
            // The decoder tells its sample format for sure only with its
            // first frame; the same layout in and out keeps it a conversion.
            swr_free(&swr_);
            swrFormat_ = frame_->format;
            const auto format = static_cast<AVSampleFormat>(frame_->format);
            if (swr_alloc_set_opts2(&swr_, &frame_->ch_layout, AV_SAMPLE_FMT_FLTP, frame_->sample_rate,
                                    &frame_->ch_layout, format, frame_->sample_rate, 0, nullptr) < 0 ||
                swr_init(swr_) < 0) {
                return fail("unsupported sample format");
            }
        }
        const int n = frame_->nb_samples;
        if (n < 1) return 0;
        for (std::size_t c = 0; c < planes_.size(); ++c) {
            if (planes_[c].size() < static_cast<std::size_t>(n)) planes_[c].resize(static_cast<std::size_t>(n));
            outPlanes_[c] = reinterpret_cast<std::uint8_t*>(planes_[c].data());
        }
        const int converted =
            swr_convert(swr_, outPlanes_.data(), n, const_cast<const std::uint8_t**>(frame_->extended_data), n);
        if (converted < 0) return fail("conversion failed", converted);
        available_ = converted;
        return converted;
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    SwrContext* swr_ = nullptr;
    int swrFormat_ = -1;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    bool draining_ = false;
    std::vector<std::vector<float>> planes_;  // the current frame as float, one per channel
    std::vector<std::uint8_t*> outPlanes_;    // planes_ as swr_convert takes them
    int available_ = 0;                       // frames in planes_
    int offset_ = 0;                          // frames of planes_ already handed out
    long long remaining_ = -1;                // frames left before the stated end; −1: read to the end
};

}  // namespace

std::unique_ptr<AudioInput> openWithFfmpeg(const std::string& path, std::string& reason, bool& recognised) {
    // FFmpeg's own messages would add lines to stderr beside the tool's one.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    recognised = false;
    auto input = std::make_unique<FfmpegInput>();
    reason = input->open(path, recognised);
    if (!reason.empty()) return nullptr;
    return input;
}

}  // namespace crestline::meter_tool

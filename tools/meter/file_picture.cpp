#include "tools/meter/file_picture.h"

#include <vector>

#include "bar/analyser_source.h"
#include "bar/meter_picture.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "tools/meter/beat_grid.h"
#include "tools/meter/picture_settings.h"
#include "tools/meter/sound_file.h"

namespace crestline::meter_tool {

namespace {

constexpr int kBlockFrames = 4096;

// The picture follows no MIDI: its transport is the beat grid alone.
class NoMidi final : public MidiInput {
public:
    MidiOpenResult open(const std::string&, Handler) override { return {MidiOpenResult::Failure::client, 0}; }
    void close() override {}
    bool isOpen() const override { return false; }
};

}  // namespace

FilePicture::FilePicture(const MeterOptions& options)
    : options_(options),
      settings_(std::make_unique<Settings>(Settings::defaultFile(), systemClock(), Settings::Writing::memory)) {
    error_ = applyPictureChoices(options_, *settings_);
}

FilePicture::~FilePicture() = default;

bool FilePicture::draw(const std::string& path, std::FILE* errors) {
    const std::string& png = options_.png.value_or("picture");
    SoundFile file(path, kBlockFrames);
    AnalyserSource source;
    if (!file.isOpen() || !source.configure(file.sampleRate())) {
        std::fprintf(errors, "crestline-meter: %s: %s\n", path.c_str(),
                     file.isOpen() ? "unsupported sample rate" : file.error().c_str());
        return false;
    }
    source.meter().setAutoResetEnabled(options_.autoReset);
    source.recorder().setChannel(settings_->spectrogramChannel());
    // The header's length, when it tells one, spares analysing columns the
    // recorder would not keep.
    const double kept = SpectrogramRecorder::kCapacity * SpectrogramRecorder::kTickSeconds + 1.0;
    const double skipped = static_cast<double>(file.framesHint()) - kept * file.sampleRate();
    if (skipped > 0.0) source.recordColumnsFrom(static_cast<std::uint64_t>(skipped));
    std::vector<float> left(kBlockFrames), right(kBlockFrames);
    for (;;) {
        const int n = file.read(left.data(), right.data());
        if (n < 0) {
            std::fprintf(errors, "crestline-meter: %s: %s\n", path.c_str(), file.error().c_str());
            return false;
        }
        if (n == 0) break;
        source.feed(left.data(), right.data(), n);
    }

    // The frame is drawn at the file's end on a clock of the picture's own.
    FakeClock clock;
    const double seconds = static_cast<double>(source.framesFed()) / source.sampleRate();
    std::unique_ptr<LiveSync> sync;
    if (options_.bpm) {
        sync = std::make_unique<LiveSync>(clock, std::make_unique<NoMidi>());
        playBeatGrid(*sync, clock, seconds, *options_.bpm, options_.signature);
    } else {
        clock.advance(seconds);
    }
    const MeterPictureOptions picture{options_.width, options_.height, options_.scale, options_.theme};
    const MeterPictureResult result = writeMeterPicture(png, source, picture, *settings_, clock, sync.get());
    if (!result.error.empty()) {
        std::fprintf(errors, "crestline-meter: %s: %s\n", png.c_str(), result.error.c_str());
        return false;
    }
    if (result.widened) {
        std::fprintf(errors, "crestline-meter: %s: the modules need %g points, wider than the %g asked: drawn %g points wide\n",
                     png.c_str(), result.drawn.width, options_.width, result.drawn.width);
    }
    return true;
}

}  // namespace crestline::meter_tool

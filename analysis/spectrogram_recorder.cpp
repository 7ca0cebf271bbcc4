#include "analysis/spectrogram_recorder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/scope_buffer.h"
#include "platform/app_identity.h"

namespace crestline {
namespace {

constexpr double kLowestHz = 20.0;
constexpr double kBandRange = 1000.0;  // 20 Hz … 20 kHz
constexpr double kFloorDb = -120.0;    // byte 0
constexpr double kStepsPerDb = 2.0;
constexpr std::size_t kMaxPixels = std::size_t{1} << 28;  // far beyond any screen

struct Bands {
    std::array<double, SpectrogramRecorder::kBands + 1> edges;
    std::array<double, SpectrogramRecorder::kBands> octavesFromKilohertz;  // of each band's geometric centre
};

const Bands& bands() {
    static const Bands table = [] {
        Bands b{};
        for (int i = 0; i <= SpectrogramRecorder::kBands; ++i) {
            b.edges[static_cast<std::size_t>(i)] =
                kLowestHz * std::pow(kBandRange, static_cast<double>(i) / SpectrogramRecorder::kBands);
        }
        for (std::size_t i = 0; i < SpectrogramRecorder::kBands; ++i) {
            b.octavesFromKilohertz[i] = std::log2(std::sqrt(b.edges[i] * b.edges[i + 1]) / 1000.0);
        }
        return b;
    }();
    return table;
}

// loudest[i] = max(loudest[i], column[i]) for every band. Kept out of line:
// inlined, the compiler fuses it with the loop over columns and no longer
// vectorises it.
using Loudest = std::array<std::uint8_t, SpectrogramRecorder::kBands>;

[[gnu::noinline]] void raiseTo(Loudest& loudest, const std::uint8_t* column) {
    for (std::size_t i = 0; i < SpectrogramRecorder::kBands; ++i) {
        const std::uint8_t a = loudest[i], c = column[i];
        loudest[i] = a > c ? a : c;
    }
}

std::uint8_t levelToByte(float level) {
    const double steps = std::clamp(kStepsPerDb * (static_cast<double>(level) - kFloorDb), 0.0, 255.0);
    return static_cast<std::uint8_t>(steps);  // truncated
}

}  // namespace

SpectrogramRecorder::SpectrogramRecorder()
    : columns_(static_cast<std::size_t>(kCapacity) * kBands),
      analyzer_(std::numeric_limits<float>::infinity(), 1),
      queue_(queueLabel(".spectrogram")) {}

SpectrogramRecorder::~SpectrogramRecorder() { stop(); }

double SpectrogramRecorder::bandEdge(int i) {
    return bands().edges[static_cast<std::size_t>(std::clamp(i, 0, kBands))];
}

void SpectrogramRecorder::start(const ScopeBuffer& scope) {
    if (timer_ || queue_.isStopped()) return;
    // The timer cannot outlive the recorder: `stop()` cancels it first.
    timer_ = std::make_unique<TimerSource>(queue_, kTickSeconds, kLeewaySeconds,
                                           [this, &scope] { captureColumn(scope); });
    timer_->start();
}

void SpectrogramRecorder::stop() {
    if (timer_) timer_->cancel();
    queue_.stop();
}

void SpectrogramRecorder::captureColumn(const ScopeBuffer& scope) {
    const std::uint64_t frames = scope.totalFrames();
    if (frames == lastFrames_) return;  // no new audio: the history does not advance
    lastFrames_ = frames;

    analyzer_.setChannel(channel());
    analyzer_.update(scope);
    const Bands& b = bands();
    for (std::size_t i = 0; i < kBands; ++i) {
        column_[i] = levelToByte(analyzer_.level(b.edges[i], b.edges[i + 1], 0.0));
    }
    appendColumn(column_);
}

void SpectrogramRecorder::appendColumn(const Column& column) {
    std::scoped_lock lock(mutex_);
    std::copy(column.begin(), column.end(), columns_.begin() + static_cast<std::ptrdiff_t>(index_) * kBands);
    index_ = index_ + 1 == kCapacity ? 0 : index_ + 1;
    filled_ = std::min(kCapacity, filled_ + 1);
    ++generationCount_;
}

void SpectrogramRecorder::render(int span, int width, int height, double tilt, std::span<const std::uint32_t> colours,
                                 std::vector<std::uint32_t>& pixels) const {
    if (width < 1 || height < 1) return;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (count > kMaxPixels) return;

    // Tilt per band in byte steps, halves away from zero; bounded so that no
    // conversion overflows (any offset beyond ±512 saturates anyway).
    const Bands& b = bands();
    std::array<int, kBands> offset{};
    const double dbPerOctave = std::isfinite(tilt) ? tilt : 0.0;
    for (std::size_t i = 0; i < kBands; ++i) {
        const double steps = kStepsPerDb * dbPerOctave * b.octavesFromKilohertz[i];
        offset[i] = static_cast<int>(std::lround(std::clamp(steps, -512.0, 512.0)));
    }

    if (pixels.size() != count) pixels.assign(count, 0u);
    if (colours.empty()) return;
    const int lastColour = static_cast<int>(std::min<std::size_t>(colours.size(), 256) - 1);

    // Bands of each pixel row, counted from the bottom: at least one each.
    // Worked out where needed rather than kept in a table, so a render
    // (one per new column, on the drawing path) takes nothing from the heap.
    const auto rowBands = [height](int r) {
        const int lo = static_cast<int>(static_cast<std::int64_t>(r) * kBands / height);
        const int hi = std::max(lo + 1, static_cast<int>(std::min<std::int64_t>(
                                             static_cast<std::int64_t>(r + 1) * kBands / height, kBands)));
        return std::array<int, 2>{lo, hi};
    };

    // The image is filled in tiles of kTile pixel columns: first the colour
    // index of every band of each column of the tile, then the image row by
    // row (writing column by column would touch one page per row per pixel).
    constexpr int kTile = 64;
    std::array<std::uint8_t, kTile * kBands> indices;  // column t's band i at t·160 + i

    const std::int64_t s = std::max(span, 0);
    Loudest loudest{};
    std::scoped_lock lock(mutex_);
    const std::int64_t n = std::min<std::int64_t>(filled_, s);
    const std::int64_t empty = s - n;  // columns of no history before the stored ones
    const std::int64_t oldestSlot = index_ - n;
    for (int x0 = 0; x0 < width; x0 += kTile) {
        const int tile = std::min(kTile, width - x0);
        for (int t = 0; t < tile; ++t) {
            std::uint8_t* index = indices.data() + static_cast<std::size_t>(t) * kBands;
            const std::int64_t x = x0 + t;
            const std::int64_t from = std::clamp<std::int64_t>(x * s / width - empty, 0, n);
            const std::int64_t to = std::clamp<std::int64_t>(
                std::max(x * s / width - empty + 1, (x + 1) * s / width - empty), 0, n);
            if (from >= to) {
                std::fill_n(index, kBands, std::uint8_t{0});  // background
                continue;
            }
            loudest.fill(0);
            std::int64_t slot = oldestSlot + from;
            if (slot < 0) slot += kCapacity;
            for (std::int64_t k = from; k < to; ++k) {
                raiseTo(loudest, columns_.data() + slot * kBands);
                if (++slot == kCapacity) slot = 0;
            }
            // A band at byte 0 is empty and adds nothing; a tilted value below
            // 0 counts as 0. Both are folded in here so rows only take maxima.
            for (std::size_t i = 0; i < kBands; ++i) {
                const int tilted = std::clamp(loudest[i] + offset[i], 0, lastColour);
                index[i] = static_cast<std::uint8_t>(loudest[i] != 0 ? tilted : 0);
            }
        }
        for (int r = 0; r < height; ++r) {
            const auto [lo, hi] = rowBands(r);
            std::uint32_t* out = pixels.data() + static_cast<std::size_t>(height - 1 - r) * width + x0;
            const std::uint8_t* band = indices.data() + lo;
            if (hi == lo + 1) {
                for (int t = 0; t < tile; ++t) out[t] = colours[band[t * kBands]];
                continue;
            }
            for (int t = 0; t < tile; ++t) {
                const std::uint8_t* first = band + t * kBands;
                out[t] = colours[*std::max_element(first, first + (hi - lo))];
            }
        }
    }
}

void SpectrogramRecorder::resetHistory() {
    std::scoped_lock lock(mutex_);
    index_ = 0;
    filled_ = 0;
    ++generationCount_;
}

SpectrumChannel SpectrogramRecorder::channel() const {
    std::scoped_lock lock(mutex_);
    return channelChosen_;
}

void SpectrogramRecorder::setChannel(SpectrumChannel channel) {
    std::scoped_lock lock(mutex_);
    channelChosen_ = channel;
}

int SpectrogramRecorder::filled() const {
    std::scoped_lock lock(mutex_);
    return filled_;
}

std::uint64_t SpectrogramRecorder::generationCount() const {
    std::scoped_lock lock(mutex_);
    return generationCount_;
}

}  // namespace crestline

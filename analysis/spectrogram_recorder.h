// A ten-minute history of the spectrum as compact columns, kept whether or
// not the spectrogram is shown. Every 40 ms, on its own queue, it analyses
// the newest audio of the scope buffer (when new audio arrived) with its own
// unsmoothed analyzer, reduces the spectrum to 160 logarithmic bands between
// 20 Hz and 20 kHz and stores each band as one byte in 0.5 dB steps
// (0 = −120 dB or less, 240 = 0 dB, 255 = +7.5 dB). The display renders any
// span of that history into pixels through a 256-entry colour table.
//
// Threads: `captureColumn` runs on the recorder's queue ("<app id>.spectrogram")
// once started, or on the caller's thread in tests; `render`, `resetHistory`
// and `setChannel` on the main thread. The column ring, its indices and the
// channel are guarded by the recorder's mutex, which is never held while the
// scope buffer's is taken. The analyzer belongs to the capturing thread.
//
// Costs: 2.4 MB of columns allocated once; one 8192-point FFT per column at
// 44.1 or 48 kHz.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "analysis/spectrum_analyzer.h"
#include "settings/module_options.h"  // SpectrumChannel
#include "platform/serial_queue.h"
#include "platform/timer_source.h"

namespace crestline {

class ScopeBuffer;

class SpectrogramRecorder {
public:
    static constexpr int kCapacity = 15000;  // columns: 600 s at 25 per second
    static constexpr int kBands = 160;
    static constexpr double kTickSeconds = 0.04;
    static constexpr double kLeewaySeconds = 0.004;

    using Column = std::array<std::uint8_t, kBands>;  // band 0 (lowest) first

    SpectrogramRecorder();
    // Stops first: no capture runs once the destructor has begun.
    ~SpectrogramRecorder();
    SpectrogramRecorder(const SpectrogramRecorder&) = delete;
    SpectrogramRecorder& operator=(const SpectrogramRecorder&) = delete;

    // Lower edge of band `i` in Hz, 20 · 1000^(i/160); edge 160 is 20 kHz.
    static double bandEdge(int i);

    // Starts capturing from `scope`: a column at once, then every 40 ms. The
    // scope must outlive the capture (`stop()` or the destructor). A second
    // call, or one after `stop()`, does nothing.
    void start(const ScopeBuffer& scope);

    // Cancels the timer, waits for a capture in progress and joins the queue.
    // Owners call it before destroying the scope buffer. Idempotent.
    void stop();

    // One tick: stores a column if the scope received audio since the last
    // one. Runs on the queue once started.
    void captureColumn(const ScopeBuffer& scope);

    // Stores one column as the newest.
    void appendColumn(const Column& column);

    // Fills a width × height image (row 0 at the top, highest bands there),
    // with the newest column at the right edge and `span` history columns
    // across the width; columns older than the history are background
    // (colours[0]), as are bands of byte 0. `tilt` in dB per octave pivots at
    // 1 kHz. `pixels` is resized to width × height; a table shorter than 256
    // entries clamps the index to its last entry; an empty one leaves the
    // image zero.
    void render(int span, int width, int height, double tilt, std::span<const std::uint32_t> colours,
                std::vector<std::uint32_t>& pixels) const;

    // Empties the history logically; the bytes stay but are unreachable.
    void resetHistory();

    SpectrumChannel channel() const;
    void setChannel(SpectrumChannel channel);

    int filled() const;                     // stored columns, at most kCapacity
    std::uint64_t generationCount() const;  // changes with every column and reset

    // The capture queue, labelled "<app id>.spectrogram".
    SerialQueue& queue() { return queue_; }

private:
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> columns_;  // kCapacity × kBands, column k at bytes 160k…
    int index_ = 0;                      // next column slot
    int filled_ = 0;
    std::uint64_t generationCount_ = 0;
    SpectrumChannel channelChosen_ = SpectrumChannel::stereo;

    // Capturing thread only.
    SpectrumAnalyzer analyzer_;
    std::uint64_t lastFrames_ = 0;  // scope's totalFrames at the last column
    Column column_{};

    // Last, so they go first; `stop()` runs before anything else anyway.
    SerialQueue queue_;
    std::unique_ptr<TimerSource> timer_;
};

}  // namespace crestline

// Live's bars and locators along a time axis: bar lines with their numbers
// and locator lines with their names, over a span of seconds that ends at a
// given media time, placed from the transport samples of Live's sync and
// the open set's signatures and locators. The history draws them under its
// graph; the scope's overview and the spectrogram draw them over theirs.
// Each display owns one (its sample arrays are kept between frames).
//
// Drawing arrives with the history display; until then nothing is drawn
// and no bar is known.
#pragma once

#include <optional>
#include <vector>

#include "bar/canvas.h"
#include "bar/geometry.h"

namespace crestline {

struct Frame;

class TimelineMarks {
public:
    // Marks for the `seconds` ending at `now` (media seconds) across
    // `rect`, only while timeline marks are on and a transport exists. The
    // rectangles of the names drawn are appended to `nameRects`.
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, double seconds, double now,
              std::vector<Rect>& nameRects);

    // The bar (1-based) at media time `at`, from the transport sample
    // closest to it within the second before; nothing without one.
    static std::optional<int> barNumber(const Frame& frame, double at);

private:
    std::vector<double> markTimes_;  // transport samples over the span: media seconds...
    std::vector<double> markBeats_;  // ...and Live's beats
};

}  // namespace crestline

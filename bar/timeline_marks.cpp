#include "bar/timeline_marks.h"

#include "bar/module_display.h"

namespace crestline {

void TimelineMarks::draw(Canvas&, const Rect&, const Frame&, double, double, std::vector<Rect>&) {}

std::optional<int> TimelineMarks::barNumber(const Frame&, double) { return std::nullopt; }

}  // namespace crestline

#include "bar/wordmark.h"

#include <array>

namespace crestline {

Path Wordmark::path(Point at, double height) {
    // A band rising to three crests of falling height, in units of the
    // mark's height; the lower edge follows the upper one 0.28 below.
    static constexpr std::array<Point, 9> kCrest{{{0.0, 0.30},
                                                  {0.45, 0.55},
                                                  {0.80, 0.40},
                                                  {1.35, 1.00},
                                                  {1.90, 0.45},
                                                  {2.25, 0.70},
                                                  {2.65, 0.35},
                                                  {2.95, 0.50},
                                                  {3.20, 0.30}}};
    constexpr double kThickness = 0.28;
    Path p;
    const auto point = [&](Point u, double drop) {
        return Point{at.x + u.x * height, at.y + std::max(0.0, u.y - drop) * height};
    };
    p.moveTo(point(kCrest.front(), 0.0));
    for (std::size_t i = 1; i < kCrest.size(); ++i) p.lineTo(point(kCrest[i], 0.0));
    for (std::size_t i = kCrest.size(); i-- > 0;) p.lineTo(point(kCrest[i], kThickness));
    p.close();
    return p;
}

}  // namespace crestline

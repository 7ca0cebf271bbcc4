#include "live/live_set.h"

namespace crestline {

double LiveSet::beatsPerBar(double atBeat) const {
    if (signatures.empty()) return 4.0;
    double perBar = signatures.front().beatsPerBar;
    for (const auto& signature : signatures) {
        if (signature.beat <= atBeat) perBar = signature.beatsPerBar;
    }
    return perBar;
}

double LiveSet::bar(double atBeat) const {
    if (signatures.empty()) return 1.0 + atBeat / 4.0;
    double bar = 1.0;
    double last = 0.0;
    double perBar = signatures.front().beatsPerBar;
    for (const auto& signature : signatures) {
        if (signature.beat <= 0.0) continue;
        if (signature.beat > atBeat) break;
        bar += (signature.beat - last) / perBar;
        perBar = signature.beatsPerBar;
        last = signature.beat;
    }
    return bar + (atBeat - last) / perBar;
}

}  // namespace crestline

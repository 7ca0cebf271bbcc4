// The scope's numbers, apart from its drawing: how many frames a triggered
// window copies and where its trigger sits, how many overview chunks a long
// window reads and which of them a pixel column covers, how a beat-synced
// cycle is copied (frames or chunks), the smoothing that glides the synced
// view along Live's beat, and where the synced view's bar numbers and
// locators go. Pure functions and one small state object, so tests check
// them without painting. Main thread only, like the scope display.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "live/live_set.h"
#include "settings/module_options.h"

namespace crestline::scope {

// Beyond this many overview chunks a copy is cut (five minutes at 48 kHz).
constexpr int kMaxChunks = 225000;
constexpr int kChunkFrames = 64;
// A synced cycle shorter than this draws nothing: too few frames for a
// trace, too few chunks for an envelope.
constexpr int kMinimumCycleFrames = 33;
constexpr int kMinimumBlockFrames = 576;
constexpr double kLargestBlockFrames = 14399999.0;
// Beats per bar outside what Live can set (1/16 up to 99/1) come from a
// damaged set or message and are pulled back into it.
constexpr double kFewestBeatsPerBar = 0.25;
constexpr double kMostBeatsPerBar = 396.0;
// Untrusted beats never put bar numbers or locator lines closer than this
// (points).
constexpr double kMinimumMarkSpacing = 3.0;

// The signal one frame shows in a channel mode: left for stereo and left,
// right, mid (L + R)/2 or side (L − R)/2.
float signal(ScopeMode mode, float left, float right);

// Frames a triggered window of `milliseconds` shows at `rate`: at least
// 32. The copy holds twice as many so the trigger can look back.
int triggeredFrames(double rate, double milliseconds);

// Where the triggered trace starts: the last rising zero crossing within
// the first `frames` values (after the signal fell below a quarter of its
// peak, negated), with the fraction of a frame at which the line between
// the two values crosses zero. Silence (peak ≤ 1e−5) and a signal without
// a crossing start at `frames` with fraction 1.
struct TriggerPoint {
    int start = 0;
    double fraction = 1.0;
    bool operator==(const TriggerPoint&) const = default;
};
TriggerPoint findTrigger(std::span<const float> trigger, int frames);

// Chunks an overview of `seconds` reads at `rate`; 0 for a rate that is not
// positive.
int overviewChunks(double rate, double seconds);

// Chunks [first, end) of a copy of `chunks` that column `column` of
// `columns` covers: at least one.
struct ChunkRange {
    int first = 0;
    int end = 0;
};
ChunkRange overviewColumnChunks(int column, int columns, int chunks);

// The copy of a synced cycle: `count` frames (sample path) or chunks (block
// path), or nothing when the cycle is too short or the numbers are unusable.
struct SyncPlan {
    bool usesBlocks = false;
    int count = 0;
    bool operator==(const SyncPlan&) const = default;
};
std::optional<SyncPlan> planSyncedCycle(double cycleFrames, double rate, int capacity, bool byFrequency);

// Beats of a cycle for a beat window (1 beat, 1, 4, 8 or 16 bars); nothing
// for the other windows.
std::optional<double> cycleBeats(ScopeWindow window, double beatsPerBar);
// Beats per bar as the scope uses them: a value outside what Live can set
// is pulled into it, one that is not a number becomes 4.
double usableBeatsPerBar(double beatsPerBar);

// Glides the synced view along Live's beat. Each frame hands the newest
// copied frame's absolute number and the clock's beat for now; while the
// clock stays within a quarter beat of the prediction the beat moves 3 %
// of the way to it and the tempo 2 %, otherwise (a locate, a tempo jump,
// the first reading) both snap to the clock.
class BeatSmoother {
public:
    static constexpr double kSnapBeats = 0.25;
    static constexpr double kBeatPull = 0.03;
    static constexpr double kTempoPull = 0.02;

    double update(double frame, double clockBeat, double beatsPerSecond, double rate);
    // The next reading snaps (the clock was lost).
    void forget() { beatsPerFrame_ = 0.0; }

    double beatsPerFrame() const { return beatsPerFrame_; }
    double anchorFrame() const { return anchorFrame_; }
    double anchorBeat() const { return anchorBeat_; }

private:
    double anchorFrame_ = 0.0;
    double anchorBeat_ = 0.0;
    double beatsPerFrame_ = 0.0;
};

// Cycle division lines (as fractions of the width): bars when the cycle
// holds more than 1.5 of them, else beats, and only for 2 to 16 divisions.
void cycleDivisions(double cycleBeats, double beatsPerBar, std::vector<double>& out);

// One bar number or locator of the synced view. `position` is the fraction
// of the width; locators carry their index in the list they came from.
struct SyncMark {
    double position = 0.0;
    int bar = 0;
    int locator = -1;
};

// Bar numbers of the cycle ending at `beatNow` over `width` points: every
// bar, every 2nd or every 4th by the room a bar has (more apart when bars
// would come closer than the mark spacing). Numbers come from the set's bar
// arithmetic, else from the bar's index. Ordered left to right.
void barMarks(double beatNow, double cycleBeats, double beatsPerBar, double width, const LiveSet* set,
              std::vector<SyncMark>& out);
// Locators of the cycle ending at `beatNow`: those since the cycle's start,
// then those of the previous cycle's end (right of now); one within the
// mark spacing of the one before is left out. `locators` ascend by beat.
void locatorMarks(double beatNow, double cycleBeats, double width, std::span<const LiveSet::Locator> locators,
                  std::vector<SyncMark>& out);

// The scope note: the channel label (none for mid) and the note, joined
// with " · ", into `out` (kept between frames). Empty when there is
// neither.
void noteText(ScopeMode mode, std::string_view note, std::string& out);

}  // namespace crestline::scope

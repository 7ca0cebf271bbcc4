#include "bar/hint.h"

namespace crestline {

namespace {

struct HintText {
    std::string_view title;
    std::string_view body;
};

// In the order of the cases.
constexpr HintText kTexts[] = {
    {"Oscilloscope", "The waveform of your master as it plays. Right-click for its settings."},
    {"Spectrum",
     "Which frequencies are in your master right now, low on the left and high on the right. Right-click for "
     "Spectrum Tilt, which makes a balanced mix look level."},
    {"Imager",
     "Where your mix sits between left and right. Mono stands on the middle line, wide sound fans out, and whatever "
     "lies flat along the edges is out of phase and drops away in mono. The bar on the right is the correlation: +1 "
     "is mono, below 0 it cancels. Right-click for its settings."},
    // The history's title is its short name; the paragraph that explains the
    // whole picture comes first in the body.
    {"Loudness History",
     "Loudness over the song. The filled shape is short-term loudness, the white line is integrated: how the average "
     "of the whole song builds up, red where it is over your target (the orange line). Red marks along the top show "
     "where the true peak went over \u22121 dBTP. Point at it to read the values. Its gear sets what it shows and "
     "over how long."},
    {"Spectrogram",
     "The spectrum over time: low at the bottom, high at the top, brighter where it is louder. Shows where in your "
     "track a frequency piles up. Right-click for its settings."},
    {"Loudness",
     "Short-term loudness (the last 3 seconds) as a bar, the same as Short but quicker to read at a glance. The white "
     "mark is your integrated loudness, the orange mark your target. The target is for integrated loudness, so "
     "short-term may pass it."},
    {"Momentary", "Loudness over the last 0.4 seconds. Reacts fastest, good for single hits."},
    {"Short-term",
     "Loudness over the last 3 seconds, so it follows the track part by part. A loud part may pass your target: the "
     "target is for the whole track. Click to restart."},
    {"Integrated",
     "Average loudness of everything since the start. Streaming services use this number to turn your track up or "
     "down, and it is what your LUFS target is for: red more than 1 LU above it. Starts over by itself after 3 "
     "seconds of silence. Click to restart now."},
    {"Versus Target",
     "How far your integrated loudness is from your LUFS target: \u22123.0 means 3 LU quieter than the target, +2.0 "
     "means 2 LU louder. The line under it is your colour within 1 LU of the target, and red when you are more than "
     "1 LU too loud."},
    {"Loudness Range (LRA)",
     "How much the loudness changes between quiet and loud parts, in LU. Low is even, high is dynamic."},
    {"PSR",
     "How far your peaks rise above your loudness. It turns red below 5: the mix is squashed and the punch of your "
     "drums is mostly gone."},
    {"True Peak",
     "The highest peak, including peaks between samples. It turns red above \u22121 dBTP: Spotify, Apple Music and "
     "YouTube convert your file, and peaks that close to 0 can clip after that. Starts over after 3 seconds of "
     "silence. Click to restart now."},
    {"Peak",
     "Every sample, left and right, like the meter on a channel in your DAW. It jumps up with each transient and "
     "falls back slowly; the thin line holds the highest peak for a moment. It turns red at 0 dBFS, where the signal "
     "clips, and stays red so you notice. Live cuts its output off at 0 dBFS, so with Live's sound it never reads "
     "higher: red means it was cut. Click to clear it."},
};

const HintText& textOf(Hint hint) {
    const auto index = static_cast<std::size_t>(hint);
    return index < std::size(kTexts) ? kTexts[index] : kTexts[0];
}

}  // namespace

std::string_view hintTitle(Hint hint) { return textOf(hint).title; }
std::string_view hintBody(Hint hint) { return textOf(hint).body; }

}  // namespace crestline

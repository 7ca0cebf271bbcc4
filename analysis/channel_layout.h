// Where each channel of a multichannel file plays, and what it weighs in
// loudness after ITU-R BS.1770-4: 1.0 in front, 1.41 (+1.5 dB) for the
// surrounds at the sides and back, 1.0 overhead, and 0 for the LFE, which
// loudness leaves out. Files that state no layout get the usual order for
// their channel count (the WAV, FLAC and Vorbis convention).
#pragma once

#include <string_view>
#include <vector>

namespace crestline {

enum class Speaker {
    frontLeft,
    frontRight,
    frontCentre,
    lfe,
    backLeft,
    backRight,
    backCentre,
    sideLeft,
    sideRight,
    frontLeftOfCentre,
    frontRightOfCentre,
    topFrontLeft,
    topFrontRight,
    topFrontCentre,
    topCentre,
    topBackLeft,
    topBackRight,
    topBackCentre,
    other,  // a position the file names that none of the above is; weighs 1.0
};

// Up to 7.1: the most channels a file may have to be metered.
inline constexpr int kMaxLayoutChannels = 8;

// The BS.1770 channel weight Gi.
double channelWeight(Speaker speaker);

// Short name as audio tools print it: "FL", "FR", "FC", "LFE", "BL", ...
std::string_view speakerName(Speaker speaker);

// −1 for a speaker on the left (including overhead and behind), +1 on the
// right, 0 in the middle (the centres and the LFE).
int speakerSide(Speaker speaker);

// The order a file of `channels` channels uses when it states none:
// 1 FC; 2 FL FR; 3 FL FR FC; 4 FL FR BL BR; 5 FL FR FC BL BR;
// 6 FL FR FC LFE BL BR; 7 FL FR FC LFE BC SL SR; 8 FL FR FC LFE BL BR SL SR.
// Empty outside 1...kMaxLayoutChannels.
std::vector<Speaker> defaultLayout(int channels);

// Index of the first channel at `speaker`, −1 when none plays there.
int channelAt(const std::vector<Speaker>& layout, Speaker speaker);

}  // namespace crestline

#include "analysis/channel_layout.h"

#include <algorithm>

namespace crestline {

double channelWeight(Speaker speaker) {
    switch (speaker) {
        case Speaker::lfe: return 0.0;
        case Speaker::backLeft:
        case Speaker::backRight:
        case Speaker::backCentre:
        case Speaker::sideLeft:
        case Speaker::sideRight: return 1.41;
        default: return 1.0;
    }
}

std::string_view speakerName(Speaker speaker) {
    switch (speaker) {
        case Speaker::frontLeft: return "FL";
        case Speaker::frontRight: return "FR";
        case Speaker::frontCentre: return "FC";
        case Speaker::lfe: return "LFE";
        case Speaker::backLeft: return "BL";
        case Speaker::backRight: return "BR";
        case Speaker::backCentre: return "BC";
        case Speaker::sideLeft: return "SL";
        case Speaker::sideRight: return "SR";
        case Speaker::frontLeftOfCentre: return "FLC";
        case Speaker::frontRightOfCentre: return "FRC";
        case Speaker::topFrontLeft: return "TFL";
        case Speaker::topFrontRight: return "TFR";
        case Speaker::topFrontCentre: return "TFC";
        case Speaker::topCentre: return "TC";
        case Speaker::topBackLeft: return "TBL";
        case Speaker::topBackRight: return "TBR";
        case Speaker::topBackCentre: return "TBC";
        case Speaker::other: return "other";
    }
    return "other";
}

int speakerSide(Speaker speaker) {
    switch (speaker) {
        case Speaker::frontLeft:
        case Speaker::backLeft:
        case Speaker::sideLeft:
        case Speaker::frontLeftOfCentre:
        case Speaker::topFrontLeft:
        case Speaker::topBackLeft: return -1;
        case Speaker::frontRight:
        case Speaker::backRight:
        case Speaker::sideRight:
        case Speaker::frontRightOfCentre:
        case Speaker::topFrontRight:
        case Speaker::topBackRight: return 1;
        default: return 0;
    }
}

std::vector<Speaker> defaultLayout(int channels) {
    using S = Speaker;
    switch (channels) {
        case 1: return {S::frontCentre};
        case 2: return {S::frontLeft, S::frontRight};
        case 3: return {S::frontLeft, S::frontRight, S::frontCentre};
        case 4: return {S::frontLeft, S::frontRight, S::backLeft, S::backRight};
        case 5: return {S::frontLeft, S::frontRight, S::frontCentre, S::backLeft, S::backRight};
        case 6: return {S::frontLeft, S::frontRight, S::frontCentre, S::lfe, S::backLeft, S::backRight};
        case 7: return {S::frontLeft, S::frontRight, S::frontCentre, S::lfe, S::backCentre, S::sideLeft, S::sideRight};
        case 8:
            return {S::frontLeft, S::frontRight, S::frontCentre, S::lfe,
                    S::backLeft,  S::backRight,  S::sideLeft,    S::sideRight};
        default: return {};
    }
}

int channelAt(const std::vector<Speaker>& layout, Speaker speaker) {
    const auto found = std::find(layout.begin(), layout.end(), speaker);
    return found == layout.end() ? -1 : static_cast<int>(found - layout.begin());
}

}  // namespace crestline

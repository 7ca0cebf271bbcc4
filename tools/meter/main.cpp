// crestline-meter: the product's loudness and peak meters on audio files,
// or with --capture on live sound, one JSON object per line on stdout; with
// --png also the bar as a picture. Exit 0 when every file was metered, 2 for
// a usage error or a single file that failed, 1 when some of several files
// failed (the others are still metered); for --capture see meter_capture.h.
// With --album a last line takes the metered files as one programme.
#include <cstdio>
#include <string>
#include <vector>

#include "bar/third_party_leaks.h"
#include "tools/meter/album.h"
#include "tools/meter/file_picture.h"
#include "tools/meter/meter_capture.h"
#include "tools/meter/meter_file.h"
#include "tools/meter/meter_options.h"

int main(int argc, char** argv) {
    using namespace crestline::meter_tool;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parseMeterOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "crestline-meter: %s\n", parsed.error.c_str());
        return 2;
    }
    const MeterOptions& options = *parsed.options;
    if (options.help) {
        std::printf("%s\n", meterUsage().c_str());
        return 0;
    }
    if (options.capture) return meterCapture(options, stdout, stderr);
    if (options.png) {
        // The picture of the one file, drawn after its readings are out; its
        // own choices are checked before anything is metered.
        FilePicture picture(options);
        if (!picture.error().empty()) {
            std::fprintf(stderr, "crestline-meter: %s\n", picture.error().c_str());
            return 2;
        }
        if (!meterFile(options.files.front(), options, stdout, stderr)) return 2;
        return picture.draw(options.files.front(), stderr) ? 0 : 2;
    }
    std::size_t failed = 0;
    Album album;
    for (const std::string& file : options.files) {
        MeterReport report;
        crestline::GatingHistograms histograms;
        if (!meterFile(file, options, stdout, stderr, &report, &histograms)) {
            ++failed;
        } else if (options.album) {
            album.add(report, histograms);
        }
    }
    if (options.album && album.files() > 0 && !writeLine(stdout, formatAlbum(album.report(options.targets)))) {
        std::fprintf(stderr, "crestline-meter: could not write the album's result\n");
        return 2;
    }
    if (failed == 0) return 0;
    return options.files.size() == 1 ? 2 : 1;
}

// The picture of one file (--png): the bar drawn at the file's end from the
// file's own audio, every module in the module order. The file is read
// again into analysers of the picture's own (loudness meter, peak meter,
// scope buffer, spectrogram recorder with a column per 40 ms of audio), so
// the scope and imager show the end of the file, the spectrum the analysis
// at its end, the history and the spectrogram the whole file as far back as
// their spans reach; with --bpm a steady beat grid from the file's start
// stands in for Live's transport.
//
// The settings are the user's, read into memory: the picture's --modules
// and --set change the picture only, never the user's file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "tools/meter/meter_options.h"

namespace crestline {
class Settings;
}

namespace crestline::meter_tool {

class FilePicture {
public:
    // Reads the settings and applies the picture's choices; `error()` tells
    // when they are refused, before anything is metered.
    explicit FilePicture(const MeterOptions& options);
    ~FilePicture();
    FilePicture(const FilePicture&) = delete;
    FilePicture& operator=(const FilePicture&) = delete;

    const std::string& error() const { return error_; }
    Settings& settings() { return *settings_; }

    // Reads `path` and writes the picture. False after writing one line
    // "crestline-meter: ..." to `errors`; a picture drawn wider than asked
    // is said there too.
    bool draw(const std::string& path, std::FILE* errors);

private:
    MeterOptions options_;
    std::unique_ptr<Settings> settings_;
    std::string error_;
};

}  // namespace crestline::meter_tool

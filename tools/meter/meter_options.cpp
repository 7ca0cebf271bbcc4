#include "tools/meter/meter_options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace crestline::meter_tool {
namespace {

// Whole-string, finite, positive; no locale surprises for plain numbers.
std::optional<double> positiveSeconds(const std::string& text) {
    if (text.empty() || text.size() > 64) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v) || v <= 0.0) return std::nullopt;
    return v;
}

// A finite number within [low, high], whole string.
std::optional<double> numberWithin(const std::string& text, double low, double high) {
    const auto v = positiveSeconds(text);
    if (!v || *v < low || *v > high) return std::nullopt;
    return v;
}

// An option that takes a number within a range into `field`.
std::function<std::string(MeterOptions&, const std::string&)> rangedOption(const char* name, double MeterOptions::*field,
                                                                           double low, double high, const char* unit) {
    return [=](MeterOptions& o, const std::string& value) -> std::string {
        const auto v = numberWithin(value, low, high);
        if (!v) {
            char bounds[64];
            std::snprintf(bounds, sizeof bounds, "%g to %g", low, high);
            return std::string(name) + ": expected " + bounds + " " + unit + ", got '" + value + "'";
        }
        o.*field = *v;
        return {};
    };
}

// A whole-string decimal process id, 1 or above.
std::optional<std::int32_t> processId(const std::string& text) {
    std::int32_t pid = 0;
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, pid);
    if (text.empty() || error != std::errc() || rest != end || pid < 1) return std::nullopt;
    return pid;
}

// "N/D": a numerator of 1...99 over a denominator of 1, 2, 4, 8 or 16.
std::optional<std::pair<int, int>> timeSignature(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) return std::nullopt;
    int numerator = 0;
    int denominator = 0;
    const char* end = text.data() + text.size();
    const auto [afterN, errorN] = std::from_chars(text.data(), text.data() + slash, numerator);
    const auto [afterD, errorD] = std::from_chars(text.data() + slash + 1, end, denominator);
    if (errorN != std::errc() || afterN != text.data() + slash || errorD != std::errc() || afterD != end) {
        return std::nullopt;
    }
    const bool power = denominator == 1 || denominator == 2 || denominator == 4 || denominator == 8 || denominator == 16;
    if (numerator < 1 || numerator > 99 || !power) return std::nullopt;
    return std::pair(numerator, denominator);
}

void addTarget(MeterOptions& o, const LoudnessTarget& target) {
    if (std::find(o.targets.begin(), o.targets.end(), target) == o.targets.end()) o.targets.push_back(target);
}

struct OptionRule {
    const char* name;
    bool takesValue;
    // Applies the option; returns an error text or "" on success.
    std::function<std::string(MeterOptions&, const std::string& value)> apply;
};

const std::vector<OptionRule>& optionTable() {
    static const std::vector<OptionRule> table{
        {"--every", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             const auto seconds = positiveSeconds(value);
             if (!seconds) return "--every: expected a positive number of seconds, got '" + value + "'";
             o.every = seconds;
             return {};
         }},
        {"--no-auto-reset", false,
         [](MeterOptions& o, const std::string&) -> std::string {
             o.autoReset = false;
             return {};
         }},
        {"--png", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             if (value.empty()) return "--png: expected a file name";
             o.png = value;
             return {};
         }},
        {"--width", true, rangedOption("--width", &MeterOptions::width, 1.0, 16384.0, "points")},
        {"--height", true, rangedOption("--height", &MeterOptions::height, 28.0, 2000.0, "points")},
        {"--scale", true, rangedOption("--scale", &MeterOptions::scale, 0.5, 8.0, "pixels per point")},
        {"--theme", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             if (value != "liveLight" && value != "liveDark" && value != "scope") {
                 return "--theme: expected liveLight, liveDark or scope, got '" + value + "'";
             }
             o.theme = value;
             return {};
         }},
        {"--modules", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             if (value.empty()) return "--modules: expected module names separated by commas";
             o.modules = value;
             return {};
         }},
        {"--set", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             if (value.find('=') == std::string::npos) return "--set: expected KEY=VALUE, got '" + value + "'";
             o.overrides.push_back(value);
             return {};
         }},
        {"--bpm", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             const auto bpm = numberWithin(value, 20.0, 360.0);
             if (!bpm) return "--bpm: expected 20 to 360 beats per minute, got '" + value + "'";
             o.bpm = bpm;
             return {};
         }},
        {"--signature", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             const auto signature = timeSignature(value);
             if (!signature) {
                 return "--signature: expected N/D with N 1 to 99 and D 1, 2, 4, 8 or 16, got '" + value + "'";
             }
             o.signature = signature;
             return {};
         }},
        {"--capture", false,
         [](MeterOptions& o, const std::string&) -> std::string {
             o.capture = true;
             return {};
         }},
        {"--pid", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             const auto pid = processId(value);
             if (!pid) return "--pid: expected a process id, got '" + value + "'";
             o.pid = pid;
             return {};
         }},
        {"--seconds", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             const auto seconds = positiveSeconds(value);
             if (!seconds) return "--seconds: expected a positive number of seconds, got '" + value + "'";
             o.seconds = seconds;
             return {};
         }},
        {"--album", false,
         [](MeterOptions& o, const std::string&) -> std::string {
             o.album = true;
             return {};
         }},
        {"--target", true,
         [](MeterOptions& o, const std::string& value) -> std::string {
             const auto target = parseTarget(value);
             if (!target) {
                 return "--target: expected LUFS from -70 to 0, or LUFS:DBTP with a ceiling from -30 to 0, got '" +
                        value + "'";
             }
             addTarget(o, *target);
             return {};
         }},
        {"--streaming", false,
         [](MeterOptions& o, const std::string&) -> std::string {
             for (const LoudnessTarget& target : streamingTargets()) addTarget(o, target);
             return {};
         }},
        {"--help", false,
         [](MeterOptions& o, const std::string&) -> std::string {
             o.help = true;
             return {};
         }},
    };
    return table;
}

}  // namespace

std::string meterUsage() {
    return "usage: crestline-meter [--every SECONDS] [--no-auto-reset] [--png OUT.png [--width POINTS] "
           "[--height POINTS] [--scale S] [--theme liveLight|liveDark|scope] [--modules LIST] [--set KEY=VALUE]... "
           "[--bpm B [--signature N/D]]] [--album] [--target LUFS[:DBTP]]... [--streaming] FILE... | "
           "crestline-meter --capture [--pid PID] [--seconds S] [--every SECONDS] [--no-auto-reset] "
           "[--target LUFS[:DBTP]]... [--streaming]";
}

ParsedOptions parseMeterOptions(std::span<const std::string> args) {
    MeterOptions options;
    bool onlyFiles = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFiles || arg.size() < 2 || arg[0] != '-') {
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionRule* option = nullptr;
        for (const OptionRule& s : optionTable()) {
            if (name == s.name) option = &s;
        }
        if (option == nullptr) return {std::nullopt, "unknown option " + name + " (" + meterUsage() + ")"};
        std::string value;
        if (option->takesValue) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return {std::nullopt, name + ": missing value (" + meterUsage() + ")"};
            }
        } else if (equals != std::string::npos) {
            return {std::nullopt, name + " takes no value"};
        }
        if (std::string error = option->apply(options, value); !error.empty()) return {std::nullopt, error};
    }
    if (options.help) return {options, {}};
    if (!options.png && (options.modules || !options.overrides.empty() || options.bpm || options.signature)) {
        return {std::nullopt, "--modules, --set, --bpm and --signature shape the picture: they go with --png"};
    }
    if (options.signature && !options.bpm) return {std::nullopt, "--signature goes with --bpm"};
    if (options.capture) {
        if (!options.files.empty()) return {std::nullopt, "--capture meters live sound and takes no file"};
        if (options.png) return {std::nullopt, "--png draws a file's readings, not --capture"};
        if (options.album) return {std::nullopt, "--album takes files, not --capture"};
        return {options, {}};
    }
    if (options.pid || options.seconds) return {std::nullopt, "--pid and --seconds go with --capture"};
    if (options.files.empty()) return {std::nullopt, "no input file (" + meterUsage() + ")"};
    if (options.png && options.files.size() > 1) return {std::nullopt, "--png draws one file, got several"};
    if (options.png && options.album) return {std::nullopt, "--png draws one file, --album takes several"};
    return {options, {}};
}

}  // namespace crestline::meter_tool

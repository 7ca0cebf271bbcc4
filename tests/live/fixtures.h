// Builders for the DAW's files, made in the tests themselves: gzip members
// with any header flags, Live sets, Preferences.cfg layouts, theme files,
// and a scratch folder that plays the DAW root.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace crestline::fixtures {

inline std::string rawDeflate(std::string_view data, int level = 6) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline void putLe32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

struct GzipOptions {
    std::string extra;        // FEXTRA payload when `hasExtra`
    bool hasExtra = false;
    std::string name;         // FNAME when non-empty
    std::string comment;      // FCOMMENT when non-empty
    bool headerCrc = false;   // FHCRC
    std::int64_t isize = -1;  // the trailer's size; -1: the true size
};

inline std::string gzip(std::string_view data, const GzipOptions& options = {}) {
    std::string out = {'\x1f', '\x8b', '\x08', '\0', '\0', '\0', '\0', '\0', '\0', '\x03'};
    unsigned flags = 0;
    if (options.hasExtra) {
        flags |= 4;
        out.push_back(static_cast<char>(options.extra.size() & 0xFF));
        out.push_back(static_cast<char>(options.extra.size() >> 8));
        out += options.extra;
    }
    if (!options.name.empty()) {
        flags |= 8;
        out += options.name;
        out.push_back('\0');
    }
    if (!options.comment.empty()) {
        flags |= 16;
        out += options.comment;
        out.push_back('\0');
    }
    if (options.headerCrc) {
        flags |= 2;
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()));
        out.push_back(static_cast<char>(crc & 0xFF));
        out.push_back(static_cast<char>((crc >> 8) & 0xFF));
    }
    out[3] = static_cast<char>(flags);
    out += rawDeflate(data);
    putLe32(out, static_cast<std::uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))));
    putLe32(out, static_cast<std::uint32_t>(options.isize >= 0 ? options.isize
                                                                : static_cast<std::int64_t>(data.size())));
    return out;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void setModified(const std::filesystem::path& path, double secondsSinceEpoch) {
    timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(secondsSinceEpoch);
    times[1].tv_nsec = static_cast<long>((secondsSinceEpoch - static_cast<double>(times[1].tv_sec)) * 1e9 + 0.5);
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// A fresh folder under the test run's temporary folder; removed with the object.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "crestline-live-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rest) const { return path_ / rest; }

private:
    std::filesystem::path path_;
};

// Points the DAW root at a folder for the lifetime of the object.
class LiveRootOverride {
public:
    explicit LiveRootOverride(const std::filesystem::path& root) {
        if (const char* old = std::getenv("CRESTLINE_LIVE_ROOT")) previous_ = old, hadPrevious_ = true;
        setenv("CRESTLINE_LIVE_ROOT", root.c_str(), 1);
    }
    ~LiveRootOverride() {
        if (hadPrevious_) {
            setenv("CRESTLINE_LIVE_ROOT", previous_.c_str(), 1);
        } else {
            unsetenv("CRESTLINE_LIVE_ROOT");
        }
    }
    LiveRootOverride(const LiveRootOverride&) = delete;
    LiveRootOverride& operator=(const LiveRootOverride&) = delete;

private:
    std::string previous_;
    bool hadPrevious_ = false;
};

// A set document with the sections the reader looks at, laid out as Live
// writes them.
struct SetLocator {
    std::string time;
    std::string name;
    bool hasName = true;
};
struct SetSignature {
    std::string numerator;
    std::string time;
};

inline std::string liveSetXml(const std::vector<SetLocator>& locators, const std::vector<SetSignature>& signatures,
                              std::string_view currentTime = "0", std::string_view padding = {}) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ableton MajorVersion=\"5\">\n<LiveSet>\n";
    xml += padding;
    xml += "<MasterTrack><TimeSignature>\n<TimeSignatures>\n";
    int id = 0;
    for (const auto& s : signatures) {
        xml += "<RemoteableTimeSignature Id=\"" + std::to_string(id++) + "\">\n<Numerator Value=\"" + s.numerator +
               "\" />\n<Denominator Value=\"4\" />\n<Time Value=\"" + s.time + "\" />\n</RemoteableTimeSignature>\n";
    }
    xml += "</TimeSignatures>\n</TimeSignature></MasterTrack>\n";
    xml += "<Locators>\n<Locators>\n";
    id = 0;
    for (const auto& l : locators) {
        xml += "<Locator Id=\"" + std::to_string(id++) + "\">\n<LomId Value=\"0\" />\n<Time Value=\"" + l.time +
               "\" />\n";
        if (l.hasName) xml += "<Name Value=\"" + l.name + "\" />\n";
        xml += "<Annotation Value=\"\" />\n<IsSongStart Value=\"false\" />\n</Locator>\n";
    }
    xml += "</Locators>\n</Locators>\n";
    xml += "<CurrentTime Value=\"" + std::string(currentTime) + "\" />\n</LiveSet>\n</Ableton>\n";
    return xml;
}

}  // namespace crestline::fixtures

namespace crestline::fixtures {

inline std::string record(std::u16string_view text) {
    std::string out;
    putLe32(out, static_cast<std::uint32_t>(text.size()));
    for (const char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

// The 21 records of a Control Surface block: six slots of (script, input,
// output), one record Live keeps before the Push pair, then the pair.
inline std::string controlSurfaceBlock(const std::vector<std::u16string>& scripts) {
    std::string out;
    for (size_t slot = 0; slot < 6; ++slot) {
        out += record(slot < scripts.size() ? scripts[slot] : u"None");
        out += record(u"None");
        out += record(u"None");
    }
    out += record(u"Push2");
    out += record(u"FromPush");
    out += record(u"ToPush");
    return out;
}

// Preferences.cfg: binary noise around the block, and the theme name
// somewhere as UTF-16 text.
inline std::string preferencesCfg(const std::vector<std::u16string>& scripts, std::u16string_view theme = u"",
                                  size_t shift = 0) {
    std::string out = std::string("\xAB\x01\x00\x00\x05\xFF\xFF\x00", 8) + std::string(shift, '\x01');
    if (!theme.empty()) out += record(theme);
    out += std::string("\x00\x00\x7F\x00", 4);
    out += controlSurfaceBlock(scripts);
    out += std::string("\x02\x00\x00\x00\x10\x20", 6);
    return out;
}

}  // namespace crestline::fixtures

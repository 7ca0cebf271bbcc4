// Builders for the DAW's files, made in the tests themselves: gzip members
// with any header flags, Live sets, Preferences.cfg layouts, and a scratch
// folder that plays the DAW root.
#pragma once

#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace crestline::fixtures {

inline void putLe32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

struct GzipOptions {
    std::optional<std::string> extra{};  // FEXTRA
    std::string name{};                  // FNAME when non-empty
    std::string comment{};               // FCOMMENT when non-empty
    bool headerCrc = false;              // FHCRC
    std::int64_t isize = -1;             // the trailer's size; -1: the true size
};

// `data` through zlib's deflate: `windowBits` as deflateInit2 takes them
// (negative: raw; +16: gzip with `header`), ended by `flush`.
inline std::string deflated(std::string_view data, int windowBits, int flush = Z_FINISH, gz_header* header = nullptr) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    if (header != nullptr) deflateSetHeader(&stream, header);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 4096, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, flush);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// One gzip member as zlib writes it, the header fields included.
inline std::string gzip(std::string_view data, GzipOptions options = {}) {
    gz_header header{};
    header.os = 3;
    header.hcrc = options.headerCrc;
    const auto bytes = [](std::string& s) { return reinterpret_cast<Bytef*>(s.data()); };
    if (options.extra) {
        header.extra = bytes(*options.extra);
        header.extra_len = static_cast<uInt>(options.extra->size());
    }
    if (!options.name.empty()) header.name = bytes(options.name);
    if (!options.comment.empty()) header.comment = bytes(options.comment);
    std::string out = deflated(data, MAX_WBITS + 16, Z_FINISH, &header);
    if (options.isize >= 0) {
        out.resize(out.size() - 4);
        putLe32(out, static_cast<std::uint32_t>(options.isize));
    }
    return out;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void setModified(const std::filesystem::path& path, double secondsSinceEpoch) {
    // Whole seconds apart: a double of nanoseconds since 1970 loses the last digits.
    using namespace std::chrono;
    const seconds whole(static_cast<std::int64_t>(secondsSinceEpoch));
    const auto since = whole + round<nanoseconds>(duration<double>(secondsSinceEpoch - static_cast<double>(whole.count())));
    std::filesystem::last_write_time(path, file_clock::from_sys(sys_time<nanoseconds>(since)));
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

// Points the DAW root at a folder for the lifetime of the object; nothing
// else in the test run sets it.
struct LiveRootOverride {
    explicit LiveRootOverride(const std::filesystem::path& root) { setenv("CRESTLINE_LIVE_ROOT", root.c_str(), 1); }
    ~LiveRootOverride() { unsetenv("CRESTLINE_LIVE_ROOT"); }
    LiveRootOverride(const LiveRootOverride&) = delete;
    LiveRootOverride& operator=(const LiveRootOverride&) = delete;
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
    xml += std::string(padding) + "<MasterTrack><TimeSignature>\n<TimeSignatures>\n";
    for (const auto& s : signatures) {
        xml += "<RemoteableTimeSignature Id=\"0\">\n<Numerator Value=\"" + s.numerator +
               "\" />\n<Denominator Value=\"4\" />\n<Time Value=\"" + s.time + "\" />\n</RemoteableTimeSignature>\n";
    }
    xml += "</TimeSignatures>\n</TimeSignature></MasterTrack>\n<Locators>\n<Locators>\n";
    for (const auto& l : locators) {
        xml += "<Locator Id=\"0\">\n<LomId Value=\"0\" />\n<Time Value=\"" + l.time + "\" />\n";
        if (l.hasName) xml += "<Name Value=\"" + l.name + "\" />\n";
        xml += "<Annotation Value=\"\" />\n<IsSongStart Value=\"false\" />\n</Locator>\n";
    }
    return xml + "</Locators>\n</Locators>\n<CurrentTime Value=\"" + std::string(currentTime) +
           "\" />\n</LiveSet>\n</Ableton>\n";
}

// One length-prefixed UTF-16LE record as Preferences.cfg stores strings.
inline std::string record(std::u16string_view text) {
    std::string out;
    putLe32(out, static_cast<std::uint32_t>(text.size()));
    for (const char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

// Preferences.cfg: binary noise around the Control Surface block (six slots
// of script, input and output, one record Live keeps before the Push pair,
// then the pair), and the theme name somewhere as UTF-16 text.
inline std::string preferencesCfg(const std::vector<std::u16string>& scripts, std::u16string_view theme = u"",
                                  size_t shift = 0) {
    std::string out = std::string("\xAB\x01\x00\x00\x05\xFF\xFF\x00", 8) + std::string(shift, '\x01');
    if (!theme.empty()) out += record(theme);
    out += std::string("\x00\x00\x7F\x00", 4);
    for (size_t slot = 0; slot < 6; ++slot) {
        out += record(slot < scripts.size() ? scripts[slot] : u"None") + record(u"None") + record(u"None");
    }
    return out + record(u"Push2") + record(u"FromPush") + record(u"ToPush") + std::string("\x02\x00\x00\x00\x10\x20", 6);
}

// A theme file (.ask) with the three colours the reader needs.
inline std::string askTheme(std::string_view area, std::string_view extra = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ableton MajorVersion=\"5\">\n\t<Theme>\n"
           "\t\t<SurfaceArea Value=\"" + std::string(area) + "\" />\n\t\t<SurfaceBackground Value=\"#202020\" />\n"
           "\t\t<ControlBackground Value=\"#303030\" />\n" + std::string(extra) + "\t</Theme>\n</Ableton>\n";
}

// Library.cfg naming the User Library's parent folder, as Live writes it
// (other libraries around it).
inline std::string libraryCfg(std::string_view projectPath) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ableton MajorVersion=\"5\">\n"
           "\t<ContentLibrary>\n\t\t<LibraryProject>\n\t\t\t<ProjectPath Value=\"C:\\ProgramData\\Ableton\\Live 12 Suite\\Resources\" />\n"
           "\t\t</LibraryProject>\n\t</ContentLibrary>\n\t<UserLibrary>\n\t\t<LibraryProject>\n"
           "\t\t\t<ProjectName Value=\"User Library\" />\n\t\t\t<ProjectPath Value=\"" +
           std::string(projectPath) + "\" />\n\t\t</LibraryProject>\n\t</UserLibrary>\n</Ableton>\n";
}

// A Wine prefix as Wine makes it and Live fills it (no Wine needed): the
// dosdevices links, drive_c/users with Public and one user, and, on request,
// Live's folders. Paths below are real paths on disk.
class WinePrefix {
public:
    // `zTarget`: where the "z:" link leads ("/" in a real prefix; a scratch
    // folder in tests that must not write outside).
    explicit WinePrefix(std::filesystem::path root, std::filesystem::path zTarget = "/", std::string user = "me")
        : root_(std::move(root)), user_(std::move(user)) {
        namespace fs = std::filesystem;
        fs::create_directories(root_ / "dosdevices");
        fs::create_directories(root_ / "drive_c" / "users" / "Public" / "Documents");
        fs::create_directories(userFolder() / "Documents");
        fs::create_directories(root_ / "drive_c" / "windows" / "system32");
        fs::create_symlink("../drive_c", root_ / "dosdevices" / "c:");
        fs::create_symlink(zTarget, root_ / "dosdevices" / "z:");
    }

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path userFolder() const { return root_ / "drive_c" / "users" / user_; }
    std::filesystem::path documents() const { return userFolder() / "Documents"; }

    // Live's preferences folder for a version ("Live 12.1.5"), under
    // "AppData/Roaming" or the older "Application Data"; Preferences.cfg
    // holds `preferences`, saved at `saved` (seconds since 1970).
    std::filesystem::path addPreferences(const std::string& version, const std::string& preferences, double saved,
                                         bool applicationData = false) const {
        const auto roaming = applicationData ? userFolder() / "Application Data" : userFolder() / "AppData" / "Roaming";
        const auto folder = roaming / "Ableton" / version / "Preferences";
        writeFile(folder / "Preferences.cfg", preferences);
        setModified(folder / "Preferences.cfg", saved);
        return folder;
    }

    // Live's program folder ("Live 12 Suite") with its themes.
    std::filesystem::path addProgram(const std::string& name, const std::vector<std::pair<std::string, std::string>>& themes) const {
        const auto folder = root_ / "drive_c" / "ProgramData" / "Ableton" / name;
        writeFile(folder / "Program" / ("Ableton " + name + ".exe"), "MZ");
        for (const auto& [theme, text] : themes) writeFile(folder / "Resources" / "Themes" / (theme + ".ask"), text);
        return folder;
    }

private:
    std::filesystem::path root_;
    std::string user_;
};

}  // namespace crestline::fixtures

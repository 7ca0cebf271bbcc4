#include "app/crash_reporter.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <nlohmann/json.hpp>

#include "app/app_version.h"
#include "platform/files.h"
#include "platform/log.h"
#include "settings/settings.h"

namespace crestline {
namespace {

// The members whose values identify a person or a device.
constexpr std::array<std::string_view, 8> kIdentifierKeys = {
    "crashReporterKey",
    "sleepWakeUUID",
    "deviceIdentifierForVendor",
    "deviceIdentifierForAdvertising",
    "incident",
    "incident_id",
    "bug_type_id",
    "bootSessionUUID",
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// "/Users/<name>" and "/home/<name>" with the name (up to a slash, a quote
// or a blank) replaced by USER.
std::string scrubHomeFolders(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        std::string_view prefix;
        for (std::string_view candidate : {std::string_view("/Users/"), std::string_view("/home/")}) {
            if (in.substr(i, candidate.size()) == candidate) prefix = candidate;
        }
        if (prefix.empty()) {
            out += in[i++];
            continue;
        }
        std::size_t end = i + prefix.size();
        while (end < in.size() && in[end] != '/' && in[end] != '"' && !isBlank(in[end])) ++end;
        out += prefix;
        if (end > i + prefix.size()) out += "USER";
        i = end;
    }
    return out;
}

// `"key"` blanks `:` blanks `"..."` becomes `"key":"-"`.
std::string scrubMember(std::string_view in, std::string_view key) {
    const std::string quoted = "\"" + std::string(key) + "\"";
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        const std::size_t found = in.find(quoted, i);
        if (found == std::string_view::npos) break;
        out.append(in.substr(i, found - i));
        std::size_t at = found + quoted.size();
        while (at < in.size() && isBlank(in[at])) ++at;
        bool matched = false;
        if (at < in.size() && in[at] == ':') {
            ++at;
            while (at < in.size() && isBlank(in[at])) ++at;
            if (at < in.size() && in[at] == '"') {
                const std::size_t close = in.find('"', at + 1);
                if (close != std::string_view::npos) {
                    out += quoted + ":\"-\"";
                    i = close + 1;
                    matched = true;
                }
            }
        }
        if (!matched) {
            out += quoted;
            i = found + quoted.size();
        }
    }
    out.append(in.substr(std::min(i, in.size())));
    return out;
}

// 8-4-4-4-12 hexadecimal digits, not part of a longer word.
std::string scrubUuids(std::string_view in) {
    static constexpr std::array<std::size_t, 5> groups = {8, 4, 4, 4, 12};
    constexpr std::size_t length = 36;
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        bool match = i + length <= in.size() && (i == 0 || !isWordChar(in[i - 1])) &&
                     (i + length == in.size() || !isWordChar(in[i + length]));
        if (match) {
            std::size_t at = i;
            for (std::size_t g = 0; g < groups.size() && match; ++g) {
                for (std::size_t k = 0; k < groups[g] && match; ++k) match = isHex(in[at++]);
                if (g + 1 < groups.size() && match) match = in[at++] == '-';
            }
        }
        if (match) {
            out += "UUID";
            i += length;
        } else {
            out += in[i++];
        }
    }
    return out;
}

// Whole-word occurrences of `word` replaced by `with`. Names of one letter
// are left alone: they would take letters out of everything else.
std::string scrubWord(std::string_view in, std::string_view word, std::string_view with) {
    if (word.size() < 2) return std::string(in);
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        const std::size_t found = in.find(word, i);
        if (found == std::string_view::npos) break;
        const std::size_t end = found + word.size();
        const bool whole = (found == 0 || !isWordChar(in[found - 1])) && (end == in.size() || !isWordChar(in[end]));
        out.append(in.substr(i, found - i));
        out.append(whole ? with : word);
        i = end;
    }
    out.append(in.substr(std::min(i, in.size())));
    return out;
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::string stringMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

// A non-negative integer index, or nothing.
std::optional<std::size_t> indexMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (value == nullptr) return std::nullopt;
    if (value->is_number_unsigned()) return value->get<std::size_t>();
    if (value->is_number_integer()) {
        const auto n = value->get<std::int64_t>();
        if (n >= 0) return static_cast<std::size_t>(n);
    }
    return std::nullopt;
}

std::string trimmed(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) --end;
    return std::string(text.substr(begin, end - begin));
}

// A value of /etc/os-release, its quotes taken off.
std::string osReleaseValue(const std::string& text, std::string_view key) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + at, end - at);
        if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=') {
            std::string value = trimmed(line.substr(key.size() + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return value;
        }
        at = end + 1;
    }
    return {};
}

}  // namespace

CrashReporter::CrashReporter(Settings& settings, const Clock& clock, std::filesystem::path folder,
                             CrashIdentity identity, ScrubNames names)
    : settings_(settings),
      clock_(clock),
      folder_(std::move(folder)),
      identity_(std::move(identity)),
      names_(std::move(names)) {}

std::string CrashReporter::explanation(std::string_view system) {
    const std::string name = system.empty() ? std::string("system") : std::string(system);
    return "Send the crash report so it can be fixed? It says where in Crestline it went wrong, the Crestline and " +
           name + " version and your type of computer. No personal data and no audio.";
}

void CrashReporter::start() {
    if (settings_.date(kCheckedUntilKey)) {
        if (auto report = newestReport()) pending_ = std::move(report);
    } else {
        settings_.setDate(kCheckedUntilKey, clock_.date());
    }
    const auto files = reportFiles();
    std::error_code error;
    for (std::size_t i = kKeptReports; i < files.size(); ++i) std::filesystem::remove(files[i], error);
}

std::vector<std::filesystem::path> CrashReporter::reportFiles() const {
    std::vector<std::pair<std::chrono::system_clock::time_point, std::filesystem::path>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        const std::filesystem::path& path = entry.path();
        const std::string extension = path.extension().string();
        if (path.filename().string().rfind(kAppName, 0) != 0) continue;
        if (extension != ".json" && extension != ".ips" && extension != ".crash") continue;
        if (const auto stamp = fileStamp(path)) found.emplace_back(stamp->modified, path);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::filesystem::path> files;
    for (auto& [when, path] : found) files.push_back(std::move(path));
    return files;
}

void CrashReporter::offer(CrashReport report) {
    if (!pending_) pending_ = std::move(report);
}

std::optional<CrashReport> CrashReporter::newestReport() const {
    const auto checkedUntil = settings_.date(kCheckedUntilKey);
    if (!checkedUntil) return std::nullopt;
    const auto files = reportFiles();
    if (files.empty()) return std::nullopt;
    const std::optional<std::filesystem::path> newest = files.front();
    const auto stamp = fileStamp(*newest);
    if (!stamp || stamp->modified <= *checkedUntil) return std::nullopt;
    const auto bytes = readFileBytes(*newest, kMaxReportBytes);
    if (!bytes) return std::nullopt;
    const std::string text = scrub(*bytes, names_);
    return CrashReport{text, summary(text)};
}

void CrashReporter::ask(Alerts& alerts, CrashUpload& upload, const std::string& endpoint) {
    if (!pending_) return;
    settings_.setDate(kCheckedUntilKey, clock_.date());
    CrashReport report = std::move(*pending_);
    pending_.reset();
    alerts.show(Alert{kQuestion, explanation(identity_.systemName), "Send Report", "Don't Send"},
                [this, report = std::move(report), &upload, endpoint](AlertAnswer answer) {
                    if (answer == AlertAnswer::first) upload.post(endpoint, uploadBody(report));
                });
}

std::string CrashReporter::uploadBody(const CrashReport& report) const {
    const auto orUnknown = [](const std::string& text) { return text.empty() ? std::string("?") : text; };
    nlohmann::json body = nlohmann::json::object();
    body["version"] = orUnknown(identity_.version);
    body["build"] = orUnknown(identity_.build);
    body["os"] = identity_.os;
    body["model"] = identity_.model;
    body["summary"] = report.summary;
    body["report"] = report.report;
    // A report cut in the middle of a character still goes out.
    return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string CrashReporter::scrub(std::string_view report, const ScrubNames& names) {
    std::string text = scrubHomeFolders(report);
    for (std::string_view key : kIdentifierKeys) text = scrubMember(text, key);
    text = scrubUuids(text);
    text = scrubWord(text, names.userName, "USER");
    text = scrubWord(text, names.hostName, "HOST");
    return text;
}

std::string CrashReporter::summary(std::string_view report) {
    const nlohmann::json root = nlohmann::json::parse(report, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return {};
    std::vector<std::string> parts;
    if (const nlohmann::json* exception = member(root, "exception")) {
        for (const char* key : {"type", "signal"}) {
            const std::string value = stringMember(*exception, key);
            if (!value.empty()) parts.push_back(value);
        }
    }
    std::string symbol;
    const nlohmann::json* threads = member(root, "threads");
    const nlohmann::json* images = member(root, "usedImages");
    const auto faulting = indexMember(root, "faultingThread");
    if (threads != nullptr && threads->is_array() && images != nullptr && images->is_array() && faulting &&
        *faulting < threads->size()) {
        const nlohmann::json* frames = member((*threads)[*faulting], "frames");
        if (frames != nullptr && frames->is_array()) {
            for (const nlohmann::json& frame : *frames) {
                const auto image = indexMember(frame, "imageIndex");
                if (!image || *image >= images->size()) continue;
                if (stringMember((*images)[*image], "name") != kAppName) continue;
                symbol = stringMember(frame, "symbol");
                break;
            }
        }
    }
    std::string line;
    for (const std::string& part : parts) line += (line.empty() ? "" : " ") + part;
    if (!symbol.empty()) line += " in " + symbol;
    return line;
}

ScrubNames currentScrubNames() {
    ScrubNames names;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr)
        names.userName = entry->pw_name;
    else if (const char* user = std::getenv("USER"))
        names.userName = user;
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) names.hostName = host;
    return names;
}

CrashIdentity currentCrashIdentity() {
    CrashIdentity identity{std::string(kAppVersion), std::string(kAppBuild), {}, {}, {}};
    const std::string release = readFileBytes("/etc/os-release", 64 * 1024).value_or(std::string());
    identity.systemName = osReleaseValue(release, "NAME");
    std::string os = osReleaseValue(release, "PRETTY_NAME");
    utsname machine{};
    const bool haveUname = uname(&machine) == 0;
    if (haveUname) os += (os.empty() ? "" : "; ") + std::string(machine.sysname) + " " + machine.release;
    identity.os = os.empty() ? "?" : os;
    identity.model = trimmed(readFileBytes("/sys/devices/virtual/dmi/id/product_name", 4096).value_or(""));
    if (identity.model.empty()) identity.model = haveUname ? machine.machine : "?";
    return identity;
}

}  // namespace crestline

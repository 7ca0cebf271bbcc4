#include "settings/settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/files.h"
#include "platform/log.h"

namespace crestline {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr double kReferenceEpochUnixSeconds = 978307200.0;

// A settings file is a few kilobytes; anything far larger is not ours, and
// deep nesting would only make the writer recurse.
constexpr std::uintmax_t kMaxFileBytes = 16u * 1024u * 1024u;
constexpr std::size_t kMaxNesting = 64;

constexpr std::string_view kDateTag = "date";
constexpr std::string_view kDataTag = "data";

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += kBase64Alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict: padded groups of four, padding only at the end.
std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int d[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            if (c == '=' && last && k >= 2) {
                d[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) return std::nullopt;  // a digit after padding
            d[k] = base64Digit(c);
            if (d[k] < 0) return std::nullopt;
        }
        const unsigned v = (static_cast<unsigned>(d[0]) << 18) | (static_cast<unsigned>(d[1]) << 12) |
                           (static_cast<unsigned>(d[2]) << 6) | static_cast<unsigned>(d[3]);
        out += static_cast<char>((v >> 16) & 0xFF);
        if (padding < 2) out += static_cast<char>((v >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(v & 0xFF);
    }
    return out;
}

// {"<tag>": value} with nothing else in it.
const json* tagged(const json& value, std::string_view tag) {
    if (!value.is_object() || value.size() != 1) return nullptr;
    const auto it = value.find(std::string(tag));
    return it == value.end() ? nullptr : &*it;
}

std::string utcStamp(SettingsDate date) {
    const std::time_t t = std::chrono::system_clock::to_time_t(date);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    return text;
}

}  // namespace

double referenceSeconds(SettingsDate date) {
    const auto sinceUnix = std::chrono::duration<double>(date.time_since_epoch()).count();
    return sinceUnix - kReferenceEpochUnixSeconds;
}

SettingsDate dateFromReferenceSeconds(double seconds) {
    const std::chrono::duration<double> sinceUnix(seconds + kReferenceEpochUnixSeconds);
    return SettingsDate(std::chrono::duration_cast<SettingsDate::duration>(sinceUnix));
}

struct SettingsStore::Document {
    json values = json::object();

    // Looked up by the view itself (the object's keys compare with
    // std::less<>), as the bar reads keys every frame.
    const json* find(std::string_view key) const {
        const auto it = values.find(key);
        return it == values.end() ? nullptr : &*it;
    }
};

SettingsStore::SettingsStore(fs::path file, const Clock& clock, Writing writing, double debounceSeconds)
    : file_(std::move(file)),
      clock_(clock),
      writing_(writing),
      debounceSeconds_(std::isfinite(debounceSeconds) && debounceSeconds > 0 ? debounceSeconds : 0.0),
      doc_(std::make_unique<Document>()) {
    load();
    if (writing_ == Writing::background) writer_ = std::thread([this] { writerLoop(); });
}

SettingsStore::~SettingsStore() {
    {
        std::scoped_lock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
    flush();
}

void SettingsStore::load() {
    std::error_code error;
    const auto status = fs::status(file_, error);
    if (!fs::exists(status)) return;  // first run: nothing stored yet

    std::ifstream in(file_, std::ios::binary);
    const auto size = fs::file_size(file_, error);
    if (!in || error) {
        // Replacing a file we could not read would throw away what the user
        // set; keep working in memory instead.
        readOnly_ = true;
        log("Crestline: instellingen niet te lezen (" + file_.string() + "); wijzigingen blijven in het geheugen");
        return;
    }
    if (size > kMaxFileBytes) {
        keepCorruptAside("groter dan 16 MiB");
        return;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        readOnly_ = true;
        log("Crestline: instellingen niet te lezen (" + file_.string() + "); wijzigingen blijven in het geheugen");
        return;
    }

    bool tooDeep = false;
    const json::parser_callback_t limitDepth = [&tooDeep](int depth, json::parse_event_t, json&) {
        if (static_cast<std::size_t>(depth) > kMaxNesting) tooDeep = true;
        return !tooDeep;
    };
    json parsed = json::parse(text.str(), limitDepth, /*allow_exceptions=*/false);
    if (tooDeep) {
        keepCorruptAside("te diep genest");
    } else if (parsed.is_discarded()) {
        keepCorruptAside("geen geldige JSON");
    } else if (!parsed.is_object()) {
        keepCorruptAside("geen JSON-object");
    } else {
        doc_->values = std::move(parsed);
    }
}

void SettingsStore::keepCorruptAside(const std::string& reason) {
    if (writing_ == Writing::memory) return;  // someone else's file: start empty, leave it be
    const std::string base = file_.string() + ".corrupt-" + utcStamp(clock_.date());
    fs::path aside = base;
    std::error_code error;
    for (int n = 2; fs::exists(aside, error) && n < 1000; ++n) aside = base + "-" + std::to_string(n);
    fs::rename(file_, aside, error);
    if (error) {
        readOnly_ = true;
        log("Crestline: instellingen onleesbaar (" + reason + ") en niet apart te zetten (" + error.message() +
            "): " + file_.string() + " blijft staan, wijzigingen blijven in het geheugen");
        return;
    }
    log("Crestline: instellingen onleesbaar (" + reason + "), bewaard als " + aside.string() +
        "; begonnen met standaardwaarden");
}

// ---- reads -------------------------------------------------------------

bool SettingsStore::contains(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    return doc_->find(key) != nullptr;
}

std::optional<bool> SettingsStore::boolean(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    if (v == nullptr || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

std::optional<std::int64_t> SettingsStore::integer(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    if (v == nullptr) return std::nullopt;
    if (v->is_number_integer() && !v->is_number_unsigned()) return v->get<std::int64_t>();
    if (v->is_number_unsigned()) {
        const auto u = v->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (v->is_number_float()) {
        // Range-check in floating point before converting.
        const double d = v->get<double>();
        if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15) return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

std::optional<double> SettingsStore::number(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    if (v == nullptr || !v->is_number()) return std::nullopt;
    const double d = v->get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<std::string> SettingsStore::string(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    if (v == nullptr || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<std::vector<std::string>> SettingsStore::strings(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    if (v == nullptr || !v->is_array()) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(v->size());
    for (const json& element : *v) {
        if (!element.is_string()) return std::nullopt;
        out.push_back(element.get<std::string>());
    }
    return out;
}

bool SettingsStore::eachString(std::string_view key, const std::function<void(std::string_view)>& each) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    if (v == nullptr || !v->is_array()) return false;
    for (const json& element : *v) {
        if (!element.is_string()) return false;
    }
    for (const json& element : *v) each(element.get_ref<const std::string&>());
    return true;
}

std::optional<std::vector<double>> SettingsStore::numbers(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    if (v == nullptr || !v->is_array()) return std::nullopt;
    std::vector<double> out;
    out.reserve(v->size());
    for (const json& element : *v) {
        if (!element.is_number()) return std::nullopt;
        const double d = element.get<double>();
        if (!std::isfinite(d)) return std::nullopt;
        out.push_back(d);
    }
    return out;
}

std::optional<SettingsDate> SettingsStore::date(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    const json* seconds = v == nullptr ? nullptr : tagged(*v, kDateTag);
    if (seconds == nullptr || !seconds->is_number()) return std::nullopt;
    const double s = seconds->get<double>();
    // About ±30,000 years: far beyond any real date, well inside the clock's range.
    if (!std::isfinite(s) || std::fabs(s) > 1.0e12) return std::nullopt;
    return dateFromReferenceSeconds(s);
}

std::optional<std::string> SettingsStore::data(std::string_view key) const {
    std::scoped_lock lock(mutex_);
    const json* v = doc_->find(key);
    const json* text = v == nullptr ? nullptr : tagged(*v, kDataTag);
    if (text == nullptr || !text->is_string()) return std::nullopt;
    return base64Decode(text->get_ref<const std::string&>());
}

// ---- writes ------------------------------------------------------------

void SettingsStore::setBool(std::string_view key, bool value) {
    std::scoped_lock lock(mutex_);
    doc_->values[std::string(key)] = value;
    changed();
}

void SettingsStore::setInteger(std::string_view key, std::int64_t value) {
    std::scoped_lock lock(mutex_);
    doc_->values[std::string(key)] = value;
    changed();
}

void SettingsStore::setNumber(std::string_view key, double value) {
    if (!std::isfinite(value)) {
        remove(key);
        return;
    }
    std::scoped_lock lock(mutex_);
    // Stored as a JSON double (written with a decimal point) so the type
    // survives the round trip even for whole values.
    doc_->values[std::string(key)] = json(static_cast<json::number_float_t>(value));
    changed();
}

void SettingsStore::setString(std::string_view key, std::string_view value) {
    std::scoped_lock lock(mutex_);
    doc_->values[std::string(key)] = std::string(value);
    changed();
}

void SettingsStore::setStrings(std::string_view key, const std::vector<std::string>& value) {
    std::scoped_lock lock(mutex_);
    doc_->values[std::string(key)] = value;
    changed();
}

void SettingsStore::setNumbers(std::string_view key, const std::vector<double>& value) {
    for (double d : value) {
        if (!std::isfinite(d)) {
            remove(key);
            return;
        }
    }
    json array = json::array();
    for (double d : value) array.push_back(static_cast<json::number_float_t>(d));
    std::scoped_lock lock(mutex_);
    doc_->values[std::string(key)] = std::move(array);
    changed();
}

void SettingsStore::setDate(std::string_view key, SettingsDate value) {
    std::scoped_lock lock(mutex_);
    doc_->values[std::string(key)] = json{{std::string(kDateTag), referenceSeconds(value)}};
    changed();
}

void SettingsStore::setData(std::string_view key, std::string_view bytes) {
    std::scoped_lock lock(mutex_);
    doc_->values[std::string(key)] = json{{std::string(kDataTag), base64Encode(bytes)}};
    changed();
}

void SettingsStore::remove(std::string_view key) {
    std::scoped_lock lock(mutex_);
    if (doc_->values.erase(std::string(key)) > 0) changed();
}

void SettingsStore::changed() {
    ++changes_;
    wake_.notify_all();
}

// ---- writing the file --------------------------------------------------

bool SettingsStore::flush() { return writeNow(); }

std::uint64_t SettingsStore::writesCompleted() const {
    std::scoped_lock lock(mutex_);
    return writes_;
}

bool SettingsStore::waitForWrites(std::uint64_t count, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return writes_ >= count; });
}

void SettingsStore::writerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || changes_ != attempted_; });
        if (stopping_) return;
        // Let a burst of changes (a drag, a migration) land in one write.
        const auto deadline =
            std::chrono::steady_clock::now() +
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(debounceSeconds_));
        wake_.wait_until(lock, deadline, [&] { return stopping_; });
        if (stopping_) return;  // the destructor writes what is pending
        lock.unlock();
        writeNow();
        lock.lock();
    }
}

bool SettingsStore::writeNow() {
    std::scoped_lock fileLock(fileMutex_);
    std::string text;
    std::uint64_t target = 0;
    {
        std::scoped_lock lock(mutex_);
        if (changes_ == written_) return true;
        attempted_ = changes_;
        if (readOnly_ || writing_ == Writing::memory) return false;
        target = changes_;
        text = doc_->values.dump(2) + "\n";
    }
    const bool ok = writeFile(text);
    {
        std::scoped_lock lock(mutex_);
        if (ok) {
            if (target > written_) written_ = target;
            ++writes_;
            failureLogged_ = false;
        }
    }
    wake_.notify_all();
    return ok;
}

bool SettingsStore::writeFile(const std::string& text) {
    std::error_code error;
    fs::path target = file_;
    // Keep a linked settings file (a dotfile manager's) linked: replace the
    // file it points to.
    if (fs::is_symlink(file_, error)) {
        const fs::path resolved = fs::weakly_canonical(file_, error);
        if (!error) target = resolved;
    }
    const fs::path folder = target.parent_path();
    if (!folder.empty()) {
        fs::create_directories(folder, error);
        if (error) {
            reportWriteFailure(folder.string() + ": " + error.message());
            return false;
        }
    }

    // A new file is private to the user; an existing one keeps its permissions.
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? existing.st_mode : 0600;
    if (!writeFileAtomically(target, text, mode)) {
        reportWriteFailure(target.string() + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

void SettingsStore::reportWriteFailure(const std::string& what) {
    {
        std::scoped_lock lock(mutex_);
        if (failureLogged_) return;
        failureLogged_ = true;
    }
    log("Crestline: instellingen niet op te slaan (" + what + "); ze blijven in het geheugen");
}

}  // namespace crestline

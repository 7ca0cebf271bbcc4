#include "live/live_set_reader.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>
#include <utility>

#include "live/live_window_title.h"
#include "platform/files.h"

namespace crestline::LiveSetReader {
namespace {

constexpr double kOpenSetTimeoutSeconds = 0.5;
constexpr size_t kGzipHeaderBytes = 10;
constexpr size_t kGzipTrailerBytes = 8;
constexpr size_t kInflateChunk = 256 * 1024;
constexpr size_t kFirstInflateChunk = 16 * 1024;
// Live's XML shrinks about 10 to 30 times; the trailer's size (which may lie)
// is trusted up to this ratio when reserving memory, and the buffer grows
// past it as the data demand.
constexpr std::uint64_t kTrustedDeflateRatio = 64;

size_t find(std::string_view text, std::string_view what, size_t from) {
    return from > text.size() ? std::string_view::npos : text.find(what, from);
}

std::optional<std::string> inflateRaw(std::string_view data, std::uint64_t sizeHint) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
    std::string out;
    const auto reserved =
        static_cast<size_t>(std::min({sizeHint, data.size() * kTrustedDeflateRatio, kMaxDecompressedBytes}));
    out.reserve(reserved);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());  // at most 64 MiB, fits
    // Every chunk is zero-filled before inflate writes it: chunks start at
    // the reserved size (small for a small set) and double, so the filling
    // never costs more than the output itself.
    size_t nextChunk = std::clamp(reserved, kFirstInflateChunk, kInflateChunk);
    int status = Z_OK;
    while (status == Z_OK) {
        const size_t filled = out.size();
        if (filled >= kMaxDecompressedBytes) break;
        const size_t chunk = std::min<size_t>(nextChunk, kMaxDecompressedBytes - filled);
        nextChunk = std::min(2 * chunk, kInflateChunk);
        out.resize(filled + chunk);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + filled);
        stream.avail_out = static_cast<uInt>(chunk);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(filled + (chunk - stream.avail_out));
        // Z_BUF_ERROR with input left means only that the output was full.
        if (status == Z_BUF_ERROR && stream.avail_in > 0 && stream.avail_out == 0) status = Z_OK;
    }
    inflateEnd(&stream);
    // Only a stream that reached its end is a whole document; a truncated or
    // oversized one is not the set.
    if (status != Z_STREAM_END || out.empty()) return std::nullopt;
    return out;
}

// Skips a zero-terminated header field; the result may pass the end.
size_t skipZeroTerminated(std::string_view bytes, size_t start) {
    while (start < bytes.size() && bytes[start] != '\0') ++start;
    return start + 1;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The text between `open` and the first `close` after it; empty when either
// is missing.
std::string_view section(std::string_view text, std::string_view open, std::string_view close) {
    const size_t at = text.find(open);
    if (at == std::string_view::npos) return {};
    const size_t start = at + open.size();
    const size_t end = find(text, close, start);
    if (end == std::string_view::npos) return {};
    return text.substr(start, end - start);
}

// A beat as the set stores it: a number, finite, in a sane range.
std::optional<double> beatValue(std::optional<std::string> text) {
    if (!text) return std::nullopt;
    const auto number = parseNumber(*text);
    if (!number || std::fabs(*number) > kMaxBeat) return std::nullopt;
    return number;
}

}  // namespace

std::optional<std::string> openSetPath(int pid) { return openSetPath(pid, accessibility()); }

std::optional<std::string> openSetPath(int pid, Accessibility& layer) {
    const AXElementRef app = layer.application(pid);
    if (!app) return std::nullopt;
    app->setMessagingTimeout(kOpenSetTimeoutSeconds);
    const auto windows = axElements(*app, "AXWindows");
    if (!windows) return std::nullopt;
    for (const auto& window : *windows) {
        if (!window) continue;
        const auto document = axString(*window, "AXDocument");
        if (!document) continue;
        const auto path = documentPath(*document);
        if (!path) continue;
        const std::string_view name = std::string_view(*path).substr(path->rfind('/') + 1);
        const auto dot = name.rfind('.');
        if (dot != std::string_view::npos && dot > 0 && name.substr(dot + 1) == "als") return path;
    }
    return openSetPathFromTitle(pid, layer);
}

std::optional<std::string> openSetPathFromTitle(int pid, Accessibility& layer) {
    const auto titled = LiveWindowTitle::openSet(pid, layer);
    if (!titled) return std::nullopt;
    // The search lists folders: do it once per title, and again only when
    // the file found has gone.
    static std::mutex mutex;
    static std::optional<std::pair<LiveWindowTitle::TitledSet, std::filesystem::path>> last;
    LiveWindowTitle::TitledSet key = *titled;
    key.unsavedChanges = false;  // the star comes and goes with every edit
    {
        std::scoped_lock held(mutex);
        std::error_code error;
        if (last && last->first == key && std::filesystem::is_regular_file(last->second, error)) {
            return last->second.string();
        }
    }
    const auto found = LiveWindowTitle::findSetFile(key);
    if (!found) return std::nullopt;
    std::scoped_lock held(mutex);
    last = std::pair{key, *found};
    return found->string();
}

std::optional<LiveSet> read(const std::filesystem::path& path) {
    FileStamp stamp;
    const auto bytes = readFileBytes(path, kMaxCompressedBytes, &stamp);
    if (!bytes) return std::nullopt;
    auto text = gunzip(*bytes);
    if (!text) return std::nullopt;
    LiveSet set;
    set.path = path.string();
    set.modified = stamp.modified;
    set.locators = locators(*text);
    set.signatures = signatures(*text);
    set.savedBeat = savedBeat(*text);
    return set;
}

std::optional<std::string> gunzippedText(const std::filesystem::path& path) {
    const auto bytes = readFileBytes(path, kMaxCompressedBytes);
    if (!bytes) return std::nullopt;
    return gunzip(*bytes);
}

std::optional<std::string> gunzip(std::string_view bytes) {
    const size_t length = bytes.size();
    if (length <= kGzipHeaderBytes + kGzipTrailerBytes || length > kMaxCompressedBytes) return std::nullopt;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (byte(0) != 0x1F || byte(1) != 0x8B || byte(2) != 8) return std::nullopt;
    const unsigned flags = byte(3);
    size_t start = kGzipHeaderBytes;
    if ((flags & 4u) != 0) {  // FEXTRA
        if (length < 13) return std::nullopt;
        start = 12 + byte(10) + 256u * byte(11);
    }
    if ((flags & 8u) != 0) start = skipZeroTerminated(bytes, start);   // FNAME
    if ((flags & 16u) != 0) start = skipZeroTerminated(bytes, start);  // FCOMMENT
    if ((flags & 2u) != 0) start += 2;                                 // FHCRC
    if (start >= length - kGzipTrailerBytes) return std::nullopt;
    const std::uint64_t isize = byte(length - 4) | (byte(length - 3) << 8) |
                                (static_cast<std::uint64_t>(byte(length - 2)) << 16) |
                                (static_cast<std::uint64_t>(byte(length - 1)) << 24);
    auto decoded = inflateRaw(bytes.substr(start, length - kGzipTrailerBytes - start), isize);
    if (!decoded) return std::nullopt;
    return repairedUtf8(*decoded);
}

std::optional<std::string> value(std::string_view tag, std::string_view element) {
    std::string open = "<";
    open.append(tag);
    open.push_back(' ');
    const size_t tagAt = element.find(open);
    if (tagAt == std::string_view::npos) return std::nullopt;
    static constexpr std::string_view kValue = "Value=\"";
    const size_t valueAt = find(element, kValue, tagAt + open.size());
    if (valueAt == std::string_view::npos) return std::nullopt;
    const size_t begin = valueAt + kValue.size();
    const size_t end = find(element, "\"", begin);
    if (end == std::string_view::npos) return std::nullopt;
    return decodedEntities(element.substr(begin, end - begin));
}

std::vector<LiveSet::Locator> locators(std::string_view text) {
    std::vector<LiveSet::Locator> result;
    const std::string_view list = section(text, "<Locators>", "</Locators>");
    static constexpr std::string_view kEnd = "</Locator>";
    size_t at = 0;
    for (;;) {
        // The earlier of "<Locator " and "<Locator>", so that neither form
        // hides elements of the other.
        const size_t spaced = find(list, "<Locator ", at);
        const size_t bare = find(list, "<Locator>", at);
        const size_t tag = std::min(spaced, bare);
        if (tag == std::string_view::npos) break;
        const size_t tagEnd = find(list, ">", tag);  // the opening tag ends at its first ">"
        if (tagEnd == std::string_view::npos) break;
        const size_t end = find(list, kEnd, tagEnd + 1);
        if (end == std::string_view::npos) break;
        const std::string_view element = list.substr(tagEnd + 1, end - tagEnd - 1);
        at = end + kEnd.size();
        const auto beat = beatValue(value("Time", element));
        if (!beat) continue;
        result.push_back({*beat, value("Name", element).value_or(std::string())});
    }
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.beat < b.beat; });
    return result;
}

std::vector<LiveSet::Signature> signatures(std::string_view text) {
    std::vector<LiveSet::Signature> result;
    const std::string_view list = section(text, "<TimeSignatures>", "</TimeSignatures>");
    static constexpr std::string_view kOpen = "<RemoteableTimeSignature";
    static constexpr std::string_view kEnd = "</RemoteableTimeSignature>";
    size_t at = 0;
    for (;;) {
        const size_t tag = find(list, kOpen, at);
        if (tag == std::string_view::npos) break;
        const size_t end = find(list, kEnd, tag + kOpen.size());
        if (end == std::string_view::npos) break;
        const std::string_view element = list.substr(tag + kOpen.size(), end - tag - kOpen.size());
        at = end + kEnd.size();
        const auto numeratorText = value("Numerator", element);
        const double numerator = numeratorText ? parseNumber(*numeratorText).value_or(0.0) : 0.0;
        // Live writes the set's opening signature at a time far before the
        // arrangement start (-63072000). Dropping it as out of range would
        // lose the song's metre, so a finite time is clamped into range
        // instead: order and "before the start" are all that count there.
        const auto time = value("Time", element);
        const auto parsed = time ? parseNumber(*time) : std::nullopt;
        const auto beat = parsed ? std::optional(std::clamp(*parsed, -kMaxBeat, kMaxBeat)) : std::nullopt;
        // A numerator is a whole count of beats; anything else is not a
        // signature Live wrote.
        if (!beat || numerator < 1.0 || numerator > 99.0 || std::floor(numerator) != numerator) continue;
        result.push_back({*beat, numerator});
    }
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.beat < b.beat; });
    return result;
}

std::optional<double> savedBeat(std::string_view text) {
    static constexpr std::string_view kTag = "<CurrentTime Value=\"";
    const size_t at = text.find(kTag);
    if (at == std::string_view::npos) return std::nullopt;
    const size_t begin = at + kTag.size();
    const size_t end = find(text, "\"", begin);
    if (end == std::string_view::npos) return std::nullopt;
    return beatValue(std::string(text.substr(begin, end - begin)));
}

std::string decodedEntities(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '&') {
            bool replaced = false;
            for (const auto& [entity, character] : kEntities) {
                if (text.substr(i, entity.size()) == entity) {
                    out.push_back(character);
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
            if (replaced) continue;
        }
        out.push_back(text[i++]);
    }
    return out;
}

std::optional<double> parseNumber(std::string_view text) {
    // A leading plus is a valid sign for people; from_chars knows only minus.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) return std::nullopt;
    }
    double number = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

std::string repairedUtf8(std::string_view bytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            // XML is mostly ASCII: copy the whole run at once.
            size_t end = i + 1;
            while (end < n && static_cast<unsigned char>(bytes[end]) < 0x80) ++end;
            out.append(bytes.substr(i, end - i));
            i = end;
            continue;
        }
        size_t need = 0;
        unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            if (b0 == 0xE0) low = 0xA0;   // no overlong forms
            if (b0 == 0xED) high = 0x9F;  // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            if (b0 == 0xF0) low = 0x90;
            if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            out.append(kReplacement);
            ++i;
            continue;
        }
        // The longest valid prefix of a broken sequence counts as one error.
        size_t good = 1;
        while (good <= need && i + good < n) {
            const auto b = static_cast<unsigned char>(bytes[i + good]);
            const unsigned char lo = good == 1 ? low : 0x80;
            const unsigned char hi = good == 1 ? high : 0xBF;
            if (b < lo || b > hi) break;
            ++good;
        }
        if (good == need + 1) {
            out.append(bytes.substr(i, good));
        } else {
            out.append(kReplacement);
        }
        i += good;
    }
    return out;
}

std::optional<std::string> documentPath(std::string_view url) {
    std::string_view path;
    if (url.substr(0, 7) == "file://") {
        std::string_view rest = url.substr(7);
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && host != "localhost") return std::nullopt;
        path = rest.substr(slash);
    } else if (!url.empty() && url.front() == '/') {
        path = url;
    } else {
        return std::nullopt;
    }
    // A query or fragment is not part of a file's path.
    path = path.substr(0, path.find_first_of("?#"));
    std::string out;
    out.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            out.push_back(path[i]);
            continue;
        }
        if (i + 2 >= path.size()) return std::nullopt;
        const int hi = hexDigit(path[i + 1]), lo = hexDigit(path[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    if (out.find('\0') != std::string::npos) return std::nullopt;
    return out;
}

}  // namespace crestline::LiveSetReader

// Reads the set that Live has open: its path from Live's windows, and from
// the file (gzip-compressed XML) the locators, time signatures and saved
// play-head position. No XML tree is built: the text is decompressed once
// and scanned forward for a few fixed tags.
//
// Stateless; any thread. The application runs it on its set-reading queue
// and only when the set's path or modification date changed. Every failure
// answers nothing (or an empty list) without a message.
//
// Cost: one read() of the file (at most 64 MiB), a streaming inflate into a
// buffer that grows as needed (at most 256 MiB), and linear substring scans.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live/live_set.h"
#include "platform/accessibility.h"

namespace crestline::LiveSetReader {

inline constexpr std::uint64_t kMaxCompressedBytes = 64ull << 20;
inline constexpr std::uint64_t kMaxDecompressedBytes = 256ull << 20;
// Beats beyond this are not a position in any real arrangement.
inline constexpr double kMaxBeat = 1e7;

// The path of the set shown by one of Live's windows ("AXDocument" naming an
// .als file), asked with a 0.5-second time-out; nothing for an unsaved set.
// Where the windows know no document (Live under Wine on X11), the set named
// by the main window's title, found as `openSetPathFromTitle` says.
std::optional<std::string> openSetPath(int pid);
std::optional<std::string> openSetPath(int pid, Accessibility& layer);
// The file of the set in the title of Live's main window
// (LiveWindowTitle::findSetFile), remembered per title while it exists.
std::optional<std::string> openSetPathFromTitle(int pid, Accessibility& layer);

std::optional<LiveSet> read(const std::filesystem::path& path);

// The file's decompressed text; invalid UTF-8 is replaced by U+FFFD.
std::optional<std::string> gunzippedText(const std::filesystem::path& path);
// The same over bytes in memory (one gzip member; the trailer's CRC and size
// are not trusted or checked). The deflate stream must end within the data.
std::optional<std::string> gunzip(std::string_view bytes);

// The Value attribute of the first <tag ...> in an element, entities decoded.
std::optional<std::string> value(std::string_view tag, std::string_view element);
std::vector<LiveSet::Locator> locators(std::string_view text);
std::vector<LiveSet::Signature> signatures(std::string_view text);
std::optional<double> savedBeat(std::string_view text);

// Helpers shared with the other readers of Live's files.
// The five predefined XML entities, decoded in one pass.
std::string decodedEntities(std::string_view text);
// A whole-text floating-point number: no surrounding white space, finite.
std::optional<double> parseNumber(std::string_view text);
// Valid UTF-8 kept as is; every invalid sequence becomes U+FFFD.
std::string repairedUtf8(std::string_view bytes);
// The path of a document URL ("file:///a/b.als", percent-escapes decoded) or
// of an absolute path; nothing for other schemes or malformed escapes.
std::optional<std::string> documentPath(std::string_view url);

}  // namespace crestline::LiveSetReader

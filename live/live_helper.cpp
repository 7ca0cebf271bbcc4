#include "live/live_helper.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "live/live_places.h"
#include "platform/daw_root.h"
#include "platform/files.h"
#include "platform/log.h"

namespace crestline::LiveHelper {
namespace {

namespace fs = std::filesystem;

constexpr int kBlockRecords = 21;
constexpr int kSlots = 6;
constexpr std::size_t kMaxRecordUnits = 64;
// Further back than 19 records of the longest kind (19 × 132 bytes).
constexpr std::size_t kScanWindowBytes = 2800;
// Live's preference files are small; anything this large is not one.
constexpr std::uint64_t kMaxPreferencesBytes = 16ull << 20;
constexpr std::uint64_t kMaxScriptBytes = 4ull << 20;
constexpr mode_t kScriptMode = 0644;

std::uint32_t le32(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

bool printable(const std::u16string& text) {
    if (text.empty()) return false;
    for (const char16_t unit : text) {
        if (unit < 0x20) return false;
    }
    return true;
}

// Whether the chain of records from `start` puts its 20th record at
// `anchor`, walking the counts only. Most starts fail within a record, so
// this spares the scan an allocation per byte of its window.
bool chainReaches(std::string_view bytes, std::size_t start, std::size_t anchor) {
    std::size_t at = start;
    for (int i = 0; i < kBlockRecords - 2; ++i) {
        if (at >= anchor || anchor - at < 4) return false;
        const std::uint32_t units = le32(bytes, at);
        if (units < 1 || units > kMaxRecordUnits) return false;
        at += 4 + 2 * static_cast<std::size_t>(units);
    }
    return at == anchor;
}

// The block whose "FromPush" record starts at `anchor`, tried from `start`.
std::optional<std::vector<StringRecord>> blockAt(std::string_view bytes, std::size_t start, std::size_t anchor) {
    if (!chainReaches(bytes, start, anchor)) return std::nullopt;
    auto records = strings(bytes, start, kBlockRecords);
    if (!records) return std::nullopt;
    const auto& list = *records;
    if (list[19].offset != anchor || list[19].text != u"FromPush" || list[20].text != u"ToPush") return std::nullopt;
    for (const auto& record : list) {
        if (!printable(record.text)) return std::nullopt;
    }
    return records;
}

std::string anchorBytes() { return encoded(u"FromPush"); }

std::function<void()>& beforeReplaceHook() {
    static std::function<void()> hook;
    return hook;
}

std::filesystem::path executableFolder() {
    std::error_code error;
    const auto self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

}  // namespace

std::string Registration::text() const {
    switch (kind) {
    case Kind::added: return "added(slot: " + std::to_string(slot) + ")";
    case Kind::present: return "present";
    case Kind::noFreeSlot: return "noFreeSlot";
    case Kind::unrecognised: return "unrecognised";
    }
    return "unrecognised";
}

std::optional<fs::path> preferencesFolder() { return LivePlaces::newestPreferencesFolder(); }

fs::path userLibrary() { return LivePlaces::userLibrary(); }

std::optional<fs::path> bundled() {
    static const fs::path kRelative = fs::path("LiveScript") / "Crestline" / "__init__.py";
    std::vector<fs::path> candidates;
    if (const char* dir = std::getenv("CRESTLINE_RESOURCE_DIR"); dir != nullptr && dir[0] != '\0') {
        candidates.push_back(fs::path(dir) / kRelative);
    } else if (const auto exe = executableFolder(); !exe.empty()) {
        candidates.push_back(exe.parent_path() / "share" / "crestline" / kRelative);
    }
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
}

fs::path installedScript() { return userLibrary() / "Remote Scripts" / "Crestline" / "__init__.py"; }

void install() {
    // Without Live's files under the root there is no User Library that
    // Live would read: making one would only leave folders behind.
    if (const auto places = LivePlaces::find(); places.layout == LivePlaces::Layout::none) {
        throw std::system_error(ENOENT, std::generic_category(), places.layoutWhy);
    }
    const auto source = bundled();
    if (!source) throw std::system_error(ENOENT, std::generic_category(), "the helper script is not in the resources");
    const fs::path dest = installedScript();
    fs::create_directories(dest.parent_path());
    const auto bytes = readFileBytes(*source, kMaxScriptBytes);
    if (!bytes) throw std::system_error(errno ? errno : EIO, std::generic_category(), "cannot read " + source->string());
    if (!writeFileAtomically(dest, *bytes, kScriptMode)) {
        throw std::system_error(errno ? errno : EIO, std::generic_category(), "cannot write " + dest.string());
    }
    // Live would otherwise keep running the byte code of the old script.
    std::error_code ignored;
    fs::remove_all(dest.parent_path() / "__pycache__", ignored);
}

InstallOutcome installOrUpdate() {
    const fs::path dest = installedScript();
    std::error_code error;
    if (!fs::exists(dest, error)) {
        try {
            install();
            log("Crestline: Live Helper geinstalleerd in " + dest.string());
            return InstallOutcome::installed;
        } catch (const std::exception& e) {
            log(std::string("Crestline: Live Helper installeren mislukt: ") + e.what());
            return InstallOutcome::installFailed;
        }
    }
    const auto source = bundled();
    if (!source) return InstallOutcome::nothingToCompare;
    const auto ours = readFileBytes(*source, kMaxScriptBytes);
    const auto theirs = readFileBytes(dest, kMaxScriptBytes);
    if (!ours || !theirs) return InstallOutcome::nothingToCompare;
    if (*ours == *theirs) return InstallOutcome::unchanged;
    try {
        install();
        log("Crestline: Live Helper bijgewerkt in " + dest.string());
        return InstallOutcome::updated;
    } catch (const std::exception& e) {
        log(std::string("Crestline: Live Helper bijwerken mislukt: ") + e.what());
        return InstallOutcome::updateFailed;
    }
}

std::string encoded(std::u16string_view text) {
    std::string out;
    const auto count = static_cast<std::uint32_t>(text.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
    for (const char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

std::optional<std::vector<StringRecord>> strings(std::string_view bytes, std::size_t start, int count) {
    std::vector<StringRecord> records;
    records.reserve(static_cast<std::size_t>(std::max(count, 0)));
    std::size_t at = start;
    for (int i = 0; i < count; ++i) {
        if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
        const std::uint32_t units = le32(bytes, at);
        if (units < 1 || units > kMaxRecordUnits) return std::nullopt;
        const std::size_t textBytes = 2 * static_cast<std::size_t>(units);
        if (bytes.size() - at - 4 < textBytes) return std::nullopt;
        StringRecord record;
        record.offset = at;
        record.text.reserve(units);
        for (std::size_t u = 0; u < units; ++u) {
            const auto lo = static_cast<unsigned char>(bytes[at + 4 + 2 * u]);
            const auto hi = static_cast<unsigned char>(bytes[at + 5 + 2 * u]);
            record.text.push_back(static_cast<char16_t>(lo | hi << 8));
        }
        records.push_back(std::move(record));
        at += 4 + textBytes;
    }
    return records;
}

std::optional<std::vector<StringRecord>> controlSurfaces(std::string_view bytes) {
    const std::string anchor = anchorBytes();
    std::optional<std::vector<StringRecord>> kept;
    // A record's count is below 65, so its upper three bytes are zero: only
    // the byte before three zeros can start the chain, and the library's
    // search finds those far faster than a test of every start.
    static constexpr std::string_view kCountHigh("\0\0\0", 3);
    for (std::size_t p = bytes.find(anchor); p != std::string_view::npos; p = bytes.find(anchor, p + 1)) {
        const std::size_t first = p > kScanWindowBytes ? p - kScanWindowBytes : 0;
        for (std::size_t z = bytes.find(kCountHigh, first + 1); z != std::string_view::npos && z - 1 < p;
             z = bytes.find(kCountHigh, z + 1)) {
            auto block = blockAt(bytes, z - 1, p);
            if (!block) continue;
            if (kept) return std::nullopt;  // two blocks: we cannot tell which is Live's
            kept = std::move(block);
        }
    }
    return kept;
}

Edit edit(std::string_view bytes) {
    const auto block = controlSurfaces(bytes);
    if (!block) return {Registration::unrecognised(), {}};

    int freeSlot = 0;
    for (int slot = 1; slot <= kSlots; ++slot) {
        const auto& name = (*block)[static_cast<std::size_t>(3 * slot - 3)].text;
        if (name == kScriptName) return {Registration::present(), {}};
        if (freeSlot == 0 && name == u"None") freeSlot = slot;
    }
    if (freeSlot == 0) return {Registration::noFreeSlot(), {}};

    const std::size_t index = static_cast<std::size_t>(3 * freeSlot - 3);
    const std::size_t offset = (*block)[index].offset;
    const std::string none = encoded(u"None");
    if (bytes.substr(offset, none.size()) != none) return {Registration::unrecognised(), {}};
    std::string edited(bytes);
    edited.replace(offset, none.size(), encoded(kScriptName));

    // The edit must read back as the same block with only that slot changed.
    const auto after = controlSurfaces(edited);
    if (!after) return {Registration::unrecognised(), {}};
    for (std::size_t i = 0; i < after->size(); ++i) {
        const auto& expected = i == index ? std::u16string(kScriptName) : (*block)[i].text;
        if ((*after)[i].text != expected) return {Registration::unrecognised(), {}};
    }
    return {Registration::added(freeSlot), std::move(edited)};
}

Status status(const std::optional<fs::path>& given) {
    const auto folder = given ? given : preferencesFolder();
    if (!folder) return {Status::Kind::unrecognised, 0, "no preferences folder"};
    const fs::path file = *folder / "Preferences.cfg";
    const auto bytes = readFileBytes(file, kMaxPreferencesBytes);
    if (!bytes) return {Status::Kind::unrecognised, 0, "cannot read " + file.string()};
    const auto block = controlSurfaces(*bytes);
    if (!block) return {Status::Kind::unrecognised, 0, "no single Control Surface block in " + file.string()};
    int freeSlot = 0;
    for (int slot = 1; slot <= kSlots; ++slot) {
        const auto& name = (*block)[static_cast<std::size_t>(3 * slot - 3)].text;
        if (name == kScriptName) return {Status::Kind::registered, slot, {}};
        if (freeSlot == 0 && name == u"None") freeSlot = slot;
    }
    if (freeSlot == 0) return {Status::Kind::noFreeSlot, 0, {}};
    return {Status::Kind::notRegistered, freeSlot, {}};
}

Registration registerIn(const std::optional<fs::path>& given) {
    const auto folder = given ? given : preferencesFolder();
    if (!folder) return Registration::unrecognised();
    const fs::path file = *folder / "Preferences.cfg";
    FileStamp stamp;
    const auto bytes = readFileBytes(file, kMaxPreferencesBytes, &stamp);
    if (!bytes) return Registration::unrecognised();
    const auto [outcome, edited] = edit(*bytes);
    if (outcome.kind != Registration::Kind::added) return outcome;

    // Keep the user's file as it was before our first edit. A backup that
    // cannot be made stops the edit: we never change the file without one.
    const fs::path backup = *folder / "Preferences.cfg.before-crestline";
    std::error_code error;
    if (!fs::exists(backup, error)) {
        if (error || !writeFileAtomically(backup, *bytes, stamp.mode, false)) {
            if (!fs::exists(backup, error)) return Registration::unrecognised();
        }
    }

    if (beforeReplaceHook()) beforeReplaceHook()();
    // Live may have rewritten its preferences meanwhile: then our edit is of
    // an old file and must not replace the new one.
    const auto now = fileStamp(file);
    if (!now || now->size != stamp.size || now->modified != stamp.modified) return Registration::unrecognised();
    if (!writeFileAtomically(file, edited, stamp.mode)) return Registration::unrecognised();
    return outcome;
}

void setBeforeReplaceHookForTesting(std::function<void()> hook) { beforeReplaceHook() = std::move(hook); }

}  // namespace crestline::LiveHelper

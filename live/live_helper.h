// Installs the helper Remote Script into Live's User Library and registers
// it in one of Live's Control Surface slots by editing Live's
// Preferences.cfg, so that Live loads it as it starts. Stateless.
//
// The edit of another program's file is guarded: the Control Surface block
// must be found exactly once, the edited bytes must parse back to the same
// block with only the one slot changed, a backup of the unedited file must
// exist (made atomically, once), and the file must still be the one we read
// (size and modification date) just before it is replaced atomically with
// its permission bits kept. Anything else leaves the file untouched and
// answers `unrecognised`.
//
// Main thread at launch, or whatever thread the application uses while Live
// is not running; file work only, no locks.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crestline::LiveHelper {

// The Control Surface name Live lists, and the folder of the script.
inline constexpr std::u16string_view kScriptName = u"Crestline";

struct Registration {
    enum class Kind { added, present, noFreeSlot, unrecognised };
    Kind kind = Kind::unrecognised;
    int slot = 0;  // 1...6 for `added`

    static Registration added(int slot) { return {Kind::added, slot}; }
    static Registration present() { return {Kind::present, 0}; }
    static Registration noFreeSlot() { return {Kind::noFreeSlot, 0}; }
    static Registration unrecognised() { return {Kind::unrecognised, 0}; }

    // "added(slot: 2)", "present", "noFreeSlot", "unrecognised".
    std::string text() const;
    bool operator==(const Registration&) const = default;
};

// One length-prefixed UTF-16 string of Preferences.cfg.
struct StringRecord {
    std::size_t offset = 0;  // of the record's 32-bit count
    std::u16string text;
    bool operator==(const StringRecord&) const = default;
};

// What `installOrUpdate` did, for the diagnostic tool; the log says the same.
enum class InstallOutcome { installed, updated, unchanged, installFailed, updateFailed, nothingToCompare };

std::optional<std::filesystem::path> preferencesFolder();
// The User Library named by Library.cfg when that folder exists, else the
// default of the layout under the DAW root (see LivePlaces).
std::filesystem::path userLibrary();
// The script shipped with the application: "LiveScript/Crestline/__init__.py"
// under $CRESTLINE_RESOURCE_DIR when set, else under "share/crestline" next
// to the executable's folder (installed, and copied there in the build tree).
std::optional<std::filesystem::path> bundled();
// "Remote Scripts/Crestline/__init__.py" inside the User Library.
std::filesystem::path installedScript();

InstallOutcome installOrUpdate();
// Copies the script; throws std::system_error or
// std::filesystem::filesystem_error on failure, and when no Live files are
// under the DAW root at all.
void install();

// `register(in:)`: folder is a preferences folder, or nothing for the newest.
Registration registerIn(const std::optional<std::filesystem::path>& folder);

// What `registerIn` would find in a preferences folder, without writing:
// the slot that already names the script, a free slot, or neither.
struct Status {
    enum class Kind { registered, notRegistered, noFreeSlot, unrecognised };
    Kind kind = Kind::unrecognised;
    int slot = 0;     // registered: the slot naming the script; notRegistered: the slot it would take
    std::string why;  // unrecognised: what is wrong
};
Status status(const std::optional<std::filesystem::path>& folder);

// The registration of Preferences.cfg's bytes in memory: for `added`, the
// edited bytes, verified to hold the same block with only the slot changed.
struct Edit {
    Registration registration;
    std::string bytes;  // empty unless added
};
Edit edit(std::string_view bytes);

// The 21 records of the Control Surface block, or nothing when the block is
// missing or found more than once.
std::optional<std::vector<StringRecord>> controlSurfaces(std::string_view bytes);
// `count` consecutive records from byte `start`; nothing unless all parse
// (count 1...64 code units each).
std::optional<std::vector<StringRecord>> strings(std::string_view bytes, std::size_t start, int count);
std::string encoded(std::u16string_view text);

// Tests only: runs between the last check of Preferences.cfg and its
// replacement, to play Live saving at the worst moment. Empty to remove.
void setBeforeReplaceHookForTesting(std::function<void()> hook);

}  // namespace crestline::LiveHelper

// The typed key/value document behind `Settings`: one JSON file
// (settings.json), held in memory behind a mutex and written back by atomic
// replace (temporary file in the same folder, fsync, rename).
//
// Threads: any thread may read or write; every call takes the one mutex for
// a map look-up or store, never for file work. A change wakes a small writer
// thread, which writes the document after `debounceSeconds` (so the file is
// never more than about a second behind); `flush()` and the destructor write
// at once on the calling thread.
//
// Types kept: bool, integer, double, string, string array, number array,
// date and data. Dates are stored as {"date": seconds since 2001-01-01 UTC}
// and data as {"data": "<base64>"}; the rest are plain JSON values. A read of
// the wrong type answers nothing, as if the key were absent. Entries this
// build does not understand stay in the file untouched.
//
// Failures never stop the store: a file that cannot be parsed is renamed to
// settings.json.corrupt-<time> and the store starts empty; a file that
// cannot be read, or a folder that cannot be written, is logged once and the
// store keeps working in memory.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace crestline {

using SettingsDate = std::chrono::system_clock::time_point;

// The stored date number: seconds since 2001-01-01 00:00:00 UTC.
double referenceSeconds(SettingsDate date);
SettingsDate dateFromReferenceSeconds(double seconds);

class SettingsStore {
public:
    enum class Writing {
        background,  // a writer thread follows every change
        manual,      // only flush() and the destructor write (tests)
        memory,      // never writes nor moves the file: changes live in memory only
    };

    // Loads `file` at once (a missing file is an empty store). `clock` dates
    // the name of a corrupt file kept aside.
    SettingsStore(std::filesystem::path file, const Clock& clock, Writing writing = Writing::background,
                  double debounceSeconds = 0.5);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::filesystem::path& file() const { return file_; }

    bool contains(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    // Integers; a stored double with a whole value within range counts too.
    std::optional<std::int64_t> integer(std::string_view key) const;
    // Any stored number, integer or double.
    std::optional<double> number(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<std::vector<std::string>> strings(std::string_view key) const;
    // The same list handed out string by string without copies (for readers
    // that run every frame): false, and `each` never called, where
    // strings() answers nothing.
    bool eachString(std::string_view key, const std::function<void(std::string_view)>& each) const;
    std::optional<std::vector<double>> numbers(std::string_view key) const;
    std::optional<SettingsDate> date(std::string_view key) const;
    std::optional<std::string> data(std::string_view key) const;  // raw bytes

    void setBool(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    // A non-finite number cannot be stored: the key is removed instead, which
    // reads the same as the "no value" a NaN would have meant.
    void setNumber(std::string_view key, double value);
    void setString(std::string_view key, std::string_view value);
    void setStrings(std::string_view key, const std::vector<std::string>& value);
    void setNumbers(std::string_view key, const std::vector<double>& value);
    void setDate(std::string_view key, SettingsDate value);
    void setData(std::string_view key, std::string_view bytes);
    void remove(std::string_view key);

    // Writes pending changes now. True when the file holds every change made
    // before the call (nothing pending counts as success).
    bool flush();

    // Completed file writes so far, and a wait for the writer thread to reach
    // a count (false on time-out); for tests of the background writer.
    std::uint64_t writesCompleted() const;
    bool waitForWrites(std::uint64_t count, double timeoutSeconds) const;

private:
    struct Document;

    void load();
    void keepCorruptAside(const std::string& reason);
    void changed();  // caller holds mutex_
    void writerLoop();
    bool writeNow();
    bool writeFile(const std::string& text);
    void reportWriteFailure(const std::string& what);

    const std::filesystem::path file_;
    const Clock& clock_;
    const Writing writing_;
    const double debounceSeconds_;

    mutable std::mutex mutex_;  // guards doc_ and the counters below
    mutable std::condition_variable wake_;
    std::unique_ptr<Document> doc_;
    std::uint64_t changes_ = 0;    // bumped by every modification
    std::uint64_t attempted_ = 0;  // `changes_` at the last write attempt
    std::uint64_t written_ = 0;    // `changes_` held by the file
    std::uint64_t writes_ = 0;
    bool stopping_ = false;
    bool readOnly_ = false;        // never replace a file we could not read or set aside
    bool failureLogged_ = false;

    std::mutex fileMutex_;  // one writer of the file at a time; never taken under mutex_
    std::thread writer_;
};

}  // namespace crestline

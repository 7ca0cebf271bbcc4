// Small, careful file operations for other programs' files: reads with
// read() and a size cap (never a mapping of a file that its owner may be
// rewriting), modification stamps, and replacement by rename so that a
// reader never sees half a file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace crestline {

struct FileStamp {
    std::uint64_t size = 0;
    std::chrono::system_clock::time_point modified;  // content modification, nanosecond resolution
    mode_t mode = 0;                                 // permission bits
    bool operator==(const FileStamp&) const = default;
};

// Stat of a regular file (symbolic links followed); nothing for other kinds.
std::optional<FileStamp> fileStamp(const std::filesystem::path& path);

// The whole file, or nothing when it cannot be read or holds more than
// `maxBytes`. `stamp`, when given, receives the stamp of the opened file.
std::optional<std::string> readFileBytes(const std::filesystem::path& path, std::uint64_t maxBytes,
                                         FileStamp* stamp = nullptr);

// Writes `bytes` to a temporary file in the same folder, flushes it to disk
// with permission bits `mode`, and renames it over `path`. With
// `replace` false the rename fails when `path` exists (nothing is
// overwritten). False on any failure, with errno saying why; the temporary
// file is removed then.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         bool replace = true);

}  // namespace crestline

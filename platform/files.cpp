#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace crestline {
namespace {

FileStamp stampOf(const struct stat& info) {
    const auto since = std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
    return FileStamp{static_cast<std::uint64_t>(info.st_size),
                     std::chrono::system_clock::time_point(
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(since)),
                     static_cast<mode_t>(info.st_mode & 07777)};
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder) {
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace

std::optional<FileStamp> fileStamp(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return stampOf(info);
}

std::optional<std::string> readFileBytes(const std::filesystem::path& path, std::uint64_t maxBytes,
                                         FileStamp* stamp) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) return std::nullopt;
    if (stamp != nullptr) *stamp = stampOf(info);
    std::string bytes;
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t filled = 0;
    // The file may grow while we read: keep reading to its end, within the cap.
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() >= maxBytes + 1) break;
            bytes.resize(std::min<std::uint64_t>(maxBytes + 1, bytes.size() + 65536));
        }
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (got == 0) break;
        filled += static_cast<size_t>(got);
    }
    if (filled > maxBytes) return std::nullopt;
    bytes.resize(filled);
    return bytes;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode, bool replace) {
    const auto folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    // Built piecewise: GCC 12 at -O3 misreads the chained operator+ as an
    // overlapping copy (-Wrestrict).
    std::string name = ".";
    name += path.filename().string();
    name += ".XXXXXX";
    std::string pattern = (folder / name).string();
    Descriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) return false;
    const std::filesystem::path temporary = pattern;
    auto fail = [&] {
        const int cause = errno;  // callers report why it failed, not why the clean-up did
        ::unlink(temporary.c_str());
        errno = cause;
        return false;
    };
    if (::fchmod(fd.get(), mode & 07777) != 0 || !writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) return fail();
    if (::close(fd.release()) != 0) return fail();
    if (replace) {
        if (::rename(temporary.c_str(), path.c_str()) != 0) return fail();
    } else {
        // A hard link never replaces an existing name; then drop the temporary name.
        if (::link(temporary.c_str(), path.c_str()) != 0) return fail();
        ::unlink(temporary.c_str());
    }
    syncFolder(folder);
    return true;
}

}  // namespace crestline

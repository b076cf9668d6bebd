#include "anim/data_file.hpp"

#include "core/data_error.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace lumarok {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class FileHandle {
public:
    explicit FileHandle(int descriptor) : fd(descriptor) {}
    ~FileHandle() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    FileHandle(FileHandle&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle& operator=(FileHandle&&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

} // namespace

std::string fileKind(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

namespace {

[[noreturn]] void fail(const std::filesystem::path& file, const std::string& why) {
    throw DataError(file.string() + ": " + why);
}

void requireRegular(const std::filesystem::path& file, const struct stat& info,
                    std::uintmax_t limit) {
    if (!S_ISREG(info.st_mode)) {
        fail(file, "not a regular file (" + fileKind(info.st_mode) + ")");
    }
    if (static_cast<std::uintmax_t>(info.st_size) > limit) {
        fail(file, std::to_string(info.st_size) + " bytes, more than the limit of " +
                       std::to_string(limit) + " for a data file");
    }
}

// Opens a regular file within the limit without blocking; fills `info`.
FileHandle openRegular(const std::filesystem::path& file, std::uintmax_t limit, struct stat& info) {
    // Refused before opening: opening a FIFO for reading waits for a writer.
    requireRegular(file, info, limit);
    // Non-blocking, and checked again on the open file, in case it was swapped meanwhile.
    FileHandle handle(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (handle.get() < 0 || ::fstat(handle.get(), &info) != 0) {
        fail(file, std::string("cannot open: ") + std::strerror(errno));
    }
    requireRegular(file, info, limit);
    return handle;
}

} // namespace

void requireDataFile(const std::filesystem::path& file, std::uintmax_t limit) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        fail(file, std::strerror(errno));
    }
    (void)openRegular(file, limit, info);
}

std::optional<std::string> readDataFile(const std::filesystem::path& file, std::uintmax_t limit) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail(file, std::string("cannot open: ") + std::strerror(errno));
    }
    const FileHandle handle = openRegular(file, limit, info);

    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (text.size() > limit) {
                fail(file, "grew past the limit of " + std::to_string(limit) +
                               " bytes for a data file while being read");
            }
            // A file that grows while it is read: one byte past the limit is enough to tell.
            text.resize(std::min<std::uintmax_t>(text.size() * 2 + 4096, limit + 1));
        }
        const ssize_t got = ::read(handle.get(), text.data() + used, text.size() - used);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(file, std::string("cannot read: ") + std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    text.resize(used);
    if (text.starts_with(kByteOrderMark)) {
        text.erase(0, kByteOrderMark.size());
    }
    return text;
}

} // namespace lumarok

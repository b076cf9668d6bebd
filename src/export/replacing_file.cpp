#include "export/replacing_file.hpp"

#include "anim/data_file.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumarok {

namespace {

[[noreturn]] void fail(const std::filesystem::path& target, const std::string& why) {
    throw std::runtime_error("cannot write " + target.string() + ": " + why);
}

unsigned newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

} // namespace

ReplacingFile::ReplacingFile(std::filesystem::path target_) : target(std::move(target_)) {
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            fail(target, "it is " + fileKind(info.st_mode) + ", not a regular file");
        }
        mode = static_cast<unsigned>(info.st_mode) & 07777u;
    } else if (errno == ENOENT) {
        mode = newFileMode();
    } else {
        fail(target, std::strerror(errno));
    }
    // Past a file-size limit the write fails with EFBIG and the export ends in order
    // instead of the process dying halfway with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::filesystem::path directory = target.parent_path();
    std::string pattern =
        (directory / ("." + target.filename().string() + ".partial-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        fail(target, std::string("cannot create a file beside it: ") + std::strerror(errno));
    }
    ::close(fd);
    temporary = name.data();
}

ReplacingFile::~ReplacingFile() {
    if (!committed && !temporary.empty()) {
        ::unlink(temporary.c_str());
    }
}

void ReplacingFile::commit() {
    if (::chmod(temporary.c_str(), static_cast<mode_t>(mode)) != 0 ||
        ::rename(temporary.c_str(), target.c_str()) != 0) {
        fail(target, std::strerror(errno));
    }
    committed = true;
}

} // namespace lumarok

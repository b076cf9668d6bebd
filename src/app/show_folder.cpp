#include "app/show_folder.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace lumarok {

namespace {

namespace fs = std::filesystem;

// Opening alone would accept a directory named Sequence.txt; one byte is read as well.
void requireReadable(const fs::path& file) {
    const int handle = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    int error = handle < 0 ? errno : 0;
    if (handle >= 0) {
        char byte = 0;
        if (::read(handle, &byte, 1) < 0) {
            error = errno;
        }
        ::close(handle);
    }
    if (error != 0) {
        throw std::runtime_error("cannot read the show's " + file.string() + ": " +
                                 std::strerror(error));
    }
}

fs::path installedDemo(const fs::path& executable) {
    if (executable.empty()) {
        return {};
    }
    return (executable.parent_path() / ".." / "share" / "lumarok" / "demo").lexically_normal();
}

} // namespace

fs::path findShowFolder(const std::string& given, const fs::path& executable) {
    fs::path folder = given;
    if (folder.empty()) {
        std::error_code ignored;
        const fs::path demo = installedDemo(executable);
        if (fs::exists("data", ignored)) {
            folder = "data";
        } else if (!demo.empty() && fs::exists(demo, ignored)) {
            folder = demo;
        } else {
            throw std::runtime_error(
                "no show: ./data does not exist and no demo show is installed at " +
                (demo.empty() ? std::string("<prefix>/share/lumarok/demo") : demo.string()) +
                "; name one with --show DIR");
        }
    }
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        throw std::runtime_error(
            "show folder " + folder.string() + " " +
            (fs::exists(folder, error) ? "is not a folder" : "does not exist"));
    }
    requireReadable(folder / "Sequence.txt");
    return folder;
}

fs::path ownExecutable() {
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path{} : path;
}

} // namespace lumarok

#include "show/show_folder.hpp"

#include "anim/data_file.hpp"

#include <stdexcept>
#include <system_error>

namespace lumarok {

namespace {

namespace fs = std::filesystem;

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
    requireDataFile(folder / "Sequence.txt");
    return folder;
}

fs::path ownExecutable() {
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path{} : path;
}

} // namespace lumarok

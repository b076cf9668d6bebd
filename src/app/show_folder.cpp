#include "app/show_folder.hpp"

#include <system_error>

namespace lumarok {

std::filesystem::path defaultShowFolder() {
    const std::filesystem::path local("./data");
    std::error_code error;
    if (std::filesystem::is_directory(local, error)) {
        return local;
    }
    // /proc/self/exe names the executable itself, whatever the working directory or
    // the name it was started by.
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return local;
    }
    const std::filesystem::path installed =
        (program.parent_path() / ".." / "share" / "lumarok" / "demo").lexically_normal();
    return std::filesystem::is_directory(installed, error) ? installed : local;
}

} // namespace lumarok

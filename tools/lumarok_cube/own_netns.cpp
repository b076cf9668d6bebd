#include "own_netns.hpp"

#include <filesystem>

#include <sys/stat.h>

namespace lumarok::cube {

std::string ownNetnsName() {
    struct stat own {};
    if (::stat("/proc/self/ns/net", &own) != 0) {
        return {};
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
        struct stat named {};
        if (::stat(entry.path().c_str(), &named) == 0 && named.st_dev == own.st_dev &&
            named.st_ino == own.st_ino) {
            return entry.path().filename().string();
        }
    }
    return {};
}

} // namespace lumarok::cube

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/types.h>

namespace lumarok {

// No show data file may be larger than this. The demo show's largest file has
// 160 KB; the limit also bounds what the JSON reader builds from one file.
inline constexpr std::uintmax_t kMaxDataFileBytes = std::uintmax_t{16} << 20;

// The whole text of a show data file, std::nullopt when it does not exist. A
// leading UTF-8 byte-order mark is dropped. Throws DataError naming the file when
// it is not a regular file (a FIFO, device, directory or socket, also behind a
// link), is larger than `limit`, or cannot be opened or read.
std::optional<std::string> readDataFile(const std::filesystem::path& file,
                                        std::uintmax_t limit = kMaxDataFileBytes);

// Throws DataError naming the file unless it is a regular file within `limit` that
// can be opened for reading. Reads nothing, and never waits on a FIFO.
void requireDataFile(const std::filesystem::path& file, std::uintmax_t limit = kMaxDataFileBytes);

// What a file that is not a regular one is, for messages: "a directory", "a FIFO",
// "a device", "a socket" or "not a regular file".
[[nodiscard]] std::string fileKind(mode_t mode);

} // namespace lumarok

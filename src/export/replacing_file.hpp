#pragma once

#include <filesystem>

namespace lumarok {

// An output file written whole or not at all: the writer fills temporaryPath(), a new
// file beside the target, and commit() renames it over the target. Until then the
// target keeps its old content; destroyed without commit (an error, an interrupted
// export) the temporary file is removed. A target that exists and is not a regular
// file (a FIFO, a device, a directory, a socket) is refused before anything is made.
// While one exists, a file-size limit fails a write instead of killing the process.
class ReplacingFile final {
public:
    // Throws std::runtime_error naming the target when it is refused or the
    // temporary file cannot be made.
    explicit ReplacingFile(std::filesystem::path target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    [[nodiscard]] const std::filesystem::path& temporaryPath() const { return temporary; }

    // Puts the finished file in place with the target's permissions (a new target
    // gets the usual 0666 less the umask). Throws naming the target on failure.
    void commit();

private:
    std::filesystem::path target;
    std::filesystem::path temporary;
    unsigned mode = 0;
    bool committed = false;
};

} // namespace lumarok

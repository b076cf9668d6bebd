#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumarok::test {

struct ProcessResult {
    int exitCode = -1; // -1 when ended by a signal
    int signal = 0;    // the ending signal, 0 when it exited
    bool timedOut = false;
    std::string out; // standard output
    std::string err; // standard error
};

struct ProcessOptions {
    std::filesystem::path workingDirectory;
    // Variables to set; a std::nullopt value removes the variable.
    std::map<std::string, std::optional<std::string>> environment;
    std::chrono::milliseconds timeout{60000}; // then SIGKILL
};

// Runs a program to its end, collecting both output streams.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options);

// A fresh directory under the system's temporary directory, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return dir; }
    // The path of `name` inside it.
    [[nodiscard]] std::string operator/(const std::string& name) const {
        return (dir / name).string();
    }

private:
    std::filesystem::path dir;
};

} // namespace lumarok::test

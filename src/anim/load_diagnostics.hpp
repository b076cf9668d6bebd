#pragma once

#include <cstddef>
#include <string>

namespace lumarok {

// Messages about a damaged file shown while it loads: the first few only, so that
// a corrupt file cannot flood the terminal or a log.
inline constexpr std::size_t kShownMessagesPerFile = 5;

// While one of these lives, dataMessage() on its thread counts against its file:
// past kShownMessagesPerFile the messages are only counted, and the destructor
// prints how many were held back. Scopes nest (a scene file read while the
// sequence is being read counts on its own). Thread: the loading thread only.
class LoadDiagnostics {
public:
    explicit LoadDiagnostics(std::string file);
    ~LoadDiagnostics();
    LoadDiagnostics(const LoadDiagnostics&) = delete;
    LoadDiagnostics& operator=(const LoadDiagnostics&) = delete;

private:
    friend void dataMessage(const char* format, ...);
    std::string fileName;
    std::size_t count = 0;
    LoadDiagnostics* outer;
};

// Prints a printf-style message on standard output, limited by the innermost
// LoadDiagnostics of this thread; without one every message is printed.
[[gnu::format(printf, 1, 2)]] void dataMessage(const char* format, ...);

} // namespace lumarok

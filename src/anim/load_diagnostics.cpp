#include "anim/load_diagnostics.hpp"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace lumarok {

namespace {
// The innermost scope of each loading thread. Not storage kept between frames but the
// limit of the file being read now, asked by messages deep inside the decoders; per
// thread so that files read at the same time on several threads count each on its own.
thread_local LoadDiagnostics* gCurrentDiagnostics = nullptr;
} // namespace

LoadDiagnostics::LoadDiagnostics(std::string file)
    : fileName(std::move(file)), outer(gCurrentDiagnostics) {
    gCurrentDiagnostics = this;
}

LoadDiagnostics::~LoadDiagnostics() {
    gCurrentDiagnostics = outer;
    if (count > kShownMessagesPerFile) {
        std::printf("%s: %zu more messages like these not shown\n", fileName.c_str(),
                    count - kShownMessagesPerFile);
    }
}

void dataMessage(const char* format, ...) {
    LoadDiagnostics* const scope = gCurrentDiagnostics;
    if (scope != nullptr && ++scope->count > kShownMessagesPerFile) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

} // namespace lumarok

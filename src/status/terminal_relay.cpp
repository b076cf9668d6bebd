#include "status/terminal_relay.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace lumarok {

namespace {

bool sameTerminal(int a, int b) {
    struct stat first {};
    struct stat second {};
    return ::isatty(b) == 1 && ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 &&
           first.st_rdev == second.st_rdev;
}

} // namespace

TerminalRelay::TerminalRelay() {
    int ends[2] = {-1, -1};
    if (::pipe(ends) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot make a pipe for stderr");
    }
    std::fflush(stderr);
    std::fflush(stdout);
    terminal = ::dup(STDERR_FILENO);
    pipeRead = ends[0];
    if (sameTerminal(STDERR_FILENO, STDOUT_FILENO)) {
        // Its buffering stays as it was (the program flushes what it prints there).
        savedStdout = ::dup(STDOUT_FILENO);
        ::dup2(ends[1], STDOUT_FILENO);
    }
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);
    thread = std::thread(&TerminalRelay::relay, this);
}

TerminalRelay::~TerminalRelay() {
    std::fflush(stdout);
    std::fflush(stderr);
    // Back to the terminal: the pipe's last writer goes, and the relay sees its end.
    ::dup2(terminal, STDERR_FILENO);
    if (savedStdout >= 0) {
        ::dup2(savedStdout, STDOUT_FILENO);
        ::close(savedStdout);
    }
    if (thread.joinable()) {
        thread.join();
    }
    {
        const std::lock_guard lock(mutex);
        if (shown) {
            writeAll("\n");
        }
    }
    ::close(pipeRead);
    ::close(terminal);
}

void TerminalRelay::writeAll(const std::string& text) const {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(terminal, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return; // the terminal is gone: nothing to tell it any more
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void TerminalRelay::show(const std::string& line) {
    const std::lock_guard lock(mutex);
    status = line;
    shown = true;
    // Back to the line's start, then clear what a longer earlier line left.
    writeAll("\r" + status + "\x1b[K");
}

void TerminalRelay::writeLine(const std::string& text) {
    if (!shown) {
        writeAll(text);
        return;
    }
    writeAll("\r\x1b[K" + text + "\r" + status + "\x1b[K");
}

void TerminalRelay::relay() {
    std::string pending;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(pipeRead, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        pending.append(chunk, static_cast<std::size_t>(got));
        const std::size_t end = pending.rfind('\n');
        if (end != std::string::npos) {
            const std::lock_guard lock(mutex);
            writeLine(pending.substr(0, end + 1));
            pending.erase(0, end + 1);
        }
    }
    if (!pending.empty()) {
        const std::lock_guard lock(mutex);
        writeLine(pending + "\n");
    }
}

} // namespace lumarok

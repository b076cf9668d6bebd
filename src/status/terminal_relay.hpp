#pragma once

#include <mutex>
#include <string>
#include <thread>

namespace lumarok {

// Keeps a status line at the bottom of a terminal while any thread (or library) writes
// lines to stderr, and to stdout when that is the same terminal: those descriptors are
// turned into a pipe whose complete lines this relays, each on a line of its own above
// the status line, which it then draws again. Without it a log line would run into the
// status line. Thread: construct and destroy on one thread; show() from any.
class TerminalRelay {
public:
    // Throws std::system_error when the pipe cannot be made.
    TerminalRelay();
    // Gives the descriptors back, relays what is left and leaves the status line with a
    // line break.
    ~TerminalRelay();
    TerminalRelay(const TerminalRelay&) = delete;
    TerminalRelay& operator=(const TerminalRelay&) = delete;

    // Draws the status line (no line break) in place of the last one.
    void show(const std::string& line);

private:
    void relay();
    // Under the mutex: `text` on a line of its own, then the status line again.
    void writeLine(const std::string& text);
    void writeAll(const std::string& text) const;

    int terminal = -1;    // the terminal, a descriptor of its own
    int savedStdout = -1; // stdout before, when it was turned too; else -1
    int pipeRead = -1;
    std::mutex mutex;
    std::string status; // under mutex
    bool shown = false; // under mutex
    std::thread thread;
};

} // namespace lumarok

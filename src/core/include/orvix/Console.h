#pragma once
// The core's two output channels.
//
// Console lines are the ones the screen prints on standard output: the chosen
// file's URL, "Error happend", the five-line block of the disease stage. The
// window leaves them on standard output; the batch tool points them elsewhere so
// that its standard output carries only results.
//
// Diagnostics are extra lines for people (why a file could not be read, say);
// they go to standard error unless redirected.

#include <ostream>
#include <mutex>
#include <string_view>

namespace orvix {

// nullptr discards. The stream must outlive its use. These settings are for the whole
// process and unguarded: make them before other threads print.
void setConsoleStream(std::ostream* stream);
void setDiagnosticStream(std::ostream* stream);

// While one lives, the lines of both channels that its own thread prints are discarded;
// other threads print as set above. For a worker thread that reports its results by other
// means. Create and destroy it on the same thread; they nest.
class ThreadConsoleSilence {
public:
    ThreadConsoleSilence();
    ~ThreadConsoleSilence();
    ThreadConsoleSilence(const ThreadConsoleSilence&) = delete;
    ThreadConsoleSilence& operator=(const ThreadConsoleSilence&) = delete;
};

void printConsoleLine(std::string_view line);
void printDiagnostic(std::string_view line);

// Held while a line is written, and by code that points std::cerr elsewhere for a moment
// (the decoder catching a library's complaint on another thread), so that neither ever
// sees the other's text.
std::mutex& consoleMutex();

}  // namespace orvix

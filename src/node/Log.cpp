#include "Log.h"

#include <iostream>
#include <mutex>

#include "orvix/Console.h"

namespace orvix::node {

void logLine(Level level, const std::string& text) {
    // A line feed inside a message (a library's text) would start a line without a priority.
    std::string line = "<" + std::to_string(static_cast<int>(level)) + ">";
    for (const char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    // The decoder points std::cerr elsewhere for a moment under this mutex.
    const std::lock_guard lock(consoleMutex());
    std::cerr << line << std::flush;
}

}  // namespace orvix::node

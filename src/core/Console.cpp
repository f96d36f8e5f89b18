#include "orvix/Console.h"

#include <iostream>

namespace orvix {
namespace {

std::ostream* consoleStream = &std::cout;
std::ostream* diagnosticStream = &std::cerr;
thread_local int silenced = 0;  // ThreadConsoleSilence objects alive on this thread

void writeLine(std::ostream* stream, std::string_view line) {
    if (stream == nullptr) return;
    const std::lock_guard<std::mutex> lock(consoleMutex());
    *stream << line << '\n';
    stream->flush();
}

}  // namespace

std::mutex& consoleMutex() {
    static std::mutex m;
    return m;
}

void setConsoleStream(std::ostream* stream) { consoleStream = stream; }
void setDiagnosticStream(std::ostream* stream) { diagnosticStream = stream; }
void printConsoleLine(std::string_view line) {
    if (silenced == 0) writeLine(consoleStream, line);
}
void printDiagnostic(std::string_view line) {
    if (silenced == 0) writeLine(diagnosticStream, line);
}

ThreadConsoleSilence::ThreadConsoleSilence() { ++silenced; }
ThreadConsoleSilence::~ThreadConsoleSilence() { --silenced; }

}  // namespace orvix

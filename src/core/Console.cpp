#include "orvix/Console.h"

#include <iostream>

namespace orvix {
namespace {

std::ostream* consoleStream = &std::cout;
std::ostream* diagnosticStream = &std::cerr;

void writeLine(std::ostream* stream, std::string_view line) {
    if (stream == nullptr) return;
    *stream << line << '\n';
    stream->flush();
}

}  // namespace

void setConsoleStream(std::ostream* stream) { consoleStream = stream; }
void setDiagnosticStream(std::ostream* stream) { diagnosticStream = stream; }
void printConsoleLine(std::string_view line) { writeLine(consoleStream, line); }
void printDiagnostic(std::string_view line) { writeLine(diagnosticStream, line); }

}  // namespace orvix

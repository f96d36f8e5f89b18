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
#include <string_view>

namespace orvix {

// nullptr discards. The stream must outlive its use.
void setConsoleStream(std::ostream* stream);
void setDiagnosticStream(std::ostream* stream);

void printConsoleLine(std::string_view line);
void printDiagnostic(std::string_view line);

}  // namespace orvix

#pragma once
// Command line of orvix-screen.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvix::cli {

enum class OutputFormat { Text, Json, Csv };

struct BatchOptions {
    OutputFormat format = OutputFormat::Text;
    std::optional<std::filesystem::path> reportsDir;
    bool showConsole = false;
    bool help = false;
    bool version = false;
    std::vector<std::filesystem::path> paths;
};

// Fills options from argv, or returns the usage error.
std::optional<std::string> parseBatchOptions(int argc, char** argv, BatchOptions& options);

std::string usageText();

// Files to analyse, in order: a named file as it is, a directory's picture files
// (by extension, or DICOM by content when they have none; recursively, sorted). Unlisted directories' errors are ignored;
// a path that does not exist is kept so that it is reported as unreadable.
std::vector<std::filesystem::path> collectPictures(const std::vector<std::filesystem::path>& paths);

}  // namespace orvix::cli

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
    std::optional<std::filesystem::path> heatmapsDir;
    bool showConsole = false;
    bool help = false;
    bool version = false;
    std::vector<std::filesystem::path> paths;
};

// Fills options from argv, or returns the usage error.
std::optional<std::string> parseBatchOptions(int argc, char** argv, BatchOptions& options);

std::string usageText();

}  // namespace orvix::cli

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

struct FoundPicture {
    std::filesystem::path path;
    // The folders between the directory argument it was found in and the file ("a/b" for
    // D/a/b/x.dcm; empty for a named file or one directly in D).
    std::filesystem::path folder;
};

struct CollectedPictures {
    std::vector<FoundPicture> pictures;
    std::vector<std::string> errors;  // "<directory>: <reason>" for each directory that could not be listed
};

// Files to analyse, in order: a named file as it is, a directory's picture files (by
// extension, or DICOM by content when they have none; recursively, not through links
// to directories, sorted). A directory that cannot be listed is an error, and the search
// goes on with the rest; a path that does not exist is kept so that it is reported as
// unreadable.
CollectedPictures collectPictures(const std::vector<std::filesystem::path>& paths);

}  // namespace orvix::cli

#pragma once
// Command line of orvix-screen.

#include <cstdint>
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
    std::optional<std::filesystem::path> resumeFile;
    struct Shard {
        std::uint64_t index = 0;  // K of K/N, from 0
        std::uint64_t count = 1;  // N
    };
    std::optional<Shard> shard;
    std::optional<unsigned> jobs;  // pictures analysed at once; the number of cores when not given
    // --validate DIR: measure the disease model on labelled films instead of screening PATHs.
    std::optional<std::filesystem::path> validateDir;
    std::optional<std::filesystem::path> labelsFile;  // path,label lines; else NORMAL/PNEUMONIA folders
    double targetSensitivity = 0.95;                  // in (0, 1]
    std::optional<std::filesystem::path> plotsDir;
    std::optional<std::filesystem::path> saveOperatingPoint;
    // --operating-point FILE: verdicts at a clinic's own threshold.
    std::optional<std::filesystem::path> operatingPoint;
    bool showConsole = false;
    bool help = false;
    bool version = false;
    std::vector<std::filesystem::path> paths;
};

// Fills options from argv, or returns the usage error.
std::optional<std::string> parseBatchOptions(int argc, char** argv, BatchOptions& options);

std::string usageText();

// Whether a picture belongs to the shard: a stable hash (FNV-1a) of its path relative to the
// root it was found under (its file name for a named file), modulo the number of shards. The
// same on every machine and run, so that N shards together are the whole input once.
bool inShard(const std::filesystem::path& relativePath, const BatchOptions::Shard& shard);

}  // namespace orvix::cli

#include "Validate.h"

#include <cstdio>
#include <iostream>

#include "LocalValidation.h"
#include "PathText.h"
#include "orvix/ReportSaver.h"

namespace orvix::cli {

namespace {

bool writeStdout(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::cerr << "orvix-screen: cannot write to standard output\n";
        return false;
    }
    return true;
}

}  // namespace

int runValidation(const BatchOptions& options, const std::function<Result<std::vector<DiagnosisState>>()>& loadStates) {
    std::vector<std::filesystem::path> skipped;
    if (options.plotsDir) skipped.push_back(*options.plotsDir);
    auto films = findLabelledFilms(*options.validateDir, options.labelsFile, skipped);
    if (!films) {
        std::cerr << "orvix-screen: " << films.error().message << '\n';
        return 2;
    }
    auto states = loadStates();
    if (!states) {
        std::cerr << "orvix-screen: " << states.error().message << '\n';
        return 2;
    }
    auto validated = validateFilms(*films, *states, options.targetSensitivity);
    if (validated) {
        for (const auto& path : validated->notChest)
            std::cerr << "orvix-screen: " << path << ": excluded, not a chest X-ray\n";
        for (const auto& message : validated->unreadable) std::cerr << "orvix-screen: " << message << " (excluded)\n";
        for (const auto& path : validated->unlabelled)
            std::cerr << "orvix-screen: " << path << ": excluded, in no NORMAL or PNEUMONIA folder\n";
    }
    if (!validated) {
        std::cerr << "orvix-screen: " << validated.error().message << '\n';
        return 2;
    }
    const LocalValidation& v = *validated;

    // The outputs, each complete or not at all, and only once every figure is computed.
    if (options.plotsDir) {
        if (auto written = writeValidationPlots(v, *options.plotsDir); !written) {
            std::cerr << "orvix-screen: " << written.error().message << '\n';
            return 2;
        }
    }
    if (options.saveOperatingPoint) {
        if (auto saved = writeFileAtomically(*options.saveOperatingPoint, operatingPointJson(v.point)); !saved) {
            std::cerr << "orvix-screen: " << saved.error().message << '\n';
            return 2;
        }
    }
    if (!writeStdout(options.format == OutputFormat::Json ? validationJson(v) : validationText(v))) return 2;
    return v.unreadable.empty() ? 0 : 1;
}

}  // namespace orvix::cli

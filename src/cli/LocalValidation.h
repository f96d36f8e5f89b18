#pragma once
// A clinic's validation of the disease model on its own labelled films, from the folder to the
// figures, shared by orvix-screen --validate and the window's Tools > Validate on Local Films:
//
//   auto films = findLabelledFilms(dir, labelsCsv, {});          // fails: no films of a label
//   auto run = validateFilms(*films, states, 0.95, progress);    // analyses them, then the figures
//   show(validationText(*run));  save(run->point);                // the point it would adopt
//
// A film counts only when it was read and the gate took it for a chest X-ray; the others are
// kept in the result by name, never dropped silently.

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvix/DiagnosisState.h"
#include "orvix/OperatingPoint.h"
#include "orvix/Result.h"
#include "orvix/Validation.h"

namespace orvix::cli {

// Fewer films of a label than this cannot pin a threshold down: the figures come with a warning.
inline constexpr std::size_t kFewestFilmsPerLabel = 50;

struct LabelledFilm {
    std::filesystem::path path;
    bool positive = false;  // labelled PNEUMONIA
};

struct LabelledFilms {
    std::filesystem::path directory;
    std::vector<LabelledFilm> labelled;
    std::vector<std::filesystem::path> unlabelled;  // found outside any NORMAL or PNEUMONIA folder
    std::vector<std::string> searchErrors;          // folders or files the search could not read
};

// The films under dir, labelled by the nearest folder named NORMAL or PNEUMONIA above each, or
// by labelsCsv (lines "path,label", paths relative to dir and inside it; a first line
// "path,label" is a header). Folders in skipped are not searched. Fails, naming the folder or the
// file and line, when dir is not a folder, the CSV cannot be read or names an unknown label or a
// path outside dir, or either label has no film.
Result<LabelledFilms> findLabelledFilms(const std::filesystem::path& dir,
                                        const std::optional<std::filesystem::path>& labelsCsv,
                                        const std::vector<std::filesystem::path>& skipped);

struct LocalValidation {
    std::filesystem::path directory;
    std::string modelName;
    ValidationSettings settings;
    ValidationReport report;
    std::vector<LabelledScore> scores;    // the films that count
    std::vector<std::string> notChest;    // paths the gate did not take for a chest X-ray
    std::vector<std::string> unreadable;  // why each film that could not be analysed was not
    std::vector<std::string> unlabelled;  // paths in no NORMAL or PNEUMONIA folder
    std::vector<std::string> warnings;    // too few films; an AUC below the model card's
    OperatingPoint point;                 // the local threshold, dated today, for these models
};

// Analyses every film, one worker per state (each state's models are its own), and computes the
// figures at the model's threshold and at the threshold that reaches targetSensitivity. progress,
// when given, is called from the workers, one at a time, after each film (done, total). Setting
// cancel stops the workers after the films in hand and fails with "cancelled". Fails too when the
// films analysed leave a label without a film.
Result<LocalValidation> validateFilms(const LabelledFilms& films, std::vector<DiagnosisState>& states,
                                      double targetSensitivity,
                                      const std::function<void(std::size_t, std::size_t)>& progress = {},
                                      const std::atomic<bool>* cancel = nullptr);

// The figures for a person to read, and as one JSON object (one line, ending in a newline).
std::string validationText(const LocalValidation& v);
std::string validationJson(const LocalValidation& v);

// roc.png, reliability.png and histogram.png in folder (created when missing), each written whole
// or not at all.
Status writeValidationPlots(const LocalValidation& v, const std::filesystem::path& folder);

}  // namespace orvix::cli

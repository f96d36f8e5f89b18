#pragma once
// A clinic's own operating point: the threshold on the disease model's P(PNEUMONIA) that it chose
// on its own films (orvix-screen --validate --save-operating-point), in place of the model's.
//
//   auto file = findOperatingPoint(processEnvironment);       // the configured one, if any
//   auto point = loadOperatingPoint(*file, disease.metadata(), gate.metadata());
//   if (!point) refuse(point.error().message);                // names the file and the reason
//   applyOperatingPoint(state, *point);                       // after each import run
//
// The file (JSON, written by operatingPointJson):
//   {"format": "orvix-operating-point", "formatVersion": 1, "threshold": 0.52,
//    "targetSensitivity": 0.95, "films": {"NORMAL": 160, "PNEUMONIA": 152},
//    "auc": [0.97, 0.95, 0.98], "sensitivity": [v, low, high], "specificity": [v, low, high],
//    "date": "2026-12-07",
//    "models": {"disease": {"name": "SickClassifier1", "sha256": "<model.onnx>"},
//               "gate": {"name": "XRayClassifier1", "sha256": "<model.onnx>"}}}
// The figures are those measured on the films at the threshold (95 % intervals). A point is
// void for any other models: both SHA-256 digests must be those of the loaded models' files
// (which loading a model checks against the files themselves).

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "orvix/DiagnosisState.h"
#include "orvix/Environment.h"
#include "orvix/ModelMetadata.h"
#include "orvix/Result.h"
#include "orvix/Validation.h"

namespace orvix {

struct OperatingPoint {
    double threshold = 0.5;  // in (0, 1): POSITIVE when P(PNEUMONIA) >= threshold
    double targetSensitivity = 0.95;
    std::size_t normalFilms = 0, pneumoniaFilms = 0;
    Interval auc, sensitivity, specificity;
    std::string date;  // YYYY-MM-DD, when it was validated
    std::string diseaseModel, diseaseSha256, gateModel, gateSha256;

    // What made a verdict, for each result row:
    // "local threshold 52.0 %, validated on 312 films on 2026-12-07".
    std::string description() const;
};

std::string operatingPointJson(const OperatingPoint& point);

// Parses the file's text; the error says which field is wrong.
Result<OperatingPoint> parseOperatingPoint(std::string_view jsonText);

// Reads, parses and checks a point against the loaded models. Fails, naming the file, when it
// cannot be read, is malformed, was saved for other models (saying which differs) or the
// disease model has no threshold rule to replace.
Result<OperatingPoint> loadOperatingPoint(const std::filesystem::path& file, const ModelMetadata& disease,
                                          const ModelMetadata& gate);

// Where the user's own point lives: $XDG_CONFIG_HOME/orvix/operating-point.json, or
// $HOME/.config/orvix/operating-point.json when XDG_CONFIG_HOME is unset or empty; nothing
// without either.
std::optional<std::filesystem::path> userOperatingPointFile(const EnvironmentLookup& environment);

// The configured point when no file is named: $XDG_CONFIG_HOME/orvix/operating-point.json
// ($HOME/.config when XDG_CONFIG_HOME is unset), else systemDirectory/operating-point.json;
// the first that exists, or nothing.
std::optional<std::filesystem::path> findOperatingPoint(const EnvironmentLookup& environment,
                                                        const std::filesystem::path& systemDirectory = "/etc/orvix");

// The disease model's metadata with the point's threshold, and its borderline band moved with it.
// The band keeps its width in logit space on each side: a model's band is where small changes of
// acquisition flipped verdicts, and such a change moves the logit, not the probability, by
// about the same amount wherever the threshold lies. Precondition: a threshold rule.
ModelMetadata withOperatingPoint(const ModelMetadata& disease, const OperatingPoint& point);

// After an import run of a chest X-ray: the disease label becomes the threshold rule's label when
// diseaseProbability >= point.threshold, else its other label, and the report is composed again
// with it. Changes nothing when the disease stage gave no label.
void applyOperatingPoint(DiagnosisState& state, const OperatingPoint& point);

}  // namespace orvix

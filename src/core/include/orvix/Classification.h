#pragma once
// The two classification stages. Each prepares the current picture (img) afresh,
// predicts through its wrapper and writes its fields; a stage that cannot run
// (no picture, no buffer, a runtime error) writes nothing.
//
//   classifyXRay:      classificationLabel2 = gate label, accuracy = P(gate label) (0.0 if absent)
//   classifyPneumonia: classificationLabel = disease label, diseaseProbability and activationMap
//                      (empty when the model gives no class maps), then five console lines:
//                        ==================
//                        ["NORMAL": 0.25, "PNEUMONIA": 0.75]
//                        ["classLabel", "classLabelProbs"]
//                        PNEUMONIA
//                        ==================
// Both return what the model said (for the batch tool), or why they stopped.

#include <map>
#include <optional>
#include <set>
#include <string>

#include "orvix/DiagnosisState.h"
#include "orvix/Result.h"

namespace orvix {

struct StageResult {
    std::string classLabel;
    std::map<std::string, double> classLabelProbs;
};

Result<StageResult> classifyXRay(DiagnosisState& state);
Result<StageResult> classifyPneumonia(DiagnosisState& state);

// The shortest decimal text that reads back as the same double: plain decimal with at
// least one fractional digit from 0.0001 up to 2^53 ("0.0", "100.0", "98.76543283462524"),
// exponent form otherwise ("5e-05", "1.25e-05", "1e+16"). Never localised.
std::string describeDouble(double value);

// ["a": 0.5, "b": 0.5] and [:] for none; labels in sorted order.
std::string describeProbabilities(const std::map<std::string, double>& probabilities);
// ["a", "b"] and [] for none.
std::string describeNames(const std::set<std::string>& names);

}  // namespace orvix

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

}  // namespace orvix

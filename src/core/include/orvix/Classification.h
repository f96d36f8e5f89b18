#pragma once
// The two classification stages. Each prepares the current picture (img) afresh (or takes
// the one preparation the batch tool makes for both),
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
#include "orvix/ImagePreparation.h"
#include "orvix/Result.h"

namespace orvix {

struct StageResult {
    std::string classLabel;
    std::map<std::string, double> classLabelProbs;

    // The probability of its own label (0.0 when the model gave none): the gate's is the accuracy.
    double labelProbability() const {
        const auto it = classLabelProbs.find(classLabel);
        return it == classLabelProbs.end() ? 0.0 : it->second;
    }
};

Result<StageResult> classifyXRay(DiagnosisState& state);
Result<StageResult> classifyPneumonia(DiagnosisState& state);

// The picture as both classifiers take it: redrawn to the models' side, as a pixel buffer.
Result<PixelBuffer> preparePicture(const Image& picture);
// The stages on a picture prepared once for both (the batch tool); the results are the same.
Result<StageResult> classifyXRay(DiagnosisState& state, const Result<PixelBuffer>& prepared);
Result<StageResult> classifyPneumonia(DiagnosisState& state, const Result<PixelBuffer>& prepared);

}  // namespace orvix

#include "orvix/DiagnosisState.h"

#include <utility>

namespace orvix {

DiagnosisState::DiagnosisState(std::shared_ptr<const SickClassifier1> disease,
                               std::shared_ptr<const XRayClassifier1> gate)
    : model(std::move(disease)), model2(std::move(gate)) {}

Result<DiagnosisState> DiagnosisState::create() {
    auto disease = SickClassifier1::create();
    if (!disease) return disease.error();
    auto gate = XRayClassifier1::create();
    if (!gate) return gate.error();
    return DiagnosisState(std::move(disease).value(), std::move(gate).value());
}

void DiagnosisState::toggleOpenFile() {
    openFile.modify([](bool& open) { open = !open; });
}

std::string diseaseLabel(const ModelMetadata& metadata) {
    if (metadata.decision == ModelMetadata::DecisionKind::Threshold) return metadata.decisionLabel;
    for (const auto& label : metadata.classLabels)
        if (!isNormal(label)) return label;
    return "";
}

}  // namespace orvix

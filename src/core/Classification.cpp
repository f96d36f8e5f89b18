#include "orvix/Classification.h"

#include "orvix/Console.h"
#include "orvix/Format.h"
#include "orvix/ImagePreparation.h"

namespace orvix {
namespace {

constexpr const char* kRule = "==================";

// Predicts on the prepared picture; the reason when it could not be prepared or predicted.
template <class Classifier>
Result<typename Classifier::Output> predict(const Result<PixelBuffer>& prepared, const Classifier& classifier) {
    if (!prepared) return prepared.error();
    const typename Classifier::Input input(*prepared);  // a second handle on the same pixels
    const PredictionOptions options;
    auto output = classifier.prediction(input, options);
    if (!output) return output.error();
    return std::move(output).value();
}

}  // namespace

Result<PixelBuffer> preparePicture(const Image& picture) {
    auto redrawn = redrawImage(picture);
    if (!redrawn) return Error{"the picture could not be redrawn"};
    auto buffer = makePixelBuffer(*redrawn);
    if (!buffer) return Error{"no pixel buffer could be made"};
    return std::move(*buffer);
}

Result<StageResult> classifyXRay(DiagnosisState& state) { return classifyXRay(state, preparePicture(state.img)); }

Result<StageResult> classifyPneumonia(DiagnosisState& state) {
    return classifyPneumonia(state, preparePicture(state.img));
}

Result<StageResult> classifyXRay(DiagnosisState& state, const Result<PixelBuffer>& prepared) {
    auto output = predict(prepared, *state.model2);
    if (!output) return output.error();
    StageResult stage{output->classLabel(), output->classLabelProbs()};
    state.classificationLabel2 = stage.classLabel;
    state.accuracy = stage.labelProbability();
    return stage;
}

Result<StageResult> classifyPneumonia(DiagnosisState& state, const Result<PixelBuffer>& prepared) {
    auto output = predict(prepared, *state.model);
    if (!output) return output.error();
    const std::string& label = output->classLabel();
    const ModelMetadata& metadata = state.model->model.metadata();
    const std::string positive = diseaseLabel(metadata);
    const auto& probs = output->classLabelProbs();
    const auto it = probs.find(positive);
    // A map that cannot be made leaves the verdict standing; the picture just has no heatmap.
    const auto* result = dynamic_cast<const ModelOutput*>(output->provider.get());
    auto map = result && !result->classMaps().empty() ? activationMap(result->classMaps(), metadata, positive)
                                                      : Result<ActivationMap>(ActivationMap{});
    state.classificationLabel = label;
    state.diseaseProbability = it == probs.end() ? 0.0 : it->second;
    state.activationMap = map ? std::move(map).value() : ActivationMap{};
    printConsoleLine(kRule);
    printConsoleLine(describeProbabilities(output->classLabelProbs()));
    printConsoleLine(describeNames(output->featureNames()));
    printConsoleLine(label);
    printConsoleLine(kRule);
    return StageResult{label, output->classLabelProbs()};
}

}  // namespace orvix

#include "orvix/Classification.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "orvix/Console.h"
#include "orvix/ImagePreparation.h"

namespace orvix {
namespace {

constexpr const char* kRule = "==================";

// Prepares the picture afresh and predicts; the reason when any step fails.
template <class Classifier>
Result<typename Classifier::Output> predict(const Image& picture, const Classifier& classifier) {
    auto redrawn = redrawImage(picture);
    if (!redrawn) return Error{"the picture could not be redrawn"};
    auto buffer = makePixelBuffer(*redrawn);
    if (!buffer) return Error{"no pixel buffer could be made"};
    const typename Classifier::Input input(std::move(*buffer));
    const PredictionOptions options;
    auto output = classifier.prediction(input, options);
    if (!output) return output.error();
    return std::move(output).value();
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

Result<StageResult> classifyXRay(DiagnosisState& state) {
    auto output = predict(state.img.get(), *state.model2);
    if (!output) return output.error();
    const std::string& label = output->classLabel();
    state.classificationLabel2 = label;
    const auto& probs = output->classLabelProbs();
    const auto it = probs.find(label);
    state.accuracy = it == probs.end() ? 0.0 : it->second;
    return StageResult{label, probs};
}

Result<StageResult> classifyPneumonia(DiagnosisState& state) {
    auto output = predict(state.img.get(), *state.model);
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

std::string describeDouble(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    // Shortest round-trip digits and the decimal exponent, then laid out by hand.
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific).ptr;
    const std::string sci(buf, end);  // d.ddde±xx
    const auto e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits += c;
    const int exponent = std::atoi(sci.c_str() + e + 1);
    const auto count = static_cast<int>(digits.size());

    std::string out;
    const double magnitude = std::fabs(value);
    if (magnitude < 1e-4 || magnitude >= 9007199254740992.0) {  // below 0.0001 or from 2^53 up
        out = digits.substr(0, 1);
        if (count > 1) out += "." + digits.substr(1);
        const std::string exp = std::to_string(std::abs(exponent));
        out += std::string("e") + (exponent < 0 ? "-" : "+") + (exp.size() < 2 ? "0" : "") + exp;
    } else if (exponent >= 0) {
        if (count <= exponent + 1)
            out = digits + std::string(static_cast<std::size_t>(exponent + 1 - count), '0') + ".0";
        else
            out = digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
                  digits.substr(static_cast<std::size_t>(exponent + 1));
    } else {
        out = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    return (value < 0 ? "-" : "") + out;
}

std::string describeProbabilities(const std::map<std::string, double>& probabilities) {
    if (probabilities.empty()) return "[:]";
    std::string out = "[";
    for (const auto& [label, p] : probabilities) {
        if (out.size() > 1) out += ", ";
        out += quoted(label) + ": " + describeDouble(p);
    }
    return out + "]";
}

std::string describeNames(const std::set<std::string>& names) {
    std::string out = "[";
    for (const auto& name : names) {
        if (out.size() > 1) out += ", ";
        out += quoted(name);
    }
    return out + "]";
}

}  // namespace orvix

#pragma once
// metadata.json of a compiled model resource (<Name>.mlmodelc/).
//
// Example (labels, sizes and numbers are the model's own; nothing is assumed):
//   {
//     "format": "orvix-compiled-model", "formatVersion": 1, "name": "SickClassifier1",
//     "input": {"name": "image", "width": 224, "height": 224, "pixelFormat": 32,
//               "channelOrder": "RGB", "scale": 0.00392156862745098,
//               "mean": [0.5, 0.5, 0.5], "std": [0.25, 0.25, 0.25], "resize": "area"},
//     "output": {"tensor": "logits", "kind": "logits", "temperature": 1.3, "classMaps": "classMaps"},
//     "classLabels": ["NORMAL", "PNEUMONIA"],
//     "decision": {"kind": "threshold", "label": "PNEUMONIA", "threshold": 0.4, "otherwise": "NORMAL",
//                  "borderline": [0.3, 0.5]},
//     "sha256": "<hex digest of model.onnx>",
//     "provenance": { ... free-form: data, date, validation figures ... }
//   }
//
// The tensor a model receives is, for each channel c of channelOrder and pixel (x, y):
//   (byte(c, x, y) * scale - mean[c]) / std[c]
// The input must be 224 x 224 with resize "area": pictures are prepared in that one way.
// Probabilities are softmax(logits / temperature) for "logits" outputs, the
// outputs themselves for "probabilities". The decision picks classLabel:
//   "argmax":    the most probable label (the first on ties);
//   "threshold": label when P(label) >= threshold, else otherwise.
// A probability of the threshold's label within the optional borderline band (which holds the
// threshold) is one that validation saw flip under small changes of acquisition.
//
// classMaps, when given, names a second network output of shape 1 x labels x h x w: for
// each label a map over the last feature grid whose mean over the cells is that label's
// logit (a class activation map). Only "logits" outputs can have one.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvix/Result.h"

namespace orvix {

struct ModelMetadata {
    enum class ChannelOrder { RGB, BGR };
    enum class OutputKind { Logits, Probabilities };
    enum class DecisionKind { Argmax, Threshold };

    std::string name;
    std::string inputName;
    int width = 0;
    int height = 0;
    ChannelOrder channelOrder = ChannelOrder::RGB;
    double scale = 1.0;
    std::array<double, 3> mean{};
    std::array<double, 3> std{};
    OutputKind outputKind = OutputKind::Logits;
    double temperature = 1.0;
    std::string outputTensor;     // the logits' output name; "" for the network's only output
    std::string classMapsTensor;  // "" when the network gives no class maps
    std::vector<std::string> classLabels;
    DecisionKind decision = DecisionKind::Argmax;
    std::string decisionLabel;                        // threshold rule only
    double threshold = 0.5;                           // threshold rule only
    std::string otherwiseLabel;                       // threshold rule only
    std::optional<std::array<double, 2>> borderline;  // threshold rule only: [low, high]
    std::string sha256;                               // lower-case hex
    std::string provenanceText;  // provenance as JSON text, for About boxes and reports of the model

    // Whether a probability of the threshold's label lies in the borderline band (never without one).
    bool isBorderline(double probability) const {
        return borderline && (*borderline)[0] <= probability && probability <= (*borderline)[1];
    }
};

inline constexpr std::string_view kModelFormat = "orvix-compiled-model";
inline constexpr int kModelFormatVersion = 1;

// Parses and validates metadata text; the error says which field is wrong.
Result<ModelMetadata> parseModelMetadata(std::string_view jsonText);

}  // namespace orvix

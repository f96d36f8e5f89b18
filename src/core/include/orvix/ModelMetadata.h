#pragma once
// metadata.json of a compiled model resource (<Name>.mlmodelc/).
//
// Example (labels, sizes and numbers are the model's own; nothing is assumed):
//   {
//     "format": "orvix-compiled-model", "formatVersion": 1, "name": "SickClassifier1",
//     "input": {"name": "image", "width": 224, "height": 224, "pixelFormat": 32,
//               "channelOrder": "RGB", "scale": 0.00392156862745098,
//               "mean": [0.5, 0.5, 0.5], "std": [0.25, 0.25, 0.25], "resize": "area"},
//     "output": {"tensor": "logits", "kind": "logits", "temperature": 1.3},
//     "classLabels": ["NORMAL", "PNEUMONIA"],
//     "decision": {"kind": "threshold", "label": "PNEUMONIA", "threshold": 0.4, "otherwise": "NORMAL"},
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

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

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
    std::vector<std::string> classLabels;
    DecisionKind decision = DecisionKind::Argmax;
    std::string decisionLabel;      // threshold rule only
    double threshold = 0.5;         // threshold rule only
    std::string otherwiseLabel;     // threshold rule only
    std::string sha256;             // lower-case hex
    std::string provenanceText;     // provenance as JSON text, for About boxes and reports of the model
};

inline constexpr std::string_view kModelFormat = "orvix-compiled-model";
inline constexpr int kModelFormatVersion = 1;

// Parses and validates metadata text; the error says which field is wrong.
Result<ModelMetadata> parseModelMetadata(std::string_view jsonText);

}  // namespace orvix

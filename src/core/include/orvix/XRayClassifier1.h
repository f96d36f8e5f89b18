#pragma once
// The chest X-ray gate: label "X-Ray" means the picture is a chest X-ray.

#include <string_view>

#include "orvix/ImageClassifier.h"

namespace orvix {

// The gate's label for a chest X-ray; every other label, also one that differs only in case
// or spacing, means the picture is not one.
inline constexpr std::string_view kChestXRayLabel = "X-Ray";
inline bool isChestXRay(std::string_view gateLabel) { return gateLabel == kChestXRayLabel; }

struct XRayClassifier1Family {
    static constexpr const char* resourceName = "XRayClassifier1";
};
using XRayClassifier1Input = ClassifierInput<XRayClassifier1Family>;
using XRayClassifier1Output = ClassifierOutput<XRayClassifier1Family>;
using XRayClassifier1 = ImageClassifier<XRayClassifier1Family>;

}  // namespace orvix

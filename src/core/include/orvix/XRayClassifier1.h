#pragma once
// The chest X-ray gate: label "X-Ray" means the picture is a chest X-ray.

#include "orvix/ImageClassifier.h"

namespace orvix {

struct XRayClassifier1Family {
    static constexpr const char* resourceName = "XRayClassifier1";
};
using XRayClassifier1Input = ClassifierInput<XRayClassifier1Family>;
using XRayClassifier1Output = ClassifierOutput<XRayClassifier1Family>;
using XRayClassifier1 = ImageClassifier<XRayClassifier1Family>;

}  // namespace orvix

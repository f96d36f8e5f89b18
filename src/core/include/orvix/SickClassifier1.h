#pragma once
// The disease classifier: label "NORMAL" means a negative test.

#include <string_view>

#include "orvix/ImageClassifier.h"

namespace orvix {

// The disease model's negative label; every other label, the empty one included, is positive.
inline constexpr std::string_view kNormalLabel = "NORMAL";
inline bool isNormal(std::string_view diseaseLabel) { return diseaseLabel == kNormalLabel; }

struct SickClassifier1Family {
    static constexpr const char* resourceName = "SickClassifier1";
};
using SickClassifier1Input = ClassifierInput<SickClassifier1Family>;
using SickClassifier1Output = ClassifierOutput<SickClassifier1Family>;
using SickClassifier1 = ImageClassifier<SickClassifier1Family>;

}  // namespace orvix

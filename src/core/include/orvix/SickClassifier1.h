#pragma once
// The disease classifier: label "NORMAL" means a negative test.

#include "orvix/ImageClassifier.h"

namespace orvix {

struct SickClassifier1Family {
    static constexpr const char* resourceName = "SickClassifier1";
};
using SickClassifier1Input = ClassifierInput<SickClassifier1Family>;
using SickClassifier1Output = ClassifierOutput<SickClassifier1Family>;
using SickClassifier1 = ImageClassifier<SickClassifier1Family>;

}  // namespace orvix

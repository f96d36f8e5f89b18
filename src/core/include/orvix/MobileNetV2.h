#pragma once
// A third classifier family that exists as types only: nothing creates, loads or
// reads it, and no compiled resource is looked up for it.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "orvix/ImageClassifier.h"

namespace orvix {

struct MobileNetV2Family {};
using MobileNetV2Input = ClassifierInput<MobileNetV2Family>;

// Caches without accessors: the family is never used.
class MobileNetV2Output final : public ResultFeatureProvider {
public:
    using ResultFeatureProvider::ResultFeatureProvider;

private:
    std::optional<std::map<std::string, double>> classLabelProbs_;
    std::optional<std::string> classLabel_;
};

class MobileNetV2 {
public:
    MobileNetV2() = delete;
    const Model model;
};

}  // namespace orvix

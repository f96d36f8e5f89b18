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

class MobileNetV2Output final : public FeatureProvider {
public:
    explicit MobileNetV2Output(std::shared_ptr<const FeatureProvider> result) : provider(std::move(result)) {}
    std::set<std::string> featureNames() const override { return provider->featureNames(); }
    std::optional<FeatureValue> featureValueForName(const std::string& name) const override {
        return provider->featureValueForName(name);
    }

    const std::shared_ptr<const FeatureProvider> provider;

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

#pragma once
// The typed companions of an image classifier: an input that carries the picture
// as the feature "image", an output that reads "classLabel" and "classLabelProbs"
// out of the runtime's result (each read once, then cached), and the model type
// that loads the compiled resource "<Family::resourceName>.mlmodelc" and predicts.
//
// Families are tags; XRayClassifier1.h and SickClassifier1.h name their types.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "orvix/Features.h"
#include "orvix/Model.h"
#include "orvix/ResourceLocator.h"

namespace orvix {

inline constexpr const char* kImageFeature = "image";
inline constexpr const char* kClassLabelFeature = "classLabel";
inline constexpr const char* kClassLabelProbsFeature = "classLabelProbs";
inline constexpr const char* kCompiledModelExtension = "mlmodelc";

template <class Family>
class ClassifierInput final : public FeatureProvider {
public:
    explicit ClassifierInput(PixelBuffer buffer) : image(std::move(buffer)) {}

    std::set<std::string> featureNames() const override { return {kImageFeature}; }
    std::optional<FeatureValue> featureValueForName(const std::string& name) const override {
        if (name == kImageFeature) return FeatureValue::featureValueWithPixelBuffer(image);
        return std::nullopt;
    }

    PixelBuffer image;
};

// An output wraps the runtime's result and answers feature questions with it.
class ResultFeatureProvider : public FeatureProvider {
public:
    explicit ResultFeatureProvider(std::shared_ptr<const FeatureProvider> result) : provider(std::move(result)) {}

    std::set<std::string> featureNames() const override { return provider->featureNames(); }
    std::optional<FeatureValue> featureValueForName(const std::string& name) const override {
        return provider->featureValueForName(name);
    }

    const std::shared_ptr<const FeatureProvider> provider;
};

template <class Family>
class ClassifierOutput final : public ResultFeatureProvider {
public:
    using ResultFeatureProvider::ResultFeatureProvider;

    // The chosen label; "" when the result holds no string "classLabel".
    const std::string& classLabel() const {
        if (!classLabel_) {
            auto value = provider->featureValueForName(kClassLabelFeature);
            classLabel_ = value ? value->stringValue().value_or("") : "";
        }
        return *classLabel_;
    }

    // Label -> probability; empty when the result holds no dictionary "classLabelProbs".
    const std::map<std::string, double>& classLabelProbs() const {
        if (!classLabelProbs_) {
            auto value = provider->featureValueForName(kClassLabelProbsFeature);
            classLabelProbs_ =
                value ? value->dictionaryValue().value_or(FeatureValue::Dictionary{}) : FeatureValue::Dictionary{};
        }
        return *classLabelProbs_;
    }

private:
    mutable std::optional<std::map<std::string, double>> classLabelProbs_;
    mutable std::optional<std::string> classLabel_;
};

template <class Family>
class ImageClassifier {
public:
    using Input = ClassifierInput<Family>;
    using Output = ClassifierOutput<Family>;

    static Result<std::filesystem::path> modelResourceURL() {
        return urlForResource(Family::resourceName, kCompiledModelExtension);
    }

    // The default construction: the model at modelResourceURL(), loaded once.
    static Result<std::shared_ptr<const ImageClassifier>> create() {
        auto url = modelResourceURL();
        if (!url) return url.error();
        return create(url.value());
    }
    static Result<std::shared_ptr<const ImageClassifier>> create(const std::filesystem::path& resource) {
        auto loaded = Model::load(resource);
        if (!loaded) return loaded.error();
        return std::make_shared<const ImageClassifier>(std::move(loaded).value());
    }

    explicit ImageClassifier(Model loaded) : model(std::move(loaded)) {}

    // A runtime error comes back unchanged and no output is made.
    Result<Output> prediction(const Input& input, const PredictionOptions& options) const {
        auto result = model.prediction(input, options);
        if (!result) return result.error();
        return Output(std::move(result).value());
    }

    const Model model;
};

}  // namespace orvix

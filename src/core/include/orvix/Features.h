#pragma once
// Feature values and providers: what goes into and comes out of a model.
//
// A model's input is a FeatureProvider that answers featureValueForName("image")
// with a pixel buffer; its result is a FeatureProvider holding "classLabel" (a
// string) and "classLabelProbs" (a label-to-probability dictionary).

#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "orvix/ImagePreparation.h"

namespace orvix {

class FeatureValue {
public:
    enum class Type { String, Dictionary, PixelBuffer };
    using Dictionary = std::map<std::string, double>;

    static FeatureValue featureValueWithString(std::string value) { return FeatureValue(std::move(value)); }
    static FeatureValue featureValueWithDictionary(Dictionary value) { return FeatureValue(std::move(value)); }
    static FeatureValue featureValueWithPixelBuffer(PixelBuffer value) { return FeatureValue(std::move(value)); }

    Type type() const { return static_cast<Type>(value_.index()); }
    // Each yields nothing when the value is of another type.
    std::optional<std::string> stringValue() const;
    std::optional<Dictionary> dictionaryValue() const;
    const PixelBuffer* imageBufferValue() const;

private:
    template <class T>
    explicit FeatureValue(T value) : value_(std::move(value)) {}

    std::variant<std::string, Dictionary, PixelBuffer> value_;
};

class FeatureProvider {
public:
    virtual ~FeatureProvider() = default;
    virtual std::set<std::string> featureNames() const = 0;
    virtual std::optional<FeatureValue> featureValueForName(const std::string& name) const = 0;
};

// A provider over a fixed set of named values: what a prediction returns.
class DictionaryFeatureProvider final : public FeatureProvider {
public:
    explicit DictionaryFeatureProvider(std::map<std::string, FeatureValue> values) : values_(std::move(values)) {}
    std::set<std::string> featureNames() const override;
    std::optional<FeatureValue> featureValueForName(const std::string& name) const override;

private:
    std::map<std::string, FeatureValue> values_;
};

// Prediction options. The runtime has one setting; the defaults are what every caller uses.
struct PredictionOptions {
    bool usesCPUOnly = true;
};

}  // namespace orvix

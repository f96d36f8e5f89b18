#include "orvix/Features.h"

namespace orvix {

std::optional<std::string> FeatureValue::stringValue() const {
    if (const auto* s = std::get_if<std::string>(&value_)) return *s;
    return std::nullopt;
}

std::optional<FeatureValue::Dictionary> FeatureValue::dictionaryValue() const {
    if (const auto* d = std::get_if<Dictionary>(&value_)) return *d;
    return std::nullopt;
}

const PixelBuffer* FeatureValue::imageBufferValue() const { return std::get_if<PixelBuffer>(&value_); }

std::set<std::string> DictionaryFeatureProvider::featureNames() const {
    std::set<std::string> names;
    for (const auto& entry : values_) names.insert(entry.first);
    return names;
}

std::optional<FeatureValue> DictionaryFeatureProvider::featureValueForName(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

}  // namespace orvix

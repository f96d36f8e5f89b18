#include "orvix/ModelMetadata.h"

#include <cmath>
#include <set>

#include <nlohmann/json.hpp>

#include "orvix/ImagePreparation.h"

namespace orvix {
namespace {

using nlohmann::json;

// Each accessor throws Invalid with the dotted field path and what was expected.
struct Invalid {
    std::string message;
};

const json& member(const json& object, const char* key, const std::string& where) {
    if (!object.is_object()) throw Invalid{where + " is not an object"};
    auto it = object.find(key);
    if (it == object.end()) throw Invalid{where + "." + key + " is missing"};
    return *it;
}

std::string text(const json& object, const char* key, const std::string& where) {
    const json& v = member(object, key, where);
    if (!v.is_string()) throw Invalid{where + "." + key + " must be a string"};
    return v.get<std::string>();
}

double number(const json& object, const char* key, const std::string& where) {
    const json& v = member(object, key, where);
    if (!v.is_number()) throw Invalid{where + "." + key + " must be a number"};
    const double d = v.get<double>();
    if (!std::isfinite(d)) throw Invalid{where + "." + key + " must be finite"};
    return d;
}

int positiveInt(const json& object, const char* key, const std::string& where, int max) {
    const json& v = member(object, key, where);
    if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > max)
        throw Invalid{where + "." + key + " must be a whole number from 1 to " + std::to_string(max)};
    return static_cast<int>(v.get<long long>());
}

std::array<double, 3> triple(const json& object, const char* key, const std::string& where) {
    const json& v = member(object, key, where);
    if (!v.is_array() || v.size() != 3) throw Invalid{where + "." + key + " must be an array of 3 numbers"};
    std::array<double, 3> out{};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!v[i].is_number() || !std::isfinite(v[i].get<double>()))
            throw Invalid{where + "." + key + " must be an array of 3 numbers"};
        out[i] = v[i].get<double>();
    }
    return out;
}

ModelMetadata parse(const json& root) {
    ModelMetadata m;
    const std::string top = "metadata";
    if (text(root, "format", top) != kModelFormat)
        throw Invalid{"metadata.format is not \"" + std::string(kModelFormat) + "\""};
    const json& version = member(root, "formatVersion", top);
    if (!version.is_number_integer() || version.get<long long>() != kModelFormatVersion)
        throw Invalid{"metadata.formatVersion " + version.dump() + " is not supported (expected " +
                      std::to_string(kModelFormatVersion) + ")"};
    m.name = text(root, "name", top);

    const json& input = member(root, "input", top);
    const std::string in = top + ".input";
    m.inputName = text(input, "name", in);
    m.width = positiveInt(input, "width", in, 4096);
    m.height = positiveInt(input, "height", in, 4096);
    // Pictures are prepared in one way only (ImagePreparation.h); a model that expects
    // another would fail on every picture, so it is refused here.
    constexpr int side = static_cast<int>(kModelImageSide);
    if (m.width != side || m.height != side)
        throw Invalid{in + ".width and .height must be " + std::to_string(side) +
                      ", the size pictures are prepared at"};
    if (text(input, "resize", in) != "area")
        throw Invalid{in + ".resize must be \"area\", the only way pictures are resized"};
    const json& format = member(input, "pixelFormat", in);
    if (!format.is_number_integer() || format.get<long long>() != 32)
        throw Invalid{in + ".pixelFormat must be 32 (xRGB, 8 bits per channel)"};
    const std::string order = text(input, "channelOrder", in);
    if (order == "RGB") m.channelOrder = ModelMetadata::ChannelOrder::RGB;
    else if (order == "BGR") m.channelOrder = ModelMetadata::ChannelOrder::BGR;
    else throw Invalid{in + ".channelOrder must be \"RGB\" or \"BGR\""};
    m.scale = number(input, "scale", in);
    if (m.scale <= 0) throw Invalid{in + ".scale must be positive"};
    m.mean = triple(input, "mean", in);
    m.std = triple(input, "std", in);
    for (double s : m.std)
        if (s <= 0) throw Invalid{in + ".std values must be positive"};

    const json& output = member(root, "output", top);
    const std::string out = top + ".output";
    const std::string kind = text(output, "kind", out);
    if (kind == "logits") m.outputKind = ModelMetadata::OutputKind::Logits;
    else if (kind == "probabilities") m.outputKind = ModelMetadata::OutputKind::Probabilities;
    else throw Invalid{out + ".kind must be \"logits\" or \"probabilities\""};
    if (output.contains("temperature")) {
        m.temperature = number(output, "temperature", out);
        if (m.temperature <= 0) throw Invalid{out + ".temperature must be positive"};
    }
    if (output.contains("tensor")) m.outputTensor = text(output, "tensor", out);
    if (output.contains("classMaps")) {
        m.classMapsTensor = text(output, "classMaps", out);
        if (m.outputKind != ModelMetadata::OutputKind::Logits || m.outputTensor.empty() || m.classMapsTensor.empty() ||
            m.classMapsTensor == m.outputTensor)
            throw Invalid{out + ".classMaps needs logits under their own .tensor name"};
    }

    const json& labels = member(root, "classLabels", top);
    if (!labels.is_array() || labels.empty()) throw Invalid{"metadata.classLabels must be a non-empty array"};
    std::set<std::string> seen;
    for (const json& label : labels) {
        if (!label.is_string()) throw Invalid{"metadata.classLabels must hold strings"};
        if (!seen.insert(label.get<std::string>()).second)
            throw Invalid{"metadata.classLabels holds \"" + label.get<std::string>() + "\" twice"};
        m.classLabels.push_back(label.get<std::string>());
    }

    const json& decision = member(root, "decision", top);
    const std::string dec = top + ".decision";
    const std::string rule = text(decision, "kind", dec);
    if (rule == "argmax") {
        m.decision = ModelMetadata::DecisionKind::Argmax;
    } else if (rule == "threshold") {
        m.decision = ModelMetadata::DecisionKind::Threshold;
        m.decisionLabel = text(decision, "label", dec);
        m.otherwiseLabel = text(decision, "otherwise", dec);
        m.threshold = number(decision, "threshold", dec);
        if (!seen.count(m.decisionLabel) || !seen.count(m.otherwiseLabel) || m.decisionLabel == m.otherwiseLabel)
            throw Invalid{dec + ".label and .otherwise must be two different class labels"};
        if (m.threshold < 0 || m.threshold > 1) throw Invalid{dec + ".threshold must lie in [0, 1]"};
        if (decision.contains("borderline")) {
            const json& band = decision["borderline"];
            if (!band.is_array() || band.size() != 2 || !band[0].is_number() || !band[1].is_number() ||
                !(band[0].get<double>() <= m.threshold && m.threshold <= band[1].get<double>()) ||
                band[0].get<double>() < 0 || band[1].get<double>() > 1)
                throw Invalid{dec + ".borderline must be [low, high] with 0 <= low <= threshold <= high <= 1"};
            m.borderline = std::array<double, 2>{band[0].get<double>(), band[1].get<double>()};
        }
    } else {
        throw Invalid{dec + ".kind must be \"argmax\" or \"threshold\""};
    }

    m.sha256 = text(root, "sha256", top);
    if (m.sha256.size() != 64 || m.sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
        throw Invalid{"metadata.sha256 must be 64 lower-case hex digits"};
    if (root.contains("provenance")) m.provenanceText = root["provenance"].dump(2);
    return m;
}

}  // namespace

Result<ModelMetadata> parseModelMetadata(std::string_view jsonText) {
    const json root = json::parse(jsonText.begin(), jsonText.end(), nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded()) return Error{"metadata.json is not valid JSON"};
    try {
        return parse(root);
    } catch (const Invalid& invalid) {
        return Error{invalid.message};
    } catch (const json::exception& e) {  // a value out of a type's range, for instance
        return Error{std::string("metadata.json: ") + e.what()};
    }
}

}  // namespace orvix

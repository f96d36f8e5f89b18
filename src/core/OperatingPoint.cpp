#include "orvix/OperatingPoint.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "orvix/Report.h"

namespace orvix {

namespace {

using nlohmann::json;

constexpr std::string_view kFormat = "orvix-operating-point";
constexpr int kFormatVersion = 1;

struct Invalid {
    std::string why;
};

json intervalJson(const Interval& i) { return json::array({i.value, i.low, i.high}); }

Interval intervalOf(const json& j, const char* name) {
    if (!j.contains(name) || !j[name].is_array() || j[name].size() != 3)
        throw Invalid{std::string(name) + " must be [value, low, high]"};
    for (const auto& v : j[name])
        if (!v.is_number()) throw Invalid{std::string(name) + " must hold numbers"};
    return {j[name][0].get<double>(), j[name][1].get<double>(), j[name][2].get<double>()};
}

std::string textOf(const json& j, const char* name, const std::string& where) {
    if (!j.contains(name) || !j[name].is_string()) throw Invalid{where + name + " must be a string"};
    return j[name].get<std::string>();
}

double numberOf(const json& j, const char* name) {
    if (!j.contains(name) || !j[name].is_number()) throw Invalid{std::string(name) + " must be a number"};
    return j[name].get<double>();
}

std::size_t countOf(const json& j, const char* name) {
    if (!j.contains(name) || !j[name].is_number_unsigned())
        throw Invalid{std::string("films.") + name + " must be a count"};
    return j[name].get<std::size_t>();
}

double logit(double p) { return std::log(p / (1.0 - p)); }
double logistic(double x) { return 1.0 / (1.0 + std::exp(-x)); }

}  // namespace

std::string OperatingPoint::description() const {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.1f", threshold * 100.0);
    return std::string("local threshold ") + percent + " %, validated on " +
           std::to_string(normalFilms + pneumoniaFilms) + " films on " + date;
}

std::string operatingPointJson(const OperatingPoint& p) {
    const json j = {
        {"format", kFormat},
        {"formatVersion", kFormatVersion},
        {"threshold", p.threshold},
        {"targetSensitivity", p.targetSensitivity},
        {"films", {{"NORMAL", p.normalFilms}, {"PNEUMONIA", p.pneumoniaFilms}}},
        {"auc", intervalJson(p.auc)},
        {"sensitivity", intervalJson(p.sensitivity)},
        {"specificity", intervalJson(p.specificity)},
        {"date", p.date},
        {"models",
         {{"disease", {{"name", p.diseaseModel}, {"sha256", p.diseaseSha256}}},
          {"gate", {{"name", p.gateModel}, {"sha256", p.gateSha256}}}}},
    };
    return j.dump(2) + '\n';
}

Result<OperatingPoint> parseOperatingPoint(std::string_view jsonText) {
    const json j = json::parse(jsonText, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return Error{"not a JSON object"};
    try {
        if (!j.contains("format") || j["format"] != kFormat)
            throw Invalid{"format must be \"" + std::string(kFormat) + "\""};
        if (!j.contains("formatVersion") || j["formatVersion"] != kFormatVersion)
            throw Invalid{"formatVersion must be " + std::to_string(kFormatVersion)};
        OperatingPoint p;
        p.threshold = numberOf(j, "threshold");
        if (!(p.threshold > 0.0 && p.threshold < 1.0)) throw Invalid{"threshold must lie strictly between 0 and 1"};
        p.targetSensitivity = numberOf(j, "targetSensitivity");
        if (!j.contains("films") || !j["films"].is_object()) throw Invalid{"films must be an object"};
        p.normalFilms = countOf(j["films"], "NORMAL");
        p.pneumoniaFilms = countOf(j["films"], "PNEUMONIA");
        p.auc = intervalOf(j, "auc");
        p.sensitivity = intervalOf(j, "sensitivity");
        p.specificity = intervalOf(j, "specificity");
        p.date = textOf(j, "date", "");
        if (!j.contains("models") || !j["models"].is_object()) throw Invalid{"models must be an object"};
        for (const auto& [key, name, sha] : {std::tuple{"disease", &p.diseaseModel, &p.diseaseSha256},
                                             std::tuple{"gate", &p.gateModel, &p.gateSha256}}) {
            if (!j["models"].contains(key) || !j["models"][key].is_object())
                throw Invalid{std::string("models.") + key + " must be an object"};
            const std::string where = std::string("models.") + key + ".";
            *name = textOf(j["models"][key], "name", where);
            *sha = textOf(j["models"][key], "sha256", where);
        }
        return p;
    } catch (const Invalid& invalid) {
        return Error{invalid.why};
    }
}

Result<OperatingPoint> loadOperatingPoint(const std::filesystem::path& file, const ModelMetadata& disease,
                                          const ModelMetadata& gate) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf()))
        return Error{"cannot read the operating point " + file.string() + ": no such file or not readable"};
    auto point = parseOperatingPoint(text.str());
    if (!point) return Error{file.string() + ": not an operating point (" + point.error().message + ")"};
    for (const auto& [what, model, savedName, savedSha] :
         {std::tuple{"disease", &disease, point->diseaseModel, point->diseaseSha256},
          std::tuple{"gate", &gate, point->gateModel, point->gateSha256}}) {
        if (savedSha != model->sha256)
            return Error{file.string() + ": this operating point was validated with other models and is void for " +
                         "these (the " + what + " model " + savedName + " had SHA-256 " + savedSha + ", the loaded " +
                         model->name + " has " + model->sha256 + "); validate again with the models in use"};
    }
    if (disease.decision != ModelMetadata::DecisionKind::Threshold)
        return Error{file.string() + ": the disease model " + disease.name + " has no threshold rule to replace"};
    return point;
}

std::optional<std::filesystem::path> userOperatingPointFile(const EnvironmentLookup& environment) {
    // An empty XDG_CONFIG_HOME counts as unset, as the XDG base directory rules say.
    if (auto xdg = environment("XDG_CONFIG_HOME"); xdg && !xdg->empty())
        return std::filesystem::path(*xdg) / "orvix" / "operating-point.json";
    if (auto home = environment("HOME"); home && !home->empty())
        return std::filesystem::path(*home) / ".config" / "orvix" / "operating-point.json";
    return std::nullopt;
}

std::optional<std::filesystem::path> findOperatingPoint(const EnvironmentLookup& environment,
                                                        const std::filesystem::path& systemDirectory) {
    for (const auto& candidate :
         {userOperatingPointFile(environment), std::optional(systemDirectory / "operating-point.json")}) {
        std::error_code ec;
        if (candidate && std::filesystem::exists(*candidate, ec)) return candidate;
    }
    return std::nullopt;
}

ModelMetadata withOperatingPoint(const ModelMetadata& disease, const OperatingPoint& point) {
    ModelMetadata moved = disease;
    moved.threshold = point.threshold;
    if (disease.borderline) {
        // A side of the band at 0 or 1 is unbounded in logit space and stays where it is.
        const auto [low, high] = *disease.borderline;
        const double centre = logit(point.threshold);
        const double newLow = low <= 0.0 ? 0.0 : logistic(centre - (logit(disease.threshold) - logit(low)));
        const double newHigh = high >= 1.0 ? 1.0 : logistic(centre + (logit(high) - logit(disease.threshold)));
        moved.borderline = std::array<double, 2>{std::min(newLow, point.threshold), std::max(newHigh, point.threshold)};
    }
    return moved;
}

void applyOperatingPoint(DiagnosisState& state, const OperatingPoint& point) {
    if (state.classificationLabel.get().empty()) return;
    const ModelMetadata& metadata = state.model->model.metadata();
    state.classificationLabel =
        state.diseaseProbability.get() >= point.threshold ? metadata.decisionLabel : metadata.otherwiseLabel;
    // The report's probability line gives the point's threshold and its moved band, and a line after
    // it names the point.
    DiseaseAnswer answer = diseaseAnswer(withOperatingPoint(metadata, point), state.diseaseProbability);
    answer.operatingPoint = point.description();
    state.fullText = composeReport(state.fileName, patientNameOf(state.origin.get()), state.classificationLabel2,
                                   state.classificationLabel, state.accuracy, answer, Clock::now());
}

}  // namespace orvix

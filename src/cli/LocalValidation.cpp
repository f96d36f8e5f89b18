#include "LocalValidation.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "PathText.h"
#include "orvix/ImportRun.h"
#include "orvix/PictureSearch.h"
#include "orvix/ReportSaver.h"
#include "orvix/ValidationPlots.h"

namespace orvix::cli {

namespace {

using nlohmann::json;

std::optional<bool> labelOf(std::string_view name) {
    if (name == "NORMAL") return false;
    if (name == "PNEUMONIA") return true;
    return std::nullopt;
}

// Labels from the nearest folder named NORMAL or PNEUMONIA above each picture.
LabelledFilms filmsInFolders(const std::filesystem::path& dir, const std::vector<std::filesystem::path>& skipped) {
    LabelledFilms films;
    searchPictures(
        {dir},
        [&](FoundPicture picture) {
            std::optional<bool> label;
            for (const auto& part : picture.folder)
                if (auto l = labelOf(part.string())) label = l;
            if (label) films.labelled.push_back({picture.path, *label});
            else films.unlabelled.push_back(picture.path);
        },
        [&](const SearchError& error) { films.searchErrors.push_back(error.text()); }, skipped);
    return films;
}

std::string unquoted(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(0, 1);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        std::string out;
        for (std::size_t i = 1; i + 1 < s.size(); ++i) {
            out += s[i];
            if (s[i] == '"' && s[i + 1] == '"') ++i;
        }
        return out;
    }
    return s;
}

// Lines "path,label" (a first line "path,label" is a header); the label after the last comma.
Result<LabelledFilms> filmsInCsv(const std::filesystem::path& dir, const std::filesystem::path& csv) {
    std::ifstream in(csv, std::ios::binary);
    if (!in) return Error{"cannot read the labels " + csv.string() + ": no such file or not readable"};
    LabelledFilms films;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        const auto where = csv.string() + ":" + std::to_string(number) + ": ";
        if (unquoted(line).empty() || (number == 1 && unquoted(line) == "path,label")) continue;
        const auto comma = line.rfind(',');
        if (comma == std::string::npos) return Error{where + "not path,label"};
        const std::filesystem::path relative = unquoted(line.substr(0, comma));
        const std::string labelText = unquoted(line.substr(comma + 1));
        const auto label = labelOf(labelText);
        if (!label) return Error{where + "unknown label \"" + labelText + "\" (NORMAL or PNEUMONIA)"};
        const auto normal = relative.lexically_normal();
        if (relative.empty() || relative.is_absolute() || normal.empty() || *normal.begin() == "..")
            return Error{where + relative.string() + " is not a path inside " + dir.string()};
        films.labelled.push_back({dir / normal, *label});
    }
    if (in.bad()) return Error{"cannot read the labels " + csv.string()};
    return films;
}

std::string percent(double p) {
    char s[32];
    std::snprintf(s, sizeof s, "%.1f %%", 100.0 * p);
    return s;
}
std::string fixed(double v, int digits = 3) {
    char s[32];
    std::snprintf(s, sizeof s, "%.*f", digits, v);
    return s;
}
std::string percentInterval(const Interval& i) {
    char s[64];
    std::snprintf(s, sizeof s, "%.1f %% (95 %% CI %.1f-%.1f %%)", 100 * i.value, 100 * i.low, 100 * i.high);
    return s;
}
json intervalJson(const Interval& i) { return {{"value", i.value}, {"low", i.low}, {"high", i.high}}; }

json figuresJson(const OperatingFigures& f) {
    const auto& c = f.confusion;
    return {{"threshold", f.threshold},
            {"truePositive", c.truePositive},
            {"falseNegative", c.falseNegative},
            {"trueNegative", c.trueNegative},
            {"falsePositive", c.falsePositive},
            {"sensitivity", intervalJson(f.sensitivity)},
            {"specificity", intervalJson(f.specificity)},
            {"ppv", intervalJson(f.ppv)},
            {"npv", intervalJson(f.npv)}};
}

void figuresText(std::ostringstream& out, const OperatingFigures& f) {
    const auto& c = f.confusion;
    out << "  sensitivity " << percentInterval(f.sensitivity) << ", " << c.truePositive << " of "
        << c.truePositive + c.falseNegative << " PNEUMONIA films\n"
        << "  specificity " << percentInterval(f.specificity) << ", " << c.trueNegative << " of "
        << c.trueNegative + c.falsePositive << " NORMAL films\n"
        << "  PPV " << percentInterval(f.ppv) << "\n"
        << "  NPV " << percentInterval(f.npv) << "\n";
}

// The model's own AUC on adults, from its metadata's provenance, when it gives one.
std::optional<double> adultAuc(const ModelMetadata& disease) {
    const json provenance = json::parse(disease.provenanceText, nullptr, false);
    const json::json_pointer at("/validation/perPopulation/adult/auc");
    if (provenance.is_discarded() || !provenance.contains(at)) return std::nullopt;
    const json& auc = provenance[at];
    if (auc.is_number()) return auc.get<double>();
    if (auc.is_array() && !auc.empty() && auc[0].is_number()) return auc[0].get<double>();
    return std::nullopt;
}

std::string today() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char s[16];
    std::strftime(s, sizeof s, "%Y-%m-%d", &utc);
    return s;
}

}  // namespace

Result<LabelledFilms> findLabelledFilms(const std::filesystem::path& dir,
                                        const std::optional<std::filesystem::path>& labelsCsv,
                                        const std::vector<std::filesystem::path>& skipped) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) return Error{dir.string() + ": not a directory"};
    LabelledFilms films;
    if (labelsCsv) {
        auto read = filmsInCsv(dir, *labelsCsv);
        if (!read) return read.error();
        films = std::move(read).value();
    } else {
        films = filmsInFolders(dir, skipped);
    }
    films.directory = dir;
    std::size_t labelled[2] = {0, 0};
    for (const auto& film : films.labelled) ++labelled[film.positive];
    if (labelled[0] == 0 || labelled[1] == 0)
        return Error{
            dir.string() + ": validation needs films of both labels, found " + std::to_string(labelled[0]) +
            " NORMAL and " + std::to_string(labelled[1]) + " PNEUMONIA" +
            (labelsCsv ? " in " + labelsCsv->string() : std::string(" (in folders named NORMAL and PNEUMONIA)"))};
    return films;
}

Result<LocalValidation> validateFilms(const LabelledFilms& films, std::vector<DiagnosisState>& states,
                                      double targetSensitivity,
                                      const std::function<void(std::size_t, std::size_t)>& progress,
                                      const std::atomic<bool>* cancel) {
    const ModelMetadata& disease = states.front().model->model.metadata();
    const ModelMetadata& gate = states.front().model2->model.metadata();
    const std::string positiveLabel = diseaseLabel(disease);

    // One worker per state; each film's outcome lands in its own slot.
    struct Outcome {
        ImportResult result;
        bool chest = false;
        double probability = 0.0;
    };
    std::vector<Outcome> outcomes(films.labelled.size());
    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex progressMutex;
    {
        std::vector<std::jthread> workers;
        for (auto& state : states)
            workers.emplace_back([&] {
                for (std::size_t i; !(cancel && *cancel) && (i = next++) < outcomes.size();) {
                    auto& o = outcomes[i];
                    o.result =
                        importImage(ImporterOutcome::success(films.labelled[i].path), state, Preparation::Shared);
                    if (o.result.status == ImportStatus::Analysed) {
                        o.chest = isChestXRay(state.classificationLabel2.get());
                        const auto& probs = o.result.disease->classLabelProbs;
                        const auto it = probs.find(positiveLabel);
                        o.probability = it == probs.end() ? 0.0 : it->second;
                    }
                    if (progress) {
                        const std::lock_guard lock(progressMutex);
                        progress(++done, outcomes.size());
                    }
                }
            });
    }
    if (cancel && *cancel) return Error{"cancelled"};

    LocalValidation v;
    v.directory = films.directory;
    v.modelName = disease.name;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const auto& o = outcomes[i];
        if (o.result.status != ImportStatus::Analysed) v.unreadable.push_back(o.result.message);
        else if (!o.chest) v.notChest.push_back(pathText(films.labelled[i].path.native()));
        else v.scores.push_back({o.probability, films.labelled[i].positive});
    }
    for (const auto& error : films.searchErrors) v.unreadable.push_back(error);
    for (const auto& path : films.unlabelled) v.unlabelled.push_back(pathText(path.native()));

    v.settings.shippedThreshold = disease.threshold;
    v.settings.borderline = disease.borderline;
    v.settings.targetSensitivity = targetSensitivity;
    auto validated = validate(v.scores, v.settings);
    if (!validated)
        return Error{films.directory.string() +
                     ": cannot validate on the films that were analysed: " + validated.error().message};
    v.report = std::move(validated).value();
    const ValidationReport& r = v.report;

    if (r.positives < kFewestFilmsPerLabel || r.negatives < kFewestFilmsPerLabel)
        v.warnings.push_back("too few films to rely on: " + std::to_string(r.negatives) + " NORMAL and " +
                             std::to_string(r.positives) + " PNEUMONIA; collect at least " +
                             std::to_string(kFewestFilmsPerLabel) +
                             " of each (several hundred for a stable threshold)");
    const auto adult = adultAuc(disease);
    if (adult && r.auc.high < *adult)
        v.warnings.push_back("the AUC on these films (95 % CI up to " + fixed(r.auc.high) +
                             ") lies below the model's own validation AUC for adults (" + fixed(*adult) +
                             "): the model does worse here than it was validated; look for a cause before using it");

    OperatingPoint& point = v.point;
    point.threshold = r.local.threshold;
    point.targetSensitivity = targetSensitivity;
    point.normalFilms = r.negatives;
    point.pneumoniaFilms = r.positives;
    point.auc = r.auc;
    point.sensitivity = r.local.sensitivity;
    point.specificity = r.local.specificity;
    point.date = today();
    point.diseaseModel = disease.name;
    point.diseaseSha256 = disease.sha256;
    point.gateModel = gate.name;
    point.gateSha256 = gate.sha256;
    return v;
}

std::string validationJson(const LocalValidation& v) {
    const ValidationReport& r = v.report;
    json j;
    j["directory"] = pathText(v.directory.native());
    j["films"] = {{"NORMAL", r.negatives},
                  {"PNEUMONIA", r.positives},
                  {"notChestXRay", v.notChest},
                  {"unreadable", v.unreadable},
                  {"unlabelled", v.unlabelled}};
    j["auc"] = intervalJson(r.auc);
    j["aucInterval"] = "stratified bootstrap, " + std::to_string(v.settings.replicates) + " replicates, seed " +
                       std::to_string(v.settings.seed);
    j["modelThreshold"] = figuresJson(r.shipped);
    j["borderlineShare"] = v.settings.borderline ? json(r.borderlineShare) : json(nullptr);
    j["calibration"]["expectedCalibrationError"] = r.calibration.expectedError;
    for (const auto& bin : r.calibration.bins)
        j["calibration"]["bins"].push_back({{"low", bin.low},
                                            {"high", bin.high},
                                            {"films", bin.films},
                                            {"meanProbability", bin.meanProbability},
                                            {"pneumoniaShare", bin.positiveShare}});
    j["localThreshold"] = figuresJson(r.local);
    j["localThreshold"]["targetSensitivity"] = v.settings.targetSensitivity;
    j["localThreshold"]["thresholdInterval"] = intervalJson(r.localThreshold);
    j["localThreshold"]["specificityBootstrap"] = intervalJson(r.localSpecificity);
    j["warnings"] = v.warnings;
    return j.dump(-1, ' ', false, json::error_handler_t::replace) + '\n';
}

std::string validationText(const LocalValidation& v) {
    const ValidationReport& r = v.report;
    std::ostringstream t;
    t << "Validation of " << v.modelName << " on " << pathText(v.directory.native(), PathEscape::InvalidUtf8AndControls)
      << "\nFilms: " << r.negatives + r.positives << " (" << r.negatives << " NORMAL, " << r.positives
      << " PNEUMONIA); excluded: " << v.notChest.size() << " not a chest X-ray, " << v.unreadable.size()
      << " unreadable, " << v.unlabelled.size() << " unlabelled\n"
      << "AUC: " << fixed(r.auc.value) << " (95 % CI " << fixed(r.auc.low) << "-" << fixed(r.auc.high)
      << ", stratified bootstrap, " << v.settings.replicates << " replicates, seed " << v.settings.seed << ")\n"
      << "At the model's threshold " << percent(r.shipped.threshold) << ":\n";
    figuresText(t, r.shipped);
    if (const auto& band = v.settings.borderline)
        t << "Borderline (" << percent((*band)[0]) << " to " << percent((*band)[1])
          << "): " << percent(r.borderlineShare) << " of the films\n";
    t << "Calibration: expected calibration error " << fixed(r.calibration.expectedError)
      << "\n  P(PNEUMONIA)  films  mean P  PNEUMONIA share\n";
    for (const auto& bin : r.calibration.bins) {
        char row[96];
        std::snprintf(row, sizeof row, "  %.1f-%.1f    %6zu  %6s  %6s\n", bin.low, bin.high, bin.films,
                      bin.films ? fixed(bin.meanProbability).c_str() : "-",
                      bin.films ? fixed(bin.positiveShare).c_str() : "-");
        t << row;
    }
    t << "Local threshold for sensitivity >= " << percent(v.settings.targetSensitivity) << ": "
      << percent(r.local.threshold) << " (bootstrap 95 % CI " << percent(r.localThreshold.low) << " to "
      << percent(r.localThreshold.high) << ")\n";
    figuresText(t, r.local);
    t << "  specificity by bootstrap: 95 % CI " << percent(r.localSpecificity.low) << " to "
      << percent(r.localSpecificity.high) << "\n";
    for (const auto& warning : v.warnings) t << "Warning: " << warning << '\n';
    return t.str();
}

Status writeValidationPlots(const LocalValidation& v, const std::filesystem::path& folder) {
    const std::vector<std::pair<const char*, cv::Mat>> plots = {
        {"roc.png", rocPlot(v.report)},
        {"reliability.png", reliabilityPlot(v.report)},
        {"histogram.png", probabilityHistogram(v.scores, v.report)}};
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return Error{"cannot create " + folder.string() + ": " + ec.message()};
    for (const auto& [name, picture] : plots) {
        std::vector<std::uint8_t> png;
        const auto target = folder / name;
        if (!cv::imencode(".png", picture, png)) return Error{"cannot encode " + target.string()};
        if (auto saved =
                writeFileAtomically(target, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
            !saved)
            return saved;
    }
    return Done{};
}

}  // namespace orvix::cli

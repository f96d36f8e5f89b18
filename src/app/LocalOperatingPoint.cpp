#include "LocalOperatingPoint.h"

#include <mutex>

#include "orvix/Report.h"
#include "orvix/ReportSaver.h"

namespace orvix::app {

namespace {

std::mutex pointMutex;
std::optional<OperatingPoint> currentPoint;

}  // namespace

std::optional<OperatingPoint> activeOperatingPoint() {
    const std::lock_guard lock(pointMutex);
    return currentPoint;
}

void setActiveOperatingPoint(std::optional<OperatingPoint> point) {
    const std::lock_guard lock(pointMutex);
    currentPoint = std::move(point);
}

ModelMetadata activeDiseaseRule(const ModelMetadata& disease) {
    const auto point = activeOperatingPoint();
    return point ? withOperatingPoint(disease, *point) : disease;
}

void applyActiveOperatingPoint(DiagnosisState& state) {
    if (const auto point = activeOperatingPoint()) applyOperatingPoint(state, *point);
}

void redecideAtActiveOperatingPoint(DiagnosisState& state) {
    if (state.classificationLabel.get().empty()) return;
    if (const auto point = activeOperatingPoint()) return applyOperatingPoint(state, *point);
    const ModelMetadata& m = state.model->model.metadata();
    state.classificationLabel = state.diseaseProbability.get() >= m.threshold ? m.decisionLabel : m.otherwiseLabel;
    state.fullText = composeReport(state.fileName, patientNameOf(state.origin.get()), state.classificationLabel2,
                                   state.classificationLabel, state.accuracy,
                                   diseaseAnswer(m, state.diseaseProbability), Clock::now());
}

QString operatingPointText(const ModelMetadata& disease) {
    if (const auto point = activeOperatingPoint()) return QString::fromStdString(point->description());
    return QStringLiteral("shipped threshold %1 %").arg(disease.threshold * 100.0, 0, 'f', 1);
}

std::optional<QString> loadConfiguredOperatingPoint(const DiagnosisState& state, const EnvironmentLookup& environment) {
    setActiveOperatingPoint(std::nullopt);
    const auto file = findOperatingPoint(environment);
    if (!file) return std::nullopt;
    auto point = loadOperatingPoint(*file, state.model->model.metadata(), state.model2->model.metadata());
    if (!point)
        return QStringLiteral(
                   "The configured operating point is not used, and the model's own threshold decides "
                   "every verdict:\n%1")
            .arg(QString::fromStdString(point.error().message));
    setActiveOperatingPoint(std::move(point).value());
    return std::nullopt;
}

Status adoptOperatingPoint(const OperatingPoint& point, const EnvironmentLookup& environment) {
    const auto file = userOperatingPointFile(environment);
    if (!file) return Error{"cannot save the operating point: neither XDG_CONFIG_HOME nor HOME is set"};
    std::error_code ec;
    std::filesystem::create_directories(file->parent_path(), ec);
    if (ec) return Error{"cannot create " + file->parent_path().string() + ": " + ec.message()};
    if (auto written = writeFileAtomically(*file, operatingPointJson(point)); !written) return written;
    setActiveOperatingPoint(point);
    return Done{};
}

Result<Reverted> revertToShippedThreshold(const EnvironmentLookup& environment,
                                          const std::filesystem::path& systemDirectory) {
    if (const auto file = userOperatingPointFile(environment)) {
        std::error_code ec;
        std::filesystem::remove(*file, ec);
        if (ec) return Error{"cannot remove " + file->string() + ": " + ec.message()};
    }
    setActiveOperatingPoint(std::nullopt);
    Reverted reverted;
    std::error_code ec;
    if (const auto system = systemDirectory / "operating-point.json"; std::filesystem::exists(system, ec))
        reverted.systemPointLeft = system;
    return reverted;
}

}  // namespace orvix::app

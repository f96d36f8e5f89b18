#include "ResultRow.h"

#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "PathText.h"
#include "orvix/Heatmap.h"
#include "orvix/Report.h"

namespace orvix::cli {

const char* statusName(ImportStatus status) {
    switch (status) {
        case ImportStatus::Analysed: return "ok";
        case ImportStatus::Unreadable: return "unreadable";
        case ImportStatus::Undecodable: return "undecodable";
        case ImportStatus::Unclassified: return "unclassified";
        case ImportStatus::ImporterFailed: break;
    }
    return "unreadable";
}

std::string jsonText(const nlohmann::json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json jsonRow(const Row& row) {
    const bool ok = row.result.status == ImportStatus::Analysed;
    nlohmann::json j;
    j["path"] = pathText(row.path.native());
    j["fileName"] = pathText(row.fileName);
    j["status"] = statusName(row.result.status);
    if (!ok) j["error"] = row.result.message;
    auto stage = [](const std::optional<StageResult>& s) {
        nlohmann::json out = nlohmann::json::object();
        if (!s) return nlohmann::json(nullptr);
        out["label"] = s->classLabel;
        out["probabilities"] = s->classLabelProbs;
        return out;
    };
    j["gate"] = stage(row.result.gate);
    j["disease"] = stage(row.result.disease);
    j["result"] = ok ? nlohmann::json(row.verdict) : nlohmann::json(nullptr);
    j["isChestXRay"] = ok ? nlohmann::json(row.isChestXRay) : nlohmann::json(nullptr);
    j["accuracy"] = ok ? nlohmann::json(row.accuracy) : nlohmann::json(nullptr);
    j["borderline"] = row.borderline ? nlohmann::json(*row.borderline) : nlohmann::json(nullptr);
    if (!row.operatingPoint.empty()) j["operatingPoint"] = row.operatingPoint;
    // Only for DICOM pictures, so that every other row stays as it was; an absent tag is null.
    if (row.dicom) {
        const auto text = [](const std::string& value) {
            return value.empty() ? nlohmann::json(nullptr) : nlohmann::json(value);
        };
        const DicomIdentity& d = *row.dicom;
        j["patient"] = {{"name", text(d.patientName)},
                        {"id", text(d.patientId)},
                        {"birthDate", text(d.birthDate)},
                        {"sex", text(d.sex)}};
        j["study"] = {{"date", text(d.studyDate)},
                      {"accessionNumber", text(d.accessionNumber)},
                      {"viewPosition", text(d.viewPosition)}};
    }
    return j;
}

Analysis analysePicture(const FoundPicture& picture, DiagnosisState& state, bool withHeatmap,
                        const OperatingPoint* point, PictureDigest digest) {
    Analysis a;
    Row& row = a.row;
    row.path = picture.path;
    row.stamp = fileStamp(row.path);
    row.result = importImage(ImporterOutcome::success(row.path), state, Preparation::Shared, digest);
    if (row.result.status == ImportStatus::Analysed || row.result.status == ImportStatus::Unclassified)
        row.dicom = state.origin.get().dicom;
    if (row.result.status != ImportStatus::Analysed) {
        row.fileName = row.path.filename().string();
        return a;
    }
    a.origin = state.origin.get();
    if (point && isChestXRay(state.classificationLabel2.get())) {
        applyOperatingPoint(state, *point);
        if (row.result.disease) row.result.disease->classLabel = state.classificationLabel.get();
        row.operatingPoint = point->description();
    }
    row.fileName = a.fileName = state.fileName.get();
    row.verdict = testResult(state.classificationLabel2, state.classificationLabel);
    row.isChestXRay = isChestXRay(state.classificationLabel2.get());
    row.accuracy = state.accuracy;
    if (row.isChestXRay && row.result.disease) {
        const ModelMetadata& disease = state.model->model.metadata();
        row.borderline =
            diseaseAnswer(point ? withOperatingPoint(disease, *point) : disease, state.diseaseProbability).borderline;
    }
    a.report = state.fullText.get();
    if (withHeatmap && row.isChestXRay && !state.activationMap.get().empty()) {
        std::vector<std::uint8_t> png;
        if (cv::imencode(".png", heatmapPicture(state.img.get(), state.activationMap.get()), png))
            a.heatmapPng.emplace(png.begin(), png.end());
        else a.heatmapFailed = true;
    }
    return a;
}

}  // namespace orvix::cli

#pragma once
// One picture screened as orvix-screen screens it, and its result row: what every program that
// screens files shows (orvix-screen's rows, orvix-node's results.jsonl). The same core run as the
// window (read, decode, gate, disease stage, report), with a clinic's operating point where one
// is configured.
//
//   Analysis a = analysePicture({path, {}}, state, /*withHeatmap=*/false, point);
//   std::string line = jsonText(jsonRow(a.row));   // the --json object, without its line feed
//
// After analysePicture the state holds the picture's own cells (img, activationMap,
// diseaseProbability, ...), so that a caller may compose more from them before the next picture.

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "ResumeFile.h"
#include "orvix/DiagnosisState.h"
#include "orvix/ImportRun.h"
#include "orvix/OperatingPoint.h"
#include "orvix/PictureSearch.h"

namespace orvix::cli {

// "ok", "unreadable", "undecodable" or "unclassified": the row's status.
const char* statusName(ImportStatus status);

struct Row {
    std::filesystem::path path;
    std::optional<FileStamp> stamp;  // of the picture's file before it was read
    std::string fileName;
    ImportResult result;
    std::string verdict;  // NEGATIVE / POSITIVE / NOT A CHEST X-RAY
    bool isChestXRay = false;
    double accuracy = 0.0;
    // Whether the disease model's probability lies in its borderline band (the operating point's, when one
    // made the verdict); set for an analysed chest X-ray only.
    std::optional<bool> borderline;
    std::string operatingPoint;          // what made the verdict, when a clinic's operating point did
    std::optional<DicomIdentity> dicom;  // a decoded DICOM picture's patient and study
};

// The --json object: path, fileName, status, error (when refused), gate, disease, result,
// isChestXRay, accuracy, borderline, operatingPoint (when one made the verdict), and for a DICOM
// picture "patient" and "study" (an absent tag null).
nlohmann::json jsonRow(const Row& row);

// One line of JSON, without a line feed. A message that quotes a file name may hold bytes that
// are not UTF-8; they become U+FFFD rather than failing the line.
std::string jsonText(const nlohmann::json& j);

// One picture's analysis, ready to be written out.
struct Analysis {
    Row row;
    PictureOrigin origin;                   // the picture a report is written for
    std::string fileName;                   // as the report names it
    std::string report;                     // the composed report
    std::optional<std::string> heatmapPng;  // an analysed chest X-ray's, when asked for and its model gives one
    bool heatmapFailed = false;
};

// The window's import run on one picture, with the state's own models (Preparation::Shared).
// With a clinic's operating point, the verdict (and the report) are its threshold's. A run that
// saves no report skips the picture's digest (origin.sha256 is then empty).
Analysis analysePicture(const FoundPicture& picture, DiagnosisState& state, bool withHeatmap,
                        const OperatingPoint* point, PictureDigest digest = PictureDigest::Taken);

}  // namespace orvix::cli

#pragma once
// The DICOM objects that answer one film: a Comprehensive SR with the screening result, and a
// Secondary Capture of the film with the heatmap and the verdict burned in. Both belong to the
// film's study (its patient and study attributes copied), each in a series of its own; new UIDs
// come from DCMTK's generator under DCMTK's root 1.2.276.0.7230010.3 (series .1.3, instances
// .1.4). Both say "Not for diagnostic use".
//
// The SR's content (concept names coded in the private scheme 99ORVIX):
//   CONTAINER "Chest X-ray screening" (ORVIX-100)
//     TEXT  "Verdict" (ORVIX-101): NEGATIVE, POSITIVE, NOT A CHEST X-RAY, or "not analysed"
//     TEXT  "Reason not analysed" (ORVIX-102)           a film that was refused, only
//     NUM   "Pneumonia probability" (ORVIX-103), unit 1 a chest X-ray whose disease stage ran
//     NUM   "Threshold" (ORVIX-104), unit 1              with it
//     TEXT  "Borderline" (ORVIX-105): yes / no           with it
//     TEXT  "Operating point" (ORVIX-106)                a clinic's threshold, when it made the verdict
//     NUM   "Chest X-ray probability" (ORVIX-107), unit 1  the gate's, when it ran
//     TEXT  "Disease model" / "Gate model" (ORVIX-108/109): "<name> sha256:<first 12 hex digits>"
//     TEXT  "Warning" (ORVIX-110): Not for diagnostic use
//     IMAGE "Source image" (ORVIX-111): the film's SOP instance
// A refused film gets the verdict "not analysed" and its reason, never a probability.

#include <filesystem>
#include <optional>
#include <string>

#include <opencv2/core/mat.hpp>

#include "orvix/Image.h"
#include "orvix/Result.h"

class DcmDataset;

namespace orvix::node {

inline constexpr const char* kCodingScheme = "99ORVIX";
inline constexpr const char* kNotForDiagnosticUse = "Not for diagnostic use";
inline constexpr const char* kNotAnalysed = "not analysed";

// What one film's screening said, as the result objects carry it.
struct Screening {
    std::string verdict;  // NEGATIVE, POSITIVE, NOT A CHEST X-RAY; "" for a refused film
    std::string reason;   // why a refused film was not analysed
    std::optional<double> pneumoniaProbability, threshold, gateProbability;
    std::optional<bool> borderline;
    std::string operatingPoint;           // the clinic's, when it made the verdict
    std::string diseaseModel, gateModel;  // "<name> sha256:<prefix>"
};

// The film's picture with the heatmap (when the map is not empty) and, above it, a band with the
// verdict, the probability and "Not for diagnostic use". BGR, 8 bits; at most kCaptureSide
// pixels on its longer side. Precondition: picture is not empty.
inline constexpr int kCaptureSide = 1024;
cv::Mat capturePicture(const cv::Mat& pictureWithHeatmap, const Screening& screening);

// The picture made no larger than the capture shows it (at most kCaptureSide on its longer side), so that the
// heatmap is composed over the pixels that are kept rather than over a large film's.
Image captureBase(const Image& picture);

// Writes the SR answering film (a data set as received) to target. Fails naming target.
Status writeReportObject(DcmDataset& film, const Screening& screening, const std::filesystem::path& target);

// Writes the Secondary Capture of picture (BGR, 8 bits) to target. Fails naming target.
Status writeCaptureObject(DcmDataset& film, const cv::Mat& picture, const std::filesystem::path& target);

}  // namespace orvix::node

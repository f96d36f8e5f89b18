#pragma once
// The one record of the diagnosis screen: fourteen members in a fixed order, then what the
// disease stage found beside its label (the probability and the heatmap it rests on), and where
// the picture came from.
//
// Every member but `total`, `model` and `model2` is a state cell; copies of the
// record share the cells (see State.h), so an action holding a copy updates the
// one screen. `model` and `model2` are shared, loaded once, never replaced.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orvix/DicomIdentity.h"
#include "orvix/Heatmap.h"
#include "orvix/Image.h"
#include "orvix/Result.h"
#include "orvix/SickClassifier1.h"
#include "orvix/State.h"
#include "orvix/XRayClassifier1.h"

namespace orvix {

// The picture that img shows: the file it was read from, the SHA-256 of the bytes that were
// decoded (a saved report records it, ReportSaver.h), and who and what it shows where it is DICOM.
struct PictureOrigin {
    std::filesystem::path path;
    std::string sha256;
    std::optional<DicomIdentity> dicom;
};

// The DICOM Patient's Name as the report pre-fills it ("" for other pictures).
inline std::string patientNameOf(const PictureOrigin& origin) {
    return origin.dicom ? origin.dicom->patientName : std::string();
}

class DiagnosisState {
public:
    // Loads the shipped models, SickClassifier1 first, then XRayClassifier1. Fails,
    // naming the resource and where it was looked for, when either is missing or invalid.
    static Result<DiagnosisState> create();

    // Precondition: both models are non-null.
    DiagnosisState(std::shared_ptr<const SickClassifier1> disease, std::shared_ptr<const XRayClassifier1> gate);

    // The upload control's action: one read-modify-write of openFile.
    void toggleOpenFile();

    State<bool> showAlert{false};
    State<std::string> fullText{""};
    const std::vector<std::string> total{"Pneumonia", "Brain Tumor", "Heart Disease", "???"};
    State<std::int64_t> option{0};
    State<std::string> text{""};
    State<std::string> fileName{""};
    State<bool> openFile{false};
    State<bool> saveFile{false};
    State<Image> img{Image()};
    State<double> accuracy{0.0};
    const std::shared_ptr<const SickClassifier1> model;
    const std::shared_ptr<const XRayClassifier1> model2;
    State<std::string> classificationLabel{""};
    State<std::string> classificationLabel2{""};

    // Written with classificationLabel: the disease model's probability of its positive label
    // (see diseaseLabel), and where it found the evidence. The map belongs to img: a new
    // picture clears it until its disease stage has run.
    State<double> diseaseProbability{0.0};
    State<ActivationMap> activationMap{ActivationMap{}};
    // Written with fileName, for the same picture (a file that is not decoded changes neither).
    State<PictureOrigin> origin{PictureOrigin{}};
};

// The disease model's positive label: the threshold rule's label, or else the first label
// that is not "NORMAL" ("" when there is none).
std::string diseaseLabel(const ModelMetadata& metadata);

}  // namespace orvix

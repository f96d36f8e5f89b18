#include "ResultObjects.h"

#include <cstdio>
#include <ctime>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmsr/dsrdoc.h>
#include <opencv2/imgproc.hpp>

#include "Spool.h"

namespace orvix::node {
namespace {

// Patient and study: what a viewer needs to file the results beside the film.
const DcmTagKey kCopied[] = {
    DCM_SpecificCharacterSet,   DCM_PatientName,     DCM_PatientID, DCM_PatientBirthDate, DCM_PatientSex,
    DCM_StudyInstanceUID,       DCM_AccessionNumber, DCM_StudyDate, DCM_StudyTime,        DCM_StudyID,
    DCM_ReferringPhysicianName, DCM_StudyDescription};

std::string text(DcmItem& item, const DcmTagKey& tag) {
    OFString value;
    return item.findAndGetOFStringArray(tag, value).good() ? std::string(value.c_str()) : std::string();
}

void copyStudy(DcmItem& film, DcmItem& out) {
    for (const auto& tag : kCopied) {
        OFString value;
        if (film.findAndGetOFStringArray(tag, value).good()) out.putAndInsertOFStringArray(tag, value);
        else if (tag != DCM_SpecificCharacterSet && tag != DCM_StudyInstanceUID && tag != DCM_StudyDescription)
            out.putAndInsertString(tag, "");  // type 2: present, empty
    }
}

std::string newUid(const char* root) {
    char uid[100];
    return dcmGenerateUniqueIdentifier(uid, root);
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.8f", value);
    return buffer;
}

std::string percent(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f %%", 100.0 * value);
    return buffer;
}

std::string nowText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, format, &local);
    return buffer;
}

DSRCodedEntryValue conceptName(const char* code, const char* meaning) {
    return DSRCodedEntryValue(code, kCodingScheme, meaning, DSRTypes::CVT_auto, OFExplicitBool(OFFalse));
}

// Adds an item below the root container (first call) or after the one before.
class Content {
public:
    explicit Content(DSRDocumentTree& tree) : tree_(tree) {}

    DSRContentItem& add(DSRTypes::E_ValueType type, const char* code, const char* meaning) {
        tree_.addContentItem(DSRTypes::RT_contains, type,
                             first_ ? DSRTypes::AM_belowCurrent : DSRTypes::AM_afterCurrent);
        first_ = false;
        DSRContentItem& item = tree_.getCurrentContentItem();
        item.setConceptName(conceptName(code, meaning), OFFalse);
        return item;
    }
    void addText(const char* code, const char* meaning, const std::string& value) {
        add(DSRTypes::VT_Text, code, meaning).setStringValue(value.c_str(), OFFalse);
    }
    void addNumber(const char* code, const char* meaning, double value) {
        add(DSRTypes::VT_Num, code, meaning)
            .setNumericValue(
                DSRNumericMeasurementValue(
                    number(value).c_str(),
                    DSRCodedEntryValue("1", "UCUM", "no units", DSRTypes::CVT_auto, OFExplicitBool(OFFalse)), OFFalse),
                OFFalse);
    }

private:
    DSRDocumentTree& tree_;
    bool first_ = true;
};

Status failed(const std::filesystem::path& target, const OFCondition& cond) {
    return Error{target.string() + ": " + cond.text()};
}

}  // namespace

Image captureBase(const Image& picture) {
    const int longer = std::max(picture.pixelWidth(), picture.pixelHeight());
    if (longer <= kCaptureSide) return picture;
    const double f = static_cast<double>(kCaptureSide) / longer;
    cv::Mat smaller;
    cv::resize(picture.pixels(), smaller, cv::Size(), f, f, cv::INTER_AREA);
    return Image(smaller);
}

cv::Mat capturePicture(const cv::Mat& pictureWithHeatmap, const Screening& screening) {
    cv::Mat picture = pictureWithHeatmap;
    const int longer = std::max(picture.cols, picture.rows);
    if (longer > kCaptureSide) {
        const double f = static_cast<double>(kCaptureSide) / longer;
        cv::resize(picture, picture, cv::Size(), f, f, cv::INTER_AREA);
    }
    std::string first = screening.verdict.empty() ? std::string(kNotAnalysed) : screening.verdict;
    if (screening.pneumoniaProbability) {
        first += "   pneumonia probability " + percent(*screening.pneumoniaProbability);
        if (screening.threshold) first += " (threshold " + percent(*screening.threshold);
        if (screening.borderline && *screening.borderline) first += ", borderline";
        if (screening.threshold) first += ")";
    }
    const std::string second = std::string(kNotForDiagnosticUse) + " - Orvix screening";

    // Two lines of text over the picture's width, in a band above it: the picture keeps every pixel.
    const int face = cv::FONT_HERSHEY_SIMPLEX;
    const int width = picture.cols;
    double scale = 3.0;
    int baseline = 0;
    for (const auto& line : {first, second}) {
        const cv::Size size = cv::getTextSize(line, face, 1.0, 2, &baseline);
        scale = std::min(scale, 0.92 * width / std::max(1, size.width));
    }
    scale = std::max(scale, 0.3);
    const int thickness = std::max(1, static_cast<int>(scale * 2));
    const int lineHeight = cv::getTextSize("Ag", face, scale, thickness, &baseline).height + baseline;
    const int band = 3 * lineHeight;
    cv::Mat out(picture.rows + band, width, CV_8UC3, cv::Scalar(32, 32, 32));
    cv::Mat below = out(cv::Rect(0, band, width, picture.rows));
    if (picture.channels() == 1) cv::cvtColor(picture, below, cv::COLOR_GRAY2BGR);
    else picture.copyTo(below);
    cv::Scalar colour(255, 255, 255);
    if (screening.verdict == "POSITIVE") colour = cv::Scalar(80, 80, 255);
    else if (screening.verdict == "NEGATIVE") colour = cv::Scalar(120, 220, 120);
    const int x = std::max(2, width / 25);
    cv::putText(out, first, {x, lineHeight + lineHeight / 4}, face, scale, colour, thickness, cv::LINE_AA);
    cv::putText(out, second, {x, 2 * lineHeight + lineHeight / 2}, face, scale, cv::Scalar(0, 200, 255), thickness,
                cv::LINE_AA);
    return out;
}

Status writeReportObject(DcmDataset& film, const Screening& screening, const std::filesystem::path& target) {
    DSRDocument document(DSRTypes::DT_ComprehensiveSR);
    const std::string study = text(film, DCM_StudyInstanceUID);
    if (!study.empty()) document.createNewSeriesInStudy(study.c_str(), OFFalse);
    document.setSeriesDescription("Orvix screening result (Not for diagnostic use)", OFFalse);
    document.setSeriesNumber("9901", OFFalse);
    document.setInstanceNumber("1", OFFalse);
    document.setManufacturer("Orvix", OFFalse);

    DSRDocumentTree& tree = document.getTree();
    tree.addContentItem(DSRTypes::RT_isRoot, DSRTypes::VT_Container);
    tree.getCurrentContentItem().setConceptName(conceptName("ORVIX-100", "Chest X-ray screening"), OFFalse);
    Content content(tree);
    content.addText("ORVIX-101", "Verdict", screening.verdict.empty() ? kNotAnalysed : screening.verdict);
    if (screening.verdict.empty()) content.addText("ORVIX-102", "Reason not analysed", screening.reason);
    if (screening.pneumoniaProbability) {
        content.addNumber("ORVIX-103", "Pneumonia probability", *screening.pneumoniaProbability);
        if (screening.threshold) content.addNumber("ORVIX-104", "Threshold", *screening.threshold);
        if (screening.borderline) content.addText("ORVIX-105", "Borderline", *screening.borderline ? "yes" : "no");
    }
    if (!screening.operatingPoint.empty()) content.addText("ORVIX-106", "Operating point", screening.operatingPoint);
    if (screening.gateProbability)
        content.addNumber("ORVIX-107", "Chest X-ray probability", *screening.gateProbability);
    if (!screening.diseaseModel.empty()) content.addText("ORVIX-108", "Disease model", screening.diseaseModel);
    if (!screening.gateModel.empty()) content.addText("ORVIX-109", "Gate model", screening.gateModel);
    content.addText("ORVIX-110", "Warning", kNotForDiagnosticUse);
    const std::string filmClass = text(film, DCM_SOPClassUID), filmInstance = text(film, DCM_SOPInstanceUID);
    if (!filmClass.empty() && !filmInstance.empty()) {
        content.add(DSRTypes::VT_Image, "ORVIX-111", "Source image")
            .setImageReference(DSRImageReferenceValue(filmClass.c_str(), filmInstance.c_str(), OFFalse), OFFalse);
        document.getCurrentRequestedProcedureEvidence().addItem(
            study.c_str(), text(film, DCM_SeriesInstanceUID).c_str(), filmClass.c_str(), filmInstance.c_str(), OFFalse);
    }

    DcmFileFormat file;
    DcmDataset& out = *file.getDataset();
    if (const OFCondition written = document.write(out); written.bad()) return failed(target, written);
    copyStudy(film, out);
    return saveDicomDurably(file, EXS_LittleEndianExplicit, target);
}

Status writeCaptureObject(DcmDataset& film, const cv::Mat& picture, const std::filesystem::path& target) {
    DcmFileFormat file;
    DcmDataset& out = *file.getDataset();
    copyStudy(film, out);
    std::string study = text(film, DCM_StudyInstanceUID);
    if (study.empty()) study = newUid(SITE_STUDY_UID_ROOT);
    const std::string date = nowText("%Y%m%d"), time = nowText("%H%M%S");
    const std::pair<DcmTagKey, std::string> values[] = {
        {DCM_SOPClassUID, UID_SecondaryCaptureImageStorage},
        {DCM_SOPInstanceUID, newUid(SITE_INSTANCE_UID_ROOT)},
        {DCM_StudyInstanceUID, study},
        {DCM_SeriesInstanceUID, newUid(SITE_SERIES_UID_ROOT)},
        {DCM_Modality, "OT"},
        {DCM_ConversionType, "WSD"},
        {DCM_SeriesNumber, "9902"},
        {DCM_InstanceNumber, "1"},
        {DCM_SeriesDescription, "Orvix heatmap (Not for diagnostic use)"},
        {DCM_ImageComments, kNotForDiagnosticUse},
        {DCM_DerivationDescription, "Orvix screening: heatmap and verdict burned in. Not for diagnostic use"},
        {DCM_BurnedInAnnotation, "YES"},
        {DCM_Manufacturer, "Orvix"},
        {DCM_ContentDate, date},
        {DCM_ContentTime, time},
        {DCM_InstanceCreationDate, date},
        {DCM_InstanceCreationTime, time},
        {DCM_PatientOrientation, ""},
        {DCM_PhotometricInterpretation, "RGB"},
    };
    for (const auto& [tag, value] : values) out.putAndInsertString(tag, value.c_str());
    out.putAndInsertUint16(DCM_SamplesPerPixel, 3);
    out.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    out.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(picture.rows));
    out.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(picture.cols));
    out.putAndInsertUint16(DCM_BitsAllocated, 8);
    out.putAndInsertUint16(DCM_BitsStored, 8);
    out.putAndInsertUint16(DCM_HighBit, 7);
    out.putAndInsertUint16(DCM_PixelRepresentation, 0);
    cv::Mat rgb;
    cv::cvtColor(picture, rgb, cv::COLOR_BGR2RGB);
    if (!rgb.isContinuous()) rgb = rgb.clone();
    out.putAndInsertUint8Array(DCM_PixelData, rgb.data, static_cast<unsigned long>(rgb.total() * 3));

    const std::string filmClass = text(film, DCM_SOPClassUID), filmInstance = text(film, DCM_SOPInstanceUID);
    if (!filmClass.empty() && !filmInstance.empty()) {
        DcmItem* source = nullptr;
        if (out.findOrCreateSequenceItem(DCM_SourceImageSequence, source, 0).good() && source) {
            source->putAndInsertString(DCM_ReferencedSOPClassUID, filmClass.c_str());
            source->putAndInsertString(DCM_ReferencedSOPInstanceUID, filmInstance.c_str());
        }
    }
    return saveDicomDurably(file, EXS_LittleEndianExplicit, target);
}

}  // namespace orvix::node

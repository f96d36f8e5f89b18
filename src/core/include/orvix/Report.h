#pragma once
// The plain-text test report, lines joined by line feeds, none after the last:
//
//   Tested File Name: a.png
//   Tested Disease: Pneumonia
//   Tested Date: Dec 6, 2026, 9:41 PM        (medium date + short time, the user's locale)
//   Patient's Name:                          (a DICOM picture's: "Patient's Name: Doe, John")
//   Test Result: NEGATIVE                    (see below)
//   Accuracy: 50.0%                          (accuracy * 100, see describeDouble)
//   Pneumonia Probability: 27.0% (threshold 34.6%; borderline)
//   Additional Info:
//
// The result is NOT A CHEST X-RAY unless the gate label is exactly "X-Ray": a picture the gate
// rejected gets no diagnosis. For a chest X-ray, a disease label of exactly "NORMAL" is NEGATIVE
// and anything else POSITIVE.
//
// Accuracy is the gate's probability of the label it gave (of "X-Ray" for a chest X-ray, of its
// other label for a rejected picture), not a certainty about pneumonia.
//
// The Pneumonia Probability line is the disease model's answer: its probability of the positive
// label and the threshold the verdict compares it with, one decimal each, always a point;
// "; borderline" only when the probability lies in the model's borderline band. It is there only
// for a chest X-ray whose disease stage ran: a rejected picture, or one the disease model could
// not classify, has the seven other lines alone.

#include <chrono>
#include <optional>
#include <string>

#include "orvix/Environment.h"
#include "orvix/ModelMetadata.h"

namespace orvix {

using Clock = std::chrono::system_clock;

// The user's locale from LC_ALL, LC_TIME, LANG (first set and not "C"/"POSIX"), as an ICU
// locale id ("de_DE"); "en_US_POSIX" when none is set.
std::string localeId(const EnvironmentLookup& environment);
std::string currentLocaleId();  // of this process

// Medium date + short time. timeZoneId "" uses the system default zone.
std::string formatReportDate(Clock::time_point when, const std::string& localeId, const std::string& timeZoneId = "");

// "NEGATIVE", "POSITIVE" or "NOT A CHEST X-RAY", as above; the batch tool's result too.
std::string testResult(const std::string& gateLabel, const std::string& classificationLabel);

// What the disease model answered for one picture, as the report states it.
struct DiseaseAnswer {
    double probability = 0.0;  // of the model's positive label (see diseaseLabel)
    double threshold = 0.5;    // the metadata's
    bool borderline = false;   // probability within the metadata's borderline band
    // What set the threshold when a clinic's own operating point did (its description, e.g.
    // "local threshold 52.0 %, validated on 312 films on 2026-12-07"); empty for the model's own.
    std::string operatingPoint;
};

// The answer of the model described by metadata for this probability of its positive label.
DiseaseAnswer diseaseAnswer(const ModelMetadata& metadata, double probability);

// "Pneumonia Probability: 27.0% (threshold 34.6%; borderline)", as above.
std::string diseaseAnswerLine(const DiseaseAnswer& answer);

// patientName: what follows "Patient's Name:" after a space (a DICOM picture's Patient's Name,
// see DicomIdentity.h); "" leaves the line as the form has it, for the user to fill in.
// disease: the disease stage's answer, or nullopt when it did not run; ignored for a picture that
// is not a chest X-ray. An answer made at a clinic's operating point adds the line
// "Operating Point: <its description>" after the probability line.
std::string composeReport(const std::string& fileName, const std::string& patientName, const std::string& gateLabel,
                          const std::string& classificationLabel, double accuracy,
                          const std::optional<DiseaseAnswer>& disease, Clock::time_point now,
                          const std::string& localeId, const std::string& timeZoneId = "");

// The same in the user's locale and zone.
std::string composeReport(const std::string& fileName, const std::string& patientName, const std::string& gateLabel,
                          const std::string& classificationLabel, double accuracy,
                          const std::optional<DiseaseAnswer>& disease, Clock::time_point now);

}  // namespace orvix

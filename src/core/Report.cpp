#include "orvix/Report.h"

#include <charconv>
#include <memory>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include "orvix/Format.h"
#include "orvix/SickClassifier1.h"
#include "orvix/XRayClassifier1.h"

namespace orvix {

std::string localeId(const EnvironmentLookup& environment) {
    for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
        std::optional<std::string> value = environment(name);
        if (!value) continue;
        std::string& id = *value;
        if (id == "C" || id == "POSIX" || id.rfind("C.", 0) == 0) break;
        // language_TERRITORY.codeset@modifier -> language_TERRITORY@modifier
        const auto dot = id.find('.');
        if (dot != std::string::npos) {
            const auto at = id.find('@', dot);
            id = id.substr(0, dot) + (at == std::string::npos ? "" : id.substr(at));
        }
        return id;
    }
    return "en_US_POSIX";
}

std::string currentLocaleId() { return localeId(processEnvironment); }

std::string formatReportDate(Clock::time_point when, const std::string& localeId, const std::string& timeZoneId) {
    const icu::Locale locale(localeId.c_str());
    std::unique_ptr<icu::DateFormat> formatter(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kMedium, icu::DateFormat::kShort, locale));
    if (!formatter) return {};
    if (!timeZoneId.empty()) formatter->adoptTimeZone(icu::TimeZone::createTimeZone(timeZoneId.c_str()));
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    icu::UnicodeString text;
    formatter->format(static_cast<UDate>(millis), text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string testResult(const std::string& gateLabel, const std::string& classificationLabel) {
    if (!isChestXRay(gateLabel)) return "NOT A CHEST X-RAY";
    return isNormal(classificationLabel) ? "NEGATIVE" : "POSITIVE";
}

namespace {

// "27.0%": one decimal and a point whatever the process's locale (to_chars reads none).
std::string percentText(double fraction) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, fraction * 100.0, std::chars_format::fixed, 1);
    return std::string(text, end.ec == std::errc() ? end.ptr : text) + "%";
}

}  // namespace

DiseaseAnswer diseaseAnswer(const ModelMetadata& metadata, double probability) {
    return {probability, metadata.threshold, metadata.isBorderline(probability)};
}

std::string diseaseAnswerLine(const DiseaseAnswer& answer) {
    return "Pneumonia Probability: " + percentText(answer.probability) + " (threshold " +
           percentText(answer.threshold) + (answer.borderline ? "; borderline)" : ")");
}

std::string composeReport(const std::string& fileName, const std::string& patientName, const std::string& gateLabel,
                          const std::string& classificationLabel, double accuracy,
                          const std::optional<DiseaseAnswer>& disease, Clock::time_point now,
                          const std::string& localeId, const std::string& timeZoneId) {
    std::string report = "Tested File Name: ";
    report += fileName;
    report += "\nTested Disease: Pneumonia\nTested Date: ";
    report += formatReportDate(now, localeId, timeZoneId);
    report += "\nPatient's Name:";
    if (!patientName.empty()) report += " " + patientName;
    report += "\nTest Result: ";
    report += testResult(gateLabel, classificationLabel);
    report += "\nAccuracy: ";
    report += describeDouble(accuracy * 100.0);
    report += "%\n";
    // After Accuracy, so that every line of the older six-line form keeps its place relative to the others.
    if (disease && isChestXRay(gateLabel)) {
        report += diseaseAnswerLine(*disease) + "\n";
        if (!disease->operatingPoint.empty()) report += "Operating Point: " + disease->operatingPoint + "\n";
    }
    report += "Additional Info:";
    return report;
}

std::string composeReport(const std::string& fileName, const std::string& patientName, const std::string& gateLabel,
                          const std::string& classificationLabel, double accuracy,
                          const std::optional<DiseaseAnswer>& disease, Clock::time_point now) {
    return composeReport(fileName, patientName, gateLabel, classificationLabel, accuracy, disease, now,
                         currentLocaleId());
}

}  // namespace orvix

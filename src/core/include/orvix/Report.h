#pragma once
// The plain-text test report, seven lines joined by line feeds, none after the last:
//
//   Tested File Name: a.png
//   Tested Disease: Pneumonia
//   Tested Date: Dec 6, 2026, 9:41 PM        (medium date + short time, the user's locale)
//   Patient's Name:
//   Test Result: NEGATIVE                    (see below)
//   Accuracy: 50.0%                          (accuracy * 100, see describeDouble)
//
// The result is NOT A CHEST X-RAY unless the gate label is exactly "X-Ray": a picture the gate
// rejected gets no diagnosis. For a chest X-ray, a disease label of exactly "NORMAL" is NEGATIVE
// and anything else POSITIVE.
//   Additional Info:

#include <chrono>
#include <string>

#include "orvix/Environment.h"

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

std::string composeReport(const std::string& fileName, const std::string& gateLabel,
                          const std::string& classificationLabel, double accuracy, Clock::time_point now,
                          const std::string& localeId, const std::string& timeZoneId = "");

// The same in the user's locale and zone.
std::string composeReport(const std::string& fileName, const std::string& gateLabel,
                          const std::string& classificationLabel, double accuracy, Clock::time_point now);

}  // namespace orvix

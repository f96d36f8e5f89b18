#pragma once
// The plain-text test report, seven lines joined by line feeds, none after the last:
//
//   Tested File Name: a.png
//   Tested Disease: Pneumonia
//   Tested Date: Dec 6, 2026, 9:41 PM        (medium date + short time, the user's locale)
//   Patient's Name:
//   Test Result: NEGATIVE                    (exactly "NORMAL" -> NEGATIVE, anything else POSITIVE)
//   Accuracy: 50.0%                          (accuracy * 100, see describeDouble)
//   Additional Info:

#include <chrono>
#include <string>

namespace orvix {

using Clock = std::chrono::system_clock;

// The user's locale from LC_ALL, LC_TIME, LANG (first set and not "C"/"POSIX"), as an ICU
// locale id ("de_DE"); "en_US_POSIX" when none is set.
std::string currentLocaleId();

// Medium date + short time. timeZoneId "" uses the system default zone.
std::string formatReportDate(Clock::time_point when, const std::string& localeId,
                             const std::string& timeZoneId = "");

std::string composeReport(const std::string& fileName, const std::string& classificationLabel, double accuracy,
                          Clock::time_point now, const std::string& localeId, const std::string& timeZoneId = "");

// The same in the user's locale and zone.
std::string composeReport(const std::string& fileName, const std::string& classificationLabel, double accuracy,
                          Clock::time_point now);

}  // namespace orvix

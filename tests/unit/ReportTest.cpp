#include <regex>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "orvix/Report.h"

namespace orvix {
namespace {

// 2026-12-06 21:41:30 UTC.
const Clock::time_point kWhen = Clock::time_point(std::chrono::seconds(1796593290));

TEST(ComposeReport, EnglishReportByteForByte) {
    const std::string report =
        composeReport("a.png", "", "X-Ray", "NORMAL", 0.5, DiseaseAnswer{0.27, 0.346, true}, kWhen, "en_US", "UTC");
    // Byte for byte but the space before PM, which is U+202F in newer ICU data and a plain space before.
    EXPECT_TRUE(
        std::regex_match(report, std::regex("Tested File Name: a\\.png\n"
                                            "Tested Disease: Pneumonia\n"
                                            "Tested Date: Dec 6, 2026, 9:41(?: |\u202F)PM\n"
                                            "Patient's Name:\n"
                                            "Test Result: NEGATIVE\n"
                                            "Accuracy: 50\\.0%\n"
                                            "Pneumonia Probability: 27\\.0% \\(threshold 34\\.6%; borderline\\)\n"
                                            "Additional Info:")))
        << report;
}

TEST(ComposeReport, GermanDateButTheNumberKeepsItsPoint) {
    const std::string report = composeReport("Röntgen 1.png", "", "X-Ray", "PNEUMONIA", 0.9876543283462524,
                                             DiseaseAnswer{0.99951, 0.5, false}, kWhen, "de_DE", "Europe/Berlin");
    EXPECT_EQ(report,
              "Tested File Name: Röntgen 1.png\n"
              "Tested Disease: Pneumonia\n"
              "Tested Date: 06.12.2026, 22:41\n"
              "Patient's Name:\n"
              "Test Result: POSITIVE\n"
              "Accuracy: 98.76543283462524%\n"
              "Pneumonia Probability: 100.0% (threshold 50.0%)\n"
              "Additional Info:");
}

// The line follows the model's band, edges included, and is there only for a chest X-ray whose
// disease stage answered.
TEST(ComposeReport, PneumoniaProbabilityLineOnlyForAnAnsweredChestXRay) {
    ModelMetadata model;
    model.threshold = 0.346;
    model.borderline = std::array<double, 2>{0.086, 0.64};
    const struct {
        const char* gate;
        std::optional<double> probability;
        const char* expected;  // the text after "Accuracy: 25.0%\n"
    } cases[] = {
        {"X-Ray", 0.27, "Pneumonia Probability: 27.0% (threshold 34.6%; borderline)\nAdditional Info:"},
        {"X-Ray", 0.086, "Pneumonia Probability: 8.6% (threshold 34.6%; borderline)\nAdditional Info:"},
        {"X-Ray", 0.64, "Pneumonia Probability: 64.0% (threshold 34.6%; borderline)\nAdditional Info:"},
        {"X-Ray", 0.0849, "Pneumonia Probability: 8.5% (threshold 34.6%)\nAdditional Info:"},
        {"X-Ray", 0.97, "Pneumonia Probability: 97.0% (threshold 34.6%)\nAdditional Info:"},
        {"X-Ray", std::nullopt, "Additional Info:"},
        {"other", 0.27, "Additional Info:"},
        {"", 0.97, "Additional Info:"},
    };
    for (const auto& c : cases) {
        std::optional<DiseaseAnswer> answer;
        if (c.probability) answer = diseaseAnswer(model, *c.probability);
        const std::string report = composeReport("a", "", c.gate, "NORMAL", 0.25, answer, kWhen, "en_US", "UTC");
        EXPECT_TRUE(report.ends_with(std::string("Accuracy: 25.0%\n") + c.expected)) << c.gate << "\n" << report;
    }
    // A clinic's operating point is named on a line of its own; the lines above keep their form.
    DiseaseAnswer local = diseaseAnswer(model, 0.6);
    local.operatingPoint = "local threshold 52.0 %, validated on 312 films on 2026-12-07";
    EXPECT_TRUE(composeReport("a", "", "X-Ray", "PNEUMONIA", 0.25, local, kWhen, "en_US", "UTC")
                    .ends_with("Accuracy: 25.0%\nPneumonia Probability: 60.0% (threshold 34.6%; borderline)\n"
                               "Operating Point: local threshold 52.0 %, validated on 312 films on 2026-12-07\n"
                               "Additional Info:"));
    model.borderline.reset();  // a model without a band marks nothing
    EXPECT_EQ(diseaseAnswerLine(diseaseAnswer(model, 0.3)), "Pneumonia Probability: 30.0% (threshold 34.6%)");
}

TEST(ComposeReport, OnlyAChestXRayGetsADiagnosisAndOnlyExactlyNormalIsNegative) {
    struct Case {
        const char* gate;
        const char* disease;
        const char* result;
    };
    for (const auto& c : {Case{"X-Ray", "normal", "POSITIVE"}, Case{"X-Ray", "NORMAL ", "POSITIVE"},
                          Case{"X-Ray", "", "POSITIVE"}, Case{"X-Ray", "NORMAL", "NEGATIVE"},
                          Case{"other", "NORMAL", "NOT A CHEST X-RAY"}, Case{"other", "PNEUMONIA", "NOT A CHEST X-RAY"},
                          Case{"x-ray", "PNEUMONIA", "NOT A CHEST X-RAY"}, Case{"", "", "NOT A CHEST X-RAY"}}) {
        const std::string report = composeReport("a", "", c.gate, c.disease, 0.25, std::nullopt, kWhen, "en_US", "UTC");
        EXPECT_NE(report.find(std::string("\nTest Result: ") + c.result + "\nAccuracy: 25.0%\nAdditional Info:"),
                  std::string::npos)
            << c.gate << " / " << c.disease << ":\n"
            << report;
    }
}

TEST(LocaleId, FollowsLcAllThenLcTimeThenLang) {
    const struct {
        std::map<std::string, std::string> variables;
        const char* expected;
    } cases[] = {
        {{{"LC_TIME", "fr_FR.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, "fr_FR"},
        {{{"LC_ALL", "sr_RS.UTF-8@latin"}, {"LC_TIME", "fr_FR.UTF-8"}}, "sr_RS@latin"},
        {{{"LANG", "de_DE.UTF-8"}}, "de_DE"},
        {{{"LC_TIME", "C.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, "en_US_POSIX"},
        {{}, "en_US_POSIX"},
    };
    for (const auto& c : cases) EXPECT_EQ(localeId(test::environment(c.variables)), c.expected) << c.expected;
}

}  // namespace
}  // namespace orvix

#include <sstream>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "orvix/Classification.h"
#include "orvix/Console.h"
#include "orvix/Format.h"

namespace orvix {
namespace {

// Captures the console for one test.
class ConsoleCapture {
public:
    ConsoleCapture() { setConsoleStream(&lines_); }
    ~ConsoleCapture() { setConsoleStream(&std::cout); }
    std::string text() const { return lines_.str(); }

private:
    std::ostringstream lines_;
};

TEST(DescribeDouble, ShortestRoundTripWithTheExponentRule) {
    const std::pair<double, const char*> cases[] = {{0.0, "0.0"},
                                                    {100.0, "100.0"},
                                                    {0.9876543283462524 * 100, "98.76543283462524"},
                                                    {5e-05, "5e-05"},
                                                    {1.25e-05, "1.25e-05"},
                                                    {0.0001, "0.0001"},
                                                    {0.1 + 0.2, "0.30000000000000004"},
                                                    {1e-100, "1e-100"},
                                                    {1e16, "1e+16"},
                                                    {123456789012345.0, "123456789012345.0"},
                                                    {-2.5, "-2.5"}};
    for (const auto& [value, shown] : cases) EXPECT_EQ(describeDouble(value), shown);
    for (double v : {0.97 * 100, 1.0 / 3.0, 6.02214076e-3, 99.99999999999999})
        EXPECT_EQ(std::stod(describeDouble(v)), v) << describeDouble(v);
}

// The filled lines are checked in the console block below.
TEST(DescribeCollections, EmptyAndQuotedLines) {
    EXPECT_EQ(describeProbabilities({}), "[:]");
    EXPECT_EQ(describeNames({}), "[]");
    EXPECT_EQ(describeNames({"a\"b"}), "[\"a\\\"b\"]");
}

// Without a picture neither stage writes or prints; a rejected picture still goes through the disease stage.
TEST(ClassifyStages, NoPictureMeansNoWritesAndGateRejectionStillRunsTheDiseaseStage) {
    DiagnosisState state = test::fixtureState();
    state.classificationLabel = "NORMAL";
    state.classificationLabel2 = "X-Ray";
    state.accuracy = 0.9;
    ConsoleCapture console;
    EXPECT_FALSE(classifyXRay(state));
    EXPECT_FALSE(classifyPneumonia(state));
    EXPECT_EQ(state.classificationLabel.get(), "NORMAL");
    EXPECT_EQ(state.classificationLabel2.get(), "X-Ray");
    EXPECT_EQ(state.accuracy.get(), 0.9);

    state.img = Image(test::solid(300, 200, cv::Scalar(0, 0, 200)));  // dark red: not an X-ray, PNEUMONIA
    auto gate = classifyXRay(state);
    ASSERT_TRUE(gate);
    EXPECT_EQ(state.classificationLabel2.get(), "other");
    EXPECT_EQ(console.text(), "") << "neither a missing picture nor the gate prints";
    EXPECT_GT(state.accuracy.get(), 0.5);
    EXPECT_LE(state.accuracy.get(), 1.0) << "a fraction, not a percentage";
    EXPECT_EQ(state.accuracy.get(), gate->classLabelProbs.at("other"));

    const double accuracy = state.accuracy;
    auto disease = classifyPneumonia(state);
    ASSERT_TRUE(disease);
    EXPECT_EQ(state.classificationLabel.get(), "PNEUMONIA");
    EXPECT_EQ(state.accuracy.get(), accuracy) << "the disease stage never writes accuracy";
    const auto& p = disease->classLabelProbs;
    EXPECT_EQ(console.text(), "==================\n[\"NORMAL\": " + describeDouble(p.at("NORMAL")) +
                                  ", \"PNEUMONIA\": " + describeDouble(p.at("PNEUMONIA")) +
                                  "]\n[\"classLabel\", \"classLabelProbs\"]\nPNEUMONIA\n==================\n");
}

}  // namespace
}  // namespace orvix

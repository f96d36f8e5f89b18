#include <cmath>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "TestSupport.h"
#include "orvix/Classification.h"
#include "orvix/Console.h"
#include "orvix/Heatmap.h"

namespace orvix {
namespace {

// A bright picture with one dark (PNEUMONIA, for the fixture model) square.
Image brightWithDarkSquare(int x, int y) {
    cv::Mat pixels = test::solid(448, 448, cv::Scalar(220, 220, 220));
    pixels(cv::Rect(x, y, 128, 128)).setTo(cv::Scalar(20, 20, 20));
    return Image(pixels);
}

ActivationMap diseaseMapOf(DiagnosisState& state, const Image& picture) {
    setConsoleStream(nullptr);
    state.img = picture;
    auto stage = classifyPneumonia(state);
    setConsoleStream(&std::cout);
    EXPECT_TRUE(stage);
    return state.activationMap.get();
}

cv::Point hottestCell(const ActivationMap& map) {
    cv::Point at;
    cv::minMaxLoc(map.logOdds, nullptr, nullptr, nullptr, &at);
    return at;
}

TEST(ActivationMap, TheHotRegionFollowsTheEvidenceAndRepeatsExactly) {
    DiagnosisState state = test::fixtureState();
    const ActivationMap topLeft = diseaseMapOf(state, brightWithDarkSquare(0, 0));
    ASSERT_EQ(topLeft.logOdds.size(), cv::Size(7, 7));
    EXPECT_EQ(topLeft.label, "PNEUMONIA");
    // The square covers cells 0-1 of the 7 x 7 grid (a 224-point redraw, 32 points per cell).
    EXPECT_LE(hottestCell(topLeft).x, 1);
    EXPECT_LE(hottestCell(topLeft).y, 1);
    EXPECT_GT(topLeft.probability().at<float>(0, 0), 0.9f);
    EXPECT_LT(topLeft.probability().at<float>(6, 6), 0.1f);

    const ActivationMap bottomRight = diseaseMapOf(state, brightWithDarkSquare(320, 320));
    EXPECT_GE(hottestCell(bottomRight).x, 5);
    EXPECT_GE(hottestCell(bottomRight).y, 5);

    const ActivationMap again = diseaseMapOf(state, brightWithDarkSquare(0, 0));
    EXPECT_EQ(cv::norm(again.logOdds, topLeft.logOdds, cv::NORM_INF), 0.0);
}

// The shipped disease network's cells average to its log-odds for the whole picture: the map
// says exactly what the verdict rests on.
TEST(ActivationMap, ShippedModelCellsAverageToThePicturesProbability) {
    test::ScopedEnv models("ORVIX_MODEL_DIR", ORVIX_SHIPPED_MODELS);
    auto created = DiagnosisState::create();
    ASSERT_TRUE(created) << created.error().message;
    DiagnosisState state = std::move(created).value();
    for (const char* name : {"chest-normal-2mp.jpeg", "chest-pneumonia-bacteria.jpeg"}) {
        const cv::Mat pixels = cv::imread((test::fixtures() / "pictures" / name).string(), cv::IMREAD_GRAYSCALE);
        const ActivationMap map = diseaseMapOf(state, Image(pixels));
        ASSERT_FALSE(map.empty()) << name;
        const double meanLogOdds = cv::mean(map.logOdds)[0];
        EXPECT_NEAR(1 / (1 + std::exp(-meanLogOdds)), state.diseaseProbability.get(), 1e-4) << name;
    }
}

TEST(HeatmapOverlay, TintsInProportionToTheEvidenceAndKeepsTheRestUntouched) {
    const Image grey(test::solid(80, 40, cv::Scalar(128, 128, 128)));
    ActivationMap map{"PNEUMONIA", (cv::Mat_<float>(1, 2) << -100.0f, 100.0f)};
    const cv::Mat shown = heatmapOverlay(grey, map, cv::Size(160, 80));
    ASSERT_EQ(shown.size(), cv::Size(160, 80));
    EXPECT_EQ(shown.at<cv::Vec3b>(40, 5), cv::Vec3b(128, 128, 128));  // no evidence: the picture as it is
    const cv::Vec3b hot = shown.at<cv::Vec3b>(40, 155);
    EXPECT_GT(hot[2], 170);  // red
    EXPECT_LT(hot[0], 70);   // not blue
    EXPECT_EQ(heatmapPicture(grey, map).cols, 80);
}

}  // namespace
}  // namespace orvix

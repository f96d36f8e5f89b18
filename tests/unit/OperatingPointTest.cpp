#include "orvix/OperatingPoint.h"

#include <cmath>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace orvix {
namespace {

OperatingPoint pointFor(const DiagnosisState& state, double threshold) {
    OperatingPoint p;
    p.threshold = threshold;
    p.normalFilms = 160;
    p.pneumoniaFilms = 152;
    p.auc = {0.97, 0.95, 0.98};
    p.date = "2026-12-07";
    p.diseaseModel = state.model->model.metadata().name;
    p.diseaseSha256 = state.model->model.metadata().sha256;
    p.gateModel = state.model2->model.metadata().name;
    p.gateSha256 = state.model2->model.metadata().sha256;
    return p;
}

TEST(OperatingPointTest, SavedPointLoadsBackOnlyForItsModelsAndARefusalNamesTheFile) {
    auto state = test::fixtureState();
    const auto& disease = state.model->model.metadata();
    const auto& gate = state.model2->model.metadata();
    test::TempDir dir;
    test::writeBytes(dir / "point.json", operatingPointJson(pointFor(state, 0.52)));
    auto loaded = loadOperatingPoint(dir / "point.json", disease, gate);
    ASSERT_TRUE(loaded) << loaded.error().message;
    EXPECT_DOUBLE_EQ(loaded->threshold, 0.52);
    EXPECT_EQ(loaded->auc.high, 0.98);
    EXPECT_EQ(loaded->description(), "local threshold 52.0 %, validated on 312 films on 2026-12-07");

    auto otherDisease = pointFor(state, 0.5), otherGate = pointFor(state, 0.5);
    otherDisease.diseaseSha256 = std::string(64, 'a');
    otherGate.gateSha256 = std::string(64, 'b');
    std::string bad = operatingPointJson(pointFor(state, 0.5));
    bad.replace(bad.find("\"threshold\": 0.5"), 16, "\"threshold\": 1.0");
    for (const auto& [name, text, reason] :
         {std::tuple{"disease.json", operatingPointJson(otherDisease), "other models"},
          {"gate.json", operatingPointJson(otherGate), "other models"},
          {"threshold.json", bad, "threshold must lie"},
          {"text.json", std::string("threshold=0.5"), "not a JSON object"}}) {
        test::writeBytes(dir / name, text);
        auto refused = loadOperatingPoint(dir / name, disease, gate);
        ASSERT_FALSE(refused) << name;
        EXPECT_NE(refused.error().message.find((dir / name).string()), std::string::npos) << refused.error().message;
        EXPECT_NE(refused.error().message.find(reason), std::string::npos) << refused.error().message;
    }
    EXPECT_FALSE(loadOperatingPoint(dir / "missing.json", disease, gate));
}

TEST(OperatingPointTest, BorderlineBandKeepsItsLogitWidthAroundTheNewThreshold) {
    ModelMetadata m;
    m.decision = ModelMetadata::DecisionKind::Threshold;
    m.threshold = 0.5;
    m.borderline = std::array{0.4, 0.6};
    OperatingPoint p;
    p.threshold = 0.8;
    const ModelMetadata moved = withOperatingPoint(m, p);
    const auto logit = [](double x) { return std::log(x / (1 - x)); };
    EXPECT_EQ(moved.threshold, 0.8);
    ASSERT_TRUE(moved.borderline);
    EXPECT_NEAR(logit(0.8) - logit((*moved.borderline)[0]), logit(0.5) - logit(0.4), 1e-9);
    EXPECT_NEAR(logit((*moved.borderline)[1]) - logit(0.8), logit(0.6) - logit(0.5), 1e-9);
    // The same threshold leaves the band where it was.
    p.threshold = 0.5;
    EXPECT_NEAR((*withOperatingPoint(m, p).borderline)[0], 0.4, 1e-12);
}

TEST(OperatingPointTest, FoundInTheUserConfigurationThenTheSystem) {
    test::TempDir dir;
    const auto xdg = dir / "xdg", home = dir / "home", system = dir / "etc";
    const auto inXdg = [&] {
        return findOperatingPoint(test::environment({{"XDG_CONFIG_HOME", xdg.string()}}), system);
    };
    EXPECT_FALSE(inXdg());
    std::filesystem::create_directories(system);
    test::writeBytes(system / "operating-point.json", "{}");
    EXPECT_EQ(inXdg(), system / "operating-point.json");
    std::filesystem::create_directories(xdg / "orvix");
    test::writeBytes(xdg / "orvix" / "operating-point.json", "{}");
    EXPECT_EQ(inXdg(), xdg / "orvix" / "operating-point.json");
    std::filesystem::create_directories(home / ".config" / "orvix");
    test::writeBytes(home / ".config" / "orvix" / "operating-point.json", "{}");
    EXPECT_EQ(findOperatingPoint(test::environment({{"HOME", home.string()}}), system),
              home / ".config" / "orvix" / "operating-point.json");
    // An empty XDG_CONFIG_HOME counts as unset.
    EXPECT_EQ(findOperatingPoint(test::environment({{"XDG_CONFIG_HOME", ""}, {"HOME", home.string()}}), system),
              home / ".config" / "orvix" / "operating-point.json");
}

}  // namespace
}  // namespace orvix

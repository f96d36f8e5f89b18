#include <gtest/gtest.h>

#include "TestSupport.h"
#include "orvix/SickClassifier1.h"
#include "orvix/XRayClassifier1.h"

namespace orvix {
namespace {

PixelBuffer grey(int level, int side = 224) {
    auto buffer = makePixelBuffer(Image(test::solid(side, side, cv::Scalar(level, level, level))));
    if (!buffer) throw std::runtime_error("no buffer");
    return *buffer;
}

// Counts how often each feature is asked for.
class CountingProvider final : public FeatureProvider {
public:
    std::set<std::string> featureNames() const override { return {"classLabel", "classLabelProbs"}; }
    std::optional<FeatureValue> featureValueForName(const std::string& name) const override {
        ++asked[name];
        if (name == "classLabel") return FeatureValue::featureValueWithString("X-Ray");
        if (name == "classLabelProbs") return FeatureValue::featureValueWithDictionary({{"X-Ray", 0.75}, {"other", 0.25}});
        return std::nullopt;
    }
    mutable std::map<std::string, int> asked;
};

TEST(ClassifierOutput, ReadsEachFeatureOnceAndCaches) {
    auto provider = std::make_shared<CountingProvider>();
    XRayClassifier1Output output(provider);
    const std::string& first = output.classLabel();
    const std::string& second = output.classLabel();
    EXPECT_EQ(first, "X-Ray");
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(output.classLabelProbs().at("X-Ray"), 0.75);
    EXPECT_EQ(output.classLabelProbs().size(), 2u);
    EXPECT_EQ(provider->asked["classLabel"], 1);
    EXPECT_EQ(provider->asked["classLabelProbs"], 1);
    EXPECT_EQ(output.featureNames(), provider->featureNames());
}

TEST(ClassifierOutput, MissingFeaturesGiveEmptyValuesNotACrash) {
    XRayClassifier1Output output(std::make_shared<DictionaryFeatureProvider>(std::map<std::string, FeatureValue>{}));
    EXPECT_EQ(output.classLabel(), "");
    EXPECT_TRUE(output.classLabelProbs().empty());
    EXPECT_FALSE(output.featureValueForName("classLabel"));
}

TEST(ImageClassifier, PredictionFollowsTheModelsDecisionAndReportsItsOutputs) {
    auto disease = SickClassifier1::create(test::fixtureModels() / "SickClassifier1.mlmodelc");
    ASSERT_TRUE(disease) << disease.error().message;
    const PredictionOptions options;

    auto bright = (*disease)->prediction(SickClassifier1Input(grey(230)), options);
    ASSERT_TRUE(bright);
    EXPECT_EQ(bright->classLabel(), "NORMAL");
    EXPECT_EQ(bright->featureNames(), (std::set<std::string>{"classLabel", "classLabelProbs"}));
    const auto& probs = bright->classLabelProbs();
    EXPECT_NEAR(probs.at("NORMAL") + probs.at("PNEUMONIA"), 1.0, 1e-12);
    EXPECT_GT(probs.at("NORMAL"), 0.5);

    auto dark = (*disease)->prediction(SickClassifier1Input(grey(20)), options);
    ASSERT_TRUE(dark);
    EXPECT_EQ(dark->classLabel(), "PNEUMONIA");
}

TEST(ImageClassifier, FailedPredictionYieldsAnErrorAndTheModelStillWorks) {
    auto gate = XRayClassifier1::create(test::fixtureModels() / "XRayClassifier1.mlmodelc");
    ASSERT_TRUE(gate);
    const PredictionOptions options;
    auto wrongSize = (*gate)->prediction(XRayClassifier1Input(grey(128, 100)), options);
    ASSERT_FALSE(wrongSize);
    EXPECT_NE(wrongSize.error().message.find("100x100"), std::string::npos);
    auto fine = (*gate)->prediction(XRayClassifier1Input(grey(128)), options);
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->classLabel(), "X-Ray");
}

}  // namespace
}  // namespace orvix

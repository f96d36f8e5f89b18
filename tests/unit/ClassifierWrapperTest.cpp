#include <gtest/gtest.h>

#include "TestSupport.h"
#include "orvix/ResourceLocator.h"
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
        if (name == "classLabelProbs")
            return FeatureValue::featureValueWithDictionary({{"X-Ray", 0.75}, {"other", 0.25}});
        return std::nullopt;
    }
    mutable std::map<std::string, int> asked;
};

TEST(ClassifierOutput, ReadsEachFeatureOnceAndCachesAndMissingOnesAreEmpty) {
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

    // Missing features give empty values, not a crash.
    XRayClassifier1Output empty(std::make_shared<DictionaryFeatureProvider>(std::map<std::string, FeatureValue>{}));
    EXPECT_EQ(empty.classLabel(), "");
    EXPECT_TRUE(empty.classLabelProbs().empty());
    EXPECT_FALSE(empty.featureValueForName("classLabel"));
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

TEST(ModelSearch, ASetModelDirectoryIsTheOnlyPlaceSearchedAndTheFirstMatchWins) {
    using Dirs = std::vector<std::filesystem::path>;
    const auto none = test::environment({});
    EXPECT_EQ(modelSearchDirectories(test::environment({{"ORVIX_MODEL_DIR", "/m"}}), "/opt/bin", "/usr/m"), Dirs{"/m"});
    EXPECT_EQ(modelSearchDirectories(none, "/opt/bin", "/usr/m"),
              (Dirs{"/opt/bin/models", "/opt/share/orvix/models", "/usr/m"}));
    EXPECT_EQ(modelSearchDirectories(none, "", "/usr/m"), Dirs{"/usr/m"});

    test::TempDir a, b;
    for (const auto& dir :
         {a / "XRayClassifier1.mlmodelc", b / "XRayClassifier1.mlmodelc", b / "SickClassifier1.mlmodelc"})
        std::filesystem::create_directories(dir);
    EXPECT_EQ(findResource("SickClassifier1", "mlmodelc", {a.path(), b.path()}).value(),
              b / "SickClassifier1.mlmodelc");
    EXPECT_EQ(findResource("XRayClassifier1", "mlmodelc", {a.path(), b.path()}).value(),
              a / "XRayClassifier1.mlmodelc");
    EXPECT_EQ(findResource("Other", "mlmodelc", {a.path(), b.path()}).error().message,
              "model resource Other.mlmodelc not found; searched " + a.path().string() + ", " + b.path().string());
}

}  // namespace
}  // namespace orvix

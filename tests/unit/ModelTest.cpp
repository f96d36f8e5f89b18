#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"
#include "orvix/ImageDecoder.h"
#include "orvix/ImagePreparation.h"
#include "orvix/Model.h"
#include "orvix/ModelMetadata.h"

namespace orvix {
namespace {

using nlohmann::json;

json fixtureMetadata() {
    return json::parse(test::readBytes(test::fixtureModels() / "SickClassifier1.mlmodelc" / "metadata.json"));
}

// A writable copy of a fixture model resource.
std::filesystem::path copyResource(const test::TempDir& dir, const std::string& name) {
    const auto target = dir / (name + ".mlmodelc");
    std::filesystem::copy(test::fixtureModels() / (name + ".mlmodelc"), target);
    return target;
}

TEST(ModelMetadata, EachInvalidFieldIsNamed) {
    struct Case {
        const char* pointer;
        json value;
        const char* expected;
    };
    const Case cases[] = {
        {"/format", "something-else", "metadata.format"},
        {"/formatVersion", 2, "formatVersion"},
        {"/input/width", 0, "metadata.input.width"},
        {"/input/height", 256, "prepared at"},
        {"/input/resize", "bilinear", "metadata.input.resize"},
        {"/input/pixelFormat", 24, "pixelFormat"},
        {"/input/std", json::array({1, 0, 1}), "std"},
        {"/input/mean", json::array({1, 2}), "mean"},
        {"/input/channelOrder", "GBR", "channelOrder"},
        {"/output/temperature", -1, "temperature"},
        {"/classLabels", json::array({"A", "A"}), "twice"},
        {"/classLabels", json::array(), "classLabels"},
        {"/decision/label", "MISSING", "decision.label"},
        {"/decision/threshold", 1.5, "threshold"},
        {"/decision/borderline", json::array({0.6, 0.7}), "borderline"},  // the threshold (0.5) lies outside
        {"/output/classMaps", "logits", "classMaps"},
        {"/sha256", "XYZ", "sha256"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pointer);
        json j = fixtureMetadata();
        j[json::json_pointer(c.pointer)] = c.value;
        auto m = parseModelMetadata(j.dump());
        ASSERT_FALSE(m);
        EXPECT_NE(m.error().message.find(c.expected), std::string::npos) << m.error().message;
    }
    EXPECT_FALSE(parseModelMetadata("{not json"));
    EXPECT_FALSE(parseModelMetadata("[]"));
    json noInput = fixtureMetadata();
    noInput.erase("input");
    EXPECT_FALSE(parseModelMetadata(noInput.dump()));
}

TEST(ModelLoad, RefusesDamagedOrMismatchedResources) {
    test::TempDir dir;
    const auto resource = copyResource(dir, "SickClassifier1");
    ASSERT_TRUE(Model::load(resource));

    // One flipped byte in the network: the digest no longer matches.
    std::string onnx = test::readBytes(resource / "model.onnx");
    onnx[onnx.size() / 2] = static_cast<char>(onnx[onnx.size() / 2] ^ 0x01);
    test::writeBytes(resource / "model.onnx", onnx);
    auto damaged = Model::load(resource);
    ASSERT_FALSE(damaged);
    EXPECT_NE(damaged.error().message.find("SHA-256"), std::string::npos);
    EXPECT_NE(damaged.error().message.find(resource.string()), std::string::npos);

    // Labels that do not match the network's outputs.
    const auto other = copyResource(dir, "XRayClassifier1");
    json meta = json::parse(test::readBytes(other / "metadata.json"));
    meta["classLabels"] = json::array({"a", "b", "c"});
    test::writeBytes(other / "metadata.json", meta.dump());
    auto mismatched = Model::load(other);
    ASSERT_FALSE(mismatched);
    EXPECT_NE(mismatched.error().message.find("3 class labels"), std::string::npos) << mismatched.error().message;

    std::filesystem::remove(other / "metadata.json");
    EXPECT_FALSE(Model::load(other));

    // A resource under another model's name.
    std::filesystem::remove_all(other);
    std::filesystem::copy(test::fixtureModels() / "SickClassifier1.mlmodelc", other);
    auto swapped = Model::load(other);
    ASSERT_FALSE(swapped);
    EXPECT_NE(swapped.error().message.find("does not match the resource name"), std::string::npos);

    // Class maps declared under a name the network does not give.
    test::TempDir elsewhere;
    const auto mapless = copyResource(elsewhere, "SickClassifier1");
    json maps = fixtureMetadata();
    maps["output"]["classMaps"] = "nowhere";
    test::writeBytes(mapless / "metadata.json", maps.dump());
    EXPECT_FALSE(Model::load(mapless));
}

TEST(ModelLoad, TakesTheGreyPlaneOnlyWhereTheChannelsAreAlike) {
    test::TempDir dir;
    const auto apart = dir / "SickClassifier1.mlmodelc";  // the shipped network, one channel scaled apart
    std::filesystem::copy(std::filesystem::path(ORVIX_SHIPPED_MODELS) / "SickClassifier1.mlmodelc", apart);
    json meta = json::parse(test::readBytes(apart / "metadata.json"));
    meta["input"]["mean"][2] = 0.6;
    test::writeBytes(apart / "metadata.json", meta.dump());
    // The shipped models take it (ModelPrediction); the fixture's one convolution is the class-map head.
    for (const auto& resource : {apart, test::fixtureModels() / "SickClassifier1.mlmodelc"}) {
        auto model = Model::load(resource);
        ASSERT_TRUE(model) << model.error().message;
        EXPECT_FALSE(model->takesGreyPlane()) << resource;
    }
}

// The one-plane copy against the network run by OpenCV on the three planes: a grey film agrees to the rounding
// of its summed weights (1e-6), a tinted one still takes the three planes (1e-7, two runs' float rounding).
TEST(ModelPrediction, GreyPicturesGiveTheThreePlaneAnswers) {
    const std::filesystem::path shipped = ORVIX_SHIPPED_MODELS;
    auto film = decodeImage(test::bytesOf(test::readBytes(test::fixtures() / "pictures" / "chest-normal-2mp.jpeg")));
    ASSERT_TRUE(film);
    ASSERT_EQ(film->pixels().channels(), 1);
    cv::Mat tinted;
    cv::cvtColor(film->pixels(), tinted, cv::COLOR_GRAY2BGR);
    tinted += cv::Scalar(0, 0, 30);
    const struct {
        const char* name;
        Image picture;
        double tolerance;
    } pictures[] = {{"grey film", *film, 1e-5}, {"tinted film", Image(tinted), 1e-7}};
    for (const char* name : {"XRayClassifier1", "SickClassifier1"}) {
        const auto resource = shipped / (std::string(name) + ".mlmodelc");
        auto model = Model::load(resource);
        ASSERT_TRUE(model && model->takesGreyPlane()) << name;
        const ModelMetadata& m = model->metadata();
        cv::dnn::Net reference = cv::dnn::readNetFromONNX((resource / "model.onnx").string());
        std::vector<cv::String> outputs = {m.outputTensor};
        if (!m.classMapsTensor.empty()) outputs.push_back(m.classMapsTensor);
        for (const auto& p : pictures) {
            SCOPED_TRACE(std::string(name) + ", " + p.name);
            auto buffer = makePixelBuffer(*redrawImage(p.picture));
            auto tensor = pixelBufferToTensor(*buffer, m);
            ASSERT_TRUE(buffer && tensor);
            const int shape[] = {1, 3, m.height, m.width};
            reference.setInput(cv::Mat(4, shape, CV_32F, tensor->data()));
            std::vector<cv::Mat> expected;
            reference.forward(expected, outputs);
            const float* logits = expected[0].ptr<float>();
            const double other = std::exp((logits[0] - logits[1]) / m.temperature);

            auto out = model->prediction(
                DictionaryFeatureProvider({{m.inputName, FeatureValue::featureValueWithPixelBuffer(*buffer)}}),
                PredictionOptions{});
            ASSERT_TRUE(out) << out.error().message;
            const auto probs = *(*out)->featureValueForName("classLabelProbs")->dictionaryValue();
            EXPECT_NEAR(probs.at(m.classLabels[1]), 1.0 / (1.0 + other), p.tolerance);
            if (expected.size() > 1) {
                const cv::Mat& maps = dynamic_cast<const ModelOutput&>(**out).classMaps();
                EXPECT_LE(cv::norm(maps.reshape(1, 1), expected[1].reshape(1, 1), cv::NORM_INF), 100 * p.tolerance);
            }
        }
    }
}

// The scaling and the RGB planes are checked against PyTorch (training/tests, ExportToApp); a buffer of
// the wrong size in ClassifierWrapperTest. Here the order no shipped model uses: BGR swaps the outer planes.
TEST(PixelBufferToTensor, BgrOrderSwapsTheRedAndBluePlanes) {
    auto meta = parseModelMetadata(fixtureMetadata().dump());
    auto buffer = makePixelBuffer(Image(test::solid(224, 224, cv::Scalar(0, 128, 255))));  // B=0 G=128 R=255
    ASSERT_TRUE(meta && buffer);
    auto rgb = pixelBufferToTensor(*buffer, *meta);
    meta->channelOrder = ModelMetadata::ChannelOrder::BGR;
    auto bgr = pixelBufferToTensor(*buffer, *meta);
    ASSERT_TRUE(rgb && bgr);
    const long plane = 224 * 224;
    for (int c = 0; c < 3; ++c)
        EXPECT_TRUE(
            std::equal(rgb->begin() + c * plane, rgb->begin() + (c + 1) * plane, bgr->begin() + (2 - c) * plane));
    EXPECT_GT((*rgb)[0], (*rgb)[2 * plane]) << "red, the brightest, first";
}

}  // namespace
}  // namespace orvix

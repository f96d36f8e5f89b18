#pragma once
// The model runtime: loads a compiled model resource and runs predictions.
//
//   auto model = Model::load("/usr/share/orvix/models/SickClassifier1.mlmodelc");
//   if (!model) report(model.error().message);
//   auto result = model->prediction(input, PredictionOptions{});
//
// Loading validates everything: metadata.json (see ModelMetadata.h), the SHA-256
// of model.onnx against it, that OpenCV's DNN module imports the network, and
// that one forward pass yields exactly one value per class label (and, where the metadata
// declares class maps, one map per label). A failure
// names the resource and the reason.

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orvix/Features.h"
#include "orvix/ModelMetadata.h"
#include "orvix/Result.h"

namespace orvix {

// What a prediction returns: "classLabel" and "classLabelProbs", and beside the named
// features the class maps (labels x h x w, CV_32F) of a model that declares them.
class ModelOutput final : public FeatureProvider {
public:
    ModelOutput(std::map<std::string, FeatureValue> features, cv::Mat classMaps)
        : features_(std::move(features)), classMaps_(std::move(classMaps)) {}
    std::set<std::string> featureNames() const override { return features_.featureNames(); }
    std::optional<FeatureValue> featureValueForName(const std::string& name) const override {
        return features_.featureValueForName(name);
    }
    // Empty when the model gives none.
    const cv::Mat& classMaps() const { return classMaps_; }

private:
    DictionaryFeatureProvider features_;
    cv::Mat classMaps_;
};

// Threads: prediction() is const but runs the model's one network, so a Model serves one thread
// at a time. It cannot be copied (a copy would share that network): code that predicts on several
// threads loads one Model per thread (the window's worklist and orvix-screen --jobs each give a
// worker its own DiagnosisState).
class Model {
public:
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;
    Model(Model&&) noexcept = default;
    Model& operator=(Model&&) noexcept = default;

    static Result<Model> load(const std::filesystem::path& resourceDirectory);

    // Fails when the input has no pixel buffer under the metadata's input name, the
    // buffer's size or format differs from the metadata's, or the network fails.
    Result<std::shared_ptr<const FeatureProvider>> prediction(const FeatureProvider& input,
                                                              const PredictionOptions& options) const;

    // Whether a grey picture (R = G = B in every pixel) is predicted from one plane, by a copy of the network
    // whose first convolution sums the weights of its three input channels: the same answers within about
    // 1e-6 of the logits, for less work. Set at load, where the metadata scales the channels alike and the
    // copy answers a grey test pattern as the network does from three planes.
    bool takesGreyPlane() const;

    const ModelMetadata& metadata() const { return *metadata_; }
    const std::filesystem::path& resourceDirectory() const { return directory_; }

private:
    struct Network;
    Model(std::filesystem::path directory, std::shared_ptr<const ModelMetadata> metadata,
          std::shared_ptr<Network> network);

    std::filesystem::path directory_;
    std::shared_ptr<const ModelMetadata> metadata_;
    std::shared_ptr<Network> network_;
};

// How many threads one prediction may use (OpenCV's pool: process-wide, every Model). By default each
// prediction spreads over all the cores; code that runs predictions on several threads of its own
// (orvix-screen --jobs N) gives each its share, where splitting every layer over all the cores as well only
// adds hand-overs between threads. The answers do not depend on it.
void setThreadsPerPrediction(int threads);

// The float tensor (N=1, C=3, H, W, planar) the network receives for a buffer,
// as the metadata describes. Exposed for the parity check and the tests.
Result<std::vector<float>> pixelBufferToTensor(const PixelBuffer& buffer, const ModelMetadata& metadata);

}  // namespace orvix

#include "orvix/Model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include <opencv2/dnn.hpp>

#include "orvix/Digest.h"
#include "orvix/ImageDecoder.h"

namespace orvix {
namespace {

constexpr std::uintmax_t kMaxMetadataBytes = 1 << 20;
constexpr std::uintmax_t kMaxNetworkBytes = 64ull << 20;

std::vector<double> probabilitiesFrom(const cv::Mat& output, const ModelMetadata& m) {
    std::vector<double> values(output.total());
    const float* raw = output.ptr<float>();
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = raw[i];
    if (m.outputKind == ModelMetadata::OutputKind::Probabilities) return values;
    const double top = *std::max_element(values.begin(), values.end());
    double sum = 0;
    for (double& v : values) {
        v = std::exp((v - top) / m.temperature);
        sum += v;
    }
    for (double& v : values) v /= sum;
    return values;
}

std::string decide(const std::vector<double>& probs, const ModelMetadata& m) {
    if (m.decision == ModelMetadata::DecisionKind::Threshold) {
        const auto at = std::find(m.classLabels.begin(), m.classLabels.end(), m.decisionLabel) - m.classLabels.begin();
        return probs[static_cast<std::size_t>(at)] >= m.threshold ? m.decisionLabel : m.otherwiseLabel;
    }
    return m.classLabels[static_cast<std::size_t>(std::max_element(probs.begin(), probs.end()) - probs.begin())];
}

}  // namespace

struct Model::Network {
    cv::dnn::Net net;
    std::vector<cv::String> outputs;  // the logits, then the class maps when declared; empty: the only output
    // The same network for grey pictures, taking their one plane (see greyNetwork); empty when it cannot.
    cv::dnn::Net grey;

    // The logits and the class maps (empty when not declared) for one input tensor: three planes, or the
    // one plane of a grey picture when `grey` is set.
    std::pair<cv::Mat, cv::Mat> forward(const cv::Mat& input) {
        cv::dnn::Net& chosen = input.size[1] == 1 ? grey : net;
        chosen.setInput(input);
        if (outputs.empty()) return {chosen.forward(), cv::Mat()};
        std::vector<cv::Mat> blobs;
        chosen.forward(blobs, outputs);
        return {blobs[0], blobs.size() > 1 ? blobs[1] : cv::Mat()};
    }

    // Whether `grey` answers a grey test pattern (values over the whole range, structure at every scale)
    // as `net` does from the pattern's three equal planes, logits and class maps alike.
    bool greyAgrees(const ModelMetadata& m) {
        const int one[] = {1, 1, m.height, m.width}, three[] = {1, 3, m.height, m.width};
        cv::Mat plane(4, one, CV_32F), planes(4, three, CV_32F);
        const std::size_t size = static_cast<std::size_t>(m.height) * static_cast<std::size_t>(m.width);
        for (std::size_t i = 0; i < size; ++i) {
            const std::size_t y = i / static_cast<std::size_t>(m.width), x = i % static_cast<std::size_t>(m.width);
            const float v = static_cast<float>((x * 7 + y * 13 + x * y % 31) % 256) / 64.0f - 2.0f;
            plane.ptr<float>()[i] = v;
            for (std::size_t c = 0; c < 3; ++c) planes.ptr<float>()[c * size + i] = v;
        }
        const auto [logits, maps] = forward(planes);
        const cv::Mat expected = logits.clone(), expectedMaps = maps.clone();
        const auto [greyLogits, greyMaps] = forward(plane);
        const auto close = [](const cv::Mat& a, const cv::Mat& b) {
            return a.total() == b.total() &&
                   cv::norm(a.reshape(1, 1), b.reshape(1, 1), cv::NORM_INF) <=
                       kGreyTolerance * std::max(1.0, cv::norm(a.reshape(1, 1), cv::NORM_INF));
        };
        return close(expected, greyLogits) && (expectedMaps.empty() || close(expectedMaps, greyMaps));
    }

    // Summing the weights rounds differently, by about 1e-6 of the logits; a network that tells the
    // channels apart before its first convolution misses by far more.
    static constexpr double kGreyTolerance = 1e-4;
};

namespace {

// The class maps as labels x h x w, or why their shape is not 1 x labels x h x w.
Result<cv::Mat> classMapsFrom(const cv::Mat& blob, std::size_t labels) {
    if (blob.dims != 4 || blob.size[0] != 1 || static_cast<std::size_t>(blob.size[1]) != labels)
        return Error{"the class maps are not 1 x " + std::to_string(labels) + " x h x w"};
    const int shape[] = {blob.size[1], blob.size[2], blob.size[3]};
    return blob.reshape(1, 3, shape).clone();
}

// A grey picture (nearly every radiograph) gives the network three equal planes. Where the metadata scales
// the channels alike and nothing before the network's first convolution tells them apart, that convolution
// with its weights summed over the three input channels gives the same answers from one plane, for less
// work: this is a second copy of the network made so (empty where the network does not start that way).
// Whether nothing tells the channels apart is checked by running both (Network::greyAgrees), not read
// from the graph.
cv::dnn::Net greyNetwork(const std::vector<std::uint8_t>& onnx, const ModelMetadata& m) {
    for (std::size_t c = 1; c < 3; ++c)
        if (m.mean[c] != m.mean[0] || m.std[c] != m.std[0]) return {};
    cv::dnn::Net net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(onnx.data()), onnx.size());
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    for (const auto& name : net.getLayerNames()) {
        const int id = net.getLayerId(name);
        const auto layer = net.getLayer(id);
        if (layer->type != "Convolution") continue;
        if (layer->blobs.empty()) return {};
        const cv::Mat& w = layer->blobs[0];
        if (w.dims != 4 || w.size[1] != 3 || w.type() != CV_32F || !w.isContinuous()) return {};
        const int shape[] = {w.size[0], 1, w.size[2], w.size[3]};
        cv::Mat summed(4, shape, CV_32F);
        const std::size_t taps = static_cast<std::size_t>(w.size[2]) * static_cast<std::size_t>(w.size[3]);
        const float* in = w.ptr<float>();
        float* out = summed.ptr<float>();
        for (std::size_t o = 0; o < static_cast<std::size_t>(w.size[0]); ++o)
            for (std::size_t k = 0; k < taps; ++k)
                out[o * taps + k] =
                    in[(o * 3 + 0) * taps + k] + in[(o * 3 + 1) * taps + k] + in[(o * 3 + 2) * taps + k];
        net.setParam(id, 0, summed);  // before the first forward pass, which fuses the layers after it
        return net;
    }
    return {};
}

}  // namespace

Model::Model(std::filesystem::path directory, std::shared_ptr<const ModelMetadata> metadata,
             std::shared_ptr<Network> network)
    : directory_(std::move(directory)), metadata_(std::move(metadata)), network_(std::move(network)) {}

Result<Model> Model::load(const std::filesystem::path& resourceDirectory) {
    const std::string where = resourceDirectory.string();
    auto fail = [&](const std::string& why) { return Error{"model resource " + where + ": " + why}; };

    auto metaBytes = readWholeFile(resourceDirectory / "metadata.json", kMaxMetadataBytes);
    if (!metaBytes) return fail(metaBytes.error().message);
    auto metadata =
        parseModelMetadata(std::string_view(reinterpret_cast<const char*>(metaBytes->data()), metaBytes->size()));
    if (!metadata) return fail(metadata.error().message);
    const std::string stem = resourceDirectory.filename().stem().string();
    if (resourceDirectory.extension() == ".mlmodelc" && stem != metadata->name)
        return fail("metadata.name \"" + metadata->name + "\" does not match the resource name \"" + stem + "\"");

    auto onnx = readWholeFile(resourceDirectory / "model.onnx", kMaxNetworkBytes);
    if (!onnx) return fail(onnx.error().message);
    if (sha256Hex(onnx.value()) != metadata->sha256)
        return fail("model.onnx does not match the SHA-256 in metadata.json (damaged or replaced)");

    auto network = std::make_shared<Network>();
    try {
        network->net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(onnx->data()), onnx->size());
        if (network->net.empty()) return fail("OpenCV could not import model.onnx");
        network->net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        network->net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        if (!metadata->classMapsTensor.empty()) network->outputs = {metadata->outputTensor, metadata->classMapsTensor};
        // One pass on a blank input checks the network's shape against the labels now,
        // rather than on the user's first picture.
        const int shape[] = {1, 3, metadata->height, metadata->width};
        const auto [out, maps] = network->forward(cv::Mat(4, shape, CV_32F, cv::Scalar(0)));
        if (out.total() != metadata->classLabels.size())
            return fail("the network gives " + std::to_string(out.total()) + " outputs for " +
                        std::to_string(metadata->classLabels.size()) + " class labels");
        if (!network->outputs.empty()) {
            if (auto checked = classMapsFrom(maps, metadata->classLabels.size()); !checked)
                return fail(checked.error().message);
        }
        try {
            network->grey = greyNetwork(onnx.value(), metadata.value());
            if (!network->grey.empty() && !network->greyAgrees(metadata.value())) network->grey = cv::dnn::Net();
        } catch (const cv::Exception&) {  // a network whose first convolution is not on the input's planes
            network->grey = cv::dnn::Net();
        }
    } catch (const cv::Exception& e) {
        return fail("OpenCV could not run model.onnx: " + e.err);
    }
    return Model(resourceDirectory, std::make_shared<const ModelMetadata>(std::move(metadata).value()),
                 std::move(network));
}

bool Model::takesGreyPlane() const { return !network_->grey.empty(); }

void setThreadsPerPrediction(int threads) { cv::setNumThreads(threads); }

namespace {

// The tensor for a buffer, planar: three planes, or with `onePlaneIfGrey` only the middle one when every
// pixel is grey (R = G = B), whose three planes would be equal when the channels are scaled alike.
struct Tensor {
    std::vector<float> values;
    int planes = 3;
};

Result<Tensor> makeTensor(const PixelBuffer& source, const ModelMetadata& m, bool onePlaneIfGrey) {
    if (source.formatType() != PixelBuffer::kFormat32ARGB) return Error{"pixel buffer is not in format 32"};
    if (source.width() != m.width || source.height() != m.height)
        return Error{"pixel buffer is " + std::to_string(source.width()) + "x" + std::to_string(source.height()) +
                     ", the model takes " + std::to_string(m.width) + "x" + std::to_string(m.height)};
    PixelBuffer buffer = source;  // shares the pixels; the lock is this reader's own
    buffer.lockBaseAddress();
    const std::uint8_t* base = buffer.baseAddress();
    const auto rowOf = [&](int y) { return base + static_cast<std::size_t>(y) * buffer.bytesPerRow(); };
    const auto grey = [&] {
        for (int y = 0; y < m.height; ++y) {
            const std::uint8_t* px = rowOf(y);
            for (int x = 0; x < m.width; ++x, px += 4)
                if (px[1] != px[2] || px[2] != px[3]) return false;
        }
        return true;
    };
    Tensor tensor;
    if (onePlaneIfGrey && grey()) tensor.planes = 1;
    const std::size_t plane = static_cast<std::size_t>(m.width) * static_cast<std::size_t>(m.height);
    tensor.values.resize(static_cast<std::size_t>(tensor.planes) * plane);
    // Byte offsets of the tensor's channels within an xRGB pixel; one plane is the middle channel's.
    const bool rgb = m.channelOrder == ModelMetadata::ChannelOrder::RGB;
    const int offset[3] = {rgb ? 1 : 3, 2, rgb ? 3 : 1};
    for (int p = 0; p < tensor.planes; ++p) {
        const auto c = static_cast<std::size_t>(tensor.planes == 1 ? 1 : p);
        // (byte * scale - mean) / std, as one multiply-add in double per byte value, looked up.
        const double gain = m.scale / m.std[c];
        const double bias = -m.mean[c] / m.std[c];
        std::array<float, 256> value;
        for (int v = 0; v < 256; ++v) value[static_cast<std::size_t>(v)] = static_cast<float>(v * gain + bias);
        float* out = tensor.values.data() + static_cast<std::size_t>(p) * plane;
        for (int y = 0; y < m.height; ++y) {
            const std::uint8_t* row = rowOf(y) + offset[c];
            for (int x = 0; x < m.width; ++x) *out++ = value[row[x * 4]];
        }
    }
    buffer.unlockBaseAddress();
    return tensor;
}

}  // namespace

Result<std::vector<float>> pixelBufferToTensor(const PixelBuffer& source, const ModelMetadata& m) {
    auto tensor = makeTensor(source, m, false);
    if (!tensor) return tensor.error();
    return std::move(tensor->values);
}

Result<std::shared_ptr<const FeatureProvider>> Model::prediction(const FeatureProvider& input,
                                                                 const PredictionOptions&) const {
    const ModelMetadata& m = *metadata_;
    auto value = input.featureValueForName(m.inputName);
    if (!value || value->type() != FeatureValue::Type::PixelBuffer)
        return Error{m.name + ": the input has no pixel buffer named \"" + m.inputName + "\""};
    auto tensor = makeTensor(*value->imageBufferValue(), m, takesGreyPlane());
    if (!tensor) return Error{m.name + ": " + tensor.error().message};

    std::vector<double> probs;
    cv::Mat classMaps;
    try {
        const int shape[] = {1, tensor->planes, m.height, m.width};
        const auto [logits, maps] = network_->forward(cv::Mat(4, shape, CV_32F, tensor->values.data()));
        probs = probabilitiesFrom(logits, m);
        if (!network_->outputs.empty()) {
            auto checked = classMapsFrom(maps, m.classLabels.size());
            if (!checked) return Error{m.name + ": " + checked.error().message};
            classMaps = std::move(checked).value();
        }
    } catch (const cv::Exception& e) {
        return Error{m.name + ": prediction failed: " + e.err};
    }
    if (probs.size() != m.classLabels.size() ||
        std::any_of(probs.begin(), probs.end(), [](double p) { return !std::isfinite(p); }))
        return Error{m.name + ": prediction gave no valid probabilities"};

    FeatureValue::Dictionary byLabel;
    for (std::size_t i = 0; i < probs.size(); ++i) byLabel[m.classLabels[i]] = probs[i];
    std::map<std::string, FeatureValue> features;
    features.emplace("classLabel", FeatureValue::featureValueWithString(decide(probs, m)));
    features.emplace("classLabelProbs", FeatureValue::featureValueWithDictionary(std::move(byLabel)));
    return std::shared_ptr<const FeatureProvider>(
        std::make_shared<ModelOutput>(std::move(features), std::move(classMaps)));
}

}  // namespace orvix

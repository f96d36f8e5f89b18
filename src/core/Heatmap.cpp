#include "orvix/Heatmap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <type_traits>

#include <opencv2/imgproc.hpp>

namespace orvix {
namespace {

constexpr double kStrongestTint = 0.6;  // the share of colour at probability 1

// A perceptually ordered scale from blue through green and yellow to red: the part of
// OpenCV's Turbo map that stays bright at both ends, so that a tint never darkens the film.
const std::array<cv::Vec3b, 256>& colourTable() {
    static const std::array<cv::Vec3b, 256> table = [] {
        constexpr int kFirst = 20, kLast = 215;
        cv::Mat ramp(1, 256, CV_8UC1);
        for (int i = 0; i < 256; ++i)
            ramp.at<std::uint8_t>(0, i) = static_cast<std::uint8_t>(kFirst + i * (kLast - kFirst) / 255);
        cv::Mat coloured;
        cv::applyColorMap(ramp, coloured, cv::COLORMAP_TURBO);
        std::array<cv::Vec3b, 256> out{};
        for (int i = 0; i < 256; ++i) out[static_cast<std::size_t>(i)] = coloured.at<cv::Vec3b>(0, i);
        return out;
    }();
    return table;
}

std::size_t level(double position) {
    return static_cast<std::size_t>(std::lround(std::clamp(position, 0.0, 1.0) * 255.0));
}

std::string percentText(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, fraction < 0.01 || fraction > 0.99 ? "%.2f %%" : "%.0f %%", fraction * 100);
    return text;
}

}  // namespace

Result<ActivationMap> activationMap(const cv::Mat& classMaps, const ModelMetadata& m, const std::string& label) {
    const auto at = std::find(m.classLabels.begin(), m.classLabels.end(), label);
    if (at == m.classLabels.end()) return Error{"\"" + label + "\" is not a class label of " + m.name};
    if (classMaps.dims != 3 || classMaps.type() != CV_32F ||
        static_cast<std::size_t>(classMaps.size[0]) != m.classLabels.size())
        return Error{m.name + ": class maps of the wrong shape"};
    const int labels = classMaps.size[0], rows = classMaps.size[1], cols = classMaps.size[2];
    const int chosen = static_cast<int>(at - m.classLabels.begin());
    const std::size_t plane = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    const float* maps = classMaps.ptr<float>();

    ActivationMap out{label, cv::Mat(rows, cols, CV_32F)};
    float* odds = out.logOdds.ptr<float>();
    for (std::size_t cell = 0; cell < plane; ++cell) {
        // log P(label) - log P(not label) = l - logsumexp(others), in units of the temperature.
        const auto scaled = [&](int k) { return maps[static_cast<std::size_t>(k) * plane + cell] / m.temperature; };
        double top = -INFINITY;
        for (int k = 0; k < labels; ++k)
            if (k != chosen) top = std::max(top, scaled(k));
        double others = 0;
        for (int k = 0; k < labels; ++k)
            if (k != chosen) others += std::exp(scaled(k) - top);
        const double value = scaled(chosen) - top - std::log(others);
        if (!std::isfinite(value)) return Error{m.name + ": the class maps hold no finite values"};
        odds[cell] = static_cast<float>(value);
    }
    return out;
}

cv::Mat ActivationMap::probability() const {
    if (logOdds.empty()) return {};
    cv::Mat p;
    cv::exp(-logOdds, p);
    return 1.0 / (1.0 + p);
}

std::array<std::string, 3> heatmapScaleLabels() {
    const double low = 1 / (1 + std::exp(kHeatmapLogOddsSpan));
    return {percentText(low), percentText(0.5), percentText(1 - low)};
}

cv::Vec3b heatmapColour(double position) { return colourTable()[level(position)]; }

double heatmapPosition(double logOdds) {
    return std::clamp((logOdds + kHeatmapLogOddsSpan) / (2 * kHeatmapLogOddsSpan), 0.0, 1.0);
}

cv::Mat heatmapOverlay(const Image& picture, const ActivationMap& map, cv::Size size) {
    const cv::Mat& source = picture.pixels();
    if (size.empty()) size = source.size();
    cv::Mat base = source;
    if (base.size() != size) cv::resize(source, base, size, 0, 0, cv::INTER_AREA);

    // Each cell's place on the scale as a level from 0 to 255, spread over the picture.
    cv::Mat cells, levels;
    map.logOdds.convertTo(cells, CV_8U, 255.0 / (2 * kHeatmapLogOddsSpan), 127.5);
    cv::resize(cells, levels, size, 0, 0, cv::INTER_LINEAR);

    // The tint's share of each level, out of 256.
    static const std::array<int, 256> weight = [] {
        std::array<int, 256> w{};
        for (int l = 0; l < 256; ++l)
            w[static_cast<std::size_t>(l)] = static_cast<int>(std::lround(256 * kStrongestTint * l / 255));
        return w;
    }();
    const auto& table = colourTable();
    cv::Mat out(size, CV_8UC3);
    const auto blend = [&](auto channels) {  // 1 (grey) or 3 (BGR), known at compile time
        for (int y = 0; y < size.height; ++y) {
            const std::uint8_t* from = base.ptr<std::uint8_t>(y);
            const std::uint8_t* level = levels.ptr<std::uint8_t>(y);
            std::uint8_t* to = out.ptr<std::uint8_t>(y);
            for (int x = 0; x < size.width; ++x) {
                const int w = weight[level[x]];
                const cv::Vec3b& tint = table[level[x]];
                for (int c = 0; c < 3; ++c) {
                    const int value = from[x * channels() + (channels() == 1 ? 0 : c)];
                    to[x * 3 + c] = static_cast<std::uint8_t>((value * (256 - w) + tint[c] * w + 128) >> 8);
                }
            }
        }
    };
    if (base.channels() == 1) blend(std::integral_constant<int, 1>{});
    else blend(std::integral_constant<int, 3>{});
    return out;
}

cv::Mat heatmapPicture(const Image& picture, const ActivationMap& map) {
    const cv::Mat overlay = heatmapOverlay(picture, map);
    const int width = overlay.cols;
    const int strip = std::clamp(width / 8, 40, 160);
    cv::Mat out(overlay.rows + strip, width, CV_8UC3, cv::Scalar(255, 255, 255));
    overlay.copyTo(out(cv::Rect(0, 0, width, overlay.rows)));

    const int margin = strip / 8, barHeight = strip / 5, top = overlay.rows + margin;
    const int barWidth = std::max(1, width - 2 * margin);
    for (int x = 0; x < barWidth; ++x)
        out(cv::Rect(margin + x, top, 1, barHeight))
            .setTo(heatmapColour(static_cast<double>(x) / std::max(1, barWidth - 1)));
    const double scale = strip / 140.0;
    const int thickness = std::max(1, static_cast<int>(scale * 2));
    const auto textWidth = [&](const std::string& text) {
        int baseLine = 0;
        return cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, scale, thickness, &baseLine).width;
    };
    const auto put = [&](const std::string& text, int x, int line) {
        cv::putText(out, text, {x, top + barHeight + line * strip * 3 / 10}, cv::FONT_HERSHEY_SIMPLEX, scale,
                    cv::Scalar(0, 0, 0), thickness, cv::LINE_AA);
    };
    const auto labels = heatmapScaleLabels();
    put(labels[0], margin, 1);
    put(labels[1], (width - textWidth(labels[1])) / 2, 1);
    put(labels[2], width - margin - textWidth(labels[2]), 1);
    const std::string meaning = "probability of " + map.label + " by region";
    put(meaning, (width - textWidth(meaning)) / 2, 2);
    return out;
}

}  // namespace orvix

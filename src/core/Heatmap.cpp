#include "orvix/Heatmap.h"

#include <algorithm>
#include <array>
#include <cmath>

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
        for (int i = 0; i < 256; ++i) ramp.at<std::uint8_t>(0, i) = static_cast<std::uint8_t>(kFirst + i * (kLast - kFirst) / 255);
        cv::Mat coloured;
        cv::applyColorMap(ramp, coloured, cv::COLORMAP_TURBO);
        std::array<cv::Vec3b, 256> out{};
        for (int i = 0; i < 256; ++i) out[static_cast<std::size_t>(i)] = coloured.at<cv::Vec3b>(0, i);
        return out;
    }();
    return table;
}

void toProbability(const cv::Mat& logOdds, cv::Mat& probability) {
    cv::exp(-logOdds, probability);
    probability = 1.0 / (1.0 + probability);
}

std::size_t level(float p) { return static_cast<std::size_t>(std::lround(std::clamp(p, 0.0f, 1.0f) * 255.0f)); }

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
    cv::Mat p;
    if (!logOdds.empty()) toProbability(logOdds, p);
    return p;
}

cv::Vec3b heatmapColour(double probability) { return colourTable()[level(static_cast<float>(probability))]; }

cv::Mat heatmapOverlay(const Image& picture, const ActivationMap& map, cv::Size size) {
    cv::Mat base;
    if (size.empty()) size = picture.pixels().size();
    cv::resize(picture.pixels(), base, size, 0, 0, cv::INTER_AREA);
    if (base.channels() == 1) cv::cvtColor(base, base, cv::COLOR_GRAY2BGR);
    cv::Mat odds, evidence;
    cv::resize(map.logOdds, odds, size, 0, 0, cv::INTER_LINEAR);
    toProbability(odds, evidence);
    const auto& table = colourTable();
    for (int y = 0; y < size.height; ++y) {
        cv::Vec3b* row = base.ptr<cv::Vec3b>(y);
        const float* p = evidence.ptr<float>(y);
        for (int x = 0; x < size.width; ++x) {
            const float a = static_cast<float>(kStrongestTint) * std::clamp(p[x], 0.0f, 1.0f);
            const cv::Vec3b& tint = table[level(p[x])];
            for (int c = 0; c < 3; ++c)
                row[x][c] = static_cast<std::uint8_t>(std::lround(row[x][c] + (tint[c] - row[x][c]) * a));
        }
    }
    return base;
}

cv::Mat heatmapPicture(const Image& picture, const ActivationMap& map) {
    const cv::Mat overlay = heatmapOverlay(picture, map);
    const int width = overlay.cols;
    const int strip = std::clamp(width / 12, 28, 120);
    cv::Mat out(overlay.rows + strip, width, CV_8UC3, cv::Scalar(255, 255, 255));
    overlay.copyTo(out(cv::Rect(0, 0, width, overlay.rows)));

    const int margin = strip / 4, barHeight = strip / 4, top = overlay.rows + margin / 2;
    const int barWidth = std::max(1, width - 2 * margin);
    for (int x = 0; x < barWidth; ++x)
        out(cv::Rect(margin + x, top, 1, barHeight)).setTo(heatmapColour(static_cast<double>(x) / std::max(1, barWidth - 1)));
    const double scale = strip / 80.0;
    const int baseline = top + barHeight + static_cast<int>(30 * scale);
    const auto put = [&](const std::string& text, int x) {
        cv::putText(out, text, {x, baseline}, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(0, 0, 0),
                    std::max(1, static_cast<int>(scale * 2)), cv::LINE_AA);
    };
    const auto textWidth = [&](const std::string& text) {
        int baseLine = 0;
        return cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, scale, 1, &baseLine).width;
    };
    const std::string meaning = map.label + " evidence per region";
    put("0%", margin);
    put(meaning, (width - textWidth(meaning)) / 2);
    put("100%", width - margin - textWidth("100%"));
    return out;
}

}  // namespace orvix

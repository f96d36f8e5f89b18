#include "orvix/ValidationPlots.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include <opencv2/imgproc.hpp>

namespace orvix {

namespace {

constexpr int kWidth = 640, kHeight = 480, kLeft = 70, kRight = 20, kTop = 40, kBottom = 60;
const cv::Scalar kInk(40, 40, 40), kGrid(225, 225, 225), kBlue(180, 100, 30), kRed(40, 40, 210), kGreen(60, 150, 40),
    kOrange(0, 140, 255);

// A blank plot with its title, axes, ticks and axis names; maps (x, y) in [0, 1] to pixels.
class Canvas {
public:
    Canvas(const std::string& title, const std::string& xName, const std::string& yName)
        : picture_(kHeight, kWidth, CV_8UC3, cv::Scalar(255, 255, 255)) {
        text(title, {kLeft + 90, 25}, 0.6);
        for (int i = 0; i <= 5; ++i) {
            const double v = i / 5.0;
            cv::line(picture_, at(v, 0), at(v, 1), kGrid, 1);
            cv::line(picture_, at(0, v), at(1, v), kGrid, 1);
            char label[8];
            std::snprintf(label, sizeof label, "%.1f", v);
            text(label, at(v, 0) + cv::Point(-10, 20), 0.4);
            text(label, at(0, v) + cv::Point(-35, 5), 0.4);
        }
        cv::rectangle(picture_, at(0, 1), at(1, 0), kInk, 1);
        text(xName, {kLeft + 150, kHeight - 15}, 0.5);
        text(yName, {5, kTop - 8}, 0.45);
    }
    cv::Point at(double x, double y) const {
        return {kLeft + static_cast<int>(std::lround(x * (kWidth - kLeft - kRight))),
                kTop + static_cast<int>(std::lround((1.0 - y) * (kHeight - kTop - kBottom)))};
    }
    void text(const std::string& s, cv::Point where, double scale, cv::Scalar colour = kInk) {
        cv::putText(picture_, s, where, cv::FONT_HERSHEY_SIMPLEX, scale, colour, 1, cv::LINE_AA);
    }
    void line(double x0, double y0, double x1, double y1, cv::Scalar colour, int thickness = 2) {
        cv::line(picture_, at(x0, y0), at(x1, y1), colour, thickness, cv::LINE_AA);
    }
    void dot(double x, double y, int radius, cv::Scalar colour) {
        cv::circle(picture_, at(x, y), radius, colour, cv::FILLED, cv::LINE_AA);
    }
    cv::Mat& picture() { return picture_; }

private:
    cv::Mat picture_;
};

std::string percent(double p) {
    char s[16];
    std::snprintf(s, sizeof s, "%.1f %%", p * 100.0);
    return s;
}

}  // namespace

cv::Mat rocPlot(const ValidationReport& report) {
    char title[64];
    std::snprintf(title, sizeof title, "ROC curve, AUC %.3f", report.auc.value);
    Canvas c(title, "1 - specificity", "sensitivity");
    c.line(0, 0, 1, 1, kGrid, 1);
    for (std::size_t i = 1; i < report.roc.size(); ++i)
        c.line(report.roc[i - 1].falsePositiveRate, report.roc[i - 1].truePositiveRate, report.roc[i].falsePositiveRate,
               report.roc[i].truePositiveRate, kBlue);
    for (const auto& [figures, colour, name] : {std::tuple{&report.shipped, kGreen, "model threshold "},
                                                std::tuple{&report.local, kOrange, "local threshold "}}) {
        const double x = 1.0 - figures->specificity.value, y = figures->sensitivity.value;
        c.dot(x, y, 6, colour);
        c.text(name + percent(figures->threshold),
               colour == kGreen ? cv::Point(kLeft + 250, kTop + 340) : cv::Point(kLeft + 250, kTop + 360), 0.5, colour);
    }
    return c.picture();
}

cv::Mat reliabilityPlot(const ValidationReport& report) {
    char title[64];
    std::snprintf(title, sizeof title, "Reliability, expected calibration error %.3f",
                  report.calibration.expectedError);
    Canvas c(title, "mean P(PNEUMONIA) in the bin", "share labelled PNEUMONIA");
    c.line(0, 0, 1, 1, kGrid, 1);
    std::size_t most = 1;
    for (const auto& bin : report.calibration.bins) most = std::max(most, bin.films);
    for (const auto& bin : report.calibration.bins) {
        if (bin.films == 0) continue;
        const double area = static_cast<double>(bin.films) / static_cast<double>(most);
        c.dot(bin.meanProbability, bin.positiveShare, 3 + static_cast<int>(std::lround(9 * std::sqrt(area))), kBlue);
    }
    return c.picture();
}

cv::Mat probabilityHistogram(std::span<const LabelledScore> films, const ValidationReport& report) {
    Canvas c("P(PNEUMONIA) per label (each scaled to its highest bin)", "P(PNEUMONIA)", "films");
    constexpr std::size_t kBins = 20;
    std::array<std::array<double, kBins>, 2> counts{};
    for (const auto& film : films) {
        const auto bin = static_cast<std::size_t>(std::clamp(std::floor(film.probability * kBins), 0.0, kBins - 1.0));
        ++counts[film.positive][bin];
    }
    for (const auto& [label, colour, row] : {std::tuple{0, kBlue, kTop + 20}, std::tuple{1, kRed, kTop + 40}}) {
        const double most = std::max(1.0, *std::max_element(counts[label].begin(), counts[label].end()));
        for (std::size_t b = 0; b < kBins; ++b) {
            const double x0 = static_cast<double>(b) / kBins, x1 = static_cast<double>(b + 1) / kBins;
            const double h = counts[label][b] / most;
            const double before = b == 0 ? 0.0 : counts[label][b - 1] / most;
            c.line(x0, before, x0, h, colour);
            c.line(x0, h, x1, h, colour);
        }
        c.text(label ? "PNEUMONIA" : "NORMAL", {kWidth - 140, row}, 0.5, colour);
    }
    c.line(report.shipped.threshold, 0, report.shipped.threshold, 1, kGreen, 1);
    c.line(report.local.threshold, 0, report.local.threshold, 1, kOrange, 1);
    return c.picture();
}

}  // namespace orvix

#pragma once
// Where the disease model found its evidence.
//
// The disease network ends in global average pooling and one linear layer, so its class
// maps are exact: the mean over the cells of a label's map is that label's logit. An
// ActivationMap turns them into what each cell says on its own: the log-odds of the label
// had the whole picture looked like that cell (from the softmax of the cell's logits at the
// model's temperature), shown as the probability those odds give. For two labels the mean
// of the cells' log-odds is the picture's. The grid covers the whole picture, stretched as
// the classifier saw it.
//
//   auto map = activationMap(output.classMaps(), metadata, "PNEUMONIA");
//   cv::Mat shown = heatmapOverlay(picture, *map);   // BGR, the picture's size

#include <array>
#include <string>

#include <opencv2/core/mat.hpp>

#include "orvix/Image.h"
#include "orvix/ModelMetadata.h"
#include "orvix/Result.h"

namespace orvix {

struct ActivationMap {
    std::string label;
    cv::Mat logOdds;  // CV_32F, one value per grid cell; empty when there is no map

    bool empty() const { return logOdds.empty(); }
    // The cells' probabilities, 1 / (1 + exp(-logOdds)).
    cv::Mat probability() const;
};

// From class maps of shape labels x h x w (as ModelOutput gives them). Fails when the shape
// does not match the metadata's labels or the label is not one of them.
Result<ActivationMap> activationMap(const cv::Mat& classMaps, const ModelMetadata& metadata, const std::string& label);

// The colour scale runs over cell log-odds from -span to +span, evenly: cells range far
// wider than the picture's own probability (a clear pneumonia has cells at +20), and a scale
// of probabilities would show them all at its top. Beyond, the ends' colours.
inline constexpr double kHeatmapLogOddsSpan = 8.0;
// The scale's ends and middle as probabilities, for legends: "0.03 %", "50 %", "99.97 %".
std::array<std::string, 3> heatmapScaleLabels();

// The colour (BGR) at a position from 0 (no evidence) to 1 (strongest) of the scale, and the
// position of a cell's log-odds.
cv::Vec3b heatmapColour(double position);
double heatmapPosition(double logOdds);

// The picture at `size` (its own when empty) with the map laid over it: the cells' log-odds
// upsampled bilinearly over the whole picture, each pixel tinted with its colour in proportion
// to its position on the scale, so that regions without evidence keep their grey.
// Precondition: the picture and the map are not empty.
cv::Mat heatmapOverlay(const Image& picture, const ActivationMap& map, cv::Size size = {});

// The overlay at the picture's size with a legend strip under it (colour scale from 0 % to
// 100 % and what it means): the batch tool's heatmap file.
cv::Mat heatmapPicture(const Image& picture, const ActivationMap& map);

}  // namespace orvix

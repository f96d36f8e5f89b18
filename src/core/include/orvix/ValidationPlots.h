#pragma once
// The validation's figures as pictures (BGR, 8 bits, 640 x 480), drawn with OpenCV's imgproc:
// no plotting library. Axes run from 0 to 1 with ticks every 0.2; colours: blue NORMAL or the
// curve, red PNEUMONIA, green the model's own threshold, orange the local one.

#include <span>

#include <opencv2/core.hpp>

#include "orvix/Validation.h"

namespace orvix {

// The ROC curve (false-positive rate across, sensitivity up), the diagonal, and the shipped and
// local operating points marked.
cv::Mat rocPlot(const ValidationReport& report);

// Mean probability (across) against the share labelled PNEUMONIA (up) per non-empty bin, each
// dot's area growing with its films, over the diagonal of perfect calibration.
cv::Mat reliabilityPlot(const ValidationReport& report);

// The films per 0.05 of probability, NORMAL and PNEUMONIA as two outlines, each scaled to its
// own highest bin, with both thresholds as vertical lines.
cv::Mat probabilityHistogram(std::span<const LabelledScore> films, const ValidationReport& report);

}  // namespace orvix

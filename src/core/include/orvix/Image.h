#pragma once
// A decoded picture.
//
// Pixels are 8 bits per sample, rows top-down: one grey channel for grey pictures
// (most radiographs; a third of the work of colour in every later step), else BGR
// (OpenCV's order). 16-bit samples are scaled to 8 bits, transparency composited on white. The size in points is the
// pixel size divided by the image's scale (1 for everything the decoder makes). A default-constructed Image has no
// bitmap and size zero: it stands for "no picture".

#include <opencv2/core/mat.hpp>

namespace orvix {

struct SizeF {
    double width = 0;
    double height = 0;
};

class Image {
public:
    Image() = default;
    // Precondition: pixels is empty, CV_8UC1 or CV_8UC3; scale > 0.
    explicit Image(cv::Mat bgrPixels, double scale = 1.0);

    bool isEmpty() const { return pixels_.empty(); }
    bool isGrey() const { return pixels_.channels() == 1; }
    SizeF size() const;  // points
    double scale() const { return scale_; }
    int pixelWidth() const { return pixels_.cols; }
    int pixelHeight() const { return pixels_.rows; }
    const cv::Mat& pixels() const { return pixels_; }

private:
    cv::Mat pixels_;
    double scale_ = 1.0;
};

}  // namespace orvix

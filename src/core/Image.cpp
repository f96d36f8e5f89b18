#include "orvix/Image.h"

#include <utility>

namespace orvix {

Image::Image(cv::Mat bgrPixels, double scale) : pixels_(std::move(bgrPixels)), scale_(scale) {}

SizeF Image::size() const {
    if (pixels_.empty()) return {};
    return {pixels_.cols / scale_, pixels_.rows / scale_};
}

}  // namespace orvix

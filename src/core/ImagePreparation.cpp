#include "orvix/ImagePreparation.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include <opencv2/imgproc.hpp>

namespace orvix {
namespace {

// Area averaging when shrinking (no aliasing from large radiographs), and the same
// interpolation the training code uses, so that the app computes what was validated.
constexpr int kInterpolation = cv::INTER_AREA;
constexpr int kMaxSide = 1 << 15;

std::optional<int> truncatedSide(double points) {
    if (!std::isfinite(points)) return std::nullopt;
    const double side = std::trunc(points);
    if (side < 1 || side > kMaxSide) return std::nullopt;
    return static_cast<int>(side);
}

}  // namespace

PixelBuffer::PixelBuffer(int width, int height, std::size_t bytesPerRow)
    : width_(width), height_(height), bytesPerRow_(bytesPerRow),
      storage_(new (std::nothrow) std::uint8_t[bytesPerRow * static_cast<std::size_t>(height)]) {}

std::optional<PixelBuffer> PixelBuffer::create(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return std::nullopt;
    const std::size_t packed = static_cast<std::size_t>(width) * 4;
    const std::size_t stride = (packed + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    PixelBuffer buffer(width, height, stride);
    if (!buffer.storage_) return std::nullopt;
    return buffer;
}

std::optional<Image> redrawImage(const Image& image) {
    if (image.isEmpty()) return std::nullopt;
    const int side = static_cast<int>(kModelImageSide);
    cv::Mat redrawn;
    try {
        cv::resize(image.pixels(), redrawn, cv::Size(side, side), 0, 0, kInterpolation);
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    return Image(redrawn);
}

std::optional<PixelBuffer> makePixelBuffer(const Image& image) {
    if (image.isEmpty()) return std::nullopt;
    const SizeF points = image.size();
    const auto width = truncatedSide(points.width);
    const auto height = truncatedSide(points.height);
    if (!width || !height) return std::nullopt;
    auto buffer = PixelBuffer::create(*width, *height);
    if (!buffer) return std::nullopt;

    // Drawing the image at its point size into a buffer of the truncated size: the
    // same pixels when the image has scale 1, a resample otherwise.
    cv::Mat source = image.pixels();
    if (source.cols != *width || source.rows != *height) {
        try {
            cv::resize(image.pixels(), source, cv::Size(*width, *height), 0, 0, kInterpolation);
        } catch (const cv::Exception&) {
            return std::nullopt;
        }
    }

    buffer->lockBaseAddress();
    std::uint8_t* base = buffer->baseAddress();
    const std::size_t stride = buffer->bytesPerRow();
    const std::size_t packed = static_cast<std::size_t>(*width) * 4;
    for (int y = 0; y < *height; ++y) {  // memory row 0 is the picture's top row
        std::uint8_t* row = base + static_cast<std::size_t>(y) * stride;
        if (source.channels() == 1) {
            const std::uint8_t* src = source.ptr<std::uint8_t>(y);
            for (int x = 0; x < *width; ++x) {
                std::uint8_t* px = row + static_cast<std::size_t>(x) * 4;
                px[0] = 0xFF;                    // skipped
                px[1] = px[2] = px[3] = src[x];  // grey: red = green = blue
            }
        } else {
            const auto* src = source.ptr<cv::Vec3b>(y);
            for (int x = 0; x < *width; ++x) {
                std::uint8_t* px = row + static_cast<std::size_t>(x) * 4;
                px[0] = 0xFF;       // skipped
                px[1] = src[x][2];  // red
                px[2] = src[x][1];  // green
                px[3] = src[x][0];  // blue
            }
        }
        std::memset(row + packed, 0, stride - packed);
    }
    buffer->unlockBaseAddress();
    return buffer;
}

}  // namespace orvix

#pragma once
// Preparing a picture for the classifiers.
//
//   auto redrawn = redrawImage(picture);          // the whole picture stretched to 224 x 224
//   auto buffer  = makePixelBuffer(*redrawn);     // 224 x 224 xRGB, rows top-down
//
// The buffer layout is the contract with the model runtime:
//   - formatType() is 32 (32-bit ARGB with the alpha byte skipped);
//   - 4 bytes per pixel in memory order: skipped, red, green, blue;
//   - row 0 is the picture's top row, pixel 0 of a row its left edge;
//   - rows are bytesPerRow() apart, a multiple of 64 and at least width * 4;
//     the bytes past width * 4 in a row hold no pixel. Readers step rows by
//     bytesPerRow(), never by width * 4.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "orvix/Image.h"

namespace orvix {

inline constexpr double kModelImageSide = 224.0;

// Copies share their pixels (and each has its own lock count): a copy is a second handle on
// the same memory, as a reader that only looks needs, not a second buffer.
class PixelBuffer {
public:
    static constexpr std::uint32_t kFormat32ARGB = 32;
    static constexpr std::size_t kRowAlignment = 64;

    // An uninitialised buffer; yields nothing when a side is not positive or too large.
    static std::optional<PixelBuffer> create(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    std::uint32_t formatType() const { return kFormat32ARGB; }
    std::size_t bytesPerRow() const { return bytesPerRow_; }

    // Lock before touching the memory, unlock after; the base address is only
    // handed out while locked (nullptr otherwise).
    void lockBaseAddress() { ++locks_; }
    void unlockBaseAddress() {
        if (locks_ > 0) --locks_;
    }
    std::uint8_t* baseAddress() { return locks_ > 0 ? storage_.get() : nullptr; }
    const std::uint8_t* baseAddress() const { return locks_ > 0 ? storage_.get() : nullptr; }

private:
    PixelBuffer(int width, int height, std::size_t bytesPerRow);

    int width_ = 0;
    int height_ = 0;
    std::size_t bytesPerRow_ = 0;
    int locks_ = 0;
    std::shared_ptr<std::uint8_t[]> storage_;
};

// The whole picture redrawn at 224 x 224 points (scale 1), its aspect ratio not
// kept: nothing is cropped or padded. Yields nothing for an empty picture.
std::optional<Image> redrawImage(const Image& image);

// A buffer of the image's point size (each side truncated toward zero) holding
// the image drawn upright. Yields nothing when a side truncates to zero or less,
// is not finite, or the buffer cannot be allocated.
std::optional<PixelBuffer> makePixelBuffer(const Image& image);

}  // namespace orvix

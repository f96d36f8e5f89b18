// libFuzzer target: any bytes through decoding and the preparation for the classifiers.

#include <cstddef>
#include <cstdint>

#include "orvix/ImageDecoder.h"
#include "orvix/ImagePreparation.h"

// A lower pixel limit than the app's keeps each run fast; the limit's own check is the same code.
constexpr std::uint64_t kFuzzMaxPixels = 4'000'000;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto image = orvix::decodeImage({data, size}, kFuzzMaxPixels);
    if (!image) return 0;
    auto redrawn = orvix::redrawImage(*image);
    if (!redrawn) __builtin_trap();  // a decoded picture must always prepare
    auto buffer = orvix::makePixelBuffer(*redrawn);
    if (!buffer || buffer->width() != 224 || buffer->height() != 224) __builtin_trap();
    return 0;
}

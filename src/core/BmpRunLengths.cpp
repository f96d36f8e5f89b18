// BMP's run-length encodings (RLE8, RLE4) are decoded by OpenCV, which leaves whatever the
// stream does not reach blank: data that ends early gives a picture with its top missing
// (rows are stored bottom-up) rather than a refusal. The stream is walked here first.

#include <cstdint>
#include <string>

#include "Codecs.h"

namespace orvix::codecs {
namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t le(Bytes b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

Error damaged(const char* encoding, const std::string& why) {
    return Error{std::string("damaged BMP ") + encoding + " data: " + why};
}

}  // namespace

Status checkBmpRunLengths(Bytes b) {
    if (b.size() < 34 || le(b, 14, 4) < 40) return Done{};  // no compression field (OS/2 core header)
    const std::uint32_t compression = le(b, 30, 4);
    if (compression != 1 && compression != 2) return Done{};
    const bool four = compression == 2;
    const char* encoding = four ? "RLE4" : "RLE8";
    const auto width = static_cast<std::int64_t>(static_cast<std::int32_t>(le(b, 18, 4)));
    const auto signedHeight = static_cast<std::int64_t>(static_cast<std::int32_t>(le(b, 22, 4)));
    const std::int64_t height = signedHeight < 0 ? -signedHeight : signedHeight;
    std::size_t at = le(b, 10, 4);
    std::int64_t x = 0, y = 0;  // y counts the rows finished
    auto where = [&] { return " after " + std::to_string(y) + " of " + std::to_string(height) + " rows"; };
    while (true) {
        if (b.size() < 2 || at > b.size() - 2) return damaged(encoding, "the data ends" + where());
        const std::uint8_t count = b[at], value = b[at + 1];
        at += 2;
        if (count > 0) {  // a run of count pixels
            x += count;
        } else if (value == 0) {  // end of row
            ++y;
            x = 0;
        } else if (value == 1) {  // end of bitmap: every row must have been reached
            if (y + 1 < height) return damaged(encoding, "the end-of-bitmap marker comes" + where());
            return Done{};
        } else if (value == 2) {  // move right and up
            if (at > b.size() - 2) return damaged(encoding, "the data ends" + where());
            x += b[at];
            y += b[at + 1];
            at += 2;
        } else {  // value pixels stored as they are, padded to an even number of bytes
            std::size_t bytes = four ? (value + 1u) / 2u : value;
            bytes += bytes % 2;
            if (bytes > b.size() - at) return damaged(encoding, "the data ends" + where());
            x += value;
            at += bytes;
        }
        if (x > width || y > height || (y == height && x > 0))
            return damaged(encoding, "runs beyond the declared " + std::to_string(width) + " x " +
                                         std::to_string(height) + " pixels");
    }
}

}  // namespace orvix::codecs

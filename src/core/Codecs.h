#pragma once
// The decoders that Orvix drives itself rather than through cv::imdecode, because
// they must tell a damaged file from a whole one: each refuses a picture whose
// library reported any warning or error (data cut short, corrupt entropy data, a
// CRC error), with the library's reason, and none writes to standard error.
//
// Each returns the picture as OpenCV stores it: 8 or 16 bits per sample, 1 (grey),
// 2 (grey + alpha), 3 (BGR) or 4 (BGRA) channels. The caller has checked the
// picture's declared size against its pixel limit (PictureHeader.h).

#include <cstdint>
#include <span>
#include <vector>

#include <opencv2/core.hpp>

#include "orvix/Result.h"

namespace orvix::codecs {

// JPEG through TurboJPEG; the EXIF orientation is applied.
Result<cv::Mat> decodeJpeg(std::span<const std::uint8_t> bytes);

// PNG through libpng; the first frame of an animated PNG.
Result<cv::Mat> decodePng(std::span<const std::uint8_t> bytes);

// The samples of a JPEG 2000 picture as its codestream gives them.
struct Jpeg2000Samples {
    int width = 0;
    int height = 0;
    int components = 0;  // 1 grey, 2 grey + alpha, 3 RGB (any colour transform undone), 4 RGBA
    int precision = 0;   // bits per sample, 1 to 16, the same for every component
    bool isSigned = false;
    std::vector<std::int32_t> values;  // interleaved: row by row, pixel by pixel, component by component
};

// The most samples (components x pixels) a JPEG 2000 picture is decoded with: 100 MP of grey,
// 25 MP of RGBA. OpenJPEG's peak is about eight bytes per sample.
inline constexpr std::uint64_t kMaxJpeg2000Samples = 100'000'000;

// JPEG 2000 (JP2 file or raw codestream, also High-Throughput JPEG 2000) through OpenJPEG.
// A picture of more than maxSamples samples is decoded at the largest reduced resolution
// (each level halves width and height) within maxSamples, and refused where the codestream
// has too few levels; the samples' width and height are those decoded. Refuses components
// of differing size, precision or signedness, and a codestream declaring more than
// maxPixels pixels (both checked before its samples are allocated).
Result<Jpeg2000Samples> decodeJpeg2000Samples(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels = UINT64_MAX,
                                              std::uint64_t maxSamples = kMaxJpeg2000Samples);

// The same as a picture: up to 8 bits per sample as 8-bit, deeper ones scaled to 16 bits.
Result<cv::Mat> decodeJpeg2000(std::span<const std::uint8_t> bytes);

// Whether a BMP's RLE8 or RLE4 stream covers the picture (OpenCV decodes it and leaves
// blank what the stream does not reach): it must end with the end-of-bitmap marker after
// every row was reached, with no run past the declared size. Other BMPs pass unread.
Status checkBmpRunLengths(std::span<const std::uint8_t> bytes);

// The EXIF orientation tag (1-8) of a JPEG's APP1 segment; 1 when there is none or it is damaged.
int jpegExifOrientation(std::span<const std::uint8_t> bytes);

}  // namespace orvix::codecs

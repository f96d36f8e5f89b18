#pragma once
// Picture sizes read from file headers, before any pixel is decoded, so that a file
// declaring a huge picture is refused without allocating it.
//
// Formats: PNG, JPEG, BMP, WebP, TIFF and BigTIFF, PBM/PGM/PPM/PAM, Sun raster,
// Radiance HDR, JPEG 2000 (JP2 and codestream) — every format the decoder reads.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "orvix/Result.h"

namespace orvix {

enum class PictureFormat { Png, Jpeg, Bmp, WebP, Tiff, Pnm, SunRaster, RadianceHdr, Jpeg2000 };

struct PictureSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    PictureFormat format = PictureFormat::Png;
};

// Nothing when the bytes are none of the formats above; an error when they start
// like one but its header is damaged or declares no pixels.
std::optional<Result<PictureSize>> readPictureSize(std::span<const std::uint8_t> bytes);

}  // namespace orvix

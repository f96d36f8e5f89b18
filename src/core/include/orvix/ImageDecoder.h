#pragma once
// Reading and decoding picture files.
//
// Formats: whatever OpenCV's imgcodecs reads on this system (PNG, JPEG, BMP,
// TIFF, WebP, PGM/PPM/PBM, Sun raster, OpenEXR...). JPEG EXIF orientation is
// honoured; 16-bit and float samples are scaled to 8 bits; alpha is composited
// on white; for multi-page files the first page is used. DICOM files are recognised
// by content, with or without extension (see DicomDecoder.h).
//
// Limits, so that a hostile file cannot exhaust memory:
//   - files larger than kMaxFileBytes are refused before they are read;
//   - pictures of more than kMaxPixels pixels are refused from their header
//     (PictureHeader.h), before the pixel data is allocated.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "orvix/Image.h"
#include "orvix/Result.h"

namespace orvix {

inline constexpr std::uintmax_t kMaxFileBytes = 256ull * 1024 * 1024;
inline constexpr std::uint64_t kMaxPixels = 100'000'000;

// Reads the whole file. Fails (with the path and reason) when it cannot be opened
// or read, is not a regular file, or is larger than maxBytes.
Result<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path,
                                                std::uintmax_t maxBytes = kMaxFileBytes);

// Decodes a file's bytes into a picture. Fails when the bytes are no picture that
// the decoder reads, or when it has more than maxPixels pixels.
Result<Image> decodeImage(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels = kMaxPixels);

// The file name extensions (lower case, without dot) of the formats decodeImage reads,
// for file choosers and directory scans.
const std::vector<std::string>& decodableExtensions();

}  // namespace orvix

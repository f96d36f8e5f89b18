#pragma once
// Reading and decoding picture files.
//
// Formats: the table of PictureHeader.h, and DICOM recognised by content, with or without
// extension (DicomDecoder.h). A damaged file (cut short, corrupt data) is refused, not shown
// in part. JPEG EXIF orientation is honoured; 16-bit samples are scaled to 8 bits; alpha is
// composited on white; for multi-page files the first page is used.
//
// Limits, so that a hostile file cannot exhaust memory:
//   - files larger than kMaxFileBytes are refused before they are read;
//   - pictures of more than kMaxPixels pixels are refused from their header
//     (PictureHeader.h), before the pixel data is allocated.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "orvix/DicomIdentity.h"
#include "orvix/Image.h"
#include "orvix/PictureHeader.h"
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

struct DecodedPicture {
    Image image;
    std::optional<DicomIdentity> dicom;  // who and what a DICOM picture shows; nullopt for other formats
};

// The same, with the patient and study of a DICOM picture (DicomDecoder.h).
Result<DecodedPicture> decodePicture(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels = kMaxPixels);

}  // namespace orvix

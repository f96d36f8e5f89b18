#pragma once
// The picture formats Orvix reads, in one table: how each is recognised (its signature), its
// file name extensions, how its size is read from the header before any pixel is decoded (so
// that a file declaring a huge picture is refused without allocating it), and which library
// decodes it. The importer's filter, the directory search, the batch tool's help text and the
// README's list of formats all come from this table (a test holds the README to it).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "orvix/Result.h"

namespace orvix {

enum class PictureFormat { Png, Jpeg, Bmp, Tiff, WebP, Pnm, Jpeg2000, Dicom, SunRaster, RadianceHdr };

// The library that turns a format's bytes into pixels (ImageDecoder.cpp).
enum class Decoder {
    TurboJpeg,
    LibPng,
    OpenJpeg,
    OpenCv,
    Dcmtk,
    None,  // recognised, so that it is not mistaken for another format, but refused
};

struct PictureSize {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    PictureFormat format = PictureFormat::Png;
};

struct PictureFormatInfo {
    PictureFormat format;
    const char* name;                     // as the help text and the README name it
    std::vector<std::string> extensions;  // lower case, without dot
    Decoder decoder;
    // Null for DICOM, which is recognised by content with or without a preamble (DicomDecoder.h).
    bool (*hasSignature)(std::span<const std::uint8_t> bytes);
    Result<PictureSize> (*readSize)(std::span<const std::uint8_t> bytes);
};

// Every row, in the order the help text lists them; refused formats last.
const std::vector<PictureFormatInfo>& pictureFormats();
const PictureFormatInfo& pictureFormat(PictureFormat format);

// The extensions of every format that is decoded, for file choosers and directory searches.
const std::vector<std::string>& decodableExtensions();

// "PNG, JPEG, BMP, TIFF, WebP, PBM/PGM/PPM, JPEG 2000, and DICOM": the formats that are decoded.
std::string decodableFormatsText();

// What a header says about a picture.
struct HeaderReading {
    enum class Outcome {
        UnknownFormat,  // no signature of the table matches
        Damaged,        // a format's signature, but its header is damaged or declares no pixels
        Sized,
    };
    Outcome outcome = Outcome::UnknownFormat;
    PictureSize size;    // when Sized
    std::string reason;  // when Damaged
};

HeaderReading readPictureSize(std::span<const std::uint8_t> bytes);

}  // namespace orvix

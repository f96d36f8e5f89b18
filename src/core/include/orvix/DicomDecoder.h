#pragma once
// DICOM pictures (chest radiographs as hospitals store them), through DCMTK.
//
// The first frame becomes the picture: Modality LUT (rescale slope/intercept), then the
// first VOI LUT, else the first Window Center/Width (linear, or sigmoid where VOI LUT
// Function says SIGMOID), else a min-max window; MONOCHROME1 is inverted so that bone
// is bright; colour (RGB, YBR) secondary captures are kept as they are. Compressed
// transfer syntaxes decode through DCMTK's codecs (JPEG baseline/extended/lossless,
// JPEG-LS, RLE) and, for JPEG 2000 and High-Throughput JPEG 2000, through OpenJPEG: the
// first frame's codestream becomes uncompressed samples that take the same LUT path.
// Other compressed syntaxes are refused, naming the syntax. Pixel spacing and orientation
// are ignored; of the patient and the study, the few attributes of DicomIdentity.h are read
// (as untrusted text) for display and for the report's patient line.

#include <cstdint>
#include <filesystem>
#include <span>

#include "orvix/DicomIdentity.h"
#include "orvix/Image.h"
#include "orvix/Result.h"

namespace orvix {

// The "DICM" magic at offset 128 (DICOM Part 10 files).
bool hasDicomPreamble(std::span<const std::uint8_t> bytes);

// Bytes that start like a DICOM data set without the Part 10 preamble: a group 0x0002 or
// 0x0008 element at offset 0, little endian. Only such bytes are offered to DCMTK when the
// ordinary decoders fail.
bool looksLikeBareDicom(std::span<const std::uint8_t> bytes);

// Whether the file at path starts like DICOM (either form); reads at most 132 bytes.
bool isDicomFile(const std::filesystem::path& path);

// Decodes the first frame. Fails for data DCMTK cannot read, for DICOM without pixel
// data (a structured report, say), and for pictures over maxPixels.
Result<Image> decodeDicom(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels);

struct DicomPicture {
    Image image;
    DicomIdentity identity;
};

// The same, with the patient and study the data set names (DicomIdentity.h): the tags are
// converted from the file's Specific Character Set to UTF-8 where DCMTK knows the set, and
// taken as they are (then made display text) where it does not or a value does not convert.
Result<DicomPicture> decodeDicomPicture(std::span<const std::uint8_t> bytes, std::uint64_t maxPixels);

}  // namespace orvix

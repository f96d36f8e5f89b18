#pragma once
// Writes DICOM test files with DCMTK from pixel arrays, so the tests need no DICOM fixtures.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvix::test {

// A text element by its tag, its value as raw bytes (in the data set's Specific Character Set).
struct DicomText {
    std::uint16_t group = 0;
    std::uint16_t element = 0;
    std::string value;
};

struct DicomSpec {
    int width = 0;
    int height = 0;
    int frames = 1;
    int bitsAllocated = 8;                             // 8 or 16
    int bitsStored = 8;                                // 8, 12 or 16
    bool rgb = false;                                  // 3 samples, PhotometricInterpretation RGB (8-bit only)
    std::string photometric = "MONOCHROME2";           // with rgb: RGB unless another colour one is named
    std::optional<std::pair<double, double>> window;   // centre, width
    std::string voiLutFunction;                        // "", "LINEAR", "SIGMOID"
    std::optional<std::pair<double, double>> rescale;  // slope, intercept
    bool rle = false;                                  // RLE Lossless transfer syntax
    std::vector<std::uint8_t> jpeg;  // when given, Pixel Data is this one codestream (JPEG Baseline) instead of samples
    bool preamble = true;            // Part 10 file (preamble + meta header), else a bare data set
    std::vector<std::uint16_t> samples;  // frames * height * width * (rgb ? 3 : 1), row-major
    std::vector<DicomText> text;         // put last, over the defaults (Patient's Name "Test^Patient", ...)
};

// Writes the file; throws std::runtime_error on failure.
void writeDicom(const std::filesystem::path& path, const DicomSpec& spec);

// A DICOM structured report: a valid file without pixel data.
void writeDicomWithoutImage(const std::filesystem::path& path);

}  // namespace orvix::test

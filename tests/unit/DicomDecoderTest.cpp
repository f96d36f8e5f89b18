#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "DicomWriter.h"
#include "TestSupport.h"
#include "orvix/Console.h"
#include "orvix/DicomDecoder.h"
#include "orvix/ImageDecoder.h"
#include "orvix/ImportRun.h"

namespace orvix {
namespace {

using test::DicomSpec;

// A horizontal ramp from lo to hi over width columns, repeated on every row and frame.
std::vector<std::uint16_t> ramp(int width, int height, int lo, int hi, int frames = 1) {
    std::vector<std::uint16_t> out;
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) out.push_back(static_cast<std::uint16_t>(lo + (hi - lo) * x / (width - 1)));
    return out;
}

class DicomTest : public ::testing::Test {
protected:
    Result<Image> decodeFile(const DicomSpec& spec, const std::string& name = "scan.dcm") {
        test::writeDicom(dir_ / name, spec);
        auto bytes = readWholeFile(dir_ / name);
        if (!bytes) return bytes.error();
        return decodeImage(bytes.value());
    }
    static int grey(const Image& image, int x, int y) {
        EXPECT_TRUE(image.isGrey());
        return image.pixels().at<std::uint8_t>(y, x);
    }

    test::TempDir dir_;
};

std::vector<std::uint16_t> join(std::vector<std::uint16_t> a, const std::vector<std::uint16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Each case is checked on every row at the probed columns, once as written and once RLE-compressed.
TEST_F(DicomTest, GreyLevelsFollowTheLookUpTables) {
    struct Probe {
        int x, grey, tolerance;
    };
    struct Case {
        const char* name;
        DicomSpec spec;
        std::vector<Probe> probes;
    };
    const std::pair<double, double> identity{128.0, 256.0};
    const Case cases[] = {
        {"8 bit, identity window",
         {.width = 256, .height = 4, .window = identity, .samples = ramp(256, 4, 0, 255)},
         {{0, 0, 0}, {1, 1, 0}, {77, 77, 0}, {128, 128, 0}, {254, 254, 0}, {255, 255, 0}}},
        {"MONOCHROME1 is inverted so bone is bright",
         {.width = 64, .height = 4, .photometric = "MONOCHROME1", .samples = ramp(64, 4, 0, 255)},
         {{0, 255, 4}, {63, 0, 4}}},
        // 40 per column: 0 far below the window, 1480 just below it, 2000 its centre, 2520 above it.
        {"12 bit through its window",
         {.width = 101,
          .height = 2,
          .bitsAllocated = 16,
          .bitsStored = 12,
          .window = std::pair{2000.0, 1000.0},
          .samples = ramp(101, 2, 0, 4000)},
         {{0, 0, 0}, {37, 0, 0}, {50, 128, 1}, {63, 255, 0}}},
        {"16 bit without a window uses min and max",
         {.width = 11, .height = 2, .bitsAllocated = 16, .bitsStored = 16, .samples = ramp(11, 2, 1000, 61000)},
         {{0, 0, 0}, {5, 128, 1}, {10, 255, 0}}},
        // Stored 0..1000 with slope 2, intercept -1000 gives -1000..1000; the window is in those units.
        {"modality LUT before the window",
         {.width = 11,
          .height = 2,
          .bitsAllocated = 16,
          .bitsStored = 16,
          .window = std::pair{0.0, 2001.0},
          .rescale = std::pair{2.0, -1000.0},
          .samples = ramp(11, 2, 0, 1000)},
         {{0, 0, 0}, {5, 128, 1}, {10, 255, 0}}},
        // 800 and 3200 lie outside the linear window 1000..3000; the sigmoid still grades them:
        // 255 / (1 + e^(-4 (x - c) / w)).
        {"linear window",
         {.width = 101,
          .height = 2,
          .bitsAllocated = 16,
          .bitsStored = 12,
          .window = std::pair{2000.0, 2000.0},
          .samples = ramp(101, 2, 0, 4000)},
         {{20, 0, 0}, {50, 128, 1}, {80, 255, 0}}},
        {"sigmoid VOI function",
         {.width = 101,
          .height = 2,
          .bitsAllocated = 16,
          .bitsStored = 12,
          .window = std::pair{2000.0, 2000.0},
          .voiLutFunction = "SIGMOID",
          .samples = ramp(101, 2, 0, 4000)},
         {{20, 21, 2}, {50, 128, 2}, {80, 234, 2}}},
        // Inverted after the window: stored 0 is white, 65530 black.
        {"16 bit MONOCHROME1 through its window",
         {.width = 11,
          .height = 2,
          .bitsAllocated = 16,
          .bitsStored = 16,
          .photometric = "MONOCHROME1",
          .window = std::pair{32768.0, 65536.0},
          .samples = ramp(11, 2, 0, 65530)},
         {{0, 255, 0}, {5, 128, 1}, {10, 0, 0}}},
        {"multi-frame uses the first frame",
         {.width = 8,
          .height = 8,
          .frames = 2,
          .window = identity,
          .samples = join(ramp(8, 8, 20, 20), ramp(8, 8, 230, 230))},
         {{4, 20, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = decodeFile(c.spec, "plain.dcm");
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_EQ(image->pixelWidth(), c.spec.width);
        EXPECT_EQ(image->pixelHeight(), c.spec.height);
        for (const Probe& p : c.probes)
            for (int y = 0; y < c.spec.height; ++y)
                EXPECT_NEAR(grey(image.value(), p.x, y), p.grey, p.tolerance) << "x " << p.x << ", y " << y;
        DicomSpec rle = c.spec;
        rle.rle = true;
        auto compressed = decodeFile(rle, "rle.dcm");
        ASSERT_TRUE(compressed) << compressed.error().message;
        EXPECT_EQ(cv::norm(image->pixels(), compressed->pixels(), cv::NORM_INF), 0.0) << "RLE differs";
    }
}

TEST_F(DicomTest, FilesWithoutAPictureOrDamagedAreRefused) {
    test::writeDicomWithoutImage(dir_ / "report.dcm");
    test::writeDicom(
        dir_ / "whole.dcm",
        {.width = 64, .height = 64, .bitsAllocated = 16, .bitsStored = 16, .samples = ramp(64, 64, 0, 60000)});
    std::string garbled = test::readBytes(dir_ / "whole.dcm");
    for (std::size_t i = 132; i < 400; ++i) garbled[i] = static_cast<char>(i * 37);
    const std::pair<std::string, const char*> cases[] = {
        {test::readBytes(dir_ / "report.dcm"), "no image"},
        {garbled, ""},
        // Found by fuzzing: a DICM preamble and an element claiming about 4 GB in a 236-byte file.
        {test::readBytes(test::fixtures() / "regressions" / "dicom-element-longer-than-file.bin"), "DICOM"},
    };
    for (const auto& [bytes, reason] : cases) {
        auto image = decodeImage(test::bytesOf(bytes));
        ASSERT_FALSE(image) << reason;
        EXPECT_NE(image.error().message.find(reason), std::string::npos) << image.error().message;
    }
}

// Damage anywhere in these pictures changes what would be analysed: each is refused, naming the reason.
TEST_F(DicomTest, DamagedOrShortPixelDataIsRefused) {
    const int side = 64;
    const std::pair<double, double> identity{128.0, 256.0};
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) samples.push_back(static_cast<std::uint16_t>((x * 7 + y * 13 + x * y) % 256));
    cv::Mat grey(side, side, CV_8UC1);
    std::copy(samples.begin(), samples.end(), grey.begin<std::uint8_t>());
    const std::vector<std::uint8_t> jpeg = test::encode(".jpg", grey);
    std::vector<std::uint8_t> corruptJpeg = jpeg;  // the second half of the entropy data zeroed
    std::fill(corruptJpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2), corruptJpeg.end() - 2, 0);
    ASSERT_FALSE(decodeImage(corruptJpeg)) << "the same codestream as a .jpg";

    // RLE whose segment holds only no-op headers (-128): it decodes to nothing.
    test::writeDicom(dir_ / "rle.dcm",
                     {.width = side, .height = side, .window = identity, .rle = true, .samples = samples});
    std::string noOpRle = test::readBytes(dir_ / "rle.dcm");
    const auto header = noOpRle.find(std::string("\x01\0\0\0\x40\0\0\0", 8));
    ASSERT_NE(header, std::string::npos);
    std::uint32_t fragment = 0;
    std::memcpy(&fragment, noOpRle.data() + header - 4, 4);
    std::fill(noOpRle.begin() + static_cast<std::ptrdiff_t>(header + 64),
              noOpRle.begin() + static_cast<std::ptrdiff_t>(header + fragment), '\x80');

    auto written = [&](const DicomSpec& spec) {
        test::writeDicom(dir_ / "case.dcm", spec);
        return test::readBytes(dir_ / "case.dcm");
    };
    const std::vector<std::uint16_t> quarter(samples.begin(), samples.begin() + 1000);
    std::vector<std::uint16_t> odd = samples;
    odd.push_back(0);  // 4097 bytes, stored as 4098
    const std::pair<std::string, const char*> refused[] = {
        {written({.width = side, .height = side, .jpeg = corruptJpeg}), "Corrupt JPEG data"},
        {noOpRle, "RLE segment 1 decodes to 0 of 4096 bytes"},
        {written({.width = side, .height = side, .samples = quarter}),
         "Pixel Data holds 1000 bytes where the header declares 4096"},
        {written({.width = side, .height = side, .samples = odd}),
         "Pixel Data holds 4098 bytes where the header declares 4096"},
        {written({.width = 10000, .height = 10000, .samples = std::vector<std::uint16_t>(100, 9)}),
         "Pixel Data holds 100 bytes where the header declares 100000000"},
    };
    for (const auto& [bytes, reason] : refused) {
        auto image = decodeImage(test::bytesOf(bytes));
        if (image) ADD_FAILURE() << "analysed: " << reason;
        else EXPECT_NE(image.error().message.find(reason), std::string::npos) << image.error().message;
    }

    // The same pictures whole, and an odd length with its pad byte, decode.
    auto whole = decodeImage(test::bytesOf(written({.width = side, .height = side, .window = identity, .jpeg = jpeg})));
    ASSERT_TRUE(whole) << whole.error().message;
    EXPECT_LE(cv::norm(whole->pixels(), grey, cv::NORM_INF), 8.0);
    auto rle = decodeImage(test::bytesOf(test::readBytes(dir_ / "rle.dcm")));
    ASSERT_TRUE(rle) << rle.error().message;
    EXPECT_EQ(cv::norm(rle->pixels(), grey, cv::NORM_INF), 0.0);
    auto padded =
        decodeImage(test::bytesOf(written({.width = 3, .height = 3, .samples = {1, 2, 3, 4, 5, 6, 7, 8, 9}})));
    EXPECT_TRUE(padded) << padded.error().message;
    // Y Y Cb Cr for each two pixels: 2 x 2 pixels in 8 bytes.
    auto subsampled = decodeImage(test::bytesOf(written({.width = 2,
                                                         .height = 2,
                                                         .rgb = true,
                                                         .photometric = "YBR_FULL_422",
                                                         .samples = {90, 90, 128, 128, 200, 200, 128, 128}})));
    ASSERT_TRUE(subsampled) << subsampled.error().message;
    EXPECT_LE(cv::norm(subsampled->pixels().at<cv::Vec3b>(1, 1), cv::Vec3b(200, 200, 200), cv::NORM_INF), 1.0);
}

// Of the patient's data, the report takes the name alone, on its name line.
TEST_F(DicomTest, BareDataSetIsImportedUnderItsNameAndOnlyThePatientsNameReachesTheReport) {
    DicomSpec spec{.width = 32, .height = 32, .window = std::pair{128.0, 256.0}, .preamble = false};
    spec.samples.assign(32 * 32, 200);
    test::writeDicom(dir_ / "1.2.840.113619", spec);  // a bare data set: no preamble, no extension
    EXPECT_TRUE(isDicomFile(dir_ / "1.2.840.113619"));
    auto bytes = readWholeFile(dir_ / "1.2.840.113619");
    ASSERT_TRUE(bytes);
    EXPECT_FALSE(hasDicomPreamble(bytes.value()));
    DiagnosisState state = test::fixtureState();
    setConsoleStream(nullptr);
    auto result = importImage(ImporterOutcome::success(dir_ / "1.2.840.113619"), state);
    setConsoleStream(&std::cout);
    ASSERT_EQ(result.status, ImportStatus::Analysed) << result.message;
    EXPECT_EQ(state.fileName.get(), "1.2.840.113619");
    EXPECT_EQ(grey(state.img.get(), 3, 3), 200);
    EXPECT_NE(state.fullText.get().find("\nPatient's Name: Test, Patient\n"), std::string::npos);
    EXPECT_EQ(state.fullText.get().find("ORVIX-TEST"), std::string::npos);
}

}  // namespace
}  // namespace orvix

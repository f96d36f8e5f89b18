#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

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
            for (int x = 0; x < width; ++x)
                out.push_back(static_cast<std::uint16_t>(lo + (hi - lo) * x / (width - 1)));
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
        {"8 bit, identity window", {.width = 256, .height = 4, .window = identity, .samples = ramp(256, 4, 0, 255)},
         {{0, 0, 0}, {1, 1, 0}, {77, 77, 0}, {128, 128, 0}, {254, 254, 0}, {255, 255, 0}}},
        {"MONOCHROME1 is inverted so bone is bright",
         {.width = 64, .height = 4, .photometric = "MONOCHROME1", .samples = ramp(64, 4, 0, 255)},
         {{0, 255, 4}, {63, 0, 4}}},
        // 40 per column: 0 far below the window, 1480 just below it, 2000 its centre, 2520 above it.
        {"12 bit through its window",
         {.width = 101, .height = 2, .bitsAllocated = 16, .bitsStored = 12, .window = std::pair{2000.0, 1000.0},
          .samples = ramp(101, 2, 0, 4000)},
         {{0, 0, 0}, {37, 0, 0}, {50, 128, 1}, {63, 255, 0}}},
        {"16 bit without a window uses min and max",
         {.width = 11, .height = 2, .bitsAllocated = 16, .bitsStored = 16, .samples = ramp(11, 2, 1000, 61000)},
         {{0, 0, 0}, {5, 128, 1}, {10, 255, 0}}},
        // Stored 0..1000 with slope 2, intercept -1000 gives -1000..1000; the window is in those units.
        {"modality LUT before the window",
         {.width = 11, .height = 2, .bitsAllocated = 16, .bitsStored = 16, .window = std::pair{0.0, 2001.0},
          .rescale = std::pair{2.0, -1000.0}, .samples = ramp(11, 2, 0, 1000)},
         {{0, 0, 0}, {5, 128, 1}, {10, 255, 0}}},
        // 800 and 3200 lie outside the linear window 1000..3000; the sigmoid still grades them:
        // 255 / (1 + e^(-4 (x - c) / w)).
        {"linear window",
         {.width = 101, .height = 2, .bitsAllocated = 16, .bitsStored = 12, .window = std::pair{2000.0, 2000.0},
          .samples = ramp(101, 2, 0, 4000)},
         {{20, 0, 0}, {50, 128, 1}, {80, 255, 0}}},
        {"sigmoid VOI function",
         {.width = 101, .height = 2, .bitsAllocated = 16, .bitsStored = 12, .window = std::pair{2000.0, 2000.0},
          .voiLutFunction = "SIGMOID", .samples = ramp(101, 2, 0, 4000)},
         {{20, 21, 2}, {50, 128, 2}, {80, 234, 2}}},
        {"multi-frame uses the first frame",
         {.width = 8, .height = 8, .frames = 2, .window = identity, .samples = join(ramp(8, 8, 20, 20), ramp(8, 8, 230, 230))},
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

TEST_F(DicomTest, RgbSecondaryCaptureKeepsItsColours) {
    DicomSpec spec{.width = 2, .height = 1, .rgb = true};
    spec.samples = {255, 0, 0, 0, 0, 255};  // red, blue
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(image->pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(image->pixels().at<cv::Vec3b>(0, 1), cv::Vec3b(255, 0, 0));
}

TEST_F(DicomTest, DicomWithoutImageAndCorruptFilesAreNotDecodable) {
    test::writeDicomWithoutImage(dir_ / "report.dcm");
    auto bytes = readWholeFile(dir_ / "report.dcm");
    ASSERT_TRUE(bytes);
    auto sr = decodeImage(bytes.value());
    ASSERT_FALSE(sr);
    EXPECT_NE(sr.error().message.find("no image"), std::string::npos) << sr.error().message;

    DicomSpec spec{.width = 64, .height = 64, .bitsAllocated = 16, .bitsStored = 16};
    spec.samples = ramp(64, 64, 0, 60000);
    test::writeDicom(dir_ / "whole.dcm", spec);
    auto whole = readWholeFile(dir_ / "whole.dcm");
    ASSERT_TRUE(whole);
    std::vector<std::uint8_t> truncated(whole->begin(), whole->begin() + static_cast<long>(whole->size() / 2));
    EXPECT_FALSE(decodeImage(truncated));
    std::vector<std::uint8_t> garbled = whole.value();
    for (std::size_t i = 132; i < 400 && i < garbled.size(); ++i) garbled[i] = static_cast<std::uint8_t>(i * 37);
    EXPECT_FALSE(decodeImage(garbled));
}

TEST_F(DicomTest, ElementDeclaredLongerThanTheFileIsRefused) {
    // Found by fuzzing: a DICM preamble and an element claiming about 4 GB in a 236-byte file.
    auto bytes = readWholeFile(test::fixtures() / "regressions" / "dicom-element-longer-than-file.bin");
    ASSERT_TRUE(bytes);
    auto image = decodeImage(bytes.value());
    ASSERT_FALSE(image);
    EXPECT_NE(image.error().message.find("DICOM"), std::string::npos) << image.error().message;
}

TEST_F(DicomTest, BareDataSetIsImportedUnderItsNameAndNoPatientDataReachesTheReport) {
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
    EXPECT_EQ(state.fullText.get().find("Test^Patient"), std::string::npos);
    EXPECT_EQ(state.fullText.get().find("ORVIX-TEST"), std::string::npos);
}

// The shipped models give the same answer for a chest X-ray as JPEG and as DICOM.
TEST(DicomAgainstJpeg, SameLabelsAndProbabilitiesWithTheShippedModels) {
    test::ScopedEnv models("ORVIX_MODEL_DIR", ORVIX_SHIPPED_MODELS);
    auto created = DiagnosisState::create();
    ASSERT_TRUE(created) << created.error().message;
    DiagnosisState state = created.value();
    test::TempDir dir;
    const auto jpeg = test::fixtures() / "pictures" / "chest-pneumonia-bacteria.jpeg";
    const cv::Mat grey = cv::imread(jpeg.string(), cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(grey.empty());

    DicomSpec eight{.width = grey.cols, .height = grey.rows, .window = std::pair{128.0, 256.0}};
    eight.samples.assign(grey.begin<std::uint8_t>(), grey.end<std::uint8_t>());
    test::writeDicom(dir / "chest.dcm", eight);
    // The same picture as 16-bit MONOCHROME1 data with a window: a few grey levels may round differently.
    DicomSpec sixteen{.width = grey.cols, .height = grey.rows, .bitsAllocated = 16, .bitsStored = 16,
                      .photometric = "MONOCHROME1", .window = std::pair{32768.0, 65536.0}};
    for (auto it = grey.begin<std::uint8_t>(); it != grey.end<std::uint8_t>(); ++it)
        sixteen.samples.push_back(static_cast<std::uint16_t>((255 - *it) * 257));
    test::writeDicom(dir / "chest16", sixteen);

    setConsoleStream(nullptr);
    auto fromJpeg = importImage(ImporterOutcome::success(jpeg), state);
    auto from8 = importImage(ImporterOutcome::success(dir / "chest.dcm"), state);
    auto from16 = importImage(ImporterOutcome::success(dir / "chest16"), state);
    setConsoleStream(&std::cout);
    ASSERT_EQ(fromJpeg.status, ImportStatus::Analysed);
    ASSERT_EQ(from8.status, ImportStatus::Analysed) << from8.message;
    ASSERT_EQ(from16.status, ImportStatus::Analysed) << from16.message;
    for (const auto* other : {&from8, &from16}) {
        const double tolerance = other == &from8 ? 1e-9 : 0.01;
        EXPECT_EQ(other->gate->classLabel, fromJpeg.gate->classLabel);
        EXPECT_EQ(other->disease->classLabel, fromJpeg.disease->classLabel);
        for (const auto& [label, p] : fromJpeg.disease->classLabelProbs)
            EXPECT_NEAR(other->disease->classLabelProbs.at(label), p, tolerance) << label;
        for (const auto& [label, p] : fromJpeg.gate->classLabelProbs)
            EXPECT_NEAR(other->gate->classLabelProbs.at(label), p, tolerance) << label;
    }
}

}  // namespace
}  // namespace orvix

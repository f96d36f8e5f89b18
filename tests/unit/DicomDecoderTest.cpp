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

TEST_F(DicomTest, EightBitWithAnIdentityWindowKeepsTheValues) {
    DicomSpec spec{.width = 256, .height = 4, .window = std::pair{128.0, 256.0}};
    spec.samples = ramp(256, 4, 0, 255);
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(image->pixelWidth(), 256);
    EXPECT_EQ(image->pixelHeight(), 4);
    for (int x : {0, 1, 77, 128, 254, 255}) EXPECT_EQ(grey(image.value(), x, 2), x);
}

TEST_F(DicomTest, MonochromeOneIsInvertedSoBoneIsBright) {
    DicomSpec spec{.width = 64, .height = 4, .photometric = "MONOCHROME1"};
    spec.samples = ramp(64, 4, 0, 255);
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_GT(grey(image.value(), 0, 0), 250);   // stored 0 = white in MONOCHROME1
    EXPECT_LT(grey(image.value(), 63, 0), 5);
}

TEST_F(DicomTest, TwelveBitDataThroughItsWindow) {
    DicomSpec spec{.width = 101, .height = 2, .bitsAllocated = 16, .bitsStored = 12,
                   .window = std::pair{2000.0, 1000.0}};
    spec.samples = ramp(101, 2, 0, 4000);  // 40 per column
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(grey(image.value(), 0, 0), 0);      // 0, far below the window
    EXPECT_EQ(grey(image.value(), 37, 0), 0);     // 1480, just below it
    EXPECT_NEAR(grey(image.value(), 50, 0), 128, 1);  // 2000, the centre
    EXPECT_EQ(grey(image.value(), 63, 0), 255);   // 2520, above it
}

TEST_F(DicomTest, SixteenBitWithoutWindowUsesMinMax) {
    DicomSpec spec{.width = 11, .height = 2, .bitsAllocated = 16, .bitsStored = 16};
    spec.samples = ramp(11, 2, 1000, 61000);
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(grey(image.value(), 0, 0), 0);
    EXPECT_EQ(grey(image.value(), 10, 0), 255);
    EXPECT_NEAR(grey(image.value(), 5, 0), 128, 1);
}

TEST_F(DicomTest, ModalityLutComesBeforeTheWindow) {
    // Stored 0..1000 with slope 2, intercept -1000 gives -1000..1000; the window is in those units.
    DicomSpec spec{.width = 11, .height = 2, .bitsAllocated = 16, .bitsStored = 16,
                   .window = std::pair{0.0, 2001.0}, .rescale = std::pair{2.0, -1000.0}};
    spec.samples = ramp(11, 2, 0, 1000);
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(grey(image.value(), 0, 0), 0);
    EXPECT_NEAR(grey(image.value(), 5, 0), 128, 1);  // stored 500 -> 0
    EXPECT_EQ(grey(image.value(), 10, 0), 255);
}

TEST_F(DicomTest, SigmoidVoiFunctionIsHonoured) {
    DicomSpec linear{.width = 101, .height = 2, .bitsAllocated = 16, .bitsStored = 12,
                     .window = std::pair{2000.0, 2000.0}};
    linear.samples = ramp(101, 2, 0, 4000);
    DicomSpec sigmoid = linear;
    sigmoid.voiLutFunction = "SIGMOID";
    auto a = decodeFile(linear, "linear.dcm");
    auto b = decodeFile(sigmoid, "sigmoid.dcm");
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(grey(b.value(), 50, 0), 128, 2);  // both pass the centre at mid grey
    // Outside the linear window (1000..3000) the sigmoid still grades: 255 / (1 + e^(-4 (x - c) / w)).
    EXPECT_EQ(grey(a.value(), 80, 0), 255);         // 3200
    EXPECT_NEAR(grey(b.value(), 80, 0), 234, 2);
    EXPECT_EQ(grey(a.value(), 20, 0), 0);           // 800
    EXPECT_NEAR(grey(b.value(), 20, 0), 21, 2);
}

TEST_F(DicomTest, RleCompressedDecodesLikeUncompressed) {
    DicomSpec spec{.width = 64, .height = 8, .window = std::pair{128.0, 256.0}};
    spec.samples = ramp(64, 8, 10, 240);
    auto plain = decodeFile(spec, "plain.dcm");
    spec.rle = true;
    auto rle = decodeFile(spec, "rle.dcm");
    ASSERT_TRUE(rle) << rle.error().message;
    ASSERT_TRUE(plain);
    EXPECT_EQ(cv::norm(plain->pixels(), rle->pixels(), cv::NORM_INF), 0.0);
}

TEST_F(DicomTest, MultiFrameUsesTheFirstFrame) {
    DicomSpec spec{.width = 8, .height = 8, .frames = 2, .window = std::pair{128.0, 256.0}};
    spec.samples.assign(64, 20);
    spec.samples.insert(spec.samples.end(), 64, 230);
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(grey(image.value(), 4, 4), 20);
}

TEST_F(DicomTest, RgbSecondaryCaptureKeepsItsColours) {
    DicomSpec spec{.width = 2, .height = 1, .rgb = true};
    spec.samples = {255, 0, 0, 0, 0, 255};  // red, blue
    auto image = decodeFile(spec);
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(image->pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(image->pixels().at<cv::Vec3b>(0, 1), cv::Vec3b(255, 0, 0));
}

TEST_F(DicomTest, BareDataSetWithoutPreambleOrExtensionIsRecognised) {
    DicomSpec spec{.width = 16, .height = 16, .window = std::pair{128.0, 256.0}, .preamble = false};
    spec.samples.assign(256, 99);
    test::writeDicom(dir_ / "IM0001", spec);
    EXPECT_TRUE(isDicomFile(dir_ / "IM0001"));
    auto bytes = readWholeFile(dir_ / "IM0001");
    ASSERT_TRUE(bytes);
    EXPECT_FALSE(hasDicomPreamble(bytes.value()));
    auto image = decodeImage(bytes.value());
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(grey(image.value(), 3, 3), 99);
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

TEST_F(DicomTest, ImportKeepsTheFileNameAndNoPatientDataReachesTheReport) {
    DicomSpec spec{.width = 32, .height = 32, .window = std::pair{128.0, 256.0}, .preamble = false};
    spec.samples.assign(32 * 32, 200);
    test::writeDicom(dir_ / "1.2.840.113619", spec);
    DiagnosisState state = test::fixtureState();
    setConsoleStream(nullptr);
    auto result = importImage(ImporterOutcome::success(dir_ / "1.2.840.113619"), state);
    setConsoleStream(&std::cout);
    ASSERT_EQ(result.status, ImportStatus::Analysed) << result.message;
    EXPECT_EQ(state.fileName.get(), "1.2.840.113619");
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

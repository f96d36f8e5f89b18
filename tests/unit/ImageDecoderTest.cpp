#include <sys/stat.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"
#include "orvix/ImageDecoder.h"

namespace orvix {
namespace {

using test::encode;

cv::Vec3b pixelAt(const Image& image, int x, int y) { return image.pixels().at<cv::Vec3b>(y, x); }

TEST(DecodeImage, CommonFormatsBecomeEightBitBgr) {
    const cv::Mat picture = test::solid(40, 30, cv::Scalar(10, 120, 230));
    for (const std::string ext : {".png", ".bmp", ".tiff", ".webp", ".ppm", ".jpg"}) {
        SCOPED_TRACE(ext);
        auto image = decodeImage(encode(ext, picture, ext == ".webp" ? std::vector<int>{cv::IMWRITE_WEBP_QUALITY, 101}
                                                                      : std::vector<int>{}));
        ASSERT_TRUE(image) << image.error().message;
        EXPECT_EQ(image->pixels().type(), CV_8UC3);
        EXPECT_EQ(image->pixelWidth(), 40);
        EXPECT_EQ(image->pixelHeight(), 30);
        const cv::Vec3b px = pixelAt(image.value(), 20, 15);
        EXPECT_NEAR(px[0], 10, 4);
        EXPECT_NEAR(px[2], 230, 4);
    }
}

TEST(DecodeImage, GreyAndSixteenBitPicturesAreExpandedAndScaled) {
    cv::Mat grey16(8, 8, CV_16UC1, cv::Scalar(65535));
    grey16(cv::Rect(0, 0, 4, 8)).setTo(257 * 100);
    auto image = decodeImage(encode(".png", grey16));
    ASSERT_TRUE(image);
    ASSERT_TRUE(image->isGrey()) << "grey stays one channel";
    EXPECT_EQ(image->pixels().at<std::uint8_t>(0, 0), 100);
    EXPECT_EQ(image->pixels().at<std::uint8_t>(0, 7), 255);
}

TEST(DecodeImage, TransparencyIsCompositedOnWhite) {
    cv::Mat bgra(4, 4, CV_8UC4, cv::Scalar(0, 0, 0, 0));  // fully transparent black
    bgra.at<cv::Vec4b>(0, 0) = cv::Vec4b(0, 0, 255, 255);  // one opaque red pixel
    auto image = decodeImage(encode(".png", bgra));
    ASSERT_TRUE(image);
    EXPECT_EQ(pixelAt(image.value(), 3, 3), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(pixelAt(image.value(), 0, 0), cv::Vec3b(0, 0, 255));
}

// A JPEG whose pixels are stored sideways with EXIF orientation 6 (rotate 90 degrees clockwise to view).
std::vector<std::uint8_t> jpegWithOrientation(const cv::Mat& stored, std::uint16_t orientation) {
    auto jpeg = encode(".jpg", stored, {cv::IMWRITE_JPEG_QUALITY, 100});
    // APP1 Exif segment, little-endian TIFF with one IFD entry (0x0112 Orientation, SHORT, 1).
    const std::uint8_t body[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0,
                                 1,   0,   0,   0,   static_cast<std::uint8_t>(orientation), 0, 0, 0, 0, 0, 0, 0};
    const std::uint16_t length = sizeof body + 2;
    std::vector<std::uint8_t> segment = {0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length & 0xFF)};
    segment.insert(segment.end(), std::begin(body), std::end(body));
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    return jpeg;
}

TEST(DecodeImage, JpegExifOrientationIsHonoured) {
    cv::Mat stored = test::solid(60, 20, cv::Scalar(0, 0, 0));  // wide as stored
    stored(cv::Rect(0, 0, 30, 20)).setTo(cv::Scalar(255, 255, 255));  // left half white
    auto image = decodeImage(jpegWithOrientation(stored, 6));
    ASSERT_TRUE(image) << image.error().message;
    EXPECT_EQ(image->pixelWidth(), 20);  // tall when viewed
    EXPECT_EQ(image->pixelHeight(), 60);
    // Rotating clockwise puts the stored left half on top.
    EXPECT_GT(pixelAt(image.value(), 10, 5)[0], 200);
    EXPECT_LT(pixelAt(image.value(), 10, 55)[0], 50);
}

TEST(DecodeImage, RefusesWhatIsNoPicture) {  // cut pictures: FormatsTest
    EXPECT_FALSE(decodeImage({}));
    const std::string text = "this is a text file named scan.png";
    EXPECT_FALSE(decodeImage(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
}

TEST(DecodeImage, RefusesPicturesOverThePixelLimitFromTheHeader) {
    // A PNG declaring 20000 x 20000 pixels (400 MP) in a few hundred bytes: refused before allocation.
    cv::Mat small = test::solid(1, 1, cv::Scalar(0, 0, 0));
    auto png = encode(".png", small);
    // IHDR width and height live at bytes 16..23; patch them, then fix the chunk CRC.
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) png[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put32(16, 20000);
    put32(20, 20000);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= png[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    put32(29, crc ^ 0xFFFFFFFFu);
    auto image = decodeImage(png);
    ASSERT_FALSE(image);
    EXPECT_EQ(image.error().message, "picture declares more than 100000000 pixels");
}

TEST(ReadWholeFile, RefusesMissingFilesDirectoriesPipesAndOversizedFiles) {
    test::TempDir dir;
    auto missing = readWholeFile(dir / "absent.png");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("absent.png"), std::string::npos);

    auto directory = readWholeFile(dir.path());
    ASSERT_FALSE(directory);
    EXPECT_NE(directory.error().message.find("directory"), std::string::npos);

    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    auto fifo = readWholeFile(dir / "pipe.png");  // must not block waiting for a writer
    ASSERT_FALSE(fifo);
    EXPECT_NE(fifo.error().message.find("not a regular file"), std::string::npos);

    test::writeBytes(dir / "big.bin", std::string(2048, 'x'));
    EXPECT_FALSE(readWholeFile(dir / "big.bin", 1024));
    auto fits = readWholeFile(dir / "big.bin", 2048);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->size(), 2048u);
}

}  // namespace
}  // namespace orvix

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "TestSupport.h"
#include "orvix/ImageDecoder.h"

namespace orvix {
namespace {

using test::encode;

cv::Vec3b pixelAt(const Image& image, int x, int y) { return image.pixels().at<cv::Vec3b>(y, x); }

// Decoded pixels of every offered format, and cut files: FormatsTest.

TEST(DecodeImage, TransparencyIsCompositedOnWhite) {
    cv::Mat bgra(4, 4, CV_8UC4, cv::Scalar(0, 0, 0, 0));  // fully transparent black
    bgra.at<cv::Vec4b>(0, 0) = cv::Vec4b(0, 0, 255, 255);  // one opaque red pixel
    auto image = decodeImage(encode(".png", bgra));
    ASSERT_TRUE(image);
    EXPECT_EQ(pixelAt(image.value(), 3, 3), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(pixelAt(image.value(), 0, 0), cv::Vec3b(0, 0, 255));
}

TEST(DecodeImage, RefusesWhatIsNoPicture) {
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

#include <cstring>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "TestSupport.h"
#include "orvix/ImageDecoder.h"

namespace orvix {
namespace {

// Decoded pixels of every offered format, and cut files: FormatsTest. What is no picture, no file
// to read, or a picture over the pixel limit: HostileInputTest.

TEST(DecodeImage, TransparencyIsCompositedOnWhite) {
    cv::Mat bgra(4, 4, CV_8UC4, cv::Scalar(0, 0, 0, 0));   // fully transparent black
    bgra.at<cv::Vec4b>(0, 0) = cv::Vec4b(0, 0, 255, 255);  // one opaque red pixel
    auto image = decodeImage(test::encode(".png", bgra));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels().at<cv::Vec3b>(3, 3), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(image->pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 255));
}

// A grey picture with detail everywhere, so that damage anywhere changes it.
cv::Mat pattern(int width, int height) {
    cv::Mat grey(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            grey.at<std::uint8_t>(y, x) = static_cast<std::uint8_t>((x * 7 + y * 13 + x * y) % 256);
    return grey;
}

std::uint32_t little32(const std::vector<std::uint8_t>& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// The value of a one-value LONG or SHORT entry of a little-endian TIFF's first directory.
std::size_t tiffEntryValue(const std::vector<std::uint8_t>& tiff, std::uint16_t tag) {
    const std::uint32_t ifd = little32(tiff, 4);
    const unsigned count = tiff[ifd] | (tiff[ifd + 1] << 8);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        if ((tiff[at] | (tiff[at + 1] << 8)) == tag && little32(tiff, at + 4) == 1) return at + 8;
    }
    throw std::runtime_error("no one-value entry " + std::to_string(tag));
}

TEST(DecodeImage, TiffStripsLibtiffCannotDecodeAreRefused) {
    const cv::Mat grey = pattern(64, 64);
    for (const int compression : {5 /* LZW */, 32946 /* deflate */}) {
        SCOPED_TRACE(compression);
        const auto tiff = test::encode(".tiff", grey, {cv::IMWRITE_TIFF_COMPRESSION, compression});
        auto whole = decodeImage(tiff);
        ASSERT_TRUE(whole) << whole.error().message;
        EXPECT_EQ(cv::norm(whole->pixels(), grey, cv::NORM_INF), 0.0);

        const std::size_t offset = little32(tiff, tiffEntryValue(tiff, 273));  // the one strip
        const std::size_t length = little32(tiff, tiffEntryValue(tiff, 279));
        auto garbled = tiff;  // a run of ones in the middle of the strip
        std::fill_n(garbled.begin() + static_cast<std::ptrdiff_t>(offset + length / 2), 16, 0xFF);
        auto shortened = tiff;  // the strip declared half as long
        const auto half = static_cast<std::uint32_t>(length / 2);
        std::memcpy(shortened.data() + tiffEntryValue(tiff, 279), &half, 4);
        for (const auto& [name, damaged] : {std::pair{"garbled", garbled}, std::pair{"shortened", shortened}}) {
            auto image = decodeImage(damaged);
            if (image) ADD_FAILURE() << "analysed: " << name;
            else EXPECT_NE(image.error().message.find("damaged TIFF data"), std::string::npos) << image.error().message;
        }
    }
}

TEST(ReadWholeFile, RefusesFilesOverTheSizeLimit) {
    test::TempDir dir;
    test::writeBytes(dir / "big.bin", std::string(2048, 'x'));
    EXPECT_FALSE(readWholeFile(dir / "big.bin", 1024));
    auto fits = readWholeFile(dir / "big.bin", 2048);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->size(), 2048u);
}

}  // namespace
}  // namespace orvix

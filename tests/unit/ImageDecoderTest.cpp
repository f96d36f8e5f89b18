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

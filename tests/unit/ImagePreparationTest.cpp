#include <cstring>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"
#include "orvix/ImagePreparation.h"

namespace orvix {
namespace {

TEST(RedrawImage, StretchesTheWholePictureUprightIntoAnXrgbSquare) {
    // Wide, red above blue: a letterbox border or a flipped picture would show in a corner.
    cv::Mat wide = test::solid(1000, 500, cv::Scalar(255, 0, 0));
    wide(cv::Rect(0, 0, 1000, 250)).setTo(cv::Scalar(0, 0, 255));
    auto redrawn = redrawImage(Image(wide));
    ASSERT_TRUE(redrawn);
    EXPECT_EQ(redrawn->size().width, 224.0);
    EXPECT_EQ(redrawn->size().height, 224.0);
    auto buffer = makePixelBuffer(*redrawn);
    ASSERT_TRUE(buffer);
    using Rgb = std::array<std::uint8_t, 3>;
    buffer->lockBaseAddress();
    for (auto [x, y] : {std::pair{0, 0}, {223, 0}, {0, 223}, {223, 223}}) {
        const std::uint8_t* px = buffer->baseAddress() + y * buffer->bytesPerRow() + x * 4;  // skip, R, G, B
        EXPECT_EQ((Rgb{px[1], px[2], px[3]}), (y == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255})) << x << "," << y;
    }
    buffer->unlockBaseAddress();
}

TEST(MakePixelBuffer, PaddedRowsAreSteppedByBytesPerRow) {
    // 100 pixels = 400 bytes of pixels, padded to 448: row n starts n * 448 bytes in.
    cv::Mat m(3, 100, CV_8UC3);
    for (int y = 0; y < 3; ++y) m.row(y).setTo(cv::Scalar(y * 10, y * 20, y * 30 + 5));
    auto buffer = makePixelBuffer(Image(m));
    ASSERT_TRUE(buffer);
    ASSERT_EQ(buffer->bytesPerRow(), 448u);
    buffer->lockBaseAddress();
    const std::uint8_t* base = buffer->baseAddress();
    for (int y = 0; y < 3; ++y) {
        const std::uint8_t* row = base + y * 448;
        EXPECT_EQ(row[1], y * 30 + 5);  // R
        EXPECT_EQ(row[2], y * 20);      // G
        EXPECT_EQ(row[3], y * 10);      // B
        EXPECT_EQ(row[99 * 4 + 1], y * 30 + 5);
        for (int pad = 400; pad < 448; ++pad) EXPECT_EQ(row[pad], 0) << "padding holds no pixel";
    }
    buffer->unlockBaseAddress();
}

// Grey pictures fill red, green and blue alike (and the skipped byte as colour pictures do).
TEST(RedrawImage, GreyGivesTheSameValuesAsItsColourExpansion) {
    cv::Mat grey(300, 517, CV_8UC1);
    cv::randu(grey, 0, 256);
    cv::Mat colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    auto a = makePixelBuffer(*redrawImage(Image(grey)));
    auto b = makePixelBuffer(*redrawImage(Image(colour)));
    ASSERT_TRUE(a && b);
    a->lockBaseAddress();
    b->lockBaseAddress();
    EXPECT_EQ(std::memcmp(a->baseAddress(), b->baseAddress(), a->bytesPerRow() * 224), 0);
}

TEST(MakePixelBuffer, SizeIsThePointSizeTruncated) {
    // 1007 x 502 pixels at scale 10 measure 100.7 x 50.2 points.
    auto buffer = makePixelBuffer(Image(test::solid(1007, 502, cv::Scalar(1, 2, 3)), 10.0));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->width(), 100);
    EXPECT_EQ(buffer->height(), 50);
    // A picture under one point on a side, or none at all, yields no buffer rather than an empty one.
    EXPECT_FALSE(makePixelBuffer(Image(test::solid(5, 5, cv::Scalar(0, 0, 0)), 10.0)));
    EXPECT_FALSE(makePixelBuffer(Image()));
    EXPECT_FALSE(redrawImage(Image()));
}

}  // namespace
}  // namespace orvix

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "TestSupport.h"
#include "orvix/PictureHeader.h"

namespace orvix {
namespace {

using test::encode;

TEST(ReadPictureSize, EveryFormatTheDecoderReads) {
    const cv::Mat colour = test::solid(301, 203, cv::Scalar(10, 20, 30));
    cv::Mat grey;
    cv::extractChannel(colour, grey, 0);
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {
        {"png", encode(".png", colour)},
        {"jpeg", encode(".jpg", colour)},
        {"progressive jpeg", encode(".jpg", colour, {cv::IMWRITE_JPEG_PROGRESSIVE, 1})},
        {"bmp", encode(".bmp", colour)},
        {"webp lossy", encode(".webp", colour, {cv::IMWRITE_WEBP_QUALITY, 80})},
        {"webp lossless", encode(".webp", colour, {cv::IMWRITE_WEBP_QUALITY, 101})},
        {"tiff", encode(".tiff", colour)},
        {"pgm", encode(".pgm", grey)},
        {"ppm", encode(".ppm", colour)},
        {"pbm", encode(".pbm", grey)},
        {"pam", encode(".pam", colour)},
        {"sun raster", encode(".sr", colour)},
        {"radiance", encode(".hdr", cv::Mat(203, 301, CV_32FC3, cv::Scalar(0.5, 0.5, 0.5)))},
        {"jpeg 2000", encode(".jp2", colour)},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        // Every cut of the header is either refused or read right, never read past its end
        // (the sanitizer build checks the last part).
        for (std::size_t cut = 0; cut < std::min<std::size_t>(bytes.size(), 600); ++cut) {
            auto partial = readPictureSize(std::span(bytes.data(), cut));
            if (partial && *partial) {
                EXPECT_EQ(partial->value().width, 301u) << cut;
                EXPECT_EQ(partial->value().height, 203u) << cut;
            }
        }
        auto size = readPictureSize(bytes);
        ASSERT_TRUE(size.has_value());
        ASSERT_TRUE(*size) << size->error().message;
        EXPECT_EQ(size->value().width, 301u);
        EXPECT_EQ(size->value().height, 203u);
    }
}

TEST(ReadPictureSize, FuzzFindingsStayFixed) {
    for (const char* name : {"tiff-header-only.bin"}) {
        const std::string bytes = test::readBytes(test::fixtures() / "regressions" / name);
        auto size = readPictureSize(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        ASSERT_TRUE(size.has_value()) << name;
        EXPECT_FALSE(*size) << name;
    }
}

TEST(ReadPictureSize, UnknownDamagedAndEmptyHeaders) {
    const std::string text = "just some text";
    EXPECT_FALSE(readPictureSize(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));

    auto png = encode(".png", test::solid(5, 5, cv::Scalar(0, 0, 0)));
    png.resize(20);  // cut inside the header
    auto cut = readPictureSize(png);
    ASSERT_TRUE(cut.has_value());
    EXPECT_FALSE(*cut);

    auto jpeg = encode(".jpg", test::solid(5, 5, cv::Scalar(0, 0, 0)));
    jpeg.resize(30);  // before the frame header
    ASSERT_TRUE(readPictureSize(jpeg).has_value());
    EXPECT_FALSE(*readPictureSize(jpeg));

    const std::string pgm = "P5\n# a comment\n0 12\n255\n";
    auto empty = readPictureSize(std::span(reinterpret_cast<const std::uint8_t*>(pgm.data()), pgm.size()));
    ASSERT_TRUE(empty.has_value());
    EXPECT_FALSE(*empty) << "zero pixels";
}

}  // namespace
}  // namespace orvix

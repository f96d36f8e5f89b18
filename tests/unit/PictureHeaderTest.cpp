#include <regex>

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
            if (partial.outcome == HeaderReading::Outcome::Sized) {
                EXPECT_EQ(partial.size.width, 301u) << cut;
                EXPECT_EQ(partial.size.height, 203u) << cut;
            }
        }
        auto size = readPictureSize(bytes);
        ASSERT_EQ(size.outcome, HeaderReading::Outcome::Sized) << size.reason;
        EXPECT_EQ(size.size.width, 301u);
        EXPECT_EQ(size.size.height, 203u);
    }
}

TEST(ReadPictureSize, UnknownDamagedAndEmptyHeaders) {
    const auto bytes = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    EXPECT_EQ(readPictureSize(bytes("just some text")).outcome, HeaderReading::Outcome::UnknownFormat);
    auto png = encode(".png", test::solid(5, 5, cv::Scalar(0, 0, 0)));
    png.resize(20);
    auto jpeg = encode(".jpg", test::solid(5, 5, cv::Scalar(0, 0, 0)));
    jpeg.resize(30);
    const std::pair<const char*, std::vector<std::uint8_t>> refused[] = {
        {"png cut inside the header", png},
        {"jpeg cut before the frame header", jpeg},
        {"pgm of zero pixels", bytes("P5\n# a comment\n0 12\n255\n")},
        // libtiff takes the first entries (40000 x 15000), a reading of the last would pass 10 x 10.
        {"tiff repeating its size",
         bytes(std::string("II*\0\x08\0\0\0\x04\0", 10) + std::string("\0\x01\x04\0\x01\0\0\0\x40\x9c\0\0", 12) +
               std::string("\x01\x01\x04\0\x01\0\0\0\x98\x3a\0\0", 12) +
               std::string("\0\x01\x03\0\x01\0\0\0\x0a\0\0\0", 12) +
               std::string("\x01\x01\x03\0\x01\0\0\0\x0a\0\0\0", 12) + std::string(4, '\0'))},
        {"tiff header only, found by fuzzing",
         bytes(test::readBytes(test::fixtures() / "regressions" / "tiff-header-only.bin"))},
    };
    for (const auto& [name, header] : refused) {
        SCOPED_TRACE(name);
        auto size = readPictureSize(header);
        EXPECT_EQ(size.outcome, HeaderReading::Outcome::Damaged);
        EXPECT_FALSE(size.reason.empty());
    }
}

TEST(PictureFormats, TheReadmeAndManualPagesNameTheFormatsOfTheTable) {
    const std::string formats = decodableFormatsText();
    const auto source = test::fixtures().parent_path().parent_path();
    for (const char* doc : {"README.md", "docs/man/orvix.1", "docs/man/orvix-screen.1"}) {
        std::string text = test::readBytes(source / doc);
        text = std::regex_replace(text, std::regex("\\s+"), " ");  // line breaks fall anywhere
        EXPECT_NE(text.find(formats), std::string::npos) << doc;
    }
}

}  // namespace
}  // namespace orvix

#include <cstring>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "Codecs.h"
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

// A 8 x 6 BMP, RLE8 (bits 8) or RLE4 (bits 4), grey palette; `rows` are the runs of each row, bottom row first.
std::vector<std::uint8_t> rleBmp(int bits, const std::vector<std::vector<std::uint8_t>>& rows, bool endOfBitmap) {
    std::vector<std::uint8_t> data;
    for (const auto& row : rows) {
        data.insert(data.end(), row.begin(), row.end());
        data.insert(data.end(), {0, 0});
    }
    if (endOfBitmap) data.insert(data.end(), {0, 1});
    const std::uint32_t colours = 1u << bits, offset = 14 + 40 + 4 * colours;
    std::vector<std::uint8_t> out(offset);
    auto put = [&](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, offset + static_cast<std::uint32_t>(data.size()), 4);
    put(10, offset, 4);
    put(14, 40, 4);
    put(18, 8, 4);
    put(22, 6, 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(bits), 2);
    put(30, bits == 8 ? 1 : 2, 4);
    put(34, static_cast<std::uint32_t>(data.size()), 4);
    put(46, colours, 4);
    for (std::uint32_t i = 0; i < colours; ++i) put(54 + 4 * i, (i * 255 / (colours - 1)) * 0x010101u, 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

TEST(DecodeImage, RunLengthBmpMustCoverEveryRow) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool whole;
    };
    const std::vector<std::vector<std::uint8_t>> rle8(6, {8, 200});                     // each row: 8 pixels of 200
    const std::vector<std::vector<std::uint8_t>> rle4(6, {4, 0xFF, 0, 4, 0xFF, 0xFF});  // 4 of 15, then 4 literal
    auto cut = [](std::vector<std::uint8_t> b, std::size_t n) {
        b.resize(b.size() - n);
        return b;
    };
    const Case cases[] = {
        {"RLE8 whole", rleBmp(8, rle8, true), true},
        {"RLE4 whole", rleBmp(4, rle4, true), true},
        {"RLE8 without its end-of-bitmap marker", rleBmp(8, rle8, false), false},
        {"RLE8 ending after three rows", rleBmp(8, {rle8.begin(), rle8.begin() + 3}, true), false},
        {"RLE8 cut inside a run", cut(rleBmp(8, rle8, true), 5), false},
        {"RLE4 cut inside a literal run", cut(rleBmp(4, rle4, true), 6), false},
        {"RLE8 row longer than the picture",
         rleBmp(8, {{9, 200}, {8, 200}, {8, 200}, {8, 200}, {8, 200}, {8, 200}}, true), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = decodeImage(c.bytes);
        if (!c.whole) {
            if (image) ADD_FAILURE() << "analysed";
            else EXPECT_NE(image.error().message.find("damaged BMP RLE"), std::string::npos) << image.error().message;
            continue;
        }
        ASSERT_TRUE(image) << image.error().message;
        cv::Mat grey = image->pixels();
        if (grey.channels() == 3) cv::extractChannel(grey, grey, 0);
        EXPECT_EQ(cv::countNonZero(grey != (c.bytes[30] == 1 ? 200 : 255)), 0);
    }
}

// A picture over the sample budget is decoded at a reduced resolution, not refused and not at full size.
TEST(DecodeJpeg2000, PicturesOverTheSampleBudgetAreDecodedAtAReducedResolution) {
    cv::Mat bgra(64, 48, CV_8UC4, cv::Scalar(10, 20, 30, 255));
    const auto jp2 = test::encode(".jp2", bgra);
    const auto full = codecs::decodeJpeg2000Samples(jp2, UINT64_MAX, 4 * 64 * 48);
    ASSERT_TRUE(full) << full.error().message;
    EXPECT_EQ(full->width, 48);
    const auto half = codecs::decodeJpeg2000Samples(jp2, UINT64_MAX, 4 * 64 * 48 - 1);
    ASSERT_TRUE(half) << half.error().message;
    EXPECT_EQ(half->width, 24);
    EXPECT_EQ(half->height, 32);
    EXPECT_EQ(half->values.size(), 4u * 24 * 32);
    EXPECT_EQ(half->values[0], 30);  // red first
    const auto quarter = codecs::decodeJpeg2000Samples(jp2, UINT64_MAX, 4 * 32 * 24 - 1);
    ASSERT_TRUE(quarter) << quarter.error().message;
    EXPECT_EQ(quarter->width, 12);
    // OpenCV writes six resolution levels: at most five halvings.
    const auto tooFew = codecs::decodeJpeg2000Samples(jp2, UINT64_MAX, 4);
    ASSERT_FALSE(tooFew);
    EXPECT_NE(tooFew.error().message.find("too few resolution levels"), std::string::npos) << tooFew.error().message;
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

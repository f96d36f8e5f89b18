// Every offered format, written by an independent encoder (tests/formats/make_pictures.py):
// Orvix decodes the pixels that were written, and a file cut short anywhere is refused
// or, where the cut took no pixel data, decodes to exactly the whole file's picture.

#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"
#include "orvix/Console.h"
#include "orvix/ImageDecoder.h"
#include "orvix/ImportRun.h"

namespace orvix {
namespace {

std::filesystem::path pictures() { return ORVIX_FORMAT_PICTURES; }

// "width height channels\n" then the rows, RGB order; returned as Orvix stores pictures (BGR or grey).
cv::Mat readExpected(const std::filesystem::path& path) {
    const std::string bytes = test::readBytes(path);
    std::istringstream header(bytes);
    int width = 0, height = 0, channels = 0;
    header >> width >> height >> channels;
    const auto offset = bytes.find('\n') + 1;
    cv::Mat rgb(height, width, CV_8UC(channels), const_cast<char*>(bytes.data() + offset));
    cv::Mat out = rgb.clone();
    if (channels == 3) cv::cvtColor(rgb, out, cv::COLOR_RGB2BGR);
    return out;
}

nlohmann::json manifest() { return nlohmann::json::parse(test::readBytes(pictures() / "manifest.json")); }

bool samePixels(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

TEST(Formats, EachOfferedFormatDecodesToItsPixelsAndEveryCutIsRefusedOrWhole) {
    const auto entries = manifest();
    ASSERT_GE(entries.size(), 20u);
    for (const auto& entry : entries) {
        const std::string name = entry["file"];
        SCOPED_TRACE(name);
        const std::string bytes = test::readBytes(pictures() / name);
        auto whole = decodeImage(test::bytesOf(bytes));
        ASSERT_TRUE(whole) << whole.error().message;
        const cv::Mat expected = readExpected(pictures() / entry["expected"].get<std::string>());
        ASSERT_EQ(whole->pixels().size(), expected.size());
        ASSERT_EQ(whole->pixels().channels(), expected.channels());
        EXPECT_LE(cv::norm(whole->pixels(), expected, cv::NORM_INF), entry["tolerance"].get<double>());

        int refused = 0;
        // Every length up to the last 64 bytes, every 7th before that: cuts land in headers,
        // in the pixel data and in what follows it.
        for (std::size_t length = 1; length < bytes.size(); length += length + 64 < bytes.size() ? 7 : 1) {
            const std::string cut = bytes.substr(0, length);  // a fresh allocation: no bytes beyond the cut
            auto decoded = decodeImage(test::bytesOf(cut));
            if (!decoded) {
                ++refused;
                EXPECT_NE(decoded.error().message, "") << length;
                continue;
            }
            // Exactly equal: rows the cut took would show as uninitialised memory.
            EXPECT_TRUE(samePixels(decoded->pixels(), whole->pixels()))
                << "cut at " << length << " of " << bytes.size();
        }
        EXPECT_GT(refused, 0);
    }
}

TEST(Formats, Jpeg2000DicomDecodesLikeTheSamePictureUncompressedOrSaysWhyNot) {
    const auto listed = nlohmann::json::parse(test::readBytes(pictures() / "dicom-jpeg2000.json"));
    ASSERT_GE(listed["pairs"].size(), 8u);
    for (const auto& pair : listed["pairs"]) {
        const std::string name = pair["compressed"];
        SCOPED_TRACE(name);
        auto a = decodeImage(test::bytesOf(test::readBytes(pictures() / name)));
        auto b = decodeImage(test::bytesOf(test::readBytes(pictures() / pair["uncompressed"].get<std::string>())));
        ASSERT_TRUE(a) << a.error().message;
        ASSERT_TRUE(b) << b.error().message;
        EXPECT_TRUE(samePixels(a->pixels(), b->pixels()));
    }
    for (const auto& entry : listed["refused"]) {
        const std::string name = entry["file"];
        auto refused = decodeImage(test::bytesOf(test::readBytes(pictures() / name)));
        ASSERT_FALSE(refused) << name;
        EXPECT_NE(refused.error().message.find(entry["reason"].get<std::string>()), std::string::npos)
            << name << ": " << refused.error().message;
    }
}

// The shipped models give a JPEG 2000 DICOM of a chest radiograph the verdict of the JPEG it was made from.
TEST(Formats, Jpeg2000DicomGetsTheVerdictOfItsJpeg) {
    test::ScopedEnv models("ORVIX_MODEL_DIR", ORVIX_SHIPPED_MODELS);
    auto created = DiagnosisState::create();
    ASSERT_TRUE(created) << created.error().message;
    DiagnosisState state = created.value();
    setConsoleStream(nullptr);
    const auto jpeg =
        importImage(ImporterOutcome::success(test::fixtures() / "pictures" / "chest-pneumonia-bacteria.jpeg"), state);
    const auto dicom = importImage(ImporterOutcome::success(pictures() / "j2k-chest.dcm"), state);
    setConsoleStream(&std::cout);
    ASSERT_EQ(dicom.status, ImportStatus::Analysed) << dicom.message;
    for (const auto& [ours, theirs] : {std::pair{dicom.gate, jpeg.gate}, std::pair{dicom.disease, jpeg.disease}}) {
        EXPECT_EQ(ours->classLabel, theirs->classLabel);
        for (const auto& [label, p] : theirs->classLabelProbs) EXPECT_NEAR(ours->classLabelProbs.at(label), p, 1e-6);
    }
}

}  // namespace
}  // namespace orvix

// orvix-node's parts that need no network: its settings, its spool and its picture of the result.
// The node on the network is tested against real peers in tests/node.

#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "NodeOptions.h"
#include "ResultObjects.h"
#include "Spool.h"
#include "TestSupport.h"

namespace orvix::node {
namespace {

using test::TempDir;

std::optional<std::string> parse(std::vector<std::string> args, NodeOptions& options,
                                 const std::filesystem::path& config = "/nonexistent/node.conf") {
    args.insert(args.begin(), "orvix-node");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    return parseNodeOptions(static_cast<int>(argv.size()), argv.data(), options, config);
}

TEST(NodeOptions, UsageErrorsNameWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--port", "104", "--spool", "s"}, "no AE title"},
        {{"--aet", "A", "--spool", "s"}, "no port"},
        {{"--aet", "A", "--port", "104"}, "no spool folder"},
        {{"--aet", "A", "--port", "0", "--spool", "s"}, "--port needs a number from 1 to 65535, not 0"},
        {{"--aet", "A", "--port", "70000", "--spool", "s"}, "not 70000"},
        {{"--aet", "SEVENTEEN_CHARS_X", "--port", "1", "--spool", "s"}, "--aet needs an AE title"},
        {{"--aet", "A\\B", "--port", "1", "--spool", "s"}, "--aet needs an AE title"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--send-to", "PACS@host"}, "expected AET@HOST:PORT"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--send-to", "PACS@:104"}, "no host"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--jobs", "0"}, "--jobs needs a number from 1 to 64"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--delete-after-send"}, "--delete-after-send needs --send-to"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--bind", "localhost"}, "--bind needs a numeric IPv4 address"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--bind", "::1"}, "--bind needs a numeric IPv4 address"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--frobnicate"}, "unknown argument --frobnicate"},
        {{"--aet", "A", "--port", "1", "--spool"}, "--spool needs a value"},
        {{"--aet", "A", "--port", "1", "--spool", "s", "--config", "/nonexistent/x.conf"}, "cannot read"},
    };
    for (const auto& [args, message] : cases) {
        NodeOptions options;
        const auto error = parse(args, options);
        ASSERT_TRUE(error.has_value()) << args.back();
        EXPECT_NE(error->find(message), std::string::npos) << *error;
    }
}

TEST(NodeOptions, TheCommandLineOverridesTheFileAndReplacesItsAllowList) {
    TempDir dir;
    const auto config = dir / "node.conf";
    test::writeBytes(config,
                     "# a node\n\naet = FROMFILE\nport = 11112\nspool = /var/spool/x\nallow = ONE\nallow = TWO\n"
                     "send-to = PACS@pacs.example.org:104\ndelete-after-send = yes\njobs = 3\n");
    NodeOptions fileOnly;
    ASSERT_EQ(parse({}, fileOnly, config), std::nullopt);
    EXPECT_EQ(fileOnly.aet, "FROMFILE");
    EXPECT_EQ(fileOnly.port, 11112);
    EXPECT_EQ(fileOnly.allow, (std::vector<std::string>{"ONE", "TWO"}));
    ASSERT_TRUE(fileOnly.sendTo);
    EXPECT_EQ(fileOnly.sendTo->text(), "PACS@pacs.example.org:104");
    EXPECT_TRUE(fileOnly.deleteAfterSend);
    EXPECT_EQ(fileOnly.jobs, 3u);

    NodeOptions both;
    ASSERT_EQ(parse({"--aet", "FROMFLAG", "--allow", "THREE", "--config", config.string()}, both), std::nullopt);
    EXPECT_EQ(both.aet, "FROMFLAG");
    EXPECT_EQ(both.allow, (std::vector<std::string>{"THREE"}));
    EXPECT_EQ(both.spool, "/var/spool/x");
}

TEST(NodeOptions, ConfigurationErrorsNameTheLine) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"aet = A\nport\n", "node.conf:2: expected NAME = VALUE"},
        {"colour = blue\n", "node.conf:1: unknown setting colour"},
        {"delete-after-send = maybe\n", "node.conf:1: delete-after-send needs yes or no"},
    };
    for (const auto& [text, message] : cases) {
        TempDir dir;
        test::writeBytes(dir / "node.conf", text);
        NodeOptions options;
        const auto error = parse({"--aet", "A", "--port", "1", "--spool", "s"}, options, dir / "node.conf");
        ASSERT_TRUE(error.has_value()) << text;
        EXPECT_NE(error->find(message), std::string::npos) << *error;
    }
}

TEST(Spool, NamesOfFilmsAndTheirResults) {
    for (const std::string uid :
         {"1.2.840.113619.2.55.3", "1", "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19.20.21.22.23.24.2"})
        EXPECT_TRUE(isUid(uid)) << uid;
    for (const std::string& bad :
         std::vector<std::string>{"", "1..2", ".1.2", "1.2.", "1.2/../3", "1.2.a", std::string(65, '1')})
        EXPECT_FALSE(isUid(bad)) << bad;
    EXPECT_EQ(filmOfObject("1.2.3.sr.dcm"), "1.2.3");
    EXPECT_EQ(filmOfObject(".1.2.3.sc.dcm.staged"), "1.2.3");
    EXPECT_NE(filmOfObject("1.2.3.4.sr.dcm"), "1.2.3");
}

TEST(Spool, ALineCutShortCommitsNothingAndIsCutOff) {
    TempDir dir;
    {
        auto spool = Spool::open(dir.path());
        ASSERT_TRUE(spool) << spool.error().message;
        ASSERT_TRUE(spool->commit("1.2.3", R"({"sopInstanceUid":"1.2.3"})"));
        EXPECT_FALSE(spool->commit("1.2.4", "two\nlines"));
    }
    // A stop in the middle of the next line.
    std::ofstream(dir / "results.jsonl", std::ios::app) << R"({"sopInstanceUid":"1.2)";
    auto spool = Spool::open(dir.path());
    ASSERT_TRUE(spool) << spool.error().message;
    EXPECT_TRUE(spool->screened("1.2.3"));
    EXPECT_FALSE(spool->screened("1.2"));
    EXPECT_FALSE(spool->screened("1.2.4"));
    ASSERT_TRUE(spool->commit("1.2.5", R"({"sopInstanceUid":"1.2.5"})"));
    EXPECT_EQ(test::readBytes(dir / "results.jsonl"),
              "{\"sopInstanceUid\":\"1.2.3\"}\n{\"sopInstanceUid\":\"1.2.5\"}\n");
}

TEST(Spool, AResultsFileOfSomethingElseIsRefused) {
    TempDir dir;
    test::writeBytes(dir / "results.jsonl", "path,label\n");
    const auto spool = Spool::open(dir.path());
    ASSERT_FALSE(spool);
    EXPECT_NE(spool.error().message.find("line 1 is not a result of orvix-node"), std::string::npos);
}

// The window's receiver keeps only films in the user's folder: no subfolders made, and a results.jsonl of the
// user's own neither read nor refused (every film counts as not yet screened).
TEST(Spool, FilmsOnlyMakesNoSubfoldersAndReadsNoResults) {
    TempDir dir;
    test::writeBytes(dir / "results.jsonl", "{\"sopInstanceUid\":\"1.2.3\"}\nnot a result\n");
    const auto spool = Spool::open(dir / "films", Spool::Layout::FilmsOnly);
    ASSERT_TRUE(spool) << spool.error().message;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "films"), {}), 0);
    std::filesystem::rename(dir / "results.jsonl", dir / "films" / "results.jsonl");
    const auto again = Spool::open(dir / "films", Spool::Layout::FilmsOnly);
    ASSERT_TRUE(again) << again.error().message;
    EXPECT_FALSE(again->screened("1.2.3"));
    EXPECT_FALSE(Spool::open(dir / "films"));  // the node's spool would refuse that file
}

// After a stop: staged results of a committed film are published, those of a film not committed
// are thrown away (it is screened again and stages new ones); temporary files go.
TEST(Spool, StagedResultsArePublishedOnlyForCommittedFilms) {
    TempDir dir;
    auto spool = Spool::open(dir.path());
    ASSERT_TRUE(spool);
    for (const std::string name : {"1.1.sr.dcm", "1.1.sc.dcm", "2.2.sr.dcm"})
        test::writeBytes(spool->staged(name), "x");
    test::writeBytes(spool->film("2.2"), "film");  // received, its screening under way when it stopped
    test::writeBytes(spool->outbox() / ".1.1.sr.dcm.tmp-1-2", "half");
    ASSERT_TRUE(spool->commit("1.1", R"({"sopInstanceUid":"1.1"})"));

    auto reopened = Spool::open(dir.path());
    ASSERT_TRUE(reopened);
    auto published = reopened->settleOrphans();
    std::sort(published.begin(), published.end());
    EXPECT_EQ(published, (std::vector<std::string>{"1.1.sc.dcm", "1.1.sr.dcm"}));
    EXPECT_EQ(reopened->pending(), std::vector<std::string>{"2.2"});
    EXPECT_TRUE(std::filesystem::exists(reopened->staged("2.2.sr.dcm")));  // its film's screening settles it
    EXPECT_TRUE(reopened->settleStaged("2.2").empty());
    EXPECT_FALSE(std::filesystem::exists(reopened->staged("2.2.sr.dcm")));
    EXPECT_FALSE(std::filesystem::exists(reopened->outbox() / ".1.1.sr.dcm.tmp-1-2"));
}

TEST(ResultObjects, TheCaptureKeepsThePictureUnderABandAndFitsTheLongerSide) {
    const std::vector<std::pair<cv::Size, cv::Size>> cases{
        // picture, the picture's part of the capture
        {{512, 512}, {512, 512}},
        {{3000, 2000}, {kCaptureSide, 683}},
        {{200, 4000}, {51, kCaptureSide}},
    };
    Screening screening;
    screening.verdict = "POSITIVE";
    screening.pneumoniaProbability = 0.75;
    screening.threshold = 0.4;
    for (const auto& [size, shown] : cases) {
        const cv::Mat grey(size, CV_8UC1, cv::Scalar(100));
        const cv::Mat capture = capturePicture(grey, screening);
        EXPECT_EQ(capture.type(), CV_8UC3);
        EXPECT_EQ(capture.cols, shown.width);
        ASSERT_GT(capture.rows, shown.height) << "a band for the verdict";
        const int band = capture.rows - shown.height;
        // The picture lies below the band untouched (grey 100 in all three channels).
        EXPECT_EQ(cv::countNonZero(capture(cv::Rect(0, band, shown.width, shown.height)).reshape(1) != 100), 0);
        // The band holds text: lighter pixels on its dark ground.
        cv::Mat bandGrey;
        cv::cvtColor(capture(cv::Rect(0, 0, shown.width, band)), bandGrey, cv::COLOR_BGR2GRAY);
        EXPECT_GT(cv::countNonZero(bandGrey > 128), 0);
    }
}

}  // namespace
}  // namespace orvix::node

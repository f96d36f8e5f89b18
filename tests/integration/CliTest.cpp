// Runs the real orvix-screen binary on generated pictures with the fixture models.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "DicomWriter.h"
#include "TestSupport.h"

namespace orvix {
namespace {

struct Run {
    int status = -1;
    std::string out;
    std::string err;
};

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string q(const std::filesystem::path& p) { return shellQuote(p.string()); }

// wrapper: a command that runs the program (after the environment, before the program's path).
Run runScreen(const std::string& args, const std::filesystem::path& models = test::fixtureModels(),
              const std::filesystem::path& binary = ORVIX_SCREEN_BINARY, const std::string& wrapper = "") {
    test::TempDir tmp;
    const std::string cmd = "ORVIX_MODEL_DIR=" + q(models) + " " + wrapper + q(binary) + " " + args + " >" +
                            q(tmp / "out") + " 2>" + q(tmp / "err");
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::readBytes(tmp / "out"), test::readBytes(tmp / "err")};
}

std::vector<nlohmann::json> jsonLines(const std::string& out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "batch" / "sub");
        test::writePicture(dir_ / "batch" / "bright.png", test::solid(40, 40, cv::Scalar(220, 220, 220)));
        test::writePicture(dir_ / "batch" / "sub" / "dark.jpg", test::solid(40, 40, cv::Scalar(20, 20, 20)));
        test::writePicture(dir_ / "batch" / "sub" / "red photo.png", test::solid(40, 40, cv::Scalar(0, 0, 200)));
        test::writeBytes(dir_ / "batch" / "readme.txt", "not a picture, and skipped: no picture extension");
    }
    test::TempDir dir_;
};

TEST_F(CliTest, HelpVersionAndUsageErrors) {
    auto help = runScreen("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: orvix-screen"), std::string::npos);
    auto version = runScreen("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "orvix-screen " ORVIX_EXPECTED_VERSION "\n");
    for (const char* wrong : {"", "--bogus x.png", "--json --csv x.png", "--reports"})
        EXPECT_EQ(runScreen(wrong).status, 2) << wrong;
}

TEST_F(CliTest, MissingModelExitsTwoNamingTheResourceAndTheSearch) {
    // A model directory without the models: the only place searched, however Orvix is installed here.
    test::TempDir empty;
    auto run = runScreen(q(dir_ / "batch"), empty.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("SickClassifier1.mlmodelc"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(empty.path().string()), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(CliTest, JsonLinesForADirectoryTreeWithDicomFilesWithoutExtension) {
    test::DicomSpec spec{.width = 16,
                         .height = 16,
                         .window = std::pair{128.0, 256.0},
                         .text = {{0x0008, 0x0005, "ISO_IR 100"},
                                  {0x0010, 0x0010, "M\xfcller^J\xfcrgen"},
                                  {0x0010, 0x0030, "19500302"},
                                  {0x0008, 0x0050, "A7"},
                                  {0x0018, 0x5101, "PA"}}};
    spec.samples.assign(256, 230);
    test::writeDicom(dir_ / "batch" / "sub" / "IM0001", spec);
    test::writeBytes(dir_ / "batch" / "sub" / "NOTES", "no extension and no DICOM: skipped");
    // A link to a picture is analysed; a link to a folder is not followed (here it would never end).
    std::filesystem::create_symlink("../bright.png", dir_ / "batch" / "sub" / "link.png");
    std::filesystem::create_directory_symlink("..", dir_ / "batch" / "sub" / "loop");
    auto run = runScreen("--json " + q(dir_ / "batch"));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = jsonLines(run.out);
    std::vector<std::string> order;
    std::map<std::string, nlohmann::json> byName;
    for (const auto& j : lines) {
        order.push_back(j.at("fileName").get<std::string>());
        byName[order.back()] = j;
    }
    // Each folder's entries by name, byte by byte, before the next folder's.
    EXPECT_EQ(order, (std::vector<std::string>{"bright.png", "IM0001", "dark.jpg", "link.png", "red photo.png"}));

    for (const auto& [name, gate, disease, result] : {std::tuple{"bright.png", "X-Ray", "NORMAL", "NEGATIVE"},
                                                      {"dark.jpg", "X-Ray", "PNEUMONIA", "POSITIVE"},
                                                      {"IM0001", "X-Ray", "NORMAL", "NEGATIVE"},
                                                      {"link.png", "X-Ray", "NORMAL", "NEGATIVE"},
                                                      {"red photo.png", "other", "PNEUMONIA", "NOT A CHEST X-RAY"}}) {
        const auto& j = byName.at(name);
        EXPECT_EQ(j["status"], "ok") << name;
        EXPECT_EQ(j["gate"]["label"], gate) << name;
        EXPECT_EQ(j["disease"]["label"], disease) << name;
        EXPECT_EQ(j["result"], result) << name;
        EXPECT_EQ(j["isChestXRay"], std::string(gate) == "X-Ray") << name;
        EXPECT_DOUBLE_EQ(j["accuracy"].get<double>(), j["gate"]["probabilities"][gate].get<double>()) << name;
    }
    EXPECT_EQ(byName.at("red photo.png")["path"], (dir_ / "batch" / "sub" / "red photo.png").string());

    // The DICOM picture's patient and study (absent tags null); no such fields for the other pictures.
    EXPECT_EQ(byName.at("IM0001")["patient"],
              (nlohmann::json{
                  {"name", "Müller, Jürgen"}, {"id", "ORVIX-TEST"}, {"birthDate", "1950-03-02"}, {"sex", nullptr}}));
    EXPECT_EQ(byName.at("IM0001")["study"],
              (nlohmann::json{{"date", nullptr}, {"accessionNumber", "A7"}, {"viewPosition", "PA"}}));
    for (const auto& name : {"bright.png", "dark.jpg", "link.png", "red photo.png"})
        EXPECT_FALSE(byName.at(name).contains("patient") || byName.at(name).contains("study")) << name;
}

TEST_F(CliTest, BorderlineIsMarkedForChestXRaysInJsonAndCsv) {
    const auto grey = test::writePicture(dir_ / "mid-grey.png", test::solid(40, 40, cv::Scalar(128, 128, 128)));
    auto run = runScreen("--json " + q(grey) + " " + q(dir_ / "batch"));
    ASSERT_EQ(run.status, 0) << run.err;
    bool marked = false;
    for (const auto& j : jsonLines(run.out)) {
        if (!j["isChestXRay"].get<bool>()) {
            EXPECT_EQ(j["borderline"], nullptr) << j["fileName"];
            continue;
        }
        const double p = j["disease"]["probabilities"]["PNEUMONIA"].get<double>();
        EXPECT_EQ(j["borderline"].get<bool>(), 0.4 <= p && p <= 0.6) << j["fileName"] << ' ' << p;  // the model's band
        marked = marked || j["borderline"].get<bool>();
    }
    EXPECT_TRUE(marked) << "the mid-grey picture lies in the band\n" << run.out;
    auto csv = runScreen("--csv " + q(grey));
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')),
              "path,fileName,status,gateLabel,gateProbability,diseaseLabel,diseaseProbability,result,isChestXRay,"
              "accuracy,borderline");
    EXPECT_EQ(csv.out.substr(csv.out.rfind(',')), ",true\n");
}

TEST_F(CliTest, FilesThatCannotBeAnalysedExitOneAndAreNamedOnStderr) {
    // The unstable gate classifies mid-grey pictures and fails on every other.
    test::TempDir models;
    std::filesystem::copy(test::fixtureModels() / "SickClassifier1.mlmodelc", models / "SickClassifier1.mlmodelc");
    std::filesystem::copy(test::fixtureModels() / "unstable" / "XRayClassifier1.mlmodelc",
                          models / "XRayClassifier1.mlmodelc");
    const auto grey = test::writePicture(dir_ / "mid-grey.png", test::solid(40, 40, cv::Scalar(128, 128, 128)));
    test::writeBytes(dir_ / "broken.png", "not a png");
    auto run = runScreen("--json " + q(grey) + " " + q(dir_ / "batch" / "bright.png") + " " + q(dir_ / "broken.png") +
                             " " + q(dir_ / "absent.jpg"),
                         models.path());
    EXPECT_EQ(run.status, 1);
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 4u);
    const char* statuses[] = {"ok", "unclassified", "undecodable", "unreadable"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i]["status"], statuses[i]);
        EXPECT_EQ(lines[i]["result"] == nullptr, i > 0) << statuses[i];
    }
    EXPECT_EQ(lines[1]["gate"], nullptr) << "the mid-grey picture's gate label is not this picture's";
    EXPECT_EQ(lines[1]["disease"]["label"], "NORMAL");
    EXPECT_EQ(lines[2]["fileName"], "broken.png");
    for (const char* named : {"bright.png: not classified", "broken.png", "absent.jpg"})
        EXPECT_NE(run.err.find(named), std::string::npos) << named << "\n" << run.err;
}

TEST_F(CliTest, UnreadableDirectoriesAreNamedAndTheSearchGoesOn) {
    const auto locked = dir_ / "batch" / "sub" / "locked", closed = dir_ / "closed";
    std::filesystem::create_directories(locked);
    std::filesystem::create_directories(closed);
    test::writePicture(locked / "hidden.png", test::solid(40, 40, cv::Scalar(220, 220, 220)));
    for (const auto& d : {locked, closed}) std::filesystem::permissions(d, std::filesystem::perms::none);
    // Root lists any directory; without the two capabilities that allow that, it is refused as others are.
    const std::string asUser = ::geteuid() == 0 ? "setpriv --bounding-set=-dac_override,-dac_read_search " : "";
    const auto succeeds = [&](const std::string& cmd) {
        return std::system((asUser + cmd + " >/dev/null 2>&1").c_str()) == 0;
    };
    const bool denied = succeeds("true") && !succeeds("ls " + q(closed));
    orvix::Run run;
    if (denied)
        run = runScreen("--json " + q(dir_ / "batch") + " " + q(closed), test::fixtureModels(), ORVIX_SCREEN_BINARY,
                        asUser);
    for (const auto& d : {locked, closed}) std::filesystem::permissions(d, std::filesystem::perms::owner_all);
    if (!denied) GTEST_SKIP() << "no way to make a directory unreadable here";

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(jsonLines(run.out).size(), 3u) << run.out;
    for (const auto& d : {locked, closed})
        EXPECT_NE(run.err.find("orvix-screen: " + d.string() + ": Permission denied\n"), std::string::npos) << run.err;
}

TEST_F(CliTest, TextAndCsvKeepConsoleLinesOffStandardOutput) {
    auto text = runScreen(q(dir_ / "batch" / "bright.png"));
    ASSERT_EQ(text.status, 0);
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 1);
    EXPECT_NE(text.out.find("\tX-Ray "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\tNEGATIVE"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("=================="), std::string::npos);

    auto csv = runScreen("--csv --console " + q(dir_ / "batch"));
    ASSERT_EQ(csv.status, 0);
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 4);  // header + 3
    EXPECT_NE(csv.out.find((dir_ / "batch" / "sub" / "red photo.png").string() + ",red photo.png,ok,other,"),
              std::string::npos)
        << csv.out;
    EXPECT_NE(csv.err.find("=================="), std::string::npos) << "--console shows the block on stderr";
}

TEST_F(CliTest, ReportsAndHeatmapsMirrorTheFoldersAndNoneReplacesAnother) {
    // The same file name in two folders: each keeps its report.
    std::filesystem::create_directories(dir_ / "batch" / "sub" / "deeper");
    const auto deeper = test::writePicture(dir_ / "batch" / "sub" / "deeper" / "bright.png",
                                           test::solid(40, 40, cv::Scalar(20, 20, 20)));
    const auto reports = dir_ / "reports", heatmaps = dir_ / "heatmaps";
    auto run = runScreen("--reports " + q(reports) + " --heatmaps=" + q(heatmaps) + " " + q(dir_ / "batch"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string report = test::readBytes(reports / "sub" / "output_red photo.png.txt");
    EXPECT_EQ(report.rfind("Tested File Name: red photo.png\nTested Disease: Pneumonia\n", 0), 0u);
    EXPECT_NE(report.find("Test Result: NOT A CHEST X-RAY\n"), std::string::npos) << report;
    // A heatmap for each chest X-ray: the picture's size with the colour scale under it; none for the photo.
    for (const auto& chest : {heatmaps / "heatmap_bright.png.png", heatmaps / "sub" / "heatmap_dark.jpg.png",
                              heatmaps / "sub" / "deeper" / "heatmap_bright.png.png"}) {
        const cv::Mat shown = cv::imread(chest.string(), cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(shown.empty()) << chest;
        EXPECT_EQ(shown.cols, 40);
        EXPECT_GT(shown.rows, 40);
    }
    EXPECT_FALSE(std::filesystem::exists(heatmaps / "sub" / "heatmap_red photo.png.png"));
    EXPECT_TRUE(std::filesystem::exists(reports / "sub" / "output_dark.jpg.txt"));
    EXPECT_NE(test::readBytes(reports / "output_bright.png.txt").find("Test Result: NEGATIVE"), std::string::npos);
    EXPECT_NE(test::readBytes(reports / "sub" / "deeper" / "output_bright.png.txt").find("Test Result: POSITIVE"),
              std::string::npos);

    // Named files are reported as the window's Save names them; the second of one name is kept beside the
    // first, and a run again replaces each picture's own report rather than adding more.
    const auto flat = dir_ / "flat";
    const auto first = dir_ / "batch" / "bright.png";
    for (int times = 0; times < 2; ++times) {
        run = runScreen("--reports " + q(flat) + " " + q(first) + " " + q(deeper));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
        EXPECT_NE(test::readBytes(flat / "output_bright.png.txt").find("Test Result: NEGATIVE"), std::string::npos);
        EXPECT_NE(test::readBytes(flat / "output_bright.png (2).txt").find("Test Result: POSITIVE"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(flat / "output_bright.png (3).txt"));
    }
}

// A stopped run resumed, four shards, and several pictures at once: each gives the one-at-a-time
// run's rows, in its order, once each, with the same probabilities.
TEST_F(CliTest, ResumedShardedAndParallelRunsAreTheWholeRun) {
    for (int i = 0; i < 12; ++i)
        test::writePicture(dir_ / "batch" / "sub" / ("p" + std::to_string(i) + ".png"),
                           test::solid(40, 40, cv::Scalar(20 * i, 20 * i, 20 * i)));
    const auto rowsByPath = [](const std::string& lines) {
        std::map<std::string, std::string> rows;
        for (const auto& j : jsonLines(lines)) EXPECT_TRUE(rows.emplace(j["path"], j.dump()).second) << j["path"];
        return rows;
    };
    const auto whole = runScreen("--json --jobs 1 " + q(dir_ / "batch"));
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(runScreen("--json --jobs 3 " + q(dir_ / "batch")).out, whole.out);
    EXPECT_NE(whole.err.find("15 analysed (8 positive, 6 negative, 1 not a chest X-ray), 0 refused"), std::string::npos)
        << whole.err;

    // Stopped after four rows, in the middle of writing the fifth.
    const auto file = dir_ / "run.jsonl";
    std::istringstream in(whole.out);
    std::string stopped, line;
    for (int i = 0; i < 4 && std::getline(in, line); ++i) stopped += line + '\n';
    std::getline(in, line);
    test::writeBytes(file, stopped + line.substr(0, line.size() / 2));
    const auto resumed = runScreen("--json --resume " + q(file) + " " + q(dir_ / "batch"));
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(jsonLines(resumed.out).size(), 11u);
    EXPECT_NE(resumed.err.find(", 4 answered before"), std::string::npos) << resumed.err;
    EXPECT_EQ(rowsByPath(test::readBytes(file)), rowsByPath(whole.out));

    std::string shards;
    for (int k = 0; k < 4; ++k) {
        const auto part = runScreen("--json --jobs 2 --shard " + std::to_string(k) + "/4 " + q(dir_ / "batch"));
        ASSERT_EQ(part.status, 0) << part.err;
        EXPECT_LT(jsonLines(part.out).size(), 15u) << "shard " << k << " is not a part";
        shards += part.out;
    }
    EXPECT_EQ(rowsByPath(shards), rowsByPath(whole.out));
    for (const char* wrong : {"--shard 4/4", "--shard 1", "--jobs 0"})
        EXPECT_EQ(runScreen(std::string(wrong) + " " + q(dir_ / "batch")).status, 2) << wrong;
}

// A file given to --resume by mistake is refused before anything is written to it.
TEST_F(CliTest, ResumeRefusesAFileThatIsNotItsOwnAndLeavesItWhole) {
    const std::string row = jsonLines(runScreen("--json " + q(dir_ / "batch" / "bright.png")).out).at(0).dump();
    const std::string png(reinterpret_cast<const char*>(test::encode(".png", test::solid(8, 8, {})).data()), 60);
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"picture.png", png},
             {"table.csv", "path,status\n/data/a.png,ok\n/data/b"},
             {"notes.txt", "no line feed at all"},
             {"rows then text.jsonl", row + "\n" + row + "\nand then words"},
             {"rows then an object.jsonl", row + "\n{\"path\":\"/data/a.png\"} more"}}) {
        const auto file = dir_ / name;
        test::writeBytes(file, bytes);
        const auto run = runScreen("--json --resume " + q(file) + " " + q(dir_ / "batch"));
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_EQ(run.out, "") << name;
        EXPECT_NE(run.err.find("orvix-screen: " + file.string()), std::string::npos) << run.err;
        EXPECT_TRUE(test::readBytes(file) == bytes) << name << " was changed";
    }
}

// A second run on a resume file that a run holds would record every picture again.
TEST_F(CliTest, ResumeFileInUseIsRefused) {
    const auto file = dir_ / "run.jsonl";
    test::writeBytes(file, "");
    const int held = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const auto run = runScreen("--json --resume " + q(file) + " " + q(dir_ / "batch"));
    ::close(held);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(file.string() + " is in use by another orvix-screen run"), std::string::npos) << run.err;
    EXPECT_EQ(test::readBytes(file), "");
    EXPECT_EQ(runScreen("--json --resume " + q(file) + " " + q(dir_ / "batch")).status, 0) << "once it is free";
}

// Results to a full disk: named, and the exit status says so; nothing after the first failed
// write is recorded as answered.
TEST_F(CliTest, AStandardOutputThatCannotBeWrittenFailsTheRun) {
    const std::string toFull = "sh -c 'exec \"$0\" \"$@\" >/dev/full' ";
    const auto file = dir_ / "run.jsonl";
    for (const std::string& args : {std::string("--version"), "--json --resume " + q(file) + " " + q(dir_ / "batch"),
                                    "--csv " + q(dir_ / "batch"), q(dir_ / "batch")}) {
        const auto run = runScreen(args, test::fixtureModels(), ORVIX_SCREEN_BINARY, toFull);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_NE(run.err.find("orvix-screen: cannot write to standard output: No space left on device\n"),
                  std::string::npos)
            << args << "\n"
            << run.err;
    }
    EXPECT_EQ(test::readBytes(file), "");
}

// A picture whose report or heatmap could not be written is not answered: once the fault is
// gone, the resumed run writes them.
TEST_F(CliTest, APictureIsAnsweredOnlyWhenItsReportAndHeatmapAreWritten) {
    const auto reports = dir_ / "reports", heatmaps = dir_ / "heatmaps", file = dir_ / "run.jsonl";
    std::filesystem::create_directories(heatmaps);
    test::writeBytes(heatmaps / "sub", "a file where the folder would go");
    const std::string args = "--json --resume " + q(file) + " --reports " + q(reports) + " --heatmaps " + q(heatmaps) +
                             " " + q(dir_ / "batch");
    auto run = runScreen(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(jsonLines(run.out).size(), 3u);
    EXPECT_NE(run.err.find("cannot create " + (heatmaps / "sub").string()), std::string::npos) << run.err;
    EXPECT_EQ(jsonLines(test::readBytes(file)).size(), 2u) << "bright.png, and the photo, which has no heatmap";

    std::filesystem::remove(heatmaps / "sub");
    run = runScreen(args);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(jsonLines(run.out).size(), 1u);
    EXPECT_EQ(jsonLines(run.out)[0]["fileName"], "dark.jpg");
    EXPECT_NE(run.err.find(", 2 answered before"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::exists(heatmaps / "sub" / "heatmap_dark.jpg.png"));
    EXPECT_TRUE(std::filesystem::exists(reports / "sub" / "output_dark.jpg.txt"));
}

// The reports that a stopped run wrote stay its pictures' after the resume: another picture of
// the same name gets the next name.
TEST_F(CliTest, AResumedRunReplacesNoReportOfTheRunsBefore) {
    const auto flat = dir_ / "flat", file = dir_ / "run.jsonl";
    const auto first = dir_ / "batch" / "bright.png";
    const auto other = test::writePicture(dir_ / "batch" / "sub" / "bright.png", test::solid(40, 40, {20, 20, 20}));
    auto run = runScreen("--json --resume " + q(file) + " --reports " + q(flat) + " " + q(first));
    ASSERT_EQ(run.status, 0) << run.err;
    run = runScreen("--json --resume " + q(file) + " --reports " + q(flat) + " " + q(first) + " " + q(other));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(test::readBytes(flat / "output_bright.png.txt").find("Test Result: NEGATIVE"), std::string::npos);
    EXPECT_NE(test::readBytes(flat / "output_bright.png (2).txt").find("Test Result: POSITIVE"), std::string::npos);
    const auto lines = jsonLines(test::readBytes(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["report"], std::filesystem::absolute(flat / "output_bright.png (2).txt").string());
}

// File names that are not UTF-8, or that hold a line feed, keep a row each, and the resume
// tells them apart.
TEST_F(CliTest, OddFileNamesKeepTheirOwnRows) {
    const auto odd = dir_ / "odd";
    std::filesystem::create_directories(odd);
    for (const char* name : {"x\xff.png", "x\xfe.png", "two\nlines.png"})
        test::writePicture(odd / name, test::solid(40, 40, {220, 220, 220}));
    auto text = runScreen(q(odd));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 3) << text.out;
    EXPECT_NE(text.out.find((odd / "two\\x0Alines.png\t").string()), std::string::npos) << text.out;

    const auto file = dir_ / "run.jsonl";
    auto run = runScreen("--json --resume " + q(file) + " " + q(odd / "x\xff.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(jsonLines(run.out).at(0)["path"], (odd / "x\\xFF.png").string());
    run = runScreen("--json --resume " + q(file) + " " + q(odd));
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> paths;
    for (const auto& j : jsonLines(run.out)) paths.push_back(j["path"]);
    EXPECT_EQ(paths, (std::vector<std::string>{(odd / "two\nlines.png").string(), (odd / "x\\xFE.png").string()}));
    EXPECT_NE(run.err.find(", 1 answered before"), std::string::npos) << run.err;
}

// A folder whose path is longer than the system allows is named, not skipped without a word.
TEST_F(CliTest, AFolderTooDeepToReachIsAnError) {
    const auto deep = dir_ / "deep";
    std::filesystem::create_directories(deep);
    // 25 folders of 200 letters: past PATH_MAX (4096), made one step at a time from the last.
    const std::string name(200, 'd'), picture = test::readBytes(dir_ / "batch" / "bright.png");
    int fd = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < 25 && fd >= 0; ++i) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
        const int inner = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = inner;
    }
    ASSERT_GE(fd, 0);
    const int out = ::openat(fd, "bright.png", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ::close(fd);
    ASSERT_GE(out, 0);
    ASSERT_EQ(::write(out, picture.data(), picture.size()), static_cast<ssize_t>(picture.size()));
    ::close(out);
    const auto run = runScreen("--json " + q(deep));
    std::system(("rm -rf " + q(deep)).c_str());  // std::filesystem::remove_all cannot go that deep
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("File name too long\n"), std::string::npos) << run.err;
}

// Under a file-size limit the run goes on and names the files it could not write; it is not
// ended by the signal, and leaves no part of a file behind.
TEST_F(CliTest, AFileSizeLimitIsAWriteErrorLikeAnyOther) {
    cv::Mat grey(400, 400, CV_8UC1), noise;
    cv::randu(grey, cv::Scalar(180), cv::Scalar(255));
    cv::merge(std::vector<cv::Mat>{grey, grey, grey}, noise);
    const auto big = test::writePicture(dir_ / "noisy.png", noise);
    const auto heatmaps = dir_ / "heatmaps";
    // dash counts the limit in 512-byte blocks: 32 KiB, past the heatmap of a noisy picture.
    const std::string limited = "sh -c 'ulimit -f 64 && exec \"$0\" \"$@\"' ";
    auto run = runScreen("--json --heatmaps " + q(heatmaps) + " " + q(big), test::fixtureModels(), ORVIX_SCREEN_BINARY,
                         limited);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(jsonLines(run.out).size(), 1u);
    EXPECT_NE(run.err.find("heatmap_noisy.png.png: File too large"), std::string::npos) << run.err;
    for (const auto& entry : std::filesystem::directory_iterator(heatmaps)) ADD_FAILURE() << entry.path();

    // The resume file at the limit: its next line cannot be appended, and the run says why.
    const auto file = dir_ / "run.jsonl";
    std::string rows;
    while (rows.size() < 64 * 512 - 100)
        rows += R"({"path":"/elsewhere/a.png","status":"ok"})"
                "\n";
    test::writeBytes(file, rows);
    run = runScreen("--json --resume " + q(file) + " " + q(dir_ / "batch"), test::fixtureModels(), ORVIX_SCREEN_BINARY,
                    limited);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot append to " + file.string() + ": File too large\n"), std::string::npos) << run.err;
    EXPECT_EQ(test::readBytes(file), rows);
}

// A refused picture is tried again once its file changed; our own output folders inside the
// input are not screened on the next run.
TEST_F(CliTest, ResumeRetriesChangedRefusedPicturesAndSkipsItsOwnOutput) {
    const auto broken = dir_ / "batch" / "broken.png", absent = dir_ / "absent.png", file = dir_ / "run.jsonl";
    test::writeBytes(broken, "not a png");
    const std::string args = "--json --resume " + q(file) + " --reports " + q(dir_ / "batch" / "reports") +
                             " --heatmaps " + q(dir_ / "batch" / "heatmaps") + " " + q(dir_ / "batch") + " " +
                             q(absent);
    auto run = runScreen(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(jsonLines(run.out).size(), 5u);
    run = runScreen(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "") << "unchanged, and the heatmaps are no input";
    EXPECT_NE(run.err.find(", 5 answered before"), std::string::npos) << run.err;

    test::writePicture(broken, test::solid(40, 40, {220, 220, 220}));
    std::filesystem::copy_file(broken, absent);
    run = runScreen(args);
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    for (const auto& j : lines) EXPECT_EQ(j["status"], "ok") << j;

    // Without --resume too.
    run = runScreen("--json --heatmaps " + q(dir_ / "batch" / "heatmaps") + " " + q(dir_ / "batch"));
    EXPECT_EQ(jsonLines(run.out).size(), 4u) << run.out;
}

}  // namespace
}  // namespace orvix

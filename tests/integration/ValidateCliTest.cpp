// orvix-screen --validate and --operating-point, run as a program on generated films with the
// fixture models (the darker a grey film, the higher its P(PNEUMONIA)).

#include <sys/wait.h>

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TestSupport.h"

namespace orvix {
namespace {

using nlohmann::json;

struct Run {
    int status = -1;
    std::string out, err;
};

std::string q(const std::filesystem::path& p) {
    std::string out = "'";
    for (char c : p.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

Run screen(const std::string& args, const std::string& environment = "") {
    test::TempDir tmp;
    const std::string cmd = "ORVIX_MODEL_DIR=" + q(test::fixtureModels()) + " XDG_CONFIG_HOME=" + q(tmp / "none") +
                            " " + environment + " " + q(ORVIX_SCREEN_BINARY) + " " + args + " >" + q(tmp / "out") +
                            " 2>" + q(tmp / "err");
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::readBytes(tmp / "out"), test::readBytes(tmp / "err")};
}

cv::Mat grey(int level) { return test::solid(40, 40, cv::Scalar(level, level, level)); }

class ValidateCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"site/NORMAL", "PNEUMONIA", "unsorted"})
            std::filesystem::create_directories(films() / folder);
        // Overlapping labels, so that neither threshold separates them.
        for (int level = 90; level < 200; level += 10)
            test::writePicture(films() / "site" / "NORMAL" / ("n" + std::to_string(level) + ".png"), grey(level));
        for (int level = 60; level < 150; level += 10)
            test::writePicture(films() / "PNEUMONIA" / ("p" + std::to_string(level) + ".png"), grey(level));
        test::writePicture(films() / "PNEUMONIA" / "red.png", test::solid(40, 40, cv::Scalar(0, 0, 200)));
        test::writeBytes(films() / "PNEUMONIA" / "broken.png", "\x89PNG\r\n\x1a\ncut");
        test::writePicture(films() / "unsorted" / "u.png", grey(120));
    }
    std::filesystem::path films() const { return dir_ / "films"; }
    test::TempDir dir_;
};

TEST_F(ValidateCliTest, FiguresMatchTheRowsAndTheSavedPointDecidesEveryVerdictForItsModelsOnly) {
    const auto plots = dir_ / "plots", point = dir_ / "point.json";
    auto run = screen("--validate " + q(films()) + " --json --plots " + q(plots) + " --save-operating-point " +
                      q(point) + " --target-sensitivity 0.9");
    EXPECT_EQ(run.status, 1) << run.err;  // the broken film
    const json v = json::parse(run.out);
    EXPECT_EQ(v["films"]["NORMAL"], 11);
    EXPECT_EQ(v["films"]["PNEUMONIA"], 9);
    EXPECT_EQ(v["films"]["notChestXRay"].size(), 1u);
    EXPECT_EQ(v["films"]["unreadable"].size(), 1u);
    EXPECT_EQ(v["films"]["unlabelled"].size(), 1u);
    EXPECT_NE(run.err.find("broken.png"), std::string::npos);
    EXPECT_NE(v["warnings"][0].get<std::string>().find("too few films"), std::string::npos);
    for (const char* name : {"roc.png", "reliability.png", "histogram.png"})
        EXPECT_EQ(test::readBytes(plots / name).substr(1, 3), "PNG") << name;

    // The same films screened one by one: AUC over every pair and the threshold by trying each.
    std::vector<std::pair<double, bool>> scored;
    for (const char* label : {"site/NORMAL", "PNEUMONIA"}) {
        auto rows = screen("--json " + q(films() / label));
        std::istringstream lines(rows.out);
        for (std::string line; std::getline(lines, line);) {
            const json row = json::parse(line);
            if (row["isChestXRay"] == true)
                scored.emplace_back(row["disease"]["probabilities"]["PNEUMONIA"].get<double>(),
                                    std::string(label) == "PNEUMONIA");
        }
    }
    double wins = 0, pairs = 0, threshold = -1;
    for (const auto& [p, positive] : scored)
        for (const auto& [n, negative] : scored)
            if (positive && !negative) pairs += 1, wins += p > n ? 1.0 : p == n ? 0.5 : 0.0;
    for (const auto& [t, unused] : scored) {
        double called = 0;
        for (const auto& [p, positive] : scored) called += positive && p >= t;
        if (called / 9.0 >= 0.9) threshold = std::max(threshold, t);
    }
    EXPECT_NEAR(v["auc"]["value"].get<double>(), wins / pairs, 1e-9);
    EXPECT_NEAR(v["localThreshold"]["threshold"].get<double>(), threshold, 1e-9);

    // The same bootstrap on a second run.
    auto again = screen("--validate " + q(films()) + " --json --target-sensitivity 0.9");
    EXPECT_EQ(json::parse(again.out)["auc"], v["auc"]);

    // Each verdict is P(PNEUMONIA) >= the saved threshold, and says so; found in the user's configuration too.
    const double saved = json::parse(test::readBytes(point))["threshold"].get<double>();
    EXPECT_NEAR(saved, threshold, 1e-12);
    std::filesystem::create_directories(dir_ / "config" / "orvix");
    std::filesystem::copy_file(point, dir_ / "config" / "orvix" / "operating-point.json");
    for (const auto& [args, environment] :
         {std::pair{"--json --operating-point " + q(point) + " " + q(films()), std::string()},
          {"--json " + q(films()), "XDG_CONFIG_HOME=" + q(dir_ / "config")}}) {
        auto rows = screen(args, environment);
        std::istringstream lines(rows.out);
        std::size_t decided = 0;
        for (std::string line; std::getline(lines, line);) {
            const json row = json::parse(line);
            if (row["isChestXRay"] != true) continue;
            const bool positive = row["disease"]["probabilities"]["PNEUMONIA"].get<double>() >= saved;
            EXPECT_EQ(row["result"], positive ? "POSITIVE" : "NEGATIVE") << line;
            EXPECT_EQ(row["operatingPoint"].get<std::string>().rfind("local threshold ", 0), 0u) << line;
            ++decided;
        }
        EXPECT_EQ(decided, 21u) << environment;
    }

    // A point saved for other models is refused.
    json other = json::parse(test::readBytes(point));
    other["models"]["gate"]["sha256"] = std::string(64, '0');
    test::writeBytes(point, other.dump());
    auto refused = screen("--operating-point " + q(point) + " " + q(films()));
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.out.empty());
    EXPECT_NE(refused.err.find("validated with other models"), std::string::npos) << refused.err;
}

TEST_F(ValidateCliTest, BadInputExitsTwoAndWritesNothing) {
    std::filesystem::create_directories(dir_ / "empty");
    test::writeBytes(dir_ / "unknown.csv", "path,label\nsite/NORMAL/n90.png,SICK\n");
    test::writeBytes(dir_ / "outside.csv", "site/NORMAL/n90.png,NORMAL\n../elsewhere.png,PNEUMONIA\n");
    test::writeBytes(dir_ / "normals.csv", "site/NORMAL/n90.png,NORMAL\n");
    for (const auto& [input, extra, reason] :
         {std::tuple{dir_ / "empty", std::string(), "both labels"},
          {films() / "site", std::string(), "0 PNEUMONIA"},
          {dir_ / "missing", std::string(), "not a directory"},
          {films(), "--labels " + q(dir_ / "unknown.csv"), "unknown label \"SICK\""},
          {films(), "--labels " + q(dir_ / "outside.csv"), "not a path inside"},
          {films(), "--labels " + q(dir_ / "normals.csv"), "both labels"},
          {films(), "--labels " + q(dir_ / "absent.csv"), "cannot read the labels"}}) {
        auto run = screen("--validate " + q(input) + " " + extra + " --plots " + q(dir_ / "plots") +
                          " --save-operating-point " + q(dir_ / "point.json"));
        EXPECT_EQ(run.status, 2) << reason;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << reason;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "plots")) << reason;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "point.json")) << reason;
    }
    for (const char* wrong : {"--validate d x.png", "--validate d --csv", "--labels l.csv x.png",
                              "--validate d --operating-point p.json", "--target-sensitivity 1.5 --validate d"})
        EXPECT_EQ(screen(wrong).status, 2) << wrong;
}

}  // namespace
}  // namespace orvix

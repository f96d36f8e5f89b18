#include <sstream>

#include <gtest/gtest.h>

#include "DicomWriter.h"
#include "TestSupport.h"
#include "orvix/Digest.h"
#include "orvix/Console.h"
#include "orvix/FileUrl.h"
#include "orvix/ImportRun.h"
#include "orvix/Report.h"
#include "orvix/SickClassifier1.h"
#include "orvix/XRayClassifier1.h"

namespace orvix {
namespace {

class ImportRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        setConsoleStream(&console_);
        setDiagnosticStream(&diagnostics_);
    }
    void TearDown() override {
        setConsoleStream(&std::cout);
        setDiagnosticStream(&std::cerr);
    }

    test::TempDir dir_;
    DiagnosisState state_ = test::fixtureState();
    std::ostringstream console_;
    std::ostringstream diagnostics_;
};

TEST_F(ImportRunTest, ImporterFailurePrintsOneLineAndChangesNothing) {
    state_.showAlert = true;
    auto result = importImage(ImporterOutcome::failure("cancelled"), state_);
    EXPECT_EQ(result.status, ImportStatus::ImporterFailed);
    EXPECT_EQ(console_.str(), "Error happend\n");
    EXPECT_TRUE(state_.showAlert.get());
    EXPECT_EQ(state_.fileName.get(), "");
}

TEST_F(ImportRunTest, WritesTheFieldsInOrderAndKeepsTheNameAsOnDisk) {
    const auto file =
        test::writePicture(dir_ / "Röntgen Aufnahme 1.png", test::solid(64, 48, cv::Scalar(220, 220, 220)));
    std::vector<std::string> writes;
    auto log = [&writes](const char* name) { return [&writes, name](const auto&) { writes.push_back(name); }; };
    state_.fileName.observe(log("fileName"));
    state_.img.observe(log("img"));
    state_.classificationLabel2.observe(log("classificationLabel2"));
    state_.accuracy.observe(log("accuracy"));
    state_.classificationLabel.observe(log("classificationLabel"));
    state_.fullText.observe(log("fullText"));
    state_.showAlert.observe(log("showAlert"));

    auto result = importImage(ImporterOutcome::success(file), state_);
    ASSERT_EQ(result.status, ImportStatus::Analysed);
    EXPECT_EQ(writes, (std::vector<std::string>{"fileName", "img", "classificationLabel2", "accuracy",
                                                "classificationLabel", "fullText", "showAlert"}));
    EXPECT_EQ(state_.fileName.get(), "Röntgen Aufnahme 1.png");
    EXPECT_EQ(state_.img.get().pixelWidth(), 64);
    EXPECT_EQ(state_.classificationLabel2.get(), "X-Ray");
    EXPECT_EQ(state_.classificationLabel.get(), "NORMAL");
    EXPECT_EQ(state_.fullText.get().rfind("Tested File Name: Röntgen Aufnahme 1.png\nTested Disease: Pneumonia\n", 0),
              0u);
    EXPECT_NE(state_.fullText.get().find("Test Result: NEGATIVE\nAccuracy: "), std::string::npos);
    EXPECT_NE(state_.fullText.get().find(
                  diseaseAnswerLine(diseaseAnswer(state_.model->model.metadata(), state_.diseaseProbability)) +
                  "\nAdditional Info:"),
              std::string::npos);

    const std::string console = console_.str();  // the URL, then the disease stage's block (ClassificationTest)
    EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 6);
    EXPECT_EQ(console.rfind(fileURLString(file) + "\n", 0), 0u);
    EXPECT_EQ(diagnostics_.str(), "");
}

// The batch tool prepares a picture once for both stages: its answers are the window's, to the bit.
TEST_F(ImportRunTest, OnePreparationForBothStagesGivesTheSameAnswers) {
    const std::filesystem::path shipped = ORVIX_SHIPPED_MODELS;
    auto state = [&] {
        return DiagnosisState(SickClassifier1::create(shipped / "SickClassifier1.mlmodelc").value(),
                              XRayClassifier1::create(shipped / "XRayClassifier1.mlmodelc").value());
    };
    DiagnosisState perStage = state(), shared = state();
    for (const char* name : {"chest-normal-2mp.jpeg", "chest-pneumonia-bacteria.jpeg"}) {
        const auto file = test::fixtures() / "pictures" / name;
        ASSERT_EQ(importImage(ImporterOutcome::success(file), perStage).status, ImportStatus::Analysed);
        ASSERT_EQ(importImage(ImporterOutcome::success(file), shared, Preparation::Shared).status,
                  ImportStatus::Analysed);
        EXPECT_EQ(shared.accuracy.get(), perStage.accuracy.get()) << name;
        EXPECT_EQ(shared.diseaseProbability.get(), perStage.diseaseProbability.get()) << name;
        EXPECT_EQ(shared.classificationLabel.get(), perStage.classificationLabel.get()) << name;
        EXPECT_EQ(cv::norm(shared.activationMap.get().logOdds, perStage.activationMap.get().logOdds, cv::NORM_INF), 0)
            << name;
    }
}

TEST_F(ImportRunTest, AStageThatFailsGivesNoLabelOfItsOwnForThisPicture) {
    // The gate loads but its prediction overflows on any picture that is not mid-grey.
    auto gate = XRayClassifier1::create(test::fixtureModels() / "unstable" / "XRayClassifier1.mlmodelc");
    ASSERT_TRUE(gate) << gate.error().message;
    DiagnosisState state(state_.model, gate.value());
    state.classificationLabel2 = "X-Ray";  // as an earlier picture left it
    const auto file = test::writePicture(dir_ / "bright.png", test::solid(32, 32, cv::Scalar(240, 240, 240)));

    // The result's statuses and stages: CliTest.
    EXPECT_FALSE(importImage(ImporterOutcome::success(file), state).gate);
    EXPECT_EQ(state.fileName.get(), "bright.png");
    EXPECT_EQ(state.classificationLabel2.get(), "X-Ray");  // the stage that stopped wrote nothing
    const std::string diag = diagnostics_.str();
    EXPECT_EQ(std::count(diag.begin(), diag.end(), '\n'), 1);
    EXPECT_NE(diag.find("bright.png: not classified (XRayClassifier1: prediction gave no valid probabilities)"),
              std::string::npos)
        << diag;
}

// The picture's origin follows the picture: a DICOM picture's patient fills the report's name line,
// the next picture's origin replaces it, and a file that is not decoded leaves it as it was.
TEST_F(ImportRunTest, TheOriginAndThePatientLineFollowThePicture) {
    test::DicomSpec spec{.width = 8, .height = 8, .text = {{0x0010, 0x0010, "Doe^John"}, {0x0010, 0x0020, "12345"}}};
    spec.samples.assign(64, 200);
    test::writeDicom(dir_ / "IM0001", spec);
    const auto png = test::writePicture(dir_ / "plain.png", test::solid(8, 8, {200, 200, 200}));
    test::writeBytes(dir_ / "broken.png", test::readBytes(png).substr(0, 40));

    ASSERT_EQ(importImage(ImporterOutcome::success(dir_ / "IM0001"), state_).status, ImportStatus::Analysed);
    const PictureOrigin dicom = state_.origin;
    EXPECT_EQ(dicom.path, dir_ / "IM0001");
    EXPECT_EQ(dicom.sha256, sha256Hex(test::readBytes(dir_ / "IM0001")));
    ASSERT_TRUE(dicom.dicom.has_value());
    EXPECT_EQ(dicom.dicom->patientId, "12345");
    EXPECT_NE(state_.fullText.get().find("\nPatient's Name: Doe, John\nTest Result: "), std::string::npos)
        << state_.fullText.get();

    ASSERT_EQ(importImage(ImporterOutcome::success(png), state_).status, ImportStatus::Analysed);
    EXPECT_EQ(state_.origin.get().path, png);
    EXPECT_FALSE(state_.origin.get().dicom.has_value());
    EXPECT_NE(state_.fullText.get().find("\nPatient's Name:\nTest Result: "), std::string::npos)
        << state_.fullText.get();

    ASSERT_EQ(importImage(ImporterOutcome::success(dir_ / "broken.png"), state_).status, ImportStatus::Undecodable);
    EXPECT_EQ(state_.origin.get().path, png);
    EXPECT_EQ(state_.fileName.get(), "plain.png");
}

TEST(FileUrl, PercentEncodesWhatAPathCannotHoldAndKeepsTheLastComponent) {
    const std::pair<std::string, std::string> cases[] = {
        {"/home/ana/My Scan.png", "file:///home/ana/My%20Scan.png"},
        {"/a/b/../c#1?.png", "file:///a/c%231%3F.png"},
        {"/x/a (b)+c,d@e=f;g&h!'.jpeg", "file:///x/a%20(b)+c,d@e=f;g&h!'.jpeg"},
        {"/x/$*:~_-.dcm", "file:///x/$*:~_-.dcm"},
        {"/x/100%[1]{2}|^`\\\"<>.png", "file:///x/100%25%5B1%5D%7B2%7D%7C%5E%60%5C%22%3C%3E.png"},
        {"/x/\xC3\x96\xFF\t.png", "file:///x/%C3%96%FF%09.png"},
    };
    for (const auto& [path, url] : cases) EXPECT_EQ(fileURLString(path), url) << path;
    EXPECT_EQ(lastPathComponent("/x/scan.png"), "scan.png");
    EXPECT_EQ(lastPathComponent("chest.jpeg"), "chest.jpeg");
}

}  // namespace
}  // namespace orvix

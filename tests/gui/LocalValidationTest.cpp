// Tools > Validate on Local Films and the operating point it adopts, in the window, over generated
// films and the fixture models (the darker a grey film, the higher its P(PNEUMONIA)).

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <nlohmann/json.hpp>

#include "ContentView.h"
#include "LocalOperatingPoint.h"
#include "MainWindow.h"
#include "TestSupport.h"
#include "ValidationDialog.h"
#include "orvix/OperatingPoint.h"

using namespace orvix;
using namespace orvix::app;

namespace {

cv::Mat grey(int level) { return test::solid(40, 40, cv::Scalar::all(level)); }

// Overlapping labels, so that the local threshold differs from the model's.
void writeFilms(const std::filesystem::path& dir) {
    for (const char* label : {"NORMAL", "PNEUMONIA"}) std::filesystem::create_directories(dir / label);
    for (int level = 90; level < 200; level += 10)
        test::writePicture(dir / "NORMAL" / ("n" + std::to_string(level) + ".png"), grey(level));
    for (int level = 60; level < 150; level += 10)
        test::writePicture(dir / "PNEUMONIA" / ("p" + std::to_string(level) + ".png"), grey(level));
    test::writePicture(dir / "PNEUMONIA" / "red.png", test::solid(40, 40, {0, 0, 200}));
}

bool waitFor(ValidationDialog& dialog) {
    QSignalSpy finished(&dialog, &ValidationDialog::finished);
    return finished.wait(60000);
}

}  // namespace

class LocalValidationTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { setActiveOperatingPoint(std::nullopt); }

    void adoptedPointDecidesEveryVerdictAndRevertRestoresTheModels() {
        test::TempDir dir;
        writeFilms(dir / "films");
        const test::ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
        const auto userFile = dir / "config" / "orvix" / "operating-point.json";
        MainWindow window(test::fixtureState());
        DiagnosisState& s = window.contentView()->state();
        const double shipped = s.model->model.metadata().threshold;

        // A film between the two thresholds, on screen while the point changes.
        const auto film = test::writePicture(dir / "between.png", grey(140));
        QVERIFY(window.contentView()->importFile(film));
        const double p = s.diseaseProbability.get();

        ValidationDialog* dialog = window.validateOnLocalFilms(dir / "films");
        QVERIFY(waitFor(*dialog));
        QVERIFY2(dialog->validation(), qPrintable(dialog->messageText()));
        const auto& v = *dialog->validation();
        QCOMPARE(v.report.negatives + v.report.positives, std::size_t{20});
        QCOMPARE(v.notChest.size(), std::size_t{1});  // the red picture is listed, not dropped
        QCOMPARE(dialog->plots()->count(), 3);
        const double local = v.point.threshold;
        QVERIFY2((p >= local) != (p >= shipped), "the film on screen must lie between the two thresholds");
        QVERIFY(dialog->useButton()->isEnabled());

        dialog->useButton()->click();
        QCOMPARE(nlohmann::json::parse(test::readBytes(userFile))["threshold"].get<double>(), local);
        QVERIFY(activeOperatingPoint());
        // The picture on screen is decided again, and every place that shows the verdict names the point.
        QCOMPARE(QString::fromStdString(s.classificationLabel.get()), QString(p >= local ? "PNEUMONIA" : "NORMAL"));
        QVERIFY(s.fullText.get().find("\nOperating Point: local threshold ") != std::string::npos);
        QVERIFY(!window.contentView()->examination().findings.filter("Operating point: local threshold").isEmpty());
        // A new picture too: P >= the local threshold, whatever the model's threshold says.
        for (int level : {60, 100, 130, 150, 190}) {
            QVERIFY(window.contentView()->importFile(test::writePicture(dir / "x.png", grey(level))));
            const bool positive = s.diseaseProbability.get() >= local;
            QCOMPARE(QString::fromStdString(s.classificationLabel.get()), QString(positive ? "PNEUMONIA" : "NORMAL"));
        }

        QVERIFY(dialog->revertButton()->isEnabled());
        dialog->revertButton()->click();
        QVERIFY(!std::filesystem::exists(userFile));
        QVERIFY(!activeOperatingPoint());
        QVERIFY(window.contentView()->importFile(film));
        QCOMPARE(QString::fromStdString(s.classificationLabel.get()), QString(p >= shipped ? "PNEUMONIA" : "NORMAL"));
        QVERIFY(s.fullText.get().find("Operating Point") == std::string::npos);
    }

    void filmsThatCannotBeValidatedOfferNoPoint() {
        test::TempDir dir;
        std::filesystem::create_directories(dir / "films" / "NORMAL");
        test::writePicture(dir / "films" / "NORMAL" / "n.png", grey(150));  // one label only
        MainWindow window(test::fixtureState());
        ValidationDialog* dialog = window.validateOnLocalFilms(dir / "films");
        QVERIFY(waitFor(*dialog));
        QVERIFY(!dialog->validation());
        QVERIFY2(dialog->messageText().contains("needs films of both labels"), qPrintable(dialog->messageText()));
        QVERIFY(!dialog->useButton()->isEnabled());
    }

    void configuredPointForOtherModelsIsNotUsedAndSaysWhy() {
        test::TempDir dir;
        const DiagnosisState state = test::fixtureState();
        OperatingPoint point;
        point.threshold = 0.7;
        point.date = "2026-12-07";
        point.diseaseModel = state.model->model.metadata().name;
        point.diseaseSha256 = std::string(64, '0');
        point.gateModel = state.model2->model.metadata().name;
        point.gateSha256 = state.model2->model.metadata().sha256;
        std::filesystem::create_directories(dir / "orvix");
        test::writeBytes(dir / "orvix" / "operating-point.json", operatingPointJson(point));
        const auto problem =
            loadConfiguredOperatingPoint(state, test::environment({{"XDG_CONFIG_HOME", dir.path().string()}}));
        QVERIFY(problem && problem->contains("other models"));
        QVERIFY(!activeOperatingPoint());
        point.diseaseSha256 = state.model->model.metadata().sha256;
        test::writeBytes(dir / "orvix" / "operating-point.json", operatingPointJson(point));
        QVERIFY(!loadConfiguredOperatingPoint(state, test::environment({{"XDG_CONFIG_HOME", dir.path().string()}})));
        QCOMPARE(activeOperatingPoint()->threshold, 0.7);
    }
};

QTEST_MAIN(LocalValidationTest)
#include "LocalValidationTest.moc"

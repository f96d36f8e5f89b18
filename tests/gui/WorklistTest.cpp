// The worklist over generated pictures, analysed by its worker thread with the fixture models
// (ORVIX_MODEL_DIR, set by the test's environment): bright = NORMAL, dark = PNEUMONIA, red = not an X-ray.

#include <sstream>

#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include "TestSupport.h"
#include "Worklist.h"
#include "orvix/Console.h"

using namespace orvix;
using orvix::app::Worklist;

namespace {

QModelIndex cell(const Worklist& list, int row, int column) { return list.table()->model()->index(row, column); }
QString text(const Worklist& list, int row, int column) { return cell(list, row, column).data().toString(); }

// Both core channels into one string, for the life of the object.
struct ConsoleCapture {
    std::ostringstream lines;
    ConsoleCapture() { setConsoleStream(&lines); setDiagnosticStream(&lines); }
    ~ConsoleCapture() { setConsoleStream(&std::cout); setDiagnosticStream(&std::cerr); }
};

}  // namespace

class WorklistTest : public QObject {
    Q_OBJECT

private slots:
    void analysesTheFoldersPicturesSortsAndSelects() {
        test::TempDir dir;
        std::filesystem::create_directories(dir / "a/b");
        // Pneumonia probabilities about 1 %, 3.6 %, 11.5 % and 99.9 %: "11.5 %" sorts before "3.6 %" as text.
        const std::vector<std::pair<std::filesystem::path, int>> greys{{dir / "a/light.png", 200},
                                                                       {dir / "a/b/grey.bmp", 180},
                                                                       {dir / "mid.png", 160},
                                                                       {dir / "a/b/dark.png", 20}};
        for (const auto& [path, grey] : greys) test::writePicture(path, test::solid(64, 64, cv::Scalar::all(grey)));
        test::writePicture(dir / "red.png", test::solid(64, 64, {0, 0, 255}));
        test::writeBytes(dir / "broken.png", "not a picture");
        test::writeBytes(dir / "notes.txt", "not listed");
        const ConsoleCapture console;  // outlives the worker thread
        Worklist list;
        QSignalSpy finished(&list, &Worklist::finished);
        list.add({dir.path()});
        QCOMPARE(list.rowCount(), 6);
        QVERIFY(list.busy());
        QVERIFY(finished.wait(60000));
        QVERIFY(!list.busy());
        QCOMPARE(list.progress()->value(), 6);
        QCOMPARE(console.lines.str(), std::string());  // the rows say it all, the console nothing

        for (const auto& [name, status, verdict, percent] :
             std::vector<std::tuple<std::string, QString, QString, bool>>{
                 {"light.png", "analysed", "NEGATIVE", true},
                 {"dark.png", "analysed", "POSITIVE", true},
                 {"red.png", "analysed", "NOT A CHEST X-RAY", false},
                 {"broken.png", "not a readable picture", "", false}}) {
            int row = 0;
            while (row < list.rowCount() && list.pathAt(row).filename() != name) ++row;
            QCOMPARE(text(list, row, Worklist::NameColumn), QString::fromStdString(name));
            QCOMPARE(text(list, row, Worklist::StatusColumn), status);
            QCOMPARE(text(list, row, Worklist::VerdictColumn), verdict);
            QCOMPARE(text(list, row, Worklist::ProbabilityColumn).endsWith(" %"), percent);
            const QString why = cell(list, row, Worklist::StatusColumn).data(Qt::ToolTipRole).toString();
            QCOMPARE(why.contains("broken.png: "), name == "broken.png");
        }

        // Ascending: the two rows without a probability first, then by value.
        list.table()->sortByColumn(Worklist::ProbabilityColumn, Qt::AscendingOrder);
        for (int row = 2; row < 6; ++row) QCOMPARE(list.pathAt(row), greys[static_cast<std::size_t>(row - 2)].first);

        // A click, then the arrow key, each select a row of the sorted table.
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy selected(&list, &Worklist::fileSelected);
        QTest::mouseClick(list.table()->viewport(), Qt::LeftButton, {},
                          list.table()->visualRect(cell(list, 3, Worklist::StatusColumn)).center());
        QTest::keyClick(list.table(), Qt::Key_Down);
        QCOMPARE(selected.size(), 2);
        QCOMPARE(selected[0][0].value<std::filesystem::path>(), greys[1].first);
        QCOMPARE(selected[1][0].value<std::filesystem::path>(), greys[2].first);
    }

    void cancelStopsAfterThePictureBeingAnalysed() {
        test::TempDir dir;
        for (int i = 0; i < 40; ++i)
            test::writePicture(dir / (std::to_string(100 + i) + ".png"), test::solid(300, 300, {40, 40, 40}));
        Worklist list;
        QSignalSpy finished(&list, &Worklist::finished);
        list.add({dir.path()});
        list.cancelButton()->click();  // while the first picture is loading the models or being analysed
        QVERIFY(finished.size() == 1 || finished.wait(60000));
        QCOMPARE(finished.size(), 1);
        QVERIFY(!list.busy() && !list.cancelButton()->isEnabled());
        int analysed = 0, cancelled = 0;
        for (int row = 0; row < list.rowCount(); ++row) {
            analysed += text(list, row, Worklist::StatusColumn) == "analysed";
            cancelled += text(list, row, Worklist::StatusColumn) == "cancelled";
        }
        // At most the picture in hand finishes (a margin for a slow scheduler); no row is left waiting.
        QVERIFY2(cancelled >= 30 && analysed + cancelled == 40, qPrintable(QString::number(analysed)));
        QCOMPARE(list.progress()->value(), analysed);

        // Destroyed while busy: waits for the picture in hand, does not hang or crash.
        auto busy = std::make_unique<Worklist>();
        busy->add({dir.path()});
        QVERIFY(busy->busy());
        busy.reset();
    }

    void aModelThatCannotBeLoadedMarksTheRows() {
        test::TempDir models;
        std::filesystem::create_directories(models / "SickClassifier1.mlmodelc");  // empty
        const test::ScopedEnv env("ORVIX_MODEL_DIR", models.path().string());
        Worklist list;
        QSignalSpy finished(&list, &Worklist::finished);
        list.add({models / "a.png", models / "b.png"});
        QVERIFY(finished.wait(60000));
        for (int row = 0; row < 2; ++row) {
            QCOMPARE(text(list, row, Worklist::StatusColumn), QString("model not loaded"));
            const QString why = cell(list, row, Worklist::StatusColumn).data(Qt::ToolTipRole).toString();
            QVERIFY2(why.contains("SickClassifier1"), qPrintable(why));
        }
    }
};

QTEST_MAIN(WorklistTest)
#include "WorklistTest.moc"

// The worklist over generated pictures, analysed by its worker thread with the fixture models
// (ORVIX_MODEL_DIR, set by the test's environment): bright = NORMAL, dark = PNEUMONIA, red = not an X-ray.

#include <sstream>

#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include "DicomWriter.h"
#include "TestSupport.h"
#include "Worklist.h"
#include "orvix/Console.h"

using namespace orvix;
using orvix::app::Worklist;

namespace {

QModelIndex cell(const Worklist& list, int row, int column) { return list.table()->model()->index(row, column); }
QString text(const Worklist& list, int row, int column) { return cell(list, row, column).data().toString(); }
QString reason(const Worklist& list, int row) {
    return cell(list, row, Worklist::StatusColumn).data(Qt::ToolTipRole).toString();
}

// Adds, then waits for every row to settle; false if the list was not busy at once or never settles.
bool analyse(Worklist& list, const std::vector<std::filesystem::path>& paths) {
    QSignalSpy finished(&list, &Worklist::finished);
    list.add(paths);
    return list.busy() && finished.wait(60000) && !list.busy();
}

// Both core channels into one string, for the life of the object.
struct ConsoleCapture {
    std::ostringstream lines;
    ConsoleCapture() {
        setConsoleStream(&lines);
        setDiagnosticStream(&lines);
    }
    ~ConsoleCapture() {
        setConsoleStream(&std::cout);
        setDiagnosticStream(&std::cerr);
    }
};

}  // namespace

class WorklistTest : public QObject {
    Q_OBJECT

private slots:
    void analysesTheFoldersPicturesSortsAndSelects() {
        test::TempDir dir;
        std::filesystem::create_directories(dir / "a/b");
        // Pneumonia probabilities about 3.6 %, 11.5 %, 99.9 % and 49 % (in the fixture's borderline band
        // [40 %, 60 %]): "11.5 %" sorts before "3.6 %" as text.
        const std::vector<std::pair<std::filesystem::path, int>> greys{
            {dir / "a/b/grey.bmp", 180}, {dir / "mid.png", 160}, {dir / "a/b/dark.png", 20}, {dir / "a/even.png", 128}};
        for (const auto& [path, grey] : greys) test::writePicture(path, test::solid(64, 64, cv::Scalar::all(grey)));
        test::writePicture(dir / "red.png", test::solid(64, 64, {0, 0, 255}));
        test::writeBytes(dir / "broken.png", "not a picture");
        test::writeBytes(dir / "notes.txt", "not listed");
        const ConsoleCapture console;  // outlives the worker thread
        Worklist list;
        QVERIFY(analyse(list, {dir.path()}));
        QCOMPARE(list.rowCount(), 6);
        QCOMPARE(list.progress()->value(), 6);
        QCOMPARE(console.lines.str(), std::string());  // the rows say it all, the console nothing

        // Name, status, verdict, whether a probability is shown; only the failure gives a reason, in the row
        // without the path the row names already, and whole in the tooltip.
        for (const auto& [name, status, verdict, percent] :
             std::vector<std::tuple<std::string, QString, QString, bool>>{
                 {"grey.bmp", "analysed", "NEGATIVE", true},
                 {"dark.png", "analysed", "POSITIVE", true},
                 {"even.png", "analysed", "NEGATIVE \u2014 borderline", true},
                 {"red.png", "analysed", "NOT A CHEST X-RAY", false},
                 {"broken.png", "not a readable picture: not a decodable picture (unknown format)", "", false}}) {
            int row = 0;
            while (row < list.rowCount() && list.pathAt(row).filename() != name) ++row;
            QCOMPARE(text(list, row, Worklist::NameColumn), QString::fromStdString(name));
            QCOMPARE(text(list, row, Worklist::StatusColumn), status);
            QCOMPARE(text(list, row, Worklist::VerdictColumn), verdict);
            QCOMPARE(text(list, row, Worklist::ProbabilityColumn).endsWith(" %"), percent);
            QCOMPARE(reason(list, row).contains("broken.png: "), name == "broken.png");
            QCOMPARE(cell(list, row, Worklist::VerdictColumn).data(Qt::ToolTipRole).toString().contains("undecided"),
                     name == "even.png");
        }

        // Sorted ascending, the two rows without a probability come first, then by value: a click on row 2,
        // then the arrow key, select 3.6 % and 11.5 % (as text, row 2 would be 11.5 %).
        list.table()->sortByColumn(Worklist::ProbabilityColumn, Qt::AscendingOrder);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy selected(&list, &Worklist::fileSelected);
        QTest::mouseClick(list.table()->viewport(), Qt::LeftButton, {},
                          list.table()->visualRect(cell(list, 2, Worklist::StatusColumn)).center());
        QTest::keyClick(list.table(), Qt::Key_Down);
        QCOMPARE(selected.size(), 2);
        QCOMPARE(selected[0][0].value<std::filesystem::path>(), greys[0].first);
        QCOMPARE(selected[1][0].value<std::filesystem::path>(), greys[1].first);
    }

    void cancelStopsAfterThePictureBeingAnalysed() {
        test::TempDir dir;
        for (int i = 0; i < 40; ++i)
            test::writePicture(dir / (std::to_string(100 + i) + ".png"), test::solid(300, 300, {40, 40, 40}));
        Worklist list;
        QSignalSpy finished(&list, &Worklist::finished);
        list.add({dir.path()});
        list.cancelButton()->click();  // while the first picture is loading the models or being analysed
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
        QVERIFY(!list.busy() && !list.cancelButton()->isEnabled());
        QStringList statuses;
        for (int row = 0; row < list.rowCount(); ++row) statuses << text(list, row, Worklist::StatusColumn);
        const auto analysed = statuses.count("analysed"), cancelled = statuses.count("cancelled");
        // At most the picture in hand finishes (a margin for a slow scheduler); no row is left waiting.
        QVERIFY2(cancelled >= 30 && analysed + cancelled == 40, qPrintable(QString::number(analysed)));
        QCOMPARE(list.progress()->value(), analysed);

        // Analyse Remaining takes up the cancelled rows, and only those.
        QVERIFY(list.remainingButton()->isEnabled());
        list.remainingButton()->click();
        QVERIFY(list.busy() && !list.remainingButton()->isEnabled());
        QCOMPARE(list.progress()->maximum(), int(cancelled));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 60000);
        for (int row = 0; row < list.rowCount(); ++row) QCOMPARE(text(list, row, Worklist::StatusColumn), "analysed");
        QCOMPARE(list.rowCount(), 40);
        QVERIFY(!list.remainingButton()->isEnabled());

        // Destroyed while busy: waits for the picture in hand, neither hangs nor crashes.
        {
            Worklist busy;
            busy.add({dir.path()});
            QVERIFY(busy.busy());
        }
    }

    void aModelThatCannotBeLoadedMarksTheRows() {
        test::TempDir models;
        std::filesystem::create_directories(models / "SickClassifier1.mlmodelc");  // empty
        const test::ScopedEnv env("ORVIX_MODEL_DIR", models.path().string());
        Worklist list;
        QVERIFY(analyse(list, {models / "a.png", models / "b.png"}));
        for (int row : {0, 1})
            QVERIFY2(text(list, row, Worklist::StatusColumn).startsWith("model not loaded: ") &&
                         reason(list, row).contains("SickClassifier1"),
                     qPrintable(reason(list, row)));
    }

    // A DICOM picture's row names its patient (the whole patient and study line as its tooltip); other rows none.
    void aDicomRowNamesItsPatient() {
        test::TempDir dir;
        test::DicomSpec spec{.width = 64, .height = 64, .text = {{0x0010, 0x0010, "Doe^John"}, {0x0018, 0x5101, "PA"}}};
        spec.samples.assign(64 * 64, 200);
        test::writeDicom(dir / "IM0001", spec);
        test::writePicture(dir / "plain.png", test::solid(64, 64, cv::Scalar::all(200)));
        const ConsoleCapture console;
        Worklist list;
        QVERIFY(analyse(list, {dir / "plain.png"}));
        QVERIFY(list.table()->isColumnHidden(Worklist::PatientColumn));  // no patient yet: the names keep the room
        QVERIFY(analyse(list, {dir / "IM0001"}));
        QVERIFY(!list.table()->isColumnHidden(Worklist::PatientColumn));
        QCOMPARE(text(list, 1, Worklist::PatientColumn), QString("Doe, John (ID ORVIX-TEST)"));
        QCOMPARE(cell(list, 1, Worklist::PatientColumn).data(Qt::ToolTipRole).toString(),
                 QString("Doe, John · ID ORVIX-TEST · view PA"));
        QCOMPARE(text(list, 0, Worklist::PatientColumn), QString());
        QCOMPARE(list.table()->model()->headerData(Worklist::PatientColumn, Qt::Horizontal).toString(),
                 QString("Patient"));
    }
};

QTEST_MAIN(WorklistTest)
#include "WorklistTest.moc"

// The window as a reading screen, on Qt's offscreen platform with the fixture models.

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

#include "ContentView.h"
#include "ControlsArea.h"
#include "ImagePanel.h"
#include "MainWindow.h"
#include "NextDialog.h"
#include "Palette.h"
#include "PictureView.h"
#include "ReadingScreen.h"
#include "ResultPanel.h"
#include "SavedMessage.h"
#include "DicomWriter.h"
#include "TestSupport.h"
#include "TextEditingView.h"
#include "Worklist.h"

using namespace orvix;
using namespace orvix::app;

namespace {

const auto kPicture = test::fixtures() / "pictures" / "chest-normal-2mp.jpeg";

// The colours a label's rich text names ("color:#9a4d00").
QList<QColor> spanColours(const QString& html) {
    QList<QColor> colours;
    for (const auto& match : QRegularExpression("color:\\s*(#[0-9a-fA-F]{6})").globalMatch(html))
        colours << QColor(match.captured(1));
    return colours;
}

// Closes every modal dialog shown while it lives, counting them.
struct ModalCounter {
    int shown = 0;
    QTimer timer;
    ModalCounter() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++shown;
                modal->close();
            }
        });
        timer.start(10);
    }
};

}  // namespace

class ReadingWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { home_ = std::make_unique<test::FreshHome>(); }
    void cleanup() {
        applyTheme(Theme::Light);
        home_.reset();
    }

    // Up to the default size every box is a fraction of the window; beyond it the results column keeps
    // its size and the picture box takes the extra width and height, the title its default size.
    void thePictureTakesTheRoomBeyondTheDefaultSize_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1920 x 1080") << QSize(1920, 1080);
        QTest::newRow("wider only") << QSize(1600, 800);
        QTest::newRow("taller only") << QSize(1200, 1000);
    }
    void thePictureTakesTheRoomBeyondTheDefaultSize() {
        QFETCH(QSize, size);
        ContentView view(test::fixtureState());
        view.resize(1200, 800);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const int fittedHeight = view.imagePanel()->picture()->height();
        view.resize(size);
        QTRY_COMPARE(view.resultsColumn()->width(), 600);
        QCOMPARE(view.controls()->size(), QSize(600, 560));
        QCOMPARE(view.imagePanel()->width(), size.width() - 600);
        QCOMPARE(view.imagePanel()->picture()->width(), size.width() - 600);
        QCOMPARE(view.imagePanel()->title()->font().pixelSize(), 80);
        const int grown = view.imagePanel()->picture()->height() - fittedHeight;
        QVERIFY2(std::abs(grown - (size.height() - 800)) <= 3, qPrintable(QString::number(grown)));
        QVERIFY(!view.detailScroll()->horizontalScrollBar()->isVisible());
    }

    // The verdict, the borderline mark, the threshold, the "not a chest X-ray" message and the report's
    // text read at 4.5:1 or more on their backgrounds, as drawn, in both themes.
    void textMeetsAaContrastInBothThemes_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void textMeetsAaContrastInBothThemes() {
        QFETCH(bool, dark);
        const Theme theme = dark ? Theme::Dark : Theme::Light;
        applyTheme(theme);
        MainWindow window(test::fixtureState());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.darkAction()->isChecked(), theme == Theme::Dark);
        DiagnosisState& s = window.contentView()->state();
        const ResultPanel* panel = window.contentView()->controls()->resultPanel();
        const auto check = [](const QString& what, const QColor& text, const QColor& background) {
            QVERIFY2(contrastRatio(text, background) >= 4.5,
                     qPrintable(what + ": " + text.name() + " on " + background.name()));
        };
        // Negative, positive, borderline (the fixture's band is [0.4, 0.6]), then a rejected picture.
        int spans = 0;
        for (const auto& [gate, disease, probability] : {std::tuple{"X-Ray", "NORMAL", 0.1},
                                                         {"X-Ray", "PNEUMONIA", 0.9},
                                                         {"X-Ray", "NORMAL", 0.45},
                                                         {"other", "NORMAL", 0.1}}) {
            s.diseaseProbability = probability;
            s.classificationLabel = disease;
            s.classificationLabel2 = gate;
            for (const QLabel* label : {panel->verdict(), panel->probability(), panel->message()}) {
                if (!label->isVisibleTo(panel)) continue;
                const QColor background = label->palette().color(QPalette::Window);
                check(label->text(), label->palette().color(QPalette::WindowText), background);
                for (const QColor& colour : spanColours(label->text())) {
                    check(label->text(), colour, background);
                    ++spans;
                }
            }
        }
        QCOMPARE(spans, 4);  // the threshold three times, the borderline mark once
        const QPlainTextEdit* report = window.contentView()->controls()->editor()->editor();
        check("report", report->palette().color(QPalette::Text), report->palette().color(QPalette::Base));
        QVERIFY(contrastRatio(themeColours().focusRing, window.palette().color(QPalette::Window)) >= 3);
        // The save confirmation: its text on its orange, as its style sheet gives them.
        const QList<QColor> saved = spanColours(window.contentView()->controls()->savedMessage()->styleSheet());
        QCOMPARE(saved.size(), 2);
        check("save confirmation", saved[1], saved[0]);
        // The other theme, from the menu, for the session.
        window.darkAction()->trigger();
        QCOMPARE(currentTheme(), theme == Theme::Dark ? Theme::Light : Theme::Dark);
        QTRY_COMPARE(panel->message()->palette().color(QPalette::WindowText), themeColours().positive);
    }

    // With a picture on screen, and only then, Save, Export and Print: F11 lends the picture box a full
    // screen of its own, the verdict over it, and Escape gives it back, zoom and all; the status bar reads
    // the zoom and window; File > Print draws the examination page (to a PDF file here, without the dialog).
    void aPictureOnScreenIsReadFullScreenAndPrinted() {
        MainWindow window(test::fixtureState());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (bool enabled : {false, true}) {
            QCOMPARE(window.saveAction()->isEnabled(), enabled);
            QCOMPARE(window.exportAction()->isEnabled(), enabled);
            QCOMPARE(window.printAction()->isEnabled(), enabled);
            QCOMPARE(window.contentView()->controls()->save()->isEnabled(), enabled);
            QVERIFY(window.contentView()->importFile(kPicture).has_value());
        }
        PictureView* picture = window.contentView()->imagePanel()->picture();
        QTRY_COMPARE(window.readout()->text(), QString("Zoom 100 % \u00b7 W 256 L 128"));
        picture->zoomIn();
        const QSize inColumn = picture->size();
        window.fullScreenAction()->trigger();
        ReadingScreen* reading = window.readingScreen();
        QTRY_VERIFY(reading->isVisible());
        QVERIFY(reading->windowState() & Qt::WindowFullScreen);
        QCOMPARE(picture->window(), reading);
        QTRY_VERIFY(picture->width() > inColumn.width());
        const QLabel* verdict = window.contentView()->controls()->resultPanel()->verdict();
        QTRY_COMPARE(reading->verdict()->text(), verdict->text());
        QVERIFY(reading->verdict()->isVisible() && !verdict->text().isEmpty());
        QVERIFY(contrastRatio(reading->verdict()->palette().color(QPalette::WindowText), Qt::black) >= 4.5);
        window.heatmapAction()->trigger();  // the window's keys work there too
        QVERIFY(picture->heatmapDrawn());
        QTest::keyClick(picture, Qt::Key_Escape);
        QVERIFY(!reading->isVisible());
        QVERIFY(!window.fullScreenAction()->isChecked());
        QCOMPARE(picture->window(), &window);
        QCOMPARE(picture->zoom(), PictureView::kZoomStep);
        QTRY_COMPARE(picture->size(), inColumn);

        window.invertAction()->trigger();
        QTRY_COMPARE(window.readout()->text(),
                     QString("Zoom 125 % \u00b7 W 256 L 128 \u00b7 inverted \u00b7 heatmap 100 %"));
        picture->resetView();  // ends the inversion, and the menu's check with it
        QTRY_VERIFY(!window.invertAction()->isChecked());

        const QString path = QString::fromStdString((home_->path() / "printed.pdf").string());
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        QVERIFY(window.print(printer));
        QProcess text;
        text.start("pdftotext", {"-layout", path, "-"});
        QVERIFY(text.waitForFinished(30000) && text.exitCode() == 0);
        const QString page = QString::fromUtf8(text.readAllStandardOutput()).simplified();
        for (const QString& expected :
             {QString("Not for diagnostic use"), QString("Verdict: NEGATIVE"), QString("chest-normal-2mp.jpeg")})
            QVERIFY2(page.contains(expected), qPrintable(expected + " not in: " + page.left(400)));
    }

    // The last ten pictures opened on the screen, the latest first, each once; an entry opens its picture.
    void recentFilesAreTheLastTenOfTheSession() {
        MainWindow window(test::fixtureState());
        std::vector<std::filesystem::path> files;
        for (int i = 0; i < 12; ++i)
            files.push_back(test::writePicture(home_->path() / ("p" + std::to_string(i) + ".png"),
                                               test::solid(32, 32, cv::Scalar::all(200))));
        test::writeBytes(home_->path() / "broken.png", "not a picture");
        for (const auto& file : files) QVERIFY(window.contentView()->importFile(file).has_value());
        {
            const ModalCounter warning;
            QVERIFY(window.contentView()->importFile(home_->path() / "broken.png").has_value());  // not listed
        }
        QVERIFY(window.contentView()->importFile(files[5]).has_value());  // to the front
        const std::vector<std::filesystem::path> expected{files[5], files[11], files[10], files[9], files[8],
                                                          files[7], files[6],  files[4],  files[3], files[2]};
        QCOMPARE(window.recentFiles(), expected);
        const QList<QAction*> entries = window.recentMenu()->actions();
        QCOMPARE(entries.size(), 10);
        QCOMPARE(entries.first()->text(), QString("&1 p5.png"));
        QCOMPARE(entries.last()->text(), QString("&0 p2.png"));
        entries[1]->trigger();
        QCOMPARE(window.contentView()->state().fileName.get(), std::string("p11.png"));
        QCOMPARE(window.recentFiles().front(), files[11]);
    }

    // orvix FILE opens the picture; a folder, or several files, go into the worklist.
    void theCommandLineOpensFilesAndFolders_data() {
        QTest::addColumn<QStringList>("arguments");  // under HOME
        QTest::addColumn<QString>("onScreen");
        QTest::addColumn<int>("rows");  // 0: no worklist
        QTest::newRow("a picture") << QStringList{"a/one.png"} << "one.png" << 0;
        QTest::newRow("a folder") << QStringList{"a"} << "" << 2;
        QTest::newRow("two pictures") << QStringList{"a/two.png", "a/one.png"} << "two.png" << 2;
    }
    void theCommandLineOpensFilesAndFolders() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, onScreen);
        QFETCH(int, rows);
        const test::ScopedEnv models("ORVIX_MODEL_DIR", test::fixtureModels().string());
        for (const char* name : {"a/one.png", "a/two.png"}) {
            std::filesystem::create_directories(home_->path() / "a");
            test::writePicture(home_->path() / name, test::solid(32, 32, cv::Scalar::all(200)));
        }
        MainWindow window(test::fixtureState());
        window.show();
        std::vector<std::filesystem::path> paths;
        for (const QString& argument : arguments) paths.push_back(home_->path() / argument.toStdString());
        window.openArguments(paths);
        QCOMPARE(QString::fromStdString(window.contentView()->state().fileName.get()), onScreen);
        QCOMPARE(window.worklist()->isVisible(), rows > 0);
        QCOMPARE(window.worklist()->rowCount(), rows);
    }

    // At 1366 x 768 the worklist's headers are whole and a typical file name fits, without scrolling.
    // Selecting a row whose picture could not be analysed opens no dialog: the status bar says why, and
    // the arrow keys go on through the list (the row's text: WorklistTest).
    void theWorklistIsReadableAndAFailedRowOpensNoDialog() {
        const test::ScopedEnv models("ORVIX_MODEL_DIR", test::fixtureModels().string());
        std::filesystem::create_directories(home_->path() / "s");
        const std::string typical = "chest-pneumonia-bacteria.jpeg";
        std::filesystem::copy_file(test::fixtures() / "pictures" / typical, home_->path() / "s" / typical);
        test::writePicture(home_->path() / "s" / "even.png", test::solid(64, 64, cv::Scalar::all(128)));  // borderline
        test::writeBytes(home_->path() / "s" / "IM-0001-0002.dcm", "not DICOM after all");  // row 0, by name
        MainWindow window(test::fixtureState());
        window.resize(initialWindowSize({1366, 768}, window.menuBar()->sizeHint().height()));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy done(window.worklist(), &Worklist::finished);
        window.addToWorklist({home_->path() / "s"});
        QVERIFY(done.wait(20000));
        QVERIFY(window.width() <= 1366);
        QTableView* table = window.worklist()->table();
        QHeaderView* header = table->horizontalHeader();
        const QFontMetrics metrics(header->font());
        for (int column = 0; column < header->count(); ++column) {
            if (header->isSectionHidden(column)) continue;  // the patient column, until a DICOM picture names one
            const QString title = table->model()->headerData(column, Qt::Horizontal).toString();
            QVERIFY2(header->sectionSize(column) >= metrics.horizontalAdvance(title) + 8, qPrintable(title));
        }
        QVERIFY(header->sectionSize(Worklist::NameColumn) >=
                table->fontMetrics().horizontalAdvance(typical.c_str()) + 8);
        for (int row = 0; row < table->model()->rowCount(); ++row) {  // the verdicts whole, "— borderline" too
            const QString verdict = table->model()->index(row, Worklist::VerdictColumn).data().toString();
            QVERIFY(header->sectionSize(Worklist::VerdictColumn) >= table->fontMetrics().horizontalAdvance(verdict));
        }
        QVERIFY(!table->horizontalScrollBar()->isVisible());

        const ModalCounter modals;
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(table->model()->index(0, 0)).center());
        QTest::qWait(100);
        QCOMPARE(modals.shown, 0);
        QVERIFY(window.statusBar()->currentMessage().contains("IM-0001-0002.dcm"));
        QTest::keyClick(table, Qt::Key_Down);
        QCOMPARE(window.contentView()->state().fileName.get(), typical);
        QCOMPARE(modals.shown, 0);
    }

    // The importer's first filter lists DICOM files without an extension, as PACS exports name them.
    void theImporterListsDicomFilesWithoutAnExtension() {
        const auto folder = home_->path() / "study";
        std::filesystem::create_directories(folder);
        test::writeDicom(folder / "IM0001", {.width = 4, .height = 4, .samples = std::vector<std::uint16_t>(16, 9)});
        test::writeBytes(folder / "NOTES", "not DICOM");
        test::writeBytes(folder / "readme.txt", "text");
        test::writePicture(folder / "a.png", test::solid(8, 8, cv::Scalar::all(100)));
        ContentView view(test::fixtureState());
        view.rememberFolder(QString::fromStdString(folder.string()));
        QStringList listed;
        test::onNextDialog<QFileDialog>([&listed, &folder](QFileDialog* dialog) {
            const auto* proxy = static_cast<const QSortFilterProxyModel*>(dialog->proxyModel());
            const auto* files = qobject_cast<const QFileSystemModel*>(proxy->sourceModel());
            const QModelIndex shown = files->index(QString::fromStdString(folder.string()));
            (void)QTest::qWaitFor([&] { return files->rowCount(shown) >= 4; }, 10000);  // listed in the background
            for (int row = 0; row < files->rowCount(shown); ++row) {
                const QModelIndex file = files->index(row, 0, shown);
                if (proxy->mapFromSource(file).isValid()) listed << file.data().toString();
            }
            static_cast<QDialog*>(dialog)->done(QDialog::Rejected);
        });
        view.upload();
        QTRY_VERIFY(!view.state().openFile.get());
        listed.sort();
        QCOMPARE(listed, (QStringList{"IM0001", "a.png"}));
    }

private:
    std::unique_ptr<test::FreshHome> home_;
};

QTEST_MAIN(ReadingWindowTest)
#include "ReadingWindowTest.moc"

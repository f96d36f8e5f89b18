// Drives the real widgets of the window on Qt's offscreen platform, with the fixture models.

#include <QApplication>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QRegularExpression>
#include <QTableView>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

#include "ContentView.h"
#include "DicomWriter.h"
#include "ControlsArea.h"
#include "Explanations.h"
#include "ImagePanel.h"
#include "LocalFile.h"
#include "MainWindow.h"
#include "NextDialog.h"
#include "Palette.h"
#include "PictureView.h"
#include "ReportText.h"
#include "ResultPanel.h"
#include "SavedMessage.h"
#include "SideBar.h"
#include "TestSupport.h"
#include "TextEditingView.h"
#include "Worklist.h"
#include "orvix/Report.h"

using namespace orvix;
using namespace orvix::app;

namespace {

const auto kPicture = test::fixtures() / "pictures" / "chest-normal-2mp.jpeg";
const auto kSecondPicture = test::fixtures() / "pictures" / "chest-pneumonia-bacteria.jpeg";

QUrl fileUrl(const QByteArray& path) { return QUrl::fromEncoded("file://" + path.toPercentEncoding("/")); }

// Types text as a keyboard would (QTest::keyClicks takes only characters that have a key of their own).
void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        home_ = std::make_unique<test::FreshHome>();
        view_ = std::make_unique<ContentView>(test::fixtureState());
        view_->resize(1200, 800);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
    }
    void cleanup() {
        view_.reset();
        home_.reset();
    }

    void geometryIsFractionsOfTheWindowContent() {
        QCOMPARE(view_->imagePanel()->width(), 600);
        QCOMPARE(view_->imagePanel()->picture()->width(), 600);
        QCOMPARE(view_->resultsColumn()->width(), 600);
        QCOMPARE(view_->controls()->size(), QSize(600, 560));
        QCOMPARE(view_->blankBox()->size(), QSize(600, 240));
        QCOMPARE(view_->imagePanel()->upload()->size(), QSize(156, 36));
        QCOMPARE(view_->controls()->testResult()->size(), QSize(168, 36));
        QCOMPARE(view_->controls()->savedMessage()->width(), 540);
        QCOMPARE(view_->imagePanel()->title()->font().pixelSize(), 80);
        QCOMPARE(view_->controls()->resultPanel()->verdict()->font().pixelSize(), 24);
        QCOMPARE(view_->controls()->resultPanel()->message()->font().pixelSize(), 24);

        view_->resize(1200, 400);  // height only: the width-based boxes keep their size
        QCOMPARE(view_->controls()->savedMessage()->width(), 540);
        QCOMPARE(view_->controls()->size(), QSize(600, 280));
        QCOMPARE(view_->imagePanel()->title()->font().pixelSize(), 40);

        view_->resize(1000, 600);
        QCOMPARE(view_->imagePanel()->width(), 500);
        QCOMPARE(view_->controls()->size(), QSize(500, 420));
        QCOMPARE(view_->blankBox()->size(), QSize(500, 180));
        QCOMPARE(view_->imagePanel()->upload()->size(), QSize(130, 30));
        QCOMPARE(view_->imagePanel()->title()->font().pixelSize(), 60);
    }

    // The whole results column in view without scrolling, the sidebar shown or not.
    void resultsColumnFitsTheWindow_data() {
        QTest::addColumn<QSize>("screen");
        QTest::newRow("1366 x 768") << QSize(1366, 768);
        QTest::newRow("1920 x 1080") << QSize(1920, 1080);
    }
    void resultsColumnFitsTheWindow() {
        QFETCH(QSize, screen);
        MainWindow window(test::fixtureState());
        window.resize(initialWindowSize(screen, window.menuBar()->sizeHint().height()));
        QVERIFY(window.width() <= screen.width() && window.height() <= screen.height());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.contentView()->importFile(kSecondPicture).has_value());
        QScrollArea* scroll = window.contentView()->detailScroll();
        const auto deep = home_->path() / "a-folder-name-long-enough-to-need-two-lines" / "and-then-some-more";
        const test::ScopedEnv home("HOME", deep.string());
        for (bool sidebar : {false, true}) {
            window.sidebarAction()->setChecked(sidebar);
            QCOMPARE(window.contentView()->sidebarShown(), sidebar);
            QVERIFY(!scroll->horizontalScrollBar()->isVisible());
            window.contentView()->save();  // the confirmation, with a long folder name, is shown whole
            SavedMessage* saved = window.contentView()->controls()->savedMessage();
            QTRY_VERIFY(saved->isVisible());
            QTRY_VERIFY2(saved->text()->height() >= saved->text()->heightForWidth(saved->text()->width()),
                         qPrintable(QString("%1 < %2 at width %3")
                                        .arg(saved->text()->height())
                                        .arg(saved->text()->heightForWidth(saved->text()->width()))
                                        .arg(saved->text()->width())));
            QVERIFY(saved->text()->width() >= saved->text()->minimumSizeHint().width());
            // The heatmap's scale: its texts apart, the 50 % mark among them.
            window.heatmapAction()->setChecked(true);
            const auto labels = window.contentView()->imagePanel()->picture()->legendLabels();
            QVERIFY(std::any_of(labels.begin(), labels.end(), [](auto& label) { return label.text == "50 %"; }));
            for (std::size_t i = 0; i < labels.size(); ++i)
                for (std::size_t j = 0; j < i; ++j) QVERIFY(!labels[i].rect.intersects(labels[j].rect));
            for (QWidget* w : {window.contentView()->resultsColumn(), static_cast<QWidget*>(saved),
                               static_cast<QWidget*>(window.contentView()->controls()->save()),
                               static_cast<QWidget*>(window.contentView()->controls()->resultPanel()->probability())}) {
                const QRect shown(w->mapTo(scroll->viewport(), QPoint(0, 0)), w->size());
                QVERIFY2(scroll->viewport()->rect().contains(shown), qPrintable(w->objectName()));
            }
        }
    }

    void aFolderFillsTheWorklistAndARowOpensOnTheScreen() {
        const test::ScopedEnv models("ORVIX_MODEL_DIR", test::fixtureModels().string());
        MainWindow window(test::fixtureState());
        window.show();
        std::filesystem::create_directories(home_->path() / "studies" / "b");
        std::filesystem::copy_file(kPicture, home_->path() / "studies" / "a.jpeg");
        std::filesystem::copy_file(kSecondPicture, home_->path() / "studies" / "b" / "c.jpeg");
        QSignalSpy done(window.worklist(), &Worklist::finished);
        window.addToWorklist({home_->path() / "studies"});
        QVERIFY(window.worklist()->isVisible());
        QCOMPARE(window.worklist()->rowCount(), 2);
        QVERIFY(done.wait(20000));
        QTableView* table = window.worklist()->table();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          table->visualRect(table->model()->index(1, 0)).center());
        QCOMPARE(window.contentView()->state().fileName.get(), window.worklist()->pathAt(1).filename().string());
        QVERIFY(window.contentView()->controls()->editor()->editor()->toPlainText().contains("Tested File Name: "));
    }

    void keyboardFocusSkipsTheHeaderAndLeavesTheReportOnTab() {
        QPlainTextEdit* editor = view_->controls()->editor()->editor();
        QCOMPARE(view_->controls()->testResult()->focusPolicy(), Qt::NoFocus);
        view_->activateWindow();
        editor->setFocus();
        QTest::keyClick(editor, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(view_->state().fullText.get(), std::string("\t"));
        QTest::keyClick(editor, Qt::Key_Tab);
        QCOMPARE(view_->state().fullText.get(), std::string("\t"));
        QTRY_VERIFY(QApplication::focusWidget() != editor);
    }

    void helpAndVersionPrintWithoutAWindow_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("printed");
        QTest::newRow("help") << "--help"
                              << "Usage: orvix";
        QTest::newRow("version") << "--version"
                                 << "orvix " ORVIX_EXPECTED_VERSION "\n";
    }
    void helpAndVersionPrintWithoutAWindow() {
        QFETCH(QString, option);
        QFETCH(QString, printed);
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");  // no display at all: a window could not open
        app.setProcessEnvironment(env);
        app.start(ORVIX_APP_BINARY, {option});
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(QString::fromLocal8Bit(app.readAllStandardOutput()).startsWith(printed));
    }

    void resultPanelCases_data() {
        QTest::addColumn<QString>("gate");
        QTest::addColumn<QString>("disease");
        QTest::addColumn<double>("accuracy");
        QTest::addColumn<QString>("verdict");  // "" = hidden
        QTest::addColumn<QString>("confidence");
        QTest::addColumn<bool>("message");
        QTest::addColumn<double>("diseaseProbability");
        QTest::addColumn<QString>("probability");  // the probability line's text, "" = hidden
        // The fixture disease model's threshold is 0.5, its borderline band [0.4, 0.6].
        QTest::newRow("negative") << "X-Ray"
                                  << "NORMAL" << 0.5 << "NEGATIVE"
                                  << "CONFIDENCE: 50.000000%" << false << 0.0123
                                  << "Pneumonia probability: 1.2 % threshold 50.0 %";
        QTest::newRow("positive") << "X-Ray"
                                  << "" << 1.0 << "POSITIVE"
                                  << "CONFIDENCE: 100.000000%" << false << 0.824
                                  << "Pneumonia probability: 82.4 % threshold 50.0 %";
        QTest::newRow("borderline") << "X-Ray"
                                    << "NORMAL" << 0.99 << "NEGATIVE \u2014 borderline"
                                    << "CONFIDENCE: 99.000000%" << false << 0.4
                                    << "Pneumonia probability: 40.0 % threshold 50.0 % borderline";
        QTest::newRow("not an x-ray") << "x-ray"
                                      << "PNEUMONIA" << 0.9731 << ""
                                      << "" << true << 0.9 << "";
        QTest::newRow("nothing yet") << "X-Ray "
                                     << "" << 0.0 << ""
                                     << "" << false << 0.0 << "";
    }
    void resultPanelCases() {
        QFETCH(QString, gate);
        QFETCH(QString, disease);
        QFETCH(double, accuracy);
        QFETCH(QString, verdict);
        QFETCH(QString, confidence);
        QFETCH(bool, message);
        QFETCH(double, diseaseProbability);
        QFETCH(QString, probability);
        DiagnosisState& s = view_->state();
        s.accuracy = accuracy;
        s.diseaseProbability = diseaseProbability;
        s.classificationLabel = disease.toStdString();
        s.classificationLabel2 = gate.toStdString();
        ResultPanel* panel = view_->controls()->resultPanel();
        QCOMPARE(panel->verdict()->isVisible(), !verdict.isEmpty());
        QCOMPARE(panel->confidence()->isVisible(), !verdict.isEmpty());
        QCOMPARE(panel->message()->isVisible(), message);
        QCOMPARE(panel->probability()->isVisible(), !probability.isEmpty());
        if (!probability.isEmpty()) {
            QTextDocument shown;
            shown.setHtml(panel->probability()->text());
            QCOMPARE(shown.toPlainText(), probability);
        }
        if (!verdict.isEmpty()) {
            QCOMPARE(panel->verdict()->text(), verdict);
            QCOMPARE(panel->confidence()->text(), confidence);
            const QColor colour = panel->verdict()->palette().color(QPalette::WindowText);
            const bool borderline = verdict.endsWith("borderline");
            if (borderline) QCOMPARE(colour, themeColours().borderline);
            else QVERIFY(verdict == "NEGATIVE" ? colour.green() > colour.red() : colour.red() > colour.green());
            QCOMPARE(panel->verdict()->toolTip().contains("treat the verdict as undecided"), borderline);
            QVERIFY(panel->confidence()->toolTip().contains("not certainty about pneumonia"));
            QCOMPARE(panel->verdict()->font().weight(), QFont::Light);
            QVERIFY(panel->confidence()->font().bold());
        }
    }

    void uploadOrDropImportsAPictureByTheBytesOfItsName() {
        // Names that are not UTF-8 (Latin-1 "é", a lone 0xFF) open as the command line opens them.
        const auto chosen = home_->path() / "chest-\xE9.jpeg", dropped = home_->path() / "\xFF.jpeg";
        std::filesystem::copy_file(kPicture, chosen);
        std::filesystem::copy_file(kSecondPicture, dropped);
        QSignalSpy told(view_.get(), &ContentView::importFailed);
        QString filter;
        test::onNextDialog<QFileDialog>([&filter, shown = QFile::decodeName(chosen.c_str())](QFileDialog* dialog) {
            filter = dialog->nameFilters().join(' ');
            QCOMPARE(dialog->nameFilters().size(), 2);
            QCOMPARE(dialog->nameFilters().last(), QString("All files (*)"));
            QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
            // Typed into the dialog's file name field, as a user would; done() rather than accept(),
            // which first waits for the directory model that loads asynchronously.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            name->setText(shown);
            static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
        });
        QTest::mouseClick(view_->imagePanel()->upload(), Qt::LeftButton);
        QTRY_COMPARE(view_->state().fileName.get(), chosen.filename().string());
        QVERIFY(filter.contains("*.png") && filter.contains("*.jpeg") && filter.contains("*.tiff"));
        QCOMPARE(view_->state().openFile.get(), false);
        QCOMPARE(view_->imagePanel()->picture()->picture().size(), QSize(1604, 1248));
        QVERIFY(view_->controls()->resultPanel()->verdict()->isVisible());
        QVERIFY(view_->controls()->editor()->editor()->toPlainText().startsWith("Tested File Name: chest-"));

        QMimeData data;
        data.setUrls({fileUrl(QByteArray::fromStdString(dropped.string()))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view_.get(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view_.get(), &drop);
        QCOMPARE(view_->state().fileName.get(), dropped.filename().string());
        QCOMPARE(view_->imagePanel()->picture()->picture().size(), QSize(1120, 568));
        QCOMPARE(told.count(), 0);
    }

    void localFilePathFindsTheBytesOfAShownName_data() {
        QTest::addColumn<QByteArrayList>("files");  // created; the first is looked up
        QTest::addColumn<bool>("byShownName");      // found from its QString; a URL always finds it
        QTest::newRow("UTF-8") << QByteArrayList{"\xC3\x96 (1).png"} << true;
        QTest::newRow("Latin-1 name") << QByteArrayList{"scan-\xD6.png"} << true;
        QTest::newRow("Latin-1 folders") << QByteArrayList{"\xE9t\xE9/\xE0/x\xFF.dcm"} << true;
        QTest::newRow("two names shown alike") << QByteArrayList{"\xFE.png", "\xFF.png"} << false;
    }
    void localFilePathFindsTheBytesOfAShownName() {
        QFETCH(QByteArrayList, files);
        QFETCH(bool, byShownName);
        for (const QByteArray& file : files) {
            const auto path = home_->path() / file.toStdString();
            std::filesystem::create_directories(path.parent_path());
            test::writeBytes(path, "x");
        }
        const QByteArray wanted = QByteArray::fromStdString(home_->path().string()) + '/' + files.first();
        QCOMPARE(localFilePath(QFile::decodeName(wanted)) == wanted.toStdString(), byShownName);
        QCOMPARE(localFilePath(fileUrl(wanted)), std::filesystem::path(wanted.toStdString()));
    }

    void refusedImportIsTold_data() {
        QTest::addColumn<QByteArray>("content");  // null: no such file
        QTest::addColumn<bool>("unstableGate");   // a gate whose prediction fails on this picture
        QTest::addColumn<QString>("reason");
        const auto png = test::encode(".png", test::solid(32, 32, cv::Scalar(240, 240, 240)));
        const QByteArray bright(reinterpret_cast<const char*>(png.data()), qsizetype(png.size()));
        QTest::newRow("unreadable") << QByteArray() << false << "No such file or directory";
        QTest::newRow("undecodable") << QByteArray("not a png") << false << "not a decodable picture";
        QTest::newRow("unclassified") << bright << true << "not classified";
    }
    void refusedImportIsTold() {
        QFETCH(QByteArray, content);
        QFETCH(bool, unstableGate);
        QFETCH(QString, reason);
        if (unstableGate) {
            auto gate = XRayClassifier1::create(test::fixtureModels() / "unstable" / "XRayClassifier1.mlmodelc");
            QVERIFY(gate.ok());
            view_ = std::make_unique<ContentView>(DiagnosisState(view_->state().model, gate.value()));
        }
        const auto refused = home_->path() / "next patient.png";
        if (!content.isNull()) test::writeBytes(refused, content.toStdString());
        QSignalSpy told(view_.get(), &ContentView::importFailed);
        QVERIFY(view_->importFile(refused)->status != ImportStatus::Analysed);
        QCOMPARE(told.count(), 1);
        const QString message = told.first().first().toString();
        QVERIFY2(message.contains(QString::fromStdString(refused.string())) && message.contains(reason),
                 qPrintable(message));
    }

    void cancellingTheImporterChangesNothing() {
        test::onNextDialog<QFileDialog>(
            [](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->done(QDialog::Rejected); });
        view_->upload();
        QTRY_VERIFY(!view_->state().openFile.get());
        QCOMPARE(view_->state().fileName.get(), std::string());
    }

    void pictureKeepsItsAspectAndTheHeatmapShowsOnlyOnAChestXRay() {
        MainWindow window(test::fixtureState());
        window.resize(1200, 800);
        window.show();
        ContentView* view = window.contentView();
        QCOMPARE(window.windowTitle(), QString("Orvix[*]"));
        QVERIFY(view->importFile(kPicture).has_value());
        QCOMPARE(window.windowTitle(), QString("chest-normal-2mp.jpeg[*] \u2014 Orvix"));

        PictureView* picture = view->imagePanel()->picture();
        const QRect drawn = picture->pictureRect();
        QVERIFY(picture->rect().contains(drawn));
        QVERIFY(std::abs(double(drawn.width()) / drawn.height() - 1604.0 / 1248.0) < 0.01);
        QVERIFY(drawn.width() == picture->width() || drawn.top() == 0);  // above the heatmap scale's strip

        QVERIFY(!window.heatmapAction()->isChecked());
        QVERIFY(!picture->heatmapDrawn());
        QCOMPARE(window.heatmapAction()->shortcut(), QKeySequence(Qt::Key_H));  // typed text in the report wins
        window.heatmapAction()->trigger();
        QVERIFY(view->heatmapShown());
        QVERIFY(picture->heatmapDrawn());
        QCOMPARE(picture->shownImage().size(), QSize(1604, 1248));
        QVERIFY(picture->legendText().contains("probability of pneumonia by region"));
        QCOMPARE(picture->pictureRect(), drawn);  // the scale's strip was kept for it: nothing moves
        Examination exam = view->examination();
        QCOMPARE(exam.verdict, QString("NEGATIVE"));
        QVERIFY(exam.findings.filter("Pneumonia probability: ").size() == 1);
        QVERIFY2(exam.picture.height() > 1248, "the picture with its heatmap and colour scale");
        QVERIFY(exam.findings.filter("undecided").isEmpty());
        view->state().diseaseProbability = 0.45;  // in the fixture's band [0.4, 0.6]
        exam = view->examination();
        QCOMPARE(exam.verdict, QString("NEGATIVE \u2014 borderline"));
        QCOMPARE(exam.findings.filter("treat the verdict as undecided").size(), 1);

        view->state().classificationLabel2 = "other";
        QVERIFY(!picture->heatmapDrawn());
        QCOMPARE(picture->legendText(), QString("No heatmap: not a chest X-ray"));
        exam = view->examination();
        QCOMPARE(exam.verdict, QString("NOT A CHEST X-RAY"));
        QCOMPARE(exam.picture.size(), QSize(1604, 1248));
        QVERIFY(exam.findings.filter("Pneumonia probability").isEmpty());
    }

    void editsAreSavedAsTypedAndAskedAboutBeforeTheyAreLost() {
        MainWindow window(test::fixtureState());
        window.show();
        ContentView* view = window.contentView();
        int asked = 0;
        QMessageBox::StandardButton answer = QMessageBox::Cancel;
        view->setEditsQuestion([&] { return ++asked, answer; });
        QVERIFY(view->importFile(kPicture).has_value());
        QVERIFY2(view->importFile(kSecondPicture).has_value(), "a fresh report is replaced without asking");

        QPlainTextEdit* editor = view->controls()->editor()->editor();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, " checked by Dr. \u00d6");
        QVERIFY(window.isWindowModified());
        QVERIFY(!view->importFile(kPicture).has_value());  // Cancel: nothing imported, nothing closed
        QVERIFY(!window.close());
        QCOMPARE(asked, 2);
        QCOMPARE(view->state().fileName.get(), std::string("chest-pneumonia-bacteria.jpeg"));

        const std::string edited = view->state().fullText.get();
        QVERIFY(edited.ends_with("Additional Info: checked by Dr. \u00d6"));
        QTest::mouseClick(view->controls()->save(), Qt::LeftButton);
        const auto saved = home_->path() / "Documents" / "output_chest-pneumonia-bacteria.jpeg.txt";
        QCOMPARE(test::readBytes(saved), edited);
        SavedMessage* message = view->controls()->savedMessage();
        QCOMPARE(message->text()->text().remove(QChar(0x200b)),
                 QString("Report saved as output_chest-pneumonia-bacteria.jpeg.txt in %1/Documents")
                     .arg(QString::fromStdString(home_->path().string())));
        QVERIFY(message->isVisible() && !window.isWindowModified());
        QTest::mouseClick(message->ok(), Qt::LeftButton);
        QVERIFY(!message->isVisible());

        QTest::keyClicks(editor, "x");
        answer = QMessageBox::Save;  // saved, then replaced by the next picture's report
        QVERIFY(view->importFile(kPicture).has_value());
        QCOMPARE(test::readBytes(saved), edited + "x");
        QVERIFY(editor->toPlainText().startsWith("Tested File Name: chest-normal-2mp.jpeg\n"));

        QTest::keyClicks(editor, "y");
        answer = QMessageBox::Discard;
        QVERIFY(window.close());
        QCOMPARE(asked, 4);
    }

    // PACS exports name every file alike: a save never replaces another picture's report unasked.
    void aReportOfAnotherPictureOfTheSameNameIsReplacedOnlyWhenTheUserSays() {
        MainWindow window(test::fixtureState());
        window.show();
        ContentView* view = window.contentView();
        const auto& folder = home_->path();
        for (const auto& [sub, source] : {std::pair{"A", kPicture}, {"B", kSecondPicture}}) {
            std::filesystem::create_directories(folder / sub);
            std::filesystem::copy_file(source, folder / sub / "IM0001.jpeg");
        }
        std::filesystem::create_directories(folder / "C");
        test::writePicture(folder / "C" / "IM0001.jpeg", test::solid(64, 64, {20, 20, 20}));
        std::vector<ReportClash> asked;
        ClashChoice choice = ClashChoice::Cancel;
        view->controls()->setClashQuestion([&](const ReportClash& clash) {
            asked.push_back(clash);
            return choice;
        });
        const auto docs = folder / "Documents";
        QPlainTextEdit* editor = view->controls()->editor()->editor();
        const auto editAndSave = [&](const QString& text) {
            editor->moveCursor(QTextCursor::End);
            QTest::keyClicks(editor, text);
            view->save();
        };

        QVERIFY(view->importFile(folder / "A" / "IM0001.jpeg").has_value());
        editAndSave("A1");
        editAndSave("A2");  // the same picture again: replaced without a question
        QVERIFY(asked.empty());
        QVERIFY(test::readBytes(docs / "output_IM0001.jpeg.txt").ends_with("A1A2"));

        QVERIFY(view->importFile(folder / "B" / "IM0001.jpeg").has_value());
        editAndSave("B1");  // Cancel: nothing written, the edits kept
        QCOMPARE(asked.size(), std::size_t{1});
        QCOMPARE(asked[0].writtenFor, std::optional(folder / "A" / "IM0001.jpeg"));
        QVERIFY(test::readBytes(docs / "output_IM0001.jpeg.txt").ends_with("A1A2"));
        QVERIFY(!std::filesystem::exists(docs / "output_IM0001.jpeg (2).txt"));
        QVERIFY(window.isWindowModified() && !view->state().showAlert.get());

        choice = ClashChoice::KeepBoth;
        editAndSave("B2");
        QVERIFY(test::readBytes(docs / "output_IM0001.jpeg (2).txt").ends_with("B1B2"));
        QVERIFY(test::readBytes(docs / "output_IM0001.jpeg.txt").ends_with("A1A2"));
        QVERIFY(!window.isWindowModified());
        QVERIFY(view->controls()->savedMessage()->text()->text().startsWith(
            "Report saved as output_IM0001.jpeg (2).txt in "));
        editAndSave("B3");  // B's own report now: replaced without a question
        QCOMPARE(asked.size(), std::size_t{2});
        QVERIFY(test::readBytes(docs / "output_IM0001.jpeg (2).txt").ends_with("B1B2B3"));

        // The window's own question: its Replace writes over A's report.
        view->controls()->setClashQuestion({});
        QVERIFY(view->importFile(folder / "C" / "IM0001.jpeg").has_value());
        QString question;
        test::onNextDialog<QMessageBox>([&question](QMessageBox* box) {
            question = box->text();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == "Replace") button->click();
        });
        editAndSave("C1");
        QVERIFY2(question.contains(QString::fromStdString((folder / "A" / "IM0001.jpeg").string())),
                 qPrintable(question));
        QVERIFY(question.contains("output_IM0001.jpeg (3).txt"));
        QVERIFY(test::readBytes(docs / "output_IM0001.jpeg.txt").ends_with("C1"));
        QVERIFY(!std::filesystem::exists(docs / "output_IM0001.jpeg (3).txt"));
    }

    // A DICOM picture names its patient in the title, on the line above the picture, in the report's
    // name line and on the PDF; the next picture that is no DICOM shows none of it.
    void aDicomPicturesPatientIsShownEverywhereAndGoesWithIt() {
        MainWindow window(test::fixtureState());
        window.resize(1200, 800);
        window.show();
        ContentView* view = window.contentView();
        test::DicomSpec spec{.width = 64,
                             .height = 64,
                             .text = {{0x0010, 0x0010, "Doe^John"},
                                      {0x0010, 0x0020, "12345"},
                                      {0x0008, 0x0020, "20240131"},
                                      {0x0018, 0x5101, "PA"}}};
        spec.samples.assign(64 * 64, 200);
        test::writeDicom(home_->path() / "IM0001", spec);
        const QString line = QString("Doe, John · ID 12345 · study 2024-01-31 · view PA");
        const int fullHeight = view->height();

        QVERIFY(view->importFile(home_->path() / "IM0001").has_value());
        QCOMPARE(window.windowTitle(), QString("Doe, John (ID 12345) — IM0001[*] — Orvix"));
        QVERIFY(view->identityLine()->isVisible());
        QCOMPARE(view->identityLine()->text(), line);
        QCOMPARE(view->geometryProxy().H, double(fullHeight - view->identityLine()->height()));
        QVERIFY(view->controls()->editor()->editor()->toPlainText().contains("\nPatient's Name: Doe, John\n"));
        QCOMPARE(view->examination().patient, line);

        QVERIFY(view->importFile(kPicture).has_value());
        QCOMPARE(window.windowTitle(), QString("chest-normal-2mp.jpeg[*] — Orvix"));
        QVERIFY(!view->identityLine()->isVisible());
        QCOMPARE(view->geometryProxy().H, double(fullHeight));
        QVERIFY(view->controls()->editor()->editor()->toPlainText().contains("\nPatient's Name:\nTest Result:"));
        QVERIFY(view->examination().patient.isEmpty());
    }

    // The Test Result line takes no edit, however it comes; the lines around it take them all.
    void theTestResultLineIsReadOnly() {
        QVERIFY(view_->importFile(kPicture).has_value());
        const std::string report = view_->state().fullText.get();
        QPlainTextEdit* editor = view_->controls()->editor()->editor();
        const auto select = [editor](const QString& text, int extra = 0) {
            QTextCursor cursor = editor->document()->find(text);
            cursor.setPosition(cursor.position() + extra, QTextCursor::KeepAnchor);
            editor->setTextCursor(cursor);
        };
        select("NEGATIVE");
        type(editor, "POSITIVE");
        QTRY_COMPARE(editor->toPlainText().toStdString(), report);
        select("Test Result: NEGATIVE\n", 1);  // joins it with the next line
        QTest::keyClick(editor, Qt::Key_Delete);
        QTRY_COMPARE(editor->toPlainText().toStdString(), report);
        editor->moveCursor(QTextCursor::End);
        type(editor, "\nTest Result: POSITIVE");  // a second verdict below
        QTRY_COMPARE(editor->toPlainText().toStdString(), report);
        QCOMPARE(view_->state().fullText.get(), report);

        select("Patient's Name:");
        type(editor, "Patient's Name: A. B.");
        QCOMPARE(
            view_->state().fullText.get().find("\nPatient's Name: A. B.\nTest Result: NEGATIVE\n") != std::string::npos,
            true);
    }

    // A keystroke at the end of the report leaves the file name's line byte for byte, whatever the
    // name holds; the save writes exactly that.
    void anEditKeepsTheBytesItDidNotTouch_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("non-breaking space") << QByteArray(
            "chest\xC2\xA0"
            "1.png");
        QTest::newRow("line separator") << QByteArray(
            "chest\xE2\x80\xA8"
            "1.png");
        QTest::newRow("Latin-1, not UTF-8") << QByteArray("chest-\xE9.png");
        QTest::newRow("lone and cut-short bytes") << QByteArray("\xFF\xFF\xC3 \xE2\x80.png");
        QTest::newRow("paragraph separator, CR, CR LF") << QByteArray(
            "a\xE2\x80\xA9"
            "b\rc\r\nd.png");
        QTest::newRow("U+FFFD itself beside a byte") << QByteArray("\xEF\xBF\xBD\xE9.png");
    }
    void anEditKeepsTheBytesItDidNotTouch() {
        QFETCH(QByteArray, name);
        const std::string report =
            composeReport(name.toStdString(), "", "X-Ray", "NORMAL", 0.5, DiseaseAnswer{0.2, 0.5, false}, Clock::now());
        view_->state().fullText = report;
        QPlainTextEdit* editor = view_->controls()->editor()->editor();
        editor->moveCursor(QTextCursor::End);
        type(editor, " seen\u00A0by Dr.\u00A0\u00D6");
        const std::string edited = report + " seen\u00A0by Dr.\u00A0\u00D6";
        QCOMPARE(view_->state().fullText.get(), edited);
        view_->save();
        QCOMPARE(test::readBytes(home_->path() / "Documents" / "output_.txt"), edited);
    }

    // Typing over a byte that is not UTF-8 replaces it with what was typed; undo brings the byte back.
    void typingOverAByteReplacesItAndUndoBringsItBack() {
        const std::string report = "Tested File Name: chest-\xE9.png\nPatient's Name:";
        view_->state().fullText = report;
        QPlainTextEdit* editor = view_->controls()->editor()->editor();
        QTextCursor cursor = editor->document()->find(QString(QChar(0xFFFD)));
        QVERIFY(!cursor.isNull());
        editor->setTextCursor(cursor);
        type(editor, "\u00E9");
        QCOMPARE(view_->state().fullText.get(), std::string("Tested File Name: chest-\u00E9.png\nPatient's Name:"));
        editor->undo();
        QCOMPARE(view_->state().fullText.get(), report);
        editor->undo();  // nothing before the typing to undo: the byte stays
        QCOMPARE(view_->state().fullText.get(), report);
    }

    // Every character, and every byte that begins no UTF-8 character, goes into the editor's
    // document and comes back as it was.
    void everyCharacterComesBackFromTheDocumentAsItWas() {
        std::string all;
        for (char32_t c = 1; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const char32_t one[] = {c};
            all += QString::fromUcs4(one, 1).toStdString();
        }
        for (int byte = 0x80; byte <= 0xFF; ++byte) all += {'\n', static_cast<char>(byte)};
        QTextDocument document;
        setReportText(document, all);
        QVERIFY(reportText(document) == all);
    }

    void testResultHeaderAndSidebarRow() {
        QCOMPARE(view_->imagePanel()->title()->text(), QString("Pneumonia"));
        QVERIFY(!view_->sidebarShown());
        view_->setSidebarShown(true);
        view_->state().option = 2;
        QCOMPARE(view_->imagePanel()->title()->text(), QString("Heart Disease"));
        QListWidget* list = view_->sidebar()->list();
        QCOMPARE(list->count(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
        QCOMPARE(view_->state().option.get(), 0);
        QCOMPARE(view_->imagePanel()->title()->text(), QString("Pneumonia"));

        const std::string before = view_->state().fullText;
        QTest::mouseClick(view_->controls()->testResult(), Qt::LeftButton);
        QCOMPARE(view_->state().fullText.get(), before);
        QCOMPARE(view_->state().showAlert.get(), false);
    }

    void exportedPdfIsConfirmedWithItsFile() {
        MainWindow window(test::fixtureState());
        window.show();
        QVERIFY(window.contentView()->importFile(kPicture).has_value());
        const QString path = QString::fromStdString((home_->path() / "exam.pdf").string());
        QString shown;
        test::onNextDialog<QMessageBox>([&shown](QMessageBox* box) {
            shown = box->text();
            box->accept();
        });
        QVERIFY(window.contentView()->exportPdf(path));
        QTRY_VERIFY(!shown.isEmpty());
        QCOMPARE(shown, "The examination was exported as " + path);
    }

    void failedSaveIsToldAndRaisesNothing() {
        MainWindow window(test::fixtureState());
        window.show();
        test::writeBytes(home_->path() / "Documents", "a file where the directory should be");
        window.contentView()->state().fullText = "a report";  // Save waits for one
        QString shown;
        test::onNextDialog<QMessageBox>([&shown](QMessageBox* box) {
            shown = box->text();
            box->accept();
        });
        window.contentView()->save();
        QTRY_VERIFY(!shown.isEmpty());
        QVERIFY(shown.contains("output_.txt"));
        QCOMPARE(window.contentView()->state().showAlert.get(), false);
    }

    // The About box reads each population's figures from the disease model's metadata: a retrained
    // model's populations, a further one included, appear without a change to the window.
    void aboutStatesEachPopulationFromTheMetadata() {
        const test::TempDir dir;
        const auto model = dir / "SickClassifier1.mlmodelc";
        std::filesystem::copy(test::fixtureModels() / "SickClassifier1.mlmodelc", model);
        QJsonObject metadata =
            QJsonDocument::fromJson(QByteArray::fromStdString(test::readBytes(model / "metadata.json"))).object();
        const auto figures = [](int n, double auc, QJsonValue sensitivity) {
            return QJsonObject{{"n", n},
                               {"auc", QJsonArray{auc, auc - 0.01, auc + 0.005}},
                               {"sensitivity", sensitivity},
                               {"specificity", QJsonArray{0.9, 0.85, 0.95}}};
        };
        QJsonObject validation = figures(941, 0.9876, QJsonArray{0.95, 0.93, 0.97});
        validation["perPopulation"] = QJsonObject{{"paediatric", figures(796, 0.998, QJsonArray{0.972, 0.955, 0.983})},
                                                  {"adult", figures(145, 0.9056, QJsonValue())},
                                                  {"adult-rsna", figures(60, 0.81, QJsonArray{0.5, 0.4, 0.6})}};
        metadata["provenance"] = QJsonObject{{"validation", validation}};
        test::writeBytes(model / "metadata.json", QJsonDocument(metadata).toJson().toStdString());
        auto disease = SickClassifier1::create(model);
        QVERIFY(disease);
        MainWindow window(DiagnosisState(disease.value(), test::fixtureState().model2));
        const QString about = window.aboutText();
        const qsizetype children = about.indexOf(
            "children (796 pictures): AUC 0.9980 (95 % CI 0.9880–1.0030), sensitivity 97.2 % (95 % CI 95.5–98.3 %), "
            "specificity 90.0 % (95 % CI 85.0–95.0 %)");
        const qsizetype adults = about.indexOf(
            "NIH adults (145 pictures): AUC 0.9056 (95 % CI 0.8956–0.9106), "
            "sensitivity n/a, specificity 90.0 %");
        const qsizetype further = about.indexOf("adult-rsna (60 pictures): AUC 0.8100");
        QVERIFY2(children >= 0 && children < adults && adults < further, qPrintable(about));
        QVERIFY2(!about.contains("941") && !about.contains("0.9876"), "no pooled figures");
    }

    // Help -> Reading the result opens the page compiled into the program; the README mirrors it.
    void readingTheResultOpensInTheWindowAndTheReadmeMirrorsIt() {
        MainWindow window(test::fixtureState());
        window.show();
        QAction* action = nullptr;
        for (QAction* a : window.findChildren<QAction*>())
            if (a->text() == "&Reading the result") action = a;
        QVERIFY(action);
        QString shown;
        test::onNextDialog<QDialog>([&shown](QDialog* page) {
            shown = page->findChild<QTextBrowser*>()->toPlainText();
            page->reject();
        });
        action->trigger();
        QVERIFY(shown.contains("not certainty about pneumonia") && shown.contains("treat the verdict as undecided"));

        const auto simplified = [](const QString& text) { return text.simplified(); };
        const QString readme =
            simplified(QString::fromStdString(test::readBytes(test::fixtures() / "../../README.md")));
        const QString page = readingTheResult();
        for (const QString& part : page.split(QRegularExpression("\n(?=- )|\n\n"), Qt::SkipEmptyParts)) {
            if (part.startsWith("# ")) continue;
            QVERIFY2(readme.contains(simplified(part)), qPrintable(part));
        }
    }

private:
    std::unique_ptr<test::FreshHome> home_;
    std::unique_ptr<ContentView> view_;
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"

// Drives the real widgets of the window on Qt's offscreen platform, with the fixture models.

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QtTest>

#include "ContentView.h"
#include "ControlsArea.h"
#include "ImagePanel.h"
#include "SideBar.h"
#include "TestSupport.h"
#include "TextEditingView.h"
#include "TolMeranApp.h"

using namespace orvix;
using namespace orvix::app;

namespace {

const QString kPicture = QString::fromStdString((test::fixtures() / "pictures" / "chest-normal-2mp.jpeg").string());
const QString kSecondPicture =
    QString::fromStdString((test::fixtures() / "pictures" / "chest-pneumonia-bacteria.jpeg").string());

// Runs fn on the next modal dialog of type T once it is shown.
template <class T, class Fn>
void onNextDialog(Fn fn) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, fn] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            fn(dialog);
        }
    });
    timer->start(20);
}

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        home_ = std::make_unique<test::TempDir>();
        homeEnv_ = std::make_unique<test::ScopedEnv>("HOME", home_->path().string());
        configEnv_ = std::make_unique<test::ScopedEnv>("XDG_CONFIG_HOME", std::nullopt);
        view_ = std::make_unique<ContentView>(test::fixtureState());
        view_->resize(1200, 800);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
    }
    void cleanup() {
        view_.reset();
        configEnv_.reset();
        homeEnv_.reset();
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
        QCOMPARE(view_->controls()->savedMessage()->size(), QSize(348, 42));
        QCOMPARE(view_->imagePanel()->title()->font().pixelSize(), 80);
        QCOMPARE(view_->controls()->resultPanel()->verdict()->font().pixelSize(), 24);
        QCOMPARE(view_->controls()->resultPanel()->message()->font().pixelSize(), 24);
        // The detail content is wider than the room beside the sidebar: it scrolls, it is not squeezed.
        QVERIFY(view_->detailScroll()->widget()->width() > view_->detailScroll()->viewport()->width());

        view_->resize(1200, 400);  // height only: the width-based boxes keep their size
        QCOMPARE(view_->imagePanel()->upload()->size(), QSize(156, 36));
        QCOMPARE(view_->controls()->savedMessage()->size(), QSize(348, 42));
        QCOMPARE(view_->controls()->size(), QSize(600, 280));
        QCOMPARE(view_->imagePanel()->title()->font().pixelSize(), 40);

        view_->resize(1000, 600);
        QCOMPARE(view_->imagePanel()->width(), 500);
        QCOMPARE(view_->controls()->size(), QSize(500, 420));
        QCOMPARE(view_->blankBox()->size(), QSize(500, 180));
        QCOMPARE(view_->imagePanel()->upload()->size(), QSize(130, 30));
        QCOMPARE(view_->imagePanel()->title()->font().pixelSize(), 60);
    }

    void initialScreenShowsTitleAndNothingElse() {
        QCOMPARE(view_->imagePanel()->title()->text(), QString("Pneumonia"));
        QCOMPARE(view_->imagePanel()->caption()->text(), QString("Patient's Chest X-Ray Image"));
        QVERIFY(view_->imagePanel()->picture()->picture().isNull());
        ResultPanel* panel = view_->controls()->resultPanel();
        QVERIFY(!panel->message()->isVisible());
        QVERIFY(!panel->verdict()->isVisible());
        QVERIFY(!view_->controls()->savedMessage()->isVisible());
    }

    void resultPanelCases_data() {
        QTest::addColumn<QString>("gate");
        QTest::addColumn<QString>("disease");
        QTest::addColumn<double>("accuracy");
        QTest::addColumn<QString>("verdict");  // "" = hidden
        QTest::addColumn<QString>("confidence");
        QTest::addColumn<bool>("message");
        QTest::newRow("negative") << "X-Ray" << "NORMAL" << 0.5 << "NEGATIVE" << "CONFIDENCE: 50.000000%" << false;
        QTest::newRow("positive") << "X-Ray" << "" << 1.0 << "POSITIVE" << "CONFIDENCE: 100.000000%" << false;
        QTest::newRow("not an x-ray") << "x-ray" << "PNEUMONIA" << 0.9731 << "" << "" << true;
        QTest::newRow("nothing yet") << "X-Ray " << "" << 0.0 << "" << "" << false;
    }
    void resultPanelCases() {
        QFETCH(QString, gate);
        QFETCH(QString, disease);
        QFETCH(double, accuracy);
        QFETCH(QString, verdict);
        QFETCH(QString, confidence);
        QFETCH(bool, message);
        DiagnosisState& s = view_->state();
        s.accuracy = accuracy;
        s.classificationLabel = disease.toStdString();
        s.classificationLabel2 = gate.toStdString();
        ResultPanel* panel = view_->controls()->resultPanel();
        QCOMPARE(panel->verdict()->isVisible(), !verdict.isEmpty());
        QCOMPARE(panel->confidence()->isVisible(), !verdict.isEmpty());
        QCOMPARE(panel->message()->isVisible(), message);
        if (!verdict.isEmpty()) {
            QCOMPARE(panel->verdict()->text(), verdict);
            QCOMPARE(panel->confidence()->text(), confidence);
            const QColor colour = panel->verdict()->palette().color(QPalette::WindowText);
            QVERIFY(verdict == "NEGATIVE" ? colour.green() > colour.red() : colour.red() > colour.green());
            QCOMPARE(panel->verdict()->font().weight(), QFont::Light);
            QVERIFY(panel->confidence()->font().bold());
        }
    }

    void uploadOpensTheImporterAndChoosingAPictureShowsTheVerdict() {
        QString filter;
        onNextDialog<QFileDialog>([&filter](QFileDialog* dialog) {
            filter = dialog->nameFilters().join(' ');
            QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
            // Typed into the dialog's file name field, as a user would; done() rather than accept(),
            // which first waits for the directory model that loads asynchronously.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name != nullptr);
            name->setText(kPicture);
            static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
        });
        QTest::mouseClick(view_->imagePanel()->upload(), Qt::LeftButton);
        QTRY_COMPARE(view_->state().fileName.get(), std::string("chest-normal-2mp.jpeg"));
        QVERIFY(filter.contains("*.png") && filter.contains("*.jpeg") && filter.contains("*.tiff"));
        QCOMPARE(view_->state().openFile.get(), false);
        QCOMPARE(view_->imagePanel()->picture()->picture().size(), QSize(1604, 1248));
        QVERIFY(view_->controls()->resultPanel()->verdict()->isVisible());
        QVERIFY(view_->controls()->editor()->editor()->toPlainText().startsWith(
            "Tested File Name: chest-normal-2mp.jpeg\nTested Disease: Pneumonia\n"));
    }

    void cancellingTheImporterChangesNothing() {
        onNextDialog<QFileDialog>([](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->done(QDialog::Rejected); });
        view_->upload();
        QTRY_VERIFY(!view_->state().openFile.get());
        QCOMPARE(view_->state().fileName.get(), std::string());
    }

    void editedReportIsWhatSaveWritesAndTheMessageLivesUntilOkOrImport() {
        QCOMPARE(view_->importFile(kPicture).status, ImportStatus::Analysed);
        QPlainTextEdit* editor = view_->controls()->editor()->editor();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, " checked by Dr. Ö");
        const std::string edited = view_->state().fullText.get();
        QVERIFY(edited.ends_with("Additional Info: checked by Dr. Ö"));

        QTest::mouseClick(view_->controls()->save(), Qt::LeftButton);
        const auto saved = home_->path() / "Documents" / "output_chest-normal-2mp.jpeg.txt";
        QCOMPARE(test::readBytes(saved), edited);
        SavedMessage* message = view_->controls()->savedMessage();
        QVERIFY(message->isVisible());
        QCOMPARE(message->text()->text(), QString("File saved as output_chest-normal-2mp.jpeg.txt on your mac"));

        QTest::mouseClick(message->ok(), Qt::LeftButton);
        QVERIFY(!message->isVisible());
        QTest::mouseClick(view_->controls()->save(), Qt::LeftButton);
        QVERIFY(message->isVisible());

        view_->importFile(kSecondPicture);
        QVERIFY(!message->isVisible());
        QVERIFY(editor->toPlainText().startsWith("Tested File Name: chest-pneumonia-bacteria.jpeg\n"));
        QVERIFY(!editor->toPlainText().contains("Dr. Ö"));
    }

    void testResultHeaderAndSidebarRow() {
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

    void failedSaveIsToldAndRaisesNothing() {
        MainWindow window(test::fixtureState());
        window.show();
        test::writeBytes(home_->path() / "Documents", "a file where the directory should be");
        QString shown;
        onNextDialog<QMessageBox>([&shown](QMessageBox* box) {
            shown = box->text();
            box->accept();
        });
        window.contentView()->save();
        QTRY_VERIFY(!shown.isEmpty());
        QVERIFY(shown.contains("output_.txt"));
        QCOMPARE(window.contentView()->state().showAlert.get(), false);
        QVERIFY(window.aboutText().contains("Not for diagnostic use"));
    }

private:
    std::unique_ptr<test::TempDir> home_;
    std::unique_ptr<test::ScopedEnv> homeEnv_;
    std::unique_ptr<test::ScopedEnv> configEnv_;
    std::unique_ptr<ContentView> view_;
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"

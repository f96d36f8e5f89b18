// The window leaves no file behind but the report and the PDF the user saves. Runs on Qt's
// offscreen platform with a fresh HOME (and XDG folders under it), set before Qt reads them.

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QtTest>

#include <set>

#include "ContentView.h"
#include "ControlsArea.h"
#include "MainWindow.h"
#include "NextDialog.h"
#include "TestSupport.h"
#include "TextEditingView.h"
#include "orvix/Digest.h"

using namespace orvix;
using namespace orvix::app;

namespace {

const auto kPicture = test::fixtures() / "pictures" / "chest-normal-2mp.jpeg";

// Every file and folder under root, relative to it.
std::set<std::string> everythingUnder(const std::filesystem::path& root) {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        found.insert(entry.path().lexically_relative(root).string());
    return found;
}

}  // namespace

class NoTraceTest : public QObject {
    Q_OBJECT
public:
    explicit NoTraceTest(std::filesystem::path home) : home_(std::move(home)) {}

private slots:
    void openCancelImportSaveExportAndQuitLeaveOnlyTheReportAndThePdf() {
        {
            MainWindow window(test::fixtureState());
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            ContentView* view = window.contentView();

            test::onNextDialog<QFileDialog>(
                [](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->done(QDialog::Rejected); });
            view->upload();
            QTRY_VERIFY(!view->state().openFile.get());

            test::onNextDialog<QFileDialog>([](QFileDialog* dialog) {
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(kPicture.c_str());
                static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
            });
            view->upload();
            QTRY_COMPARE(view->state().fileName.get(), kPicture.filename().string());
            // The theme and the recent files last for the session: nothing is written for them.
            window.darkAction()->trigger();
            QCOMPARE(window.recentFiles().size(), std::size_t(1));

            QPlainTextEdit* editor = view->controls()->editor()->editor();
            editor->moveCursor(QTextCursor::End);
            QTest::keyClicks(editor, " checked");
            view->save();
            QVERIFY(!view->reportEdited());
            // File > Export PDF offers Documents/<file name>.pdf.
            test::onNextDialog<QFileDialog>(
                [](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->done(QDialog::Accepted); });
            test::onNextDialog<QMessageBox>([](QMessageBox* confirmation) { confirmation->accept(); });
            view->exportPdf();
            QVERIFY(window.close());
        }
        // The report, its record beside it (whose picture it is, ReportSaver.h) and the PDF.
        const std::set<std::string> expected = {
            ".config",
            ".config/user-dirs.dirs",
            "Reports",
            "Reports/output_chest-normal-2mp.jpeg.txt",
            "Reports/.orvix-record-" + sha256Hex(std::string_view("output_chest-normal-2mp.jpeg.txt")).substr(0, 32),
            "Reports/chest-normal-2mp.jpeg.pdf"};
        const std::set<std::string> found = everythingUnder(home_);
        QStringList names;
        for (const std::string& name : found) names << QString::fromStdString(name);
        QVERIFY2(found == expected, qPrintable("under HOME: " + names.join(", ")));
    }

private:
    std::filesystem::path home_;
};

int main(int argc, char** argv) {
    const test::TempDir home;
    const std::string root = home.path().string();
    // Qt and the report saver read these once; they must point into the fresh home before either does.
    const test::ScopedEnv homeEnv("HOME", root), config("XDG_CONFIG_HOME", root + "/.config"),
        cache("XDG_CACHE_HOME", root + "/.cache"), data("XDG_DATA_HOME", root + "/.local/share"),
        state("XDG_STATE_HOME", root + "/.local/state");
    std::filesystem::create_directories(home.path() / ".config");
    test::writeBytes(home.path() / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Reports\"\n");
    QApplication application(argc, argv);
    NoTraceTest suite(home.path());
    return QTest::qExec(&suite, argc, argv);
}

#include "NoTraceTest.moc"

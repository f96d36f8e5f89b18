// File -> Receive from PACS: the window's Storage SCP on a loopback port, fed by DCMTK's storescu
// (skipped when it is not installed), the films analysed in the worklist with the fixture models
// (ORVIX_MODEL_DIR, set by the test's environment): a dark film is POSITIVE.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QtTest>

#include "DicomWriter.h"
#include "MainWindow.h"
#include "PacsReceiver.h"
#include "ReceiveDialog.h"
#include "TestSupport.h"
#include "Worklist.h"

using namespace orvix;
using namespace orvix::app;

namespace {

const std::string kUid = "1.2.826.0.1.3680043.2.1125.1.1";  // DicomWriter's SOP Instance UID

// A loopback socket listening on port (0: one the system picks), as a server started after the
// receiver would open it; -1 when the port is taken. Close it with ::close.
int listenOn(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool portFree(std::uint16_t port) {
    const int fd = listenOn(port);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

std::uint16_t freePort() {
    const int fd = listenOn(0);
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

ReceiveSettings loopback(const std::filesystem::path& folder, std::vector<std::string> allow = {}) {
    ReceiveSettings s;
    s.server = {"ORVIX", freePort(), "127.0.0.1", std::move(allow)};
    s.folder = folder;
    return s;
}

// storescu's exit status sending file as calling to the receiver of s.
int send(const ReceiveSettings& s, const std::string& calling, const std::filesystem::path& file) {
    QProcess storescu;
    storescu.start(QStringLiteral("storescu"),
                   {QStringLiteral("-aet"), QString::fromStdString(calling), QStringLiteral("-aec"),
                    QString::fromStdString(s.server.aet), QStringLiteral("127.0.0.1"), QString::number(s.server.port),
                    QString::fromStdString(file.string())});
    if (!storescu.waitForFinished(30000)) return -1;
    return storescu.exitStatus() == QProcess::NormalExit ? storescu.exitCode() : -1;
}

std::filesystem::path darkFilm(const std::filesystem::path& dir) {
    test::DicomSpec spec;
    spec.width = spec.height = 64;
    spec.samples.assign(64 * 64, 20);
    const auto path = dir / "outgoing.dcm";
    test::writeDicom(path, spec);
    return path;
}

}  // namespace

class ReceiveTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (QStandardPaths::findExecutable(QStringLiteral("storescu")).isEmpty())
            QSKIP("storescu (Debian package dcmtk) is not installed: nothing to send films with");
    }

    void aFilmReceivedIsKeptAndAnalysedInTheWorklist() {
        test::TempDir dir;
        const ReceiveSettings s = loopback(dir / "received", {"MODALITY"});
        MainWindow window(test::fixtureState());
        QVERIFY(window.startReceiving(s).ok());
        QVERIFY(window.receiveAction()->isChecked());
        QCOMPARE(window.receivingLabel()->text(), QStringLiteral("Receiving as ORVIX on port %1").arg(s.server.port));

        QSignalSpy analysed(window.worklist(), &Worklist::finished);
        QCOMPARE(send(s, "MODALITY", darkFilm(dir.path())), 0);
        QVERIFY(analysed.wait(60000));
        QCOMPARE(window.worklist()->rowCount(), 1);
        QCOMPARE(window.worklist()->pathAt(0), s.folder / (kUid + ".dcm"));
        QVERIFY(std::filesystem::is_regular_file(s.folder / (kUid + ".dcm")));
        const auto* model = window.worklist()->table()->model();
        QCOMPARE(model->index(0, Worklist::VerdictColumn).data().toString(), QStringLiteral("POSITIVE"));
        // Only the film: the node's spool folders and results are not made.
        QCOMPARE(std::distance(std::filesystem::directory_iterator(s.folder), {}), std::ptrdiff_t{1});
    }

    void aCallingAeTitleNotAllowedIsRefused() {
        test::TempDir dir;
        const ReceiveSettings s = loopback(dir / "received", {"MODALITY"});
        MainWindow window(test::fixtureState());
        QVERIFY(window.startReceiving(s).ok());
        QVERIFY(send(s, "STRANGER", darkFilm(dir.path())) != 0);
        QTest::qWait(300);  // what a queued call would have brought
        QCOMPARE(window.worklist()->rowCount(), 0);
        QVERIFY(!std::filesystem::exists(s.folder / (kUid + ".dcm")));
    }

    // Stop, and closing the window, end the worker thread and free the port for anyone.
    void stoppingOrClosingReleasesThePort() {
        test::TempDir dir;
        MainWindow window(test::fixtureState());
        ReceiveSettings s = loopback(dir.path());
        QVERIFY(window.startReceiving(s).ok());
        QVERIFY(!portFree(s.server.port));
        QVERIFY(!window.startReceiving(s).ok());  // once at a time
        window.receiveAction()->trigger();        // unchecks: Stop
        QVERIFY(!window.receiver()->receiving());
        QVERIFY(window.receivingLabel()->isHidden());
        QVERIFY(portFree(s.server.port));

        s.server.port = freePort();
        QVERIFY(window.startReceiving(s).ok());
        window.show();
        QVERIFY(window.close());
        QVERIFY(!window.receiver()->receiving());
        QVERIFY(portFree(s.server.port));
    }

    // What the dialog refuses before starting, and a start that fails, are said in the dialog, which stays open.
    void theDialogSaysWhyItCannotStart_data() {
        QTest::addColumn<QString>("aet");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("allowed");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("portTaken");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no AE title") << ""
                                     << "127.0.0.1"
                                     << "" << true << false << "The AE title is empty";
        QTest::newRow("AE title too long") << "ORVIX-RECEIVER-ONE"
                                           << "127.0.0.1"
                                           << "" << true << false << "longer than 16 characters";
        QTest::newRow("backslash in a calling AE")
            << "ORVIX"
            << "127.0.0.1"
            << "CT1, A\\B" << true << false << "The calling AE title 'A\\B' holds a character";
        QTest::newRow("no address") << "ORVIX"
                                    << " "
                                    << "" << true << false << "No address to listen on";
        QTest::newRow("not an address") << "ORVIX"
                                        << "localhost"
                                        << "" << true << false << "'localhost' is not an IPv4 address";
        QTest::newRow("no folder") << "ORVIX"
                                   << "127.0.0.1"
                                   << "" << false << false << "No folder";
        QTest::newRow("port in use") << "ORVIX"
                                     << "127.0.0.1"
                                     << "" << true << true << "Address already in use";
    }
    void theDialogSaysWhyItCannotStart() {
        QFETCH(QString, aet);
        QFETCH(QString, address);
        QFETCH(QString, allowed);
        QFETCH(bool, folder);
        QFETCH(bool, portTaken);
        QFETCH(QString, reason);
        test::TempDir dir;
        PacsReceiver receiver;
        ReceiveDialog dialog([&](const ReceiveSettings& s) { return receiver.start(s); });
        QCOMPARE(dialog.port()->value(), 11112);  // the defaults, every time
        QCOMPARE(dialog.address()->text(), QStringLiteral("127.0.0.1"));
        const std::uint16_t port = freePort();
        const int taken = portTaken ? listenOn(port) : -1;
        dialog.aeTitle()->setText(aet);
        dialog.port()->setValue(port);
        dialog.address()->setText(address);
        dialog.allowed()->setText(allowed);
        if (folder) dialog.folder()->setText(QString::fromStdString(dir.path().string()));
        dialog.show();
        dialog.startButton()->click();
        if (taken >= 0) ::close(taken);
        QVERIFY2(dialog.message()->text().contains(reason), qPrintable(dialog.message()->text()));
        QVERIFY(dialog.isVisible());
        QVERIFY(!receiver.receiving());
    }

    void theDialogStartsWithCallingAeTitlesAsTyped() {
        test::TempDir dir;
        PacsReceiver receiver;
        ReceiveDialog dialog([&](const ReceiveSettings& s) { return receiver.start(s); });
        dialog.port()->setValue(freePort());
        dialog.allowed()->setText(QStringLiteral(" CT1,  MODALITY PACS "));
        dialog.folder()->setText(QString::fromStdString(dir.path().string()));
        dialog.show();
        dialog.startButton()->click();
        QVERIFY2(receiver.receiving(), qPrintable(dialog.message()->text()));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(receiver.settings().server.allow, (std::vector<std::string>{"CT1", "MODALITY", "PACS"}));
        QCOMPARE(receiver.settings().server.bind, std::string("127.0.0.1"));
    }
};

QTEST_MAIN(ReceiveTest)
#include "ReceiveTest.moc"

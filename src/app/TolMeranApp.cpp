#include "TolMeranApp.h"

#include <QApplication>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "ContentView.h"
#include "LocalOperatingPoint.h"
#include "MainWindow.h"
#include "Palette.h"
#include "orvix/DiagnosisState.h"
#include "orvix/Version.h"

namespace orvix::app {

QString usageText() {
    return QStringLiteral(
        "Usage: orvix [--dark] [FILE...]\n"
        "Opens the Orvix window, which screens a chest X-ray picture for pneumonia on this machine.\n"
        "FILE: a picture to analyse at once (PNG, JPEG, BMP, TIFF, WebP, PBM/PGM/PPM, JPEG 2000, DICOM),\n"
        "or a folder, whose pictures go into the worklist.\n"
        "\n"
        "  --dark      start in the dark theme (also ORVIX_THEME=dark)\n"
        "  --help      show this help and exit\n"
        "  --version   show the version and exit\n"
        "\n"
        "For folders of pictures without a window, see orvix-screen --help. Not for diagnostic use.\n");
}

int tolMeranApp::main(int argc, char** argv) {
    // Answered before any window or display is needed.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") {
            std::fputs(usageText().toLocal8Bit().constData(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("orvix %s\n", ORVIX_VERSION);
            return 0;
        }
    }
    QApplication application(argc, argv);
    // QApplication has taken its own options out of argv; file names stay the bytes given.
    std::vector<std::filesystem::path> files;
    bool onlyFiles = false;
    const char* themeVariable = std::getenv("ORVIX_THEME");
    Theme theme = themeNamed(themeVariable ? themeVariable : "").value_or(Theme::Light);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!onlyFiles && arg == "--") {
            onlyFiles = true;
        } else if (!onlyFiles && arg == "--dark") {
            theme = Theme::Dark;
        } else if (!onlyFiles && arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "orvix: unknown option %s\n\n%s", argv[i], usageText().toLocal8Bit().constData());
            return 2;
        } else {
            files.emplace_back(argv[i]);
        }
    }
    QApplication::setApplicationName(QStringLiteral("Orvix"));
    QApplication::setApplicationVersion(QStringLiteral(ORVIX_VERSION));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("orvix")));
    applyTheme(theme);

    auto state = DiagnosisState::create();
    if (!state) {
        QMessageBox::critical(
            nullptr, QStringLiteral("Orvix cannot start"),
            QStringLiteral("A classifier could not be loaded.\n\n") + QString::fromStdString(state.error().message));
        return 1;
    }
    // A clinic's configured operating point, read once; one that is void is said so, not used.
    const auto pointProblem = loadConfiguredOperatingPoint(*state, processEnvironment);
    MainWindow window(std::move(state).value());
    window.resize(initialWindowSize(QGuiApplication::primaryScreen()->availableGeometry().size(),
                                    window.menuBar()->sizeHint().height()));
    window.show();
    if (pointProblem) QMessageBox::warning(&window, QStringLiteral("Operating point not used"), *pointProblem);
    window.openArguments(files);
    return QApplication::exec();
}

}  // namespace orvix::app

#pragma once
// The application: one window (MainWindow) whose content is the diagnosis screen.
//
//   orvix [--dark] [FILE...]  opens the window; the first FILE is imported at once, and with
//                    more than one, or a folder, all go into the worklist (MainWindow::openArguments).
//                    --dark, or ORVIX_THEME=dark, starts in the dark theme.
//   orvix --help / --version   print and exit, without a window.
// A missing or invalid model stops the start with a dialog naming the resource and
// where it was looked for, and a non-zero exit status.

#include <QString>

namespace orvix::app {

// orvix --help.
QString usageText();

class tolMeranApp {
public:
    tolMeranApp() = default;
    // Runs the application; returns the process exit status.
    static int main(int argc, char** argv);
};

}  // namespace orvix::app

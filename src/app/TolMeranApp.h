#pragma once
// The application: one window whose content is the diagnosis screen, with a menu bar.
//
//   orvix [FILE]     opens the window; FILE, when given, is imported at once.
// A missing or invalid model stops the start with a dialog naming the resource and
// where it was looked for, and a non-zero exit status.

#include <QMainWindow>

#include "orvix/DiagnosisState.h"

namespace orvix::app {

class ContentView;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(DiagnosisState state, QWidget* parent = nullptr);
    ContentView* contentView() const { return content_; }
    QString aboutText() const;

private:
    ContentView* content_;
};

class tolMeranApp {
public:
    tolMeranApp() = default;
    // Runs the application; returns the process exit status.
    static int main(int argc, char** argv);
};

}  // namespace orvix::app

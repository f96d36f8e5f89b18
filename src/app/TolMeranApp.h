#pragma once
// The application: one window whose content is the diagnosis screen, with a menu bar. The
// title names the picture ("<file name> — Orvix") and marks a report with unsaved edits.
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
    ~MainWindow() override;
    ContentView* contentView() const { return content_; }
    QAction* heatmapAction() const { return heatmap_; }
    QString aboutText() const;

protected:
    // Unsaved report edits are saved, discarded or keep the window open, as the user says.
    void closeEvent(QCloseEvent* event) override;

private:
    void updateTitle();

    ContentView* content_;
    QAction* heatmap_;
    std::size_t fileNameObserver_ = 0;
};

class tolMeranApp {
public:
    tolMeranApp() = default;
    // Runs the application; returns the process exit status.
    static int main(int argc, char** argv);
};

}  // namespace orvix::app

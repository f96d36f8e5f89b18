#pragma once
// The application's one window: its content is the diagnosis screen, with a menu bar and the
// worklist docked beside it. The title names the picture ("<file name> — Orvix", a DICOM
// picture's patient first: "Doe, John (ID 12345) — IM0001 — Orvix") and marks a report with
// unsaved edits.

#include <QMainWindow>

#include <filesystem>
#include <vector>

#include "orvix/DiagnosisState.h"

class QAction;
class QCloseEvent;
class QDockWidget;

namespace orvix::app {

class ContentView;
class Worklist;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(DiagnosisState state, QWidget* parent = nullptr);
    ~MainWindow() override;
    ContentView* contentView() const { return content_; }
    QAction* heatmapAction() const { return heatmap_; }
    QAction* sidebarAction() const { return sidebar_; }
    Worklist* worklist() const { return worklist_; }
    // Puts the pictures of these files and folders in the worklist (shown) and analyses them there.
    void addToWorklist(const std::vector<std::filesystem::path>& paths);
    // The About box: the version and each model's validation figures from its metadata, per
    // population where the model card has them.
    QString aboutText() const;
    // Help -> Reading the result: what the verdict, CONFIDENCE, the probability and borderline mean
    // (modal; compiled into the program, so offline).
    void showReadingTheResult();

protected:
    // Unsaved report edits are saved, discarded or keep the window open, as the user says.
    void closeEvent(QCloseEvent* event) override;

private:
    void updateTitle();

    ContentView* content_;
    QAction* heatmap_;
    QAction* sidebar_;
    Worklist* worklist_;
    QDockWidget* worklistDock_;
    std::size_t fileNameObserver_ = 0;
    std::size_t originObserver_ = 0;
};

// 1200 x 800 content (plus the menu bar), as far as the screen's available room allows.
QSize initialWindowSize(const QSize& available, int menuHeight);

}  // namespace orvix::app

#pragma once
// The application's one window: its content is the diagnosis screen, with a menu bar and the
// worklist docked beside it. The title names the picture ("<file name> — Orvix", a DICOM
// picture's patient first: "Doe, John (ID 12345) — IM0001 — Orvix") and marks a report with
// unsaved edits.

#include <QMainWindow>

#include <filesystem>
#include <functional>
#include <vector>

#include "orvix/DiagnosisState.h"
#include "orvix/Result.h"

class QAction;
class QCloseEvent;
class QDockWidget;
class QLabel;
class QMenu;
class QPrinter;

namespace orvix::app {

class ContentView;
class PacsReceiver;
class ReadingScreen;
struct ReceiveSettings;
class ValidationDialog;
class Worklist;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(DiagnosisState state, QWidget* parent = nullptr);
    ~MainWindow() override;
    ContentView* contentView() const { return content_; }
    QAction* heatmapAction() const { return heatmap_; }
    QAction* sidebarAction() const { return sidebar_; }
    QAction* invertAction() const { return invert_; }
    QAction* darkAction() const { return dark_; }
    QAction* fullScreenAction() const { return fullScreen_; }
    QAction* printAction() const { return print_; }
    QAction* saveAction() const { return save_; }
    QAction* exportAction() const { return export_; }
    QMenu* recentMenu() const { return recent_; }
    ReadingScreen* readingScreen() const { return reading_; }
    // The status bar's readout of zoom and window/level.
    QLabel* readout() const { return readout_; }
    Worklist* worklist() const { return worklist_; }
    // File -> Receive from PACS…, checked while receiving; its status-bar label says as what.
    QAction* receiveAction() const { return receive_; }
    QLabel* receivingLabel() const { return receiving_; }
    PacsReceiver* receiver() const { return receiver_; }
    // Starts receiving as Receive from PACS… does after its dialog: each film kept joins the
    // worklist. Fails as PacsReceiver::start does.
    Status startReceiving(const ReceiveSettings& settings);
    // Stops receiving; the port is free again when it returns.
    void stopReceiving();
    // Opens the command line's FILEs: a single picture on the screen; a folder, or more than one
    // FILE, in the worklist (the first picture named also on the screen).
    void openArguments(const std::vector<std::filesystem::path>& paths);
    // File > Recent Files, most recent first: the pictures opened on the screen in this session,
    // at most kRecentFiles.
    static constexpr int kRecentFiles = 10;
    const std::vector<std::filesystem::path>& recentFiles() const { return recentFiles_; }
    // The examination page on printer, as Print... does after its dialog.
    bool print(QPrinter& printer);
    // Puts the pictures of these files and folders in the worklist (shown) and analyses them there.
    void addToWorklist(const std::vector<std::filesystem::path>& paths);
    // The About box: the version and each model's validation figures from its metadata, per
    // population where the model card has them.
    QString aboutText() const;
    // Tools -> Validate on Local Films on folder: the dialog, shown and started (it deletes itself
    // when closed). Adopting or dropping its operating point decides the picture on screen again.
    ValidationDialog* validateOnLocalFilms(const std::filesystem::path& folder);
    // Help -> Reading the result: what the verdict, CONFIDENCE, the probability and borderline mean
    // (modal; compiled into the program, so offline).
    void showReadingTheResult();

protected:
    // Unsaved report edits are saved, discarded or keep the window open, as the user says; a
    // window that closes stops receiving.
    void closeEvent(QCloseEvent* event) override;

private:
    void updateTitle();
    void updateReadout();
    // Save, Export PDF and Print are enabled while there is a report to save.
    void updateSaveActions();
    void rememberRecent(const std::filesystem::path& path);
    void setFullScreenReading(bool reading);
    void updateReadingVerdict();
    void print();

    ContentView* content_;
    QAction* heatmap_;
    QAction* sidebar_;
    QAction* invert_ = nullptr;
    QAction* dark_ = nullptr;
    QAction* fullScreen_ = nullptr;
    QAction* save_ = nullptr;
    QAction* export_ = nullptr;
    QAction* print_ = nullptr;
    QMenu* recent_ = nullptr;
    QAction* receive_ = nullptr;
    QLabel* receiving_ = nullptr;
    PacsReceiver* receiver_ = nullptr;
    QLabel* readout_ = nullptr;
    ReadingScreen* reading_ = nullptr;
    Worklist* worklist_;
    QDockWidget* worklistDock_;
    std::vector<std::filesystem::path> recentFiles_;
    // While the worklist opens a row: a picture that cannot be analysed is told in the row and
    // the status bar, not by a dialog that would take the arrow keys from the list.
    bool openingRow_ = false;
    std::vector<std::function<void()>> unobserve_;
};

// 1200 x 800 content (plus the menu bar), as far as the screen's available room allows.
QSize initialWindowSize(const QSize& available, int menuHeight);

}  // namespace orvix::app

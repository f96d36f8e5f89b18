#pragma once
// The worklist: the pictures of many files and folders in one table, analysed in the
// background one after another, each row with its status (and, for a picture that could not be
// analysed, why, in the row itself), verdict ("NEGATIVE — borderline" in orange for a probability
// in the disease model's borderline band, as in the window), pneumonia probability and, for a DICOM
// picture, the patient (name and ID; the whole patient and study line as its tooltip). Selecting a row hands its file
// to the window, which opens it as if chosen in the file dialog.
//
// The analysis runs on one worker thread with its own models (the window analyses the selected
// file at the same time, and the networks are not shared between threads); its results come
// back as queued calls, so that every widget and model update happens on the GUI thread.

#include <filesystem>
#include <memory>
#include <vector>

#include <QWidget>

class QProgressBar;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTableView;

namespace orvix::app {

class Worklist : public QWidget {
    Q_OBJECT
public:
    enum Column { NameColumn, StatusColumn, VerdictColumn, ProbabilityColumn, PatientColumn };

    explicit Worklist(QWidget* parent = nullptr);
    ~Worklist() override;  // cancels and waits for the picture being analysed

    // Appends the pictures found in these files and folders (see collectPictures; a folder that
    // cannot be searched becomes a row saying why) and queues the new rows for analysis.
    void add(const std::vector<std::filesystem::path>& paths);
    // Stops after the picture being analysed; the rows not yet analysed say "cancelled".
    void cancel();
    // Queues the cancelled rows again (Analyse Remaining).
    void analyseRemaining();
    bool busy() const { return outstanding_ > 0; }

    int rowCount() const;
    QTableView* table() const { return table_; }
    QProgressBar* progress() const { return progress_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* remainingButton() const { return remaining_; }
    // In the current (sorted) order.
    std::filesystem::path pathAt(int row) const;

signals:
    // The user selected the row of a picture (click or keyboard).
    void fileSelected(const std::filesystem::path& path);
    // Every row queued so far has been analysed or cancelled (not emitted by an add that queued
    // nothing, nor by the destructor).
    void finished();

private:
    struct Worker;
    struct Outcome;

    void apply(const Outcome& outcome);
    int appendRow(const std::filesystem::path& path, bool picture);
    // Marks the rows waiting and hands them to the worker.
    void queue(const std::vector<int>& ids);
    QStandardItem* cell(int id, Column column) const;
    void setStatus(int id, const QString& text, const QString& reason);
    void rowSettled();

    QStandardItemModel* model_;
    QTableView* table_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QPushButton* remaining_;

    struct Entry {
        std::filesystem::path path;
        bool picture;            // false: a folder that could not be searched
        QStandardItem* name;     // the row's first cell, which follows the row through sorting
        bool cancelled = false;  // taken off the queue by Cancel, until Analyse Remaining
    };
    std::vector<Entry> entries_;  // by row id, the order of adding
    int outstanding_ = 0;         // queued or being analysed
    int runTotal_ = 0;            // pictures queued since the list was last idle
    int runDone_ = 0;

    std::unique_ptr<Worker> worker_;
};

}  // namespace orvix::app

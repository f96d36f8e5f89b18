#pragma once
// The controls box of the results column: "Test Result" pill, divider, result panel,
// report editor, saved message (while showAlert), "Save".

#include <QWidget>

#include <filesystem>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"
#include "orvix/ReportSaver.h"

class QPushButton;

namespace orvix::app {

class ResultPanel;
class SavedMessage;
class TextEditingView;

class ControlsArea : public QWidget {
    Q_OBJECT
public:
    ControlsArea(DiagnosisState state, QWidget* parent = nullptr);
    void applyGeometry(const Geometry& g);
    void refresh();

    QPushButton* testResult() const { return testResult_; }
    ResultPanel* resultPanel() const { return result_; }
    TextEditingView* editor() const { return editor_; }
    SavedMessage* savedMessage() const { return saved_; }
    QPushButton* save() const { return save_; }

    // How Save asks when the report's name holds another picture's report (or one whose picture is
    // not known): Replace, Keep both or Cancel. A dialog naming both pictures by default.
    void setClashQuestion(ClashQuestion ask) { askAboutClash_ = std::move(ask); }
    // The report the last save wrote (its " (n)" name where both were kept); empty before one.
    const std::filesystem::path& savedPath() const { return savedPath_; }

signals:
    // A save that failed: the path and the reason, for the window to tell the user.
    void saveFailed(const QString& message);
    // A save that wrote the report.
    void saved();
    // A save that the user cancelled when asked about another picture's report: nothing written.
    void saveCancelled();

private:
    ClashChoice askAboutClash(const ReportClash& clash);

    DiagnosisState state_;
    ClashQuestion askAboutClash_;
    std::filesystem::path savedPath_;
    QPushButton* testResult_;
    ResultPanel* result_;
    TextEditingView* editor_;
    SavedMessage* saved_;
    QPushButton* save_;
};

}  // namespace orvix::app

#pragma once
// The controls box of the results column: "Test Result" pill, divider, result panel,
// report editor, saved message (while showAlert), "Save".

#include <QWidget>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"

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

signals:
    // A save that failed: the path and the reason, for the window to tell the user.
    void saveFailed(const QString& message);
    // A save that wrote the report.
    void saved();

private:
    DiagnosisState state_;
    QPushButton* testResult_;
    ResultPanel* result_;
    TextEditingView* editor_;
    SavedMessage* saved_;
    QPushButton* save_;
};

}  // namespace orvix::app

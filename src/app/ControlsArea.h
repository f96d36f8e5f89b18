#pragma once
// The controls box of the results column: "Test Result" pill, divider, result panel,
// report editor, saved message (while showAlert), "Save".

#include <QFrame>
#include <QWidget>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"

class QLabel;
class QPushButton;

namespace orvix::app {

class TextEditingView;

// Nothing; "NEGATIVE"/"POSITIVE" with the confidence line (the gate's probability) and the
// disease model's probability with its threshold; or "This is not a Chest X-Ray image".
class ResultPanel : public QWidget {
    Q_OBJECT
public:
    explicit ResultPanel(DiagnosisState state, QWidget* parent = nullptr);
    void applyGeometry(const Geometry& g);
    void refresh();

    QLabel* message() const { return message_; }
    QLabel* verdict() const { return verdict_; }
    QLabel* confidence() const { return confidence_; }
    QLabel* probability() const { return probability_; }

private:
    DiagnosisState state_;
    QLabel* message_;
    QLabel* verdict_;
    QLabel* confidence_;
    QLabel* probability_;
};

// "82.4 %": one decimal, always a point.
QString percent(double fraction);

class SavedMessage : public QFrame {
    Q_OBJECT
public:
    explicit SavedMessage(QWidget* parent = nullptr);
    QLabel* text() const { return text_; }
    QPushButton* ok() const { return ok_; }

private:
    QLabel* text_;
    QPushButton* ok_;
};

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

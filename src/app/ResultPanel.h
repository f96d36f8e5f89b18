#pragma once
// The verdict of the results column, under the "Test Result" pill.

#include <QWidget>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"

class QLabel;

namespace orvix::app {

// Nothing; "NEGATIVE"/"POSITIVE" with the confidence line (the gate's probability) and the
// disease model's probability with its threshold; or "This is not a Chest X-Ray image". A
// probability in the model's borderline band makes the verdict "NEGATIVE — borderline" (or
// POSITIVE), orange, with a tooltip that says what borderline means.
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

protected:
    void changeEvent(QEvent* event) override;

private:
    DiagnosisState state_;
    QLabel* message_;
    QLabel* verdict_;
    QLabel* confidence_;
    QLabel* probability_;
};

// "82.4 %": one decimal, always a point.
QString percent(double fraction);

}  // namespace orvix::app

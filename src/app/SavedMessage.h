#pragma once
// The message of the results column that a save shows: where it wrote the report, and "OK"
// to dismiss it.

#include <QFrame>

class QLabel;
class QPushButton;

namespace orvix::app {

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

}  // namespace orvix::app

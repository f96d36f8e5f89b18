#pragma once
// The message of the results column that a save shows: the report's file name and the folder it
// was written to (wrapped, never cut off), and "OK" to dismiss it.

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

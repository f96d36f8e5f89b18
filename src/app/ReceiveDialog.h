#pragma once
// File -> Receive from PACS…: what the window listens as (AE title, port, address, the calling
// AE titles it accepts) and the folder it keeps the received films in. Start hands the settings
// to the window's receiver; a failure (folder, port, address) is shown in the dialog, which stays
// open to be corrected. Nothing of it is remembered: every dialog starts from the defaults.

#include <functional>

#include <QDialog>

#include "PacsReceiver.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace orvix::app {

class ReceiveDialog : public QDialog {
    Q_OBJECT
public:
    using Starter = std::function<Status(const ReceiveSettings&)>;
    ReceiveDialog(Starter start, QWidget* parent = nullptr);

    // The settings as typed, or why they cannot be used (an AE title empty, longer than 16
    // characters or with a backslash or control character; no folder; no address).
    Result<ReceiveSettings> settings() const;

    QLineEdit* aeTitle() const { return aet_; }
    QSpinBox* port() const { return port_; }
    QLineEdit* address() const { return bind_; }
    QLineEdit* allowed() const { return allow_; }
    QLineEdit* folder() const { return folder_; }
    QPushButton* startButton() const { return start_; }
    QLabel* message() const { return message_; }

private:
    void start();

    Starter starter_;
    QLineEdit* aet_;
    QSpinBox* port_;
    QLineEdit* bind_;
    QLineEdit* allow_;
    QLineEdit* folder_;
    QPushButton* start_;
    QLabel* message_;
};

}  // namespace orvix::app

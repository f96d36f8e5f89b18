#include "ReceiveDialog.h"

#include <arpa/inet.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

#include "LocalFile.h"

namespace orvix::app {
namespace {

QLabel* note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

// An AE title: 1 to 16 characters of the default character repertoire, no backslash, no control
// character (leading and trailing spaces are not significant).
Status checkAeTitle(const QString& what, const QString& title) {
    if (title.isEmpty()) return Error{what.toStdString() + " is empty"};
    if (title.size() > 16)
        return Error{what.toStdString() + " '" + title.toStdString() + "' is longer than 16 characters"};
    for (const QChar c : title)
        if (c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() > 0x7e)
            return Error{what.toStdString() + " '" + title.toStdString() +
                         "' holds a character an AE title cannot (backslash, control or non-ASCII)"};
    return Done{};
}

}  // namespace

ReceiveDialog::ReceiveDialog(Starter start, QWidget* parent)
    : QDialog(parent), starter_(std::move(start)), aet_(new QLineEdit(QStringLiteral("ORVIX"), this)),
      port_(new QSpinBox(this)), bind_(new QLineEdit(QStringLiteral("127.0.0.1"), this)), allow_(new QLineEdit(this)),
      folder_(new QLineEdit(this)), start_(new QPushButton(QStringLiteral("Start Receiving"), this)),
      message_(new QLabel(this)) {
    setObjectName("receiveFromPacs");
    setWindowTitle(QStringLiteral("Receive from PACS"));
    port_->setRange(1, 65535);
    port_->setValue(11112);
    allow_->setPlaceholderText(QStringLiteral("any calling AE title"));
    folder_->setPlaceholderText(QStringLiteral("choose a folder"));
    auto* browse = new QPushButton(QStringLiteral("Choose…"), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, QStringLiteral("Keep the received films in"), folder_->text(),
                                              QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
        if (!chosen.isEmpty()) folder_->setText(chosen);
    });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("AE title:"), aet_);
    form->addRow(QStringLiteral("Port:"), port_);
    form->addRow(QString(), note(QStringLiteral("Ports below 1024 need administrator privileges."), this));
    form->addRow(QStringLiteral("Listen on address:"), bind_);
    form->addRow(QString(),
                 note(QStringLiteral("127.0.0.1 accepts films from this computer only; type 0.0.0.0 to listen on "
                                     "every network interface. Films arrive unencrypted."),
                      this));
    form->addRow(QStringLiteral("Accept calling AE titles:"), allow_);
    form->addRow(QStringLiteral("Keep received films in:"), folderRow);

    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setStyleSheet(QStringLiteral("color: #b00020"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->addButton(start_, QDialogButtonBox::AcceptRole);
    start_->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(start_, &QPushButton::clicked, this, &ReceiveDialog::start);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note(QStringLiteral("Each film received is kept in the folder and analysed in the worklist. "
                                          "Nothing is sent back to the PACS: orvix-node does that."),
                           this));
    layout->addWidget(message_);
    layout->addWidget(buttons);
}

Result<ReceiveSettings> ReceiveDialog::settings() const {
    ReceiveSettings s;
    const QString aet = aet_->text().trimmed();
    if (const Status ok = checkAeTitle(QStringLiteral("The AE title"), aet); !ok) return ok.error();
    s.server.aet = aet.toStdString();
    s.server.port = static_cast<std::uint16_t>(port_->value());
    s.server.bind = bind_->text().trimmed().toStdString();
    if (s.server.bind.empty()) return Error{"No address to listen on (127.0.0.1, or 0.0.0.0 for every interface)"};
    if (in_addr parsed{}; ::inet_pton(AF_INET, s.server.bind.c_str(), &parsed) != 1)
        return Error{"'" + s.server.bind + "' is not an IPv4 address (127.0.0.1, or 0.0.0.0 for every interface)"};
    for (const QString& title :
         allow_->text().split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)) {
        if (const Status ok = checkAeTitle(QStringLiteral("The calling AE title"), title); !ok) return ok.error();
        s.server.allow.push_back(title.toStdString());
    }
    if (folder_->text().trimmed().isEmpty()) return Error{"No folder to keep the received films in"};
    s.folder = localFilePath(folder_->text().trimmed());
    return s;
}

void ReceiveDialog::start() {
    const auto chosen = settings();
    if (!chosen) {
        message_->setText(QString::fromStdString(chosen.error().message));
        return;
    }
    if (const Status started = starter_(*chosen); !started) {
        message_->setText(QString::fromStdString(started.error().message));
        return;
    }
    accept();
}

}  // namespace orvix::app

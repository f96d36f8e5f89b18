#include "SavedMessage.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvix::app {

SavedMessage::SavedMessage(QWidget* parent)
    : QFrame(parent), text_(new QLabel(this)), ok_(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName("savedMessage");
    text_->setObjectName("savedMessageText");
    ok_->setObjectName("savedMessageOk");
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(text_);
    layout->addWidget(ok_, 0, Qt::AlignHCenter);
}

}  // namespace orvix::app

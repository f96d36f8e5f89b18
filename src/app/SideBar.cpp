#include "SideBar.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "Palette.h"

namespace orvix::app {

sideBar::sideBar(Binding<std::int64_t> option, QWidget* parent)
    : QWidget(parent), option_(std::move(option)), list_(new QListWidget(this)) {
    setObjectName("sideBar");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(QStringLiteral("Disease Options"), this);
    title->setObjectName("sideBarTitle");
    title->setFont(systemFont(20, QFont::Bold));
    title->setContentsMargins(12, 12, 12, 6);
    layout->addWidget(title);

    // Rows are buttons: none stays marked as chosen.
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setFrameShape(QFrame::NoFrame);
    list_->addItem(QStringLiteral("Pneumonia"));
    list_->setStyleSheet("QListWidget { background: transparent; } QListWidget::item { padding: 6px 12px; }");
    connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem*) { option_.set(0); });
    layout->addWidget(list_);
}

}  // namespace orvix::app

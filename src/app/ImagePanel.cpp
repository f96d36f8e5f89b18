#include "ImagePanel.h"

#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "Palette.h"
#include "PictureView.h"
#include "Pill.h"

namespace orvix::app {

ImagePanel::ImagePanel(DiagnosisState state, QWidget* parent)
    : QWidget(parent), state_(std::move(state)), title_(new QLabel(this)),
      caption_(new QLabel(QStringLiteral("Patient's Chest X-Ray Image"), this)), picture_(new PictureView(this)),
      upload_(makePill(QStringLiteral("Upload"), this)) {
    title_->setObjectName("diseaseTitle");
    caption_->setObjectName("caption");
    picture_->setObjectName("picture");
    upload_->setObjectName("uploadButton");
    upload_->setAccessibleName(QStringLiteral("Upload a picture"));
    picture_->setAccessibleName(QStringLiteral("Picture"));
    title_->setAlignment(Qt::AlignCenter);
    caption_->setAlignment(Qt::AlignCenter);
    picture_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    // Gaps of one part each around the title, caption and pill; the picture takes four.
    const auto gap = [this] {
        auto* spacer = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
        gaps_.push_back(spacer);
        layout_->addItem(spacer);
        layout_->setStretch(layout_->count() - 1, 1);
    };
    gap();
    layout_->addWidget(title_, 0, Qt::AlignHCenter);
    gap();
    layout_->addWidget(caption_, 0, Qt::AlignHCenter);
    gap();
    layout_->addWidget(picture_, 4, Qt::AlignHCenter);
    gap();
    layout_->addWidget(upload_, 0, Qt::AlignHCenter);
    gap();

    connect(upload_, &QPushButton::clicked, this, [this] { state_.toggleOpenFile(); });
    refresh();
}

void ImagePanel::applyGeometry(const Geometry& g, QSize room) {
    geometry_ = g;
    room_ = room;
    setFixedWidth(room.width());
    title_->setFont(systemFont(0.1 * g.H, QFont::Bold));
    picture_->setFixedWidth(room.width());
    sizePill(upload_, g.w(0.13), g.w(0.03));
    // Up to the default height the gaps and the picture share what the title, caption and pill
    // leave, one part to each gap and four to the picture. Beyond it each gap keeps the height it
    // has at the default height (the layout is laid out there once to learn it), and the picture
    // takes the rest.
    for (QSpacerItem* spacer : gaps_) spacer->changeSize(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    layout_->invalidate();
    if (room.height() > g.H) {
        layout_->setGeometry(QRect(0, 0, room.width(), static_cast<int>(g.H)));
        for (QSpacerItem* spacer : gaps_)
            spacer->changeSize(0, spacer->geometry().height(), QSizePolicy::Minimum, QSizePolicy::Fixed);
        layout_->invalidate();
    }
}

PictureView* ImagePanel::lendPicture() {
    layout_->removeWidget(picture_);
    picture_->setMinimumSize(0, 0);
    picture_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    picture_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return picture_;
}

void ImagePanel::takeBackPicture() {
    picture_->setParent(this);
    picture_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    // Between the caption's gap and the pill's, as the constructor placed it.
    layout_->insertWidget(layout_->indexOf(caption_) + 2, picture_, 4, Qt::AlignHCenter);
    picture_->show();
    applyGeometry(geometry_, room_);
}

void ImagePanel::setHeatmapShown(bool shown) { picture_->setHeatmapShown(shown); }

void ImagePanel::refresh() {
    const auto option = static_cast<std::size_t>(state_.option.get());
    title_->setText(option < state_.total.size() ? QString::fromStdString(state_.total[option]) : QString());
    picture_->setPicture(state_.img.get());
    // A picture the gate rejected has no pneumonia evidence to show.
    if (isChestXRay(state_.classificationLabel2.get()))
        picture_->setActivationMap(state_.activationMap.get(), QStringLiteral("the disease model gives none"));
    else picture_->setActivationMap(ActivationMap{}, QStringLiteral("not a chest X-ray"));
}

}  // namespace orvix::app

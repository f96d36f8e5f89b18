#include "ImagePanel.h"

#include <QLabel>
#include <QPushButton>
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

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(title_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->addWidget(caption_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->addWidget(picture_, 4, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->addWidget(upload_, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(upload_, &QPushButton::clicked, this, [this] { state_.toggleOpenFile(); });
    refresh();
}

void ImagePanel::applyGeometry(const Geometry& g) {
    setFixedWidth(g.w(0.5));
    title_->setFont(systemFont(0.1 * g.H, QFont::Bold));
    picture_->setFixedWidth(g.w(0.5));
    sizePill(upload_, g.w(0.13), g.w(0.03));
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

#include "ImagePanel.h"

#include <algorithm>

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "Palette.h"

namespace orvix::app {

void PictureView::setPicture(const Image& image) {
    if (image.isEmpty()) {
        picture_ = QImage();
    } else {
        const cv::Mat& bgr = image.pixels();
        const auto format = image.isGrey() ? QImage::Format_Grayscale8 : QImage::Format_BGR888;
        picture_ = QImage(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), format).copy();
    }
    update();
}

void PictureView::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), picture_);
}

QPushButton* makePill(const QString& text, QWidget* parent) {
    auto* pill = new QPushButton(text, parent);
    pill->setFlat(true);
    sizePill(pill, 1, 1);
    return pill;
}

void sizePill(QPushButton* pill, int width, int height) {
    pill->setFixedSize(width, height);
    pill->setStyleSheet(QStringLiteral("QPushButton { color: white; background-color: %1; border: none;"
                                       " border-radius: %2px; padding: 0px; }")
                            .arg(kBlue.name())
                            .arg(roundedRadius(width, height)));
}

int roundedRadius(int width, int height) { return std::min({20, width / 2, height / 2}); }

ImagePanel::ImagePanel(DiagnosisState state, QWidget* parent)
    : QWidget(parent), state_(std::move(state)), title_(new QLabel(this)),
      caption_(new QLabel(QStringLiteral("Patient's Chest X-Ray Image"), this)), picture_(new PictureView(this)),
      upload_(makePill(QStringLiteral("Upload"), this)) {
    title_->setObjectName("diseaseTitle");
    caption_->setObjectName("caption");
    picture_->setObjectName("picture");
    upload_->setObjectName("uploadButton");
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

void ImagePanel::refresh() {
    const auto option = static_cast<std::size_t>(state_.option.get());
    title_->setText(option < state_.total.size() ? QString::fromStdString(state_.total[option]) : QString());
    picture_->setPicture(state_.img.get());
}

}  // namespace orvix::app

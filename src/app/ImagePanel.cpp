#include "ImagePanel.h"

#include <algorithm>

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "Palette.h"
#include "orvix/Heatmap.h"

namespace orvix::app {

namespace {

// The overlay is made at most this many pixels on its longer side: finer than any screen
// shows the picture, and some milliseconds for a large film.
constexpr int kOverlaySide = 2048;

}  // namespace

QImage toQImage(const cv::Mat& pixels) {
    if (pixels.empty()) return {};
    const auto format = pixels.channels() == 1 ? QImage::Format_Grayscale8 : QImage::Format_BGR888;
    return QImage(pixels.data, pixels.cols, pixels.rows, static_cast<qsizetype>(pixels.step), format).copy();
}

namespace {

// The same pixels (a refresh after another cell's write): nothing to redo.
bool samePixels(const cv::Mat& a, const cv::Mat& b) { return a.data == b.data && a.size == b.size; }

}  // namespace

void PictureView::setPicture(const Image& image) {
    if (samePixels(image.pixels(), source_.pixels())) return;
    source_ = image;
    picture_ = toQImage(image.pixels());
    updateOverlay();
}

void PictureView::setActivationMap(const ActivationMap& map, const QString& whyNone) {
    if (samePixels(map.logOdds, map_.logOdds) && whyNone == whyNone_) return;
    map_ = map;
    whyNone_ = whyNone;
    updateOverlay();
}

void PictureView::setHeatmapShown(bool shown) {
    heatmapShown_ = shown;
    updateOverlay();
}

void PictureView::updateOverlay() {
    overlay_ = QImage();
    if (heatmapShown_ && !map_.empty() && !source_.isEmpty()) {
        const double scale = std::min(1.0, kOverlaySide / static_cast<double>(std::max(picture_.width(), picture_.height())));
        const cv::Size size(std::max(1, static_cast<int>(picture_.width() * scale)),
                            std::max(1, static_cast<int>(picture_.height() * scale)));
        overlay_ = toQImage(heatmapOverlay(source_, map_, size));
    }
    update();
}

QRect PictureView::pictureRect() const {
    if (picture_.isNull()) return {};
    const QRect room = rect().adjusted(0, 0, 0, legendText().isEmpty() ? 0 : -kLegendHeight);
    QSize fitted = picture_.size().scaled(room.size(), Qt::KeepAspectRatio);
    fitted = fitted.expandedTo(QSize(1, 1));
    return QRect(room.x() + (room.width() - fitted.width()) / 2, room.y() + (room.height() - fitted.height()) / 2,
                 fitted.width(), fitted.height());
}

QString PictureView::legendText() const {
    if (!heatmapShown_ || picture_.isNull()) return {};
    if (map_.empty()) return QStringLiteral("No heatmap: ") + whyNone_;
    const auto labels = heatmapScaleLabels();
    return QStringLiteral("%1 \u2014 probability of pneumonia by region \u2014 %2")
        .arg(QString::fromStdString(labels[0]), QString::fromStdString(labels[2]));
}

void PictureView::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect target = pictureRect();
    painter.drawImage(target, shownImage());
    if (!legendText().isEmpty())
        drawLegend(painter, QRect(target.left(), height() - kLegendHeight, target.width(), kLegendHeight));
}

void PictureView::drawLegend(QPainter& painter, const QRect& area) const {
    const QRect text = area.adjusted(0, area.height() / 2, 0, 0);
    if (map_.empty()) {
        painter.drawText(area, Qt::AlignCenter, legendText());
        return;
    }
    const QRect bar(area.left(), area.top() + 4, area.width(), area.height() / 2 - 6);
    for (int x = 0; x < bar.width(); ++x) {
        const cv::Vec3b c = heatmapColour(static_cast<double>(x) / std::max(1, bar.width() - 1));
        painter.fillRect(QRect(bar.left() + x, bar.top(), 1, bar.height()), QColor(c[2], c[1], c[0]));
    }
    const auto labels = heatmapScaleLabels();
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(labels[0]));
    painter.drawText(text, Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("probability of pneumonia by region (50 % mid-scale)"));
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(labels[2]));
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
    // A picture the gate rejected has no pneumonia evidence to show.
    if (state_.classificationLabel2.get() == "X-Ray")
        picture_->setActivationMap(state_.activationMap.get(), QStringLiteral("the disease model gives none"));
    else
        picture_->setActivationMap(ActivationMap{}, QStringLiteral("not a chest X-ray"));
}

}  // namespace orvix::app

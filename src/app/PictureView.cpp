#include "PictureView.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "Palette.h"

namespace orvix::app {

namespace {

// The overlay is made at most this many pixels on its longer side: finer than any screen
// shows the picture, and some milliseconds for a large film.
constexpr int kOverlaySide = 2048;

// The same pixels (a refresh after another cell's write): nothing to redo.
bool samePixels(const cv::Mat& a, const cv::Mat& b) { return a.data == b.data && a.size == b.size; }

// A picture's pixels as BGR at `size`, for blending with the overlay.
cv::Mat bgrAt(const cv::Mat& pixels, cv::Size size) {
    cv::Mat sized = pixels, bgr;
    if (sized.size() != size) cv::resize(pixels, sized, size, 0, 0, cv::INTER_AREA);
    if (sized.channels() == 1) cv::cvtColor(sized, bgr, cv::COLOR_GRAY2BGR);
    else if (sized.channels() == 4) cv::cvtColor(sized, bgr, cv::COLOR_BGRA2BGR);
    else bgr = sized;
    return bgr;
}

// The focus ring's width, inside the box's edge.
constexpr int kRingWidth = 2;

}  // namespace

QImage toQImage(const cv::Mat& pixels) {
    if (pixels.empty()) return {};
    const auto format = pixels.channels() == 1 ? QImage::Format_Grayscale8 : QImage::Format_BGR888;
    return QImage(pixels.data, pixels.cols, pixels.rows, static_cast<qsizetype>(pixels.step), format).copy();
}

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    // Every right-button event comes here, for the window/level drag.
    setContextMenuPolicy(Qt::PreventContextMenu);
}

void PictureView::setPicture(const Image& image) {
    if (samePixels(image.pixels(), source_.pixels())) return;
    source_ = image;
    picture_ = toQImage(image.pixels());
    view_ = {};
    window_ = {};
    inverted_ = false;
    drag_ = Drag::None;
    invalidate();
}

void PictureView::setActivationMap(const ActivationMap& map, const QString& whyNone) {
    if (samePixels(map.logOdds, map_.logOdds) && whyNone == whyNone_) return;
    map_ = map;
    whyNone_ = whyNone;
    invalidate();
}

void PictureView::setHeatmapShown(bool shown) {
    if (shown == heatmapShown_) return;
    heatmapShown_ = shown;
    invalidate();
    emit viewChanged();  // the readout names the heatmap's opacity while it is shown
}

void PictureView::setWindowLevel(const WindowLevel& window) {
    const WindowLevel clamped = window.clamped();
    if (clamped == window_) return;
    window_ = clamped;
    invalidate();
    emit viewChanged();
}

void PictureView::setHeatmapOpacity(double opacity) {
    // Rounded to the step, so that ten steps up and down come back to where they started.
    opacity = std::clamp(std::round(opacity / kOpacityStep) * kOpacityStep, kMinOpacity, 1.0);
    if (opacity == opacity_) return;
    opacity_ = opacity;
    invalidate();
    emit viewChanged();
}

void PictureView::setInverted(bool inverted) {
    if (inverted == inverted_) return;
    inverted_ = inverted;
    invalidate();
    emit viewChanged();
}

QString PictureView::readout() const {
    if (picture_.isNull()) return {};
    QString text = QStringLiteral("Zoom %1 % \u00b7 W %2 L %3")
                       .arg(std::lround(view_.zoom() * 100))
                       .arg(std::lround(window_.width))
                       .arg(std::lround(window_.level));
    if (inverted_) text += QStringLiteral(" \u00b7 inverted");
    if (heatmapDrawn()) text += QStringLiteral(" \u00b7 heatmap %1 %").arg(std::lround(opacity_ * 100));
    return text;
}

void PictureView::invalidate() {
    shownStale_ = true;
    update();
}

const QImage& PictureView::shownImage() const {
    updateShown();
    return overlay_.isNull() ? windowed_ : overlay_;
}

// The window is applied to the picture before the heatmap tints it: the tint keeps the colours
// of the legend at any window, and the grey under it is the grey the user chose.
void PictureView::updateShown() const {
    if (!shownStale_) return;
    shownStale_ = false;
    Image base = source_;
    windowed_ = picture_;
    if (!source_.isEmpty() && (!window_.isIdentity() || inverted_)) {
        auto lut = windowLut(window_, inverted_);
        cv::Mat pixels;
        cv::LUT(source_.pixels(), cv::Mat(1, 256, CV_8U, lut.data()), pixels);
        base = Image(pixels, source_.scale());
        windowed_ = toQImage(pixels);
    }
    overlay_ = QImage();
    if (heatmapDrawn()) {
        const double scale =
            std::min(1.0, kOverlaySide / static_cast<double>(std::max(picture_.width(), picture_.height())));
        const cv::Size size(std::max(1, static_cast<int>(picture_.width() * scale)),
                            std::max(1, static_cast<int>(picture_.height() * scale)));
        cv::Mat tinted = heatmapOverlay(base, map_, size);
        // Below full opacity the grey under the tint shows through.
        if (opacity_ < 1) cv::addWeighted(tinted, opacity_, bgrAt(base.pixels(), size), 1 - opacity_, 0, tinted);
        overlay_ = toQImage(tinted);
    }
}

// The strip is kept whenever there is a picture, so that the heatmap's scale takes no room from it.
QRect PictureView::room() const {
    return picture_.isNull() ? rect() : rect().adjusted(0, 0, 0, -std::min(height(), legendHeight()));
}

QRect PictureView::legendArea() const {
    const QRect fit = fitRect();
    // As wide as the fitted picture, but wide enough for the scale's texts where the box allows.
    const int width = std::min(std::max(fit.width(), 36 * fontMetrics().averageCharWidth()), this->width());
    const int left = std::clamp(fit.center().x() - width / 2, 0, this->width() - width);
    return QRect(left, room().bottom() + 1, width, height() - room().height());
}

QRect PictureView::legendBar() const {
    if (!heatmapShown_ || picture_.isNull() || map_.empty()) return {};
    const QRect area = legendArea().adjusted(kRingWidth + 2, 0, -kRingWidth - 2, 0);
    return QRect(area.left(), area.top() + 4, area.width(), 10);
}

std::vector<PictureView::LegendLabel> PictureView::legendLabels() const {
    const QRect bar = legendBar();
    if (bar.isEmpty()) return {};
    const QFontMetrics metrics = fontMetrics();
    const auto labels = heatmapScaleLabels();
    const int row = bar.bottom() + 6;  // under the 50 % tick
    std::vector<LegendLabel> placed;
    const auto place = [&](const QString& text, QRect rect) {
        if (text.isEmpty() || rect.left() < 0 || rect.right() >= width()) return;
        for (const LegendLabel& other : placed)
            if (other.rect.intersects(rect)) return;
        placed.push_back({text, rect});
    };
    const auto at = [&](const QString& text, int x, Qt::Alignment alignment) {
        const int w = metrics.horizontalAdvance(text) + 2;
        const int left = alignment == Qt::AlignLeft ? x : alignment == Qt::AlignRight ? x - w + 1 : x - w / 2;
        return QRect(left, row, w, metrics.height());
    };
    const QString low = QString::fromStdString(labels[0]), middle = QString::fromStdString(labels[1]),
                  high = QString::fromStdString(labels[2]);
    place(low, at(low, bar.left(), Qt::AlignLeft));
    place(high, at(high, bar.right(), Qt::AlignRight));
    place(middle, at(middle, bar.left() + bar.width() / 2, Qt::AlignHCenter));
    // The meaning on a row of its own, cut short at the box's width rather than over another text.
    const QString meaning =
        metrics.elidedText(QStringLiteral("probability of pneumonia by region"), Qt::ElideRight, bar.width());
    if (meaning.size() > 1) {
        const int w = metrics.horizontalAdvance(meaning) + 2;
        place(meaning, QRect(bar.left() + (bar.width() - w) / 2, row + metrics.height(), w, metrics.height()));
    }
    return placed;
}

QRect PictureView::fitRect() const {
    if (picture_.isNull()) return {};
    const QRect room = this->room();
    QSize fitted = picture_.size().scaled(room.size(), Qt::KeepAspectRatio);
    fitted = fitted.expandedTo(QSize(1, 1));
    return QRect(room.x() + (room.width() - fitted.width()) / 2, room.y() + (room.height() - fitted.height()) / 2,
                 fitted.width(), fitted.height());
}

QRect PictureView::pictureRect() const { return picture_.isNull() ? QRect() : shownRect().toRect(); }

void PictureView::zoomAbout(double factor, QPointF at) {
    if (picture_.isNull()) return;
    const double before = view_.zoom();
    view_.zoomAbout(room(), fitRect(), factor, at);
    if (view_.zoom() == before) return;
    update();
    emit viewChanged();
}

void PictureView::panBy(QPointF delta) {
    if (picture_.isNull()) return;
    const QRectF before = shownRect();
    view_.panBy(room(), fitRect(), delta);
    if (shownRect() == before) return;
    update();
    emit viewChanged();
}

void PictureView::zoomIn() { zoomAbout(kZoomStep, QRectF(room()).center()); }
void PictureView::zoomOut() { zoomAbout(1 / kZoomStep, QRectF(room()).center()); }

void PictureView::fitToBox() {
    view_ = {};
    update();
    emit viewChanged();
}

void PictureView::resetView() {
    window_ = {};
    if (inverted_) {
        inverted_ = false;
        emit viewChanged();
    }
    invalidate();
    fitToBox();
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
    const QRectF shown = shownRect();
    const QImage& image = shownImage();
    // Only the part in view: at zoom 32 the whole picture would be tens of thousands of points.
    const QRectF target = shown.intersected(QRectF(room()));
    if (!target.isEmpty()) {
        const double sx = image.width() / shown.width(), sy = image.height() / shown.height();
        const QRectF source((target.left() - shown.left()) * sx, (target.top() - shown.top()) * sy, target.width() * sx,
                            target.height() * sy);
        // Smoothed while the picture is shrunk or barely enlarged; its own pixels beyond.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, shown.width() < 2.0 * picture_.width());
        painter.drawImage(target, image, source);
    }
    if (!legendText().isEmpty()) drawLegend(painter, legendArea());
    if (hasFocus()) {
        painter.setPen(QPen(themeColours().focusRing, kRingWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(
            QRectF(rect()).adjusted(kRingWidth / 2.0, kRingWidth / 2.0, -kRingWidth / 2.0, -kRingWidth / 2.0));
    }
}

void PictureView::wheelEvent(QWheelEvent* event) {
    if (picture_.isNull() || event->angleDelta().y() == 0) return event->ignore();
    // 120 eighths of a degree a notch; touchpads send fractions of one.
    zoomAbout(std::pow(kZoomStep, event->angleDelta().y() / 120.0), event->position());
    event->accept();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
    if (picture_.isNull()) return event->ignore();
    if (event->button() == Qt::LeftButton) {
        drag_ = Drag::Pan;
        setCursor(Qt::ClosedHandCursor);
    } else if (event->button() == Qt::RightButton) {
        drag_ = Drag::Window;
    } else {
        return event->ignore();
    }
    dragFrom_ = event->position();
    event->accept();
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
    if (drag_ == Drag::None) return event->ignore();
    const QPointF delta = event->position() - dragFrom_;
    dragFrom_ = event->position();
    if (drag_ == Drag::Pan) {
        panBy(delta);
    } else {
        // Right widens the window (less contrast), down raises the level (darker): a grey
        // level a point.
        setWindowLevel({window_.level + delta.y(), window_.width + delta.x()});
    }
    event->accept();
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
    if (drag_ == Drag::None) return event->ignore();
    if ((drag_ == Drag::Pan && event->button() == Qt::LeftButton) ||
        (drag_ == Drag::Window && event->button() == Qt::RightButton)) {
        drag_ = Drag::None;
        unsetCursor();
    }
    event->accept();
}

void PictureView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (picture_.isNull() || event->button() != Qt::LeftButton) return event->ignore();
    fitToBox();
    event->accept();
}

// The keys, with the box focused (click or Tab):
//   + or =       zoom in about the centre      -            zoom out about the centre
//   0 or Home    fit                           R            reset: fit and the picture's own window
//   arrows       pan, a tenth of the box (Right shows more of the picture's right)
//   Shift+Right / Shift+Left   widen / narrow the window by 8 grey levels
//   Shift+Down / Shift+Up      raise / lower the level by 8 (darker / brighter), as the right drag
// They take precedence over the window's single-key shortcuts while the box has the focus;
// keys with Ctrl, Alt or Meta are left to the window.
bool PictureView::viewerKey(const QKeyEvent& key, bool apply) {
    if (picture_.isNull()) return false;
    const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
    if (mods & ~Qt::ShiftModifier) return false;
    const bool shift = mods & Qt::ShiftModifier;
    const double panX = room().width() / 10.0, panY = room().height() / 10.0, windowStep = 8;
    std::function<void()> action;
    switch (key.key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal: action = [this] { zoomIn(); }; break;
        case Qt::Key_Minus: action = [this] { zoomOut(); }; break;
        case Qt::Key_0:
        case Qt::Key_Home: action = [this] { fitToBox(); }; break;
        case Qt::Key_R: action = [this] { resetView(); }; break;
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down: {
            const int sign = key.key() == Qt::Key_Left || key.key() == Qt::Key_Up ? -1 : 1;
            const bool horizontal = key.key() == Qt::Key_Left || key.key() == Qt::Key_Right;
            if (shift)
                action = [=, this] {
                    setWindowLevel(horizontal ? WindowLevel{window_.level, window_.width + sign * windowStep}
                                              : WindowLevel{window_.level + sign * windowStep, window_.width});
                };
            else action = [=, this] { panBy(horizontal ? QPointF(-sign * panX, 0) : QPointF(0, -sign * panY)); };
            break;
        }
        default: return false;
    }
    if (apply) action();
    return true;
}

bool PictureView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && viewerKey(*static_cast<QKeyEvent*>(event), false)) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void PictureView::keyPressEvent(QKeyEvent* event) {
    if (viewerKey(*event, true)) event->accept();
    else QWidget::keyPressEvent(event);
}

void PictureView::drawLegend(QPainter& painter, const QRect& area) const {
    painter.setPen(palette().color(QPalette::WindowText));
    if (map_.empty()) {
        painter.drawText(area, Qt::AlignCenter, fontMetrics().elidedText(legendText(), Qt::ElideRight, area.width()));
        return;
    }
    const QRect bar = legendBar();
    for (int x = 0; x < bar.width(); ++x) {
        const cv::Vec3b c = heatmapColour(static_cast<double>(x) / std::max(1, bar.width() - 1));
        painter.fillRect(QRect(bar.left() + x, bar.top(), 1, bar.height()), QColor(c[2], c[1], c[0]));
    }
    // The 50 % mark: a tick through the bar's middle and under it.
    const int middle = bar.left() + bar.width() / 2;
    painter.drawLine(middle, bar.top() - 2, middle, bar.bottom() + 4);
    for (const LegendLabel& label : legendLabels()) painter.drawText(label.rect, Qt::AlignCenter, label.text);
}

}  // namespace orvix::app

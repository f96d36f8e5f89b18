#pragma once
// The picture box of the image column: the decoded picture, fitted, zoomed and windowed, with
// the heatmap over it while shown.

#include <QImage>
#include <QWidget>

#include <opencv2/core/mat.hpp>

#include "ViewTransform.h"
#include "orvix/Heatmap.h"
#include "orvix/Image.h"

class QPainter;

namespace orvix::app {

// Draws a picture as large as the widget allows with its aspect ratio kept, centred; with the
// heatmap shown, the disease model's evidence over it and a colour scale under it (or why
// this picture has none).
//
// A viewer as well: the wheel zooms about the cursor, the left button drags the picture, a
// double-click fits it again, the right button drags window (horizontally) and level
// (vertically); keys in keyPressEvent. All of it is the view's alone: the analysis reads the
// decoded picture, never this widget. A new picture starts fitted, in its own window.
class PictureView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLegendHeight = 36;
    // One wheel notch, one zoomIn().
    static constexpr double kZoomStep = 1.25;

    explicit PictureView(QWidget* parent = nullptr);
    void setPicture(const Image& image);
    // whyNone: shown in place of the scale when the map is empty.
    void setActivationMap(const ActivationMap& map, const QString& whyNone);
    void setHeatmapShown(bool shown);

    // The decoded picture.
    const QImage& picture() const { return picture_; }
    // What is drawn: the picture in its window, or that with the heatmap over it.
    const QImage& shownImage() const;
    bool heatmapDrawn() const { return heatmapShown_ && !map_.empty() && !source_.isEmpty(); }
    // Where the picture is drawn now (beyond the widget when zoomed in); at zoom 1 fitted and
    // centred in the room the legend leaves.
    QRect pictureRect() const;
    // The legend's text, "" when no legend is drawn.
    QString legendText() const;

    // 1 = fitted, up to ViewTransform::kMaxZoom.
    double zoom() const { return view_.zoom(); }
    WindowLevel windowLevel() const { return window_; }
    void setWindowLevel(const WindowLevel& window);

public slots:
    // About the centre of the box, by kZoomStep.
    void zoomIn();
    void zoomOut();
    // Zoom 1, centred; the window stays.
    void fitToBox();
    // Fitted, and the picture's own window.
    void resetView();

signals:
    // Zoom, pan or window/level changed.
    void viewChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent*) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect room() const;
    QRect fitRect() const;
    QRectF shownRect() const { return view_.shown(room(), fitRect()); }
    void zoomAbout(double factor, QPointF at);
    void panBy(QPointF delta);
    // Carries out a key of the viewer's; false for other keys. With apply false, only says.
    bool viewerKey(const QKeyEvent& key, bool apply);
    void invalidate();
    void updateShown() const;
    void drawLegend(QPainter& painter, const QRect& area) const;

    Image source_;
    ActivationMap map_;
    QString whyNone_;
    bool heatmapShown_ = false;
    QImage picture_;
    ViewTransform view_;
    WindowLevel window_;
    enum class Drag { None, Pan, Window } drag_ = Drag::None;
    QPointF dragFrom_;
    // The picture through the window and the overlay made from it: made when first drawn
    // after a change, so that a window drag redoes them once per frame, not per mouse move.
    mutable bool shownStale_ = true;
    mutable QImage windowed_;
    mutable QImage overlay_;
};

// A decoded picture as a QImage (a copy); null for no picture.
QImage toQImage(const cv::Mat& pixels);

}  // namespace orvix::app

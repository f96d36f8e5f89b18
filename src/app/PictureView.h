#pragma once
// The picture box of the image column: the decoded picture, fitted, zoomed and windowed, with
// the heatmap over it while shown.

#include <vector>

#include <QImage>
#include <QWidget>

#include <opencv2/core/mat.hpp>

#include "ViewTransform.h"
#include "orvix/Heatmap.h"
#include "orvix/Image.h"

class QPainter;

namespace orvix::app {

// Draws a picture as large as the widget allows with its aspect ratio kept, centred, above a
// strip kept for the heatmap's colour scale; with the heatmap shown, the disease model's
// evidence over the picture (at heatmapOpacity) and the scale in the strip (or why this
// picture has none). The strip is kept whether or not the heatmap is shown, so that showing it
// moves and shrinks nothing. With the focus, a ring round the box says so.
//
// A viewer as well: the wheel zooms about the cursor, the left button drags the picture, a
// double-click fits it again, the right button drags window (horizontally) and level
// (vertically); keys in keyPressEvent. All of it is the view's alone: the analysis reads the
// decoded picture, never this widget. A new picture starts fitted, in its own window, not
// inverted; the heatmap's opacity stays.
class PictureView : public QWidget {
    Q_OBJECT
public:
    // One wheel notch, one zoomIn().
    static constexpr double kZoomStep = 1.25;
    // The heatmap's opacity: from kMinOpacity to 1 (the tint alone), by kOpacityStep a key.
    static constexpr double kMinOpacity = 0.1;
    static constexpr double kOpacityStep = 0.1;

    // One text of the colour scale and where it is drawn (widget coordinates).
    struct LegendLabel {
        QString text;
        QRect rect;
    };

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
    // The texts of the colour scale as drawn at the widget's size: the ends, the 50 % mark under
    // the middle of the bar and what the scale means, each only where it overlaps no other
    // (the ends first, then 50 %, then the meaning). Empty without a scale.
    std::vector<LegendLabel> legendLabels() const;
    // Where the colour bar is drawn; empty without a scale.
    QRect legendBar() const;

    double heatmapOpacity() const { return opacity_; }
    void setHeatmapOpacity(double opacity);
    bool inverted() const { return inverted_; }
    // "Zoom 125 % · W 256 L 128" (and " · inverted"), for the status bar; "" without a picture.
    QString readout() const;

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
    // Fitted, and the picture's own window, not inverted.
    void resetView();
    void setInverted(bool inverted);
    void setWindowPreset(WindowPreset preset) { setWindowLevel(presetWindow(preset)); }
    // By kOpacityStep, within [kMinOpacity, 1].
    void moreHeatmapOpacity() { setHeatmapOpacity(opacity_ + kOpacityStep); }
    void lessHeatmapOpacity() { setHeatmapOpacity(opacity_ - kOpacityStep); }

signals:
    // Zoom, pan, window/level, inversion or the heatmap's opacity changed.
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
    // The strip under the room: two rows of text under the colour bar.
    int legendHeight() const { return 2 * fontMetrics().height() + 20; }
    QRect legendArea() const;
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
    double opacity_ = 1.0;
    bool inverted_ = false;
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

#pragma once
// The image column: disease title, caption, the picture fitted into its box, the "Upload" pill.

#include <QImage>
#include <QWidget>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"

class QLabel;
class QPushButton;

namespace orvix::app {

// Draws a picture as large as the widget allows with its aspect ratio kept, centred; with the
// heatmap shown, the disease model's evidence over it and a colour scale under it (or why
// this picture has none).
class PictureView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLegendHeight = 36;

    using QWidget::QWidget;
    void setPicture(const Image& image);
    // whyNone: shown in place of the scale when the map is empty.
    void setActivationMap(const ActivationMap& map, const QString& whyNone);
    void setHeatmapShown(bool shown);

    const QImage& picture() const { return picture_; }
    // What is drawn: the picture, or the picture with the heatmap over it.
    const QImage& shownImage() const { return overlay_.isNull() ? picture_ : overlay_; }
    bool heatmapDrawn() const { return !overlay_.isNull(); }
    // Where the picture is drawn: fitted and centred in the room the legend leaves.
    QRect pictureRect() const;
    // The legend's text, "" when no legend is drawn.
    QString legendText() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void updateOverlay();
    void drawLegend(QPainter& painter, const QRect& area) const;

    Image source_;
    ActivationMap map_;
    QString whyNone_;
    bool heatmapShown_ = false;
    QImage picture_;
    QImage overlay_;
};

// A decoded picture as a QImage (a copy); null for no picture.
QImage toQImage(const cv::Mat& pixels);

// A rounded blue label with white text: "Upload" and "Test Result".
QPushButton* makePill(const QString& text, QWidget* parent);
void sizePill(QPushButton* pill, int width, int height);
// Corner radius 20, as far as the box allows (a 36-point-high box gets 18).
int roundedRadius(int width, int height);

class ImagePanel : public QWidget {
    Q_OBJECT
public:
    ImagePanel(DiagnosisState state, QWidget* parent = nullptr);
    void applyGeometry(const Geometry& g);
    void refresh();

    QLabel* title() const { return title_; }
    QLabel* caption() const { return caption_; }
    PictureView* picture() const { return picture_; }
    void setHeatmapShown(bool shown) { picture_->setHeatmapShown(shown); }
    QPushButton* upload() const { return upload_; }

private:
    DiagnosisState state_;
    QLabel* title_;
    QLabel* caption_;
    PictureView* picture_;
    QPushButton* upload_;
};

}  // namespace orvix::app

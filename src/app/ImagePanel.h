#pragma once
// The image column: disease title, caption, the picture stretched to its box, the "Upload" pill.

#include <QImage>
#include <QWidget>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"

class QLabel;
class QPushButton;

namespace orvix::app {

// Draws a picture stretched to the whole widget, aspect ratio not kept.
class PictureView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void setPicture(const Image& image);
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage picture_;
};

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
    QPushButton* upload() const { return upload_; }

private:
    DiagnosisState state_;
    QLabel* title_;
    QLabel* caption_;
    PictureView* picture_;
    QPushButton* upload_;
};

}  // namespace orvix::app

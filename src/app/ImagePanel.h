#pragma once
// The image column: disease title, caption, the picture fitted into its box, the "Upload" pill.

#include <QWidget>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"

class QLabel;
class QPushButton;

namespace orvix::app {

class PictureView;

class ImagePanel : public QWidget {
    Q_OBJECT
public:
    ImagePanel(DiagnosisState state, QWidget* parent = nullptr);
    void applyGeometry(const Geometry& g);
    void refresh();

    QLabel* title() const { return title_; }
    QLabel* caption() const { return caption_; }
    PictureView* picture() const { return picture_; }
    void setHeatmapShown(bool shown);
    QPushButton* upload() const { return upload_; }

private:
    DiagnosisState state_;
    QLabel* title_;
    QLabel* caption_;
    PictureView* picture_;
    QPushButton* upload_;
};

}  // namespace orvix::app

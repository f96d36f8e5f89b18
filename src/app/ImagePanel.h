#pragma once
// The image column: disease title, caption, the picture fitted into its box, the "Upload" pill.

#include <vector>

#include <QWidget>

#include "Geometry.h"
#include "orvix/DiagnosisState.h"

class QLabel;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;

namespace orvix::app {

class PictureView;

class ImagePanel : public QWidget {
    Q_OBJECT
public:
    ImagePanel(DiagnosisState state, QWidget* parent = nullptr);
    // g: the size the fractions are taken of (Geometry::capped); room: the column's own size,
    // larger than g's share beyond the default size, the picture taking the difference.
    void applyGeometry(const Geometry& g, QSize room);
    void refresh();

    QLabel* title() const { return title_; }
    QLabel* caption() const { return caption_; }
    PictureView* picture() const { return picture_; }
    void setHeatmapShown(bool shown);
    QPushButton* upload() const { return upload_; }

    // Full-screen reading borrows the picture box: out of this column's layout and free to take
    // any size, until takeBackPicture() puts it back in its place at the column's size.
    PictureView* lendPicture();
    void takeBackPicture();

private:
    DiagnosisState state_;
    QLabel* title_;
    QLabel* caption_;
    PictureView* picture_;
    QPushButton* upload_;
    QVBoxLayout* layout_;
    std::vector<QSpacerItem*> gaps_;
    Geometry geometry_;
    QSize room_;
};

}  // namespace orvix::app

#include "Palette.h"

#include <QFontDatabase>
#include <QFrame>

namespace orvix::app {

QFont systemFont(double size, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(std::max(1, static_cast<int>(size + 0.5)));
    font.setWeight(weight);
    return font;
}

QFont reportFont(double size) {
    QFont font;
    font.setFamilies({"HelveticaNeue", "Helvetica Neue", "Helvetica", "Nimbus Sans", "Liberation Sans", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(static_cast<int>(size));
    return font;
}

QFrame* makeDivider(Qt::Orientation orientation, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet("color: rgba(60, 60, 67, 0.29);");
    return line;
}

}  // namespace orvix::app

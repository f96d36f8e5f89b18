#pragma once
// The window's colours (the platform's standard shades) and fonts.

#include <QColor>
#include <QFont>

class QFrame;
class QWidget;

namespace orvix::app {

inline const QColor kBlue(0, 122, 255);
inline const QColor kRed(255, 59, 48);
inline const QColor kGreen(52, 199, 89);
inline const QColor kOrange(255, 149, 0);
inline const QColor kGray(142, 142, 147);
inline const QColor kFocusRing(10, 42, 102);

// The system font at a size in points of the window's geometry (logical pixels).
QFont systemFont(double size, QFont::Weight weight = QFont::Normal);

// "HelveticaNeue" when installed, else the closest sans-serif that is.
QFont reportFont(double size);

// A thin rule between columns (vertical) or boxes (horizontal).
QFrame* makeDivider(Qt::Orientation orientation, QWidget* parent);

}  // namespace orvix::app

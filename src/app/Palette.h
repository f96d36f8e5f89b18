#pragma once
// The window's colours (the platform's standard shades), its two themes, and fonts.

#include <optional>
#include <string_view>

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

// Light (the default) or dark: dark suits reading pictures in a dim room. Chosen for the
// session (View > Dark Theme), or at start by --dark or ORVIX_THEME=dark; never stored.
enum class Theme { Light, Dark };

// The colours of text that carries meaning, per theme. Each reads at 4.5:1 or more against the
// theme's window and base colours (WCAG AA for normal text): the light theme's are darker shades
// of the standard ones, the dark theme's lighter.
struct ThemeColours {
    QColor window;      // the window's background (labels stand on it)
    QColor base;        // the background of text fields and tables
    QColor text;        // body text
    QColor negative;    // NEGATIVE
    QColor positive;    // POSITIVE, and what could not be done
    QColor borderline;  // the borderline mark
    QColor muted;       // the threshold, the report's text
    QColor focusRing;   // the picture box's ring while it has the focus
};
const ThemeColours& themeColours(Theme theme);
// The colours of the theme in use.
const ThemeColours& themeColours();
Theme currentTheme();
// Makes `theme` the application's: its palette for every widget (the Fusion style, so that the
// platform's own cannot override it); widgets that colour text themselves follow on
// QEvent::PaletteChange.
void applyTheme(Theme theme);
// "dark" or "light" (as ORVIX_THEME gives it); nullopt for anything else.
std::optional<Theme> themeNamed(std::string_view name);

// The WCAG contrast ratio of two colours, from 1 (equal luminance) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

// The system font at a size in points of the window's geometry (logical pixels).
QFont systemFont(double size, QFont::Weight weight = QFont::Normal);

// "HelveticaNeue" when installed, else the closest sans-serif that is.
QFont reportFont(double size);

// A thin rule between columns (vertical) or boxes (horizontal).
QFrame* makeDivider(Qt::Orientation orientation, QWidget* parent);

}  // namespace orvix::app

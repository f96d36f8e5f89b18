#include "Palette.h"

#include <cmath>

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QPalette>
#include <QStyle>

namespace orvix::app {
namespace {

Theme current = Theme::Light;

// WCAG relative luminance: the sRGB channels linearised, weighted by the eye's sensitivity.
double luminance(const QColor& c) {
    const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

QPalette paletteOf(const ThemeColours& c, Theme theme) {
    QPalette p;
    const QColor button = theme == Theme::Dark ? QColor(0x3a, 0x3a, 0x3c) : QColor(0xe5, 0xe5, 0xea);
    const QColor disabled(0x8e, 0x8e, 0x93);
    p.setColor(QPalette::Window, c.window);
    p.setColor(QPalette::WindowText, c.text);
    p.setColor(QPalette::Base, c.base);
    p.setColor(QPalette::AlternateBase, c.window);
    p.setColor(QPalette::Text, c.text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, c.text);
    p.setColor(QPalette::ToolTipBase, c.base);
    p.setColor(QPalette::ToolTipText, c.text);
    p.setColor(QPalette::PlaceholderText, c.muted);
    p.setColor(QPalette::Highlight, QColor(0, 122, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, theme == Theme::Dark ? QColor(0x64, 0xa8, 0xff) : QColor(0, 0x5a, 0xc8));
    p.setColor(QPalette::Light, button.lighter(130));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

}  // namespace

const ThemeColours& themeColours(Theme theme) {
    static const ThemeColours light{QColor(0xf2, 0xf2, 0xf7), Qt::white,
                                    QColor(0x1d, 0x1d, 0x1f), QColor(0x1a, 0x74, 0x31),
                                    QColor(0xc0, 0x27, 0x1d), QColor(0x9a, 0x4d, 0x00),
                                    QColor(0x5c, 0x5c, 0x61), kFocusRing};
    static const ThemeColours dark{QColor(0x1e, 0x1e, 0x1e), QColor(0x2a, 0x2a, 0x2a), QColor(0xe8, 0xe8, 0xe8),
                                   QColor(0x30, 0xd1, 0x58), QColor(0xff, 0x69, 0x61), QColor(0xff, 0xb3, 0x40),
                                   QColor(0xae, 0xae, 0xb2), QColor(0x64, 0xa8, 0xff)};
    return theme == Theme::Dark ? dark : light;
}

const ThemeColours& themeColours() { return themeColours(current); }

Theme currentTheme() { return current; }

void applyTheme(Theme theme) {
    current = theme;
    if (!qApp) return;
    if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
        QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(paletteOf(themeColours(theme), theme));
}

std::optional<Theme> themeNamed(std::string_view name) {
    if (name == "dark") return Theme::Dark;
    if (name == "light") return Theme::Light;
    return std::nullopt;
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

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

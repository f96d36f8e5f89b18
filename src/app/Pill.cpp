#include "Pill.h"

#include <algorithm>

#include <QPushButton>

#include "Palette.h"

namespace orvix::app {

QPushButton* makePill(const QString& text, QWidget* parent) {
    auto* pill = new QPushButton(text, parent);
    pill->setFlat(true);
    sizePill(pill, 1, 1);
    return pill;
}

void sizePill(QPushButton* pill, int width, int height) {
    pill->setFixedSize(width, height);
    // Keyboard focus shows as a dark ring that the blue fill cannot hide.
    pill->setStyleSheet(QStringLiteral("QPushButton { color: white; background-color: %1; border: none;"
                                       " border-radius: %2px; padding: 0px; }"
                                       " QPushButton:focus { border: 3px solid %3; }")
                            .arg(kBlue.name())
                            .arg(roundedRadius(width, height))
                            .arg(kFocusRing.name()));
}

int roundedRadius(int width, int height) { return std::min({20, width / 2, height / 2}); }

}  // namespace orvix::app

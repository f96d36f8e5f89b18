#pragma once
// The rounded blue "pill" buttons of the window ("Upload", "Test Result") and the corner
// radius of its rounded boxes.

#include <QString>

class QPushButton;
class QWidget;

namespace orvix::app {

// A rounded blue label with white text: "Upload" and "Test Result".
QPushButton* makePill(const QString& text, QWidget* parent);
void sizePill(QPushButton* pill, int width, int height);
// Corner radius 20, as far as the box allows (a 36-point-high box gets 18).
int roundedRadius(int width, int height);

}  // namespace orvix::app

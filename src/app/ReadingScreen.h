#pragma once
// Full-screen reading (View > Full-Screen Reading, F11): the picture box alone on the screen, on
// black, with the verdict laid over its top left corner. The box is the window's own, lent for
// the while: zoom, pan, window, inversion and the heatmap carry over both ways.

#include <QWidget>

class QLabel;

namespace orvix::app {

class ImagePanel;

class ReadingScreen : public QWidget {
    Q_OBJECT
public:
    explicit ReadingScreen(ImagePanel* panel);

    // Borrows the panel's picture box and shows it full screen, focused.
    void enter();
    // Gives the box back to its panel and closes. Also on F11 and Escape.
    void leave();
    bool reading() const { return reading_; }

    // The verdict over the picture (hidden when empty), in colour.
    void setVerdict(const QString& text, const QColor& colour);
    QLabel* verdict() const { return verdict_; }

signals:
    void left();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeVerdict();

    ImagePanel* panel_;
    QLabel* verdict_;
    bool reading_ = false;
};

}  // namespace orvix::app

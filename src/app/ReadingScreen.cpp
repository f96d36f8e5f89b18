#include "ReadingScreen.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "ImagePanel.h"
#include "Palette.h"
#include "PictureView.h"

namespace orvix::app {

ReadingScreen::ReadingScreen(ImagePanel* panel)
    : QWidget(nullptr, Qt::Window), panel_(panel), verdict_(new QLabel(this)) {
    setObjectName("readingScreen");
    setWindowTitle(QStringLiteral("Orvix \u2014 reading"));
    // Black round the picture whatever the theme; the dark theme's text on it.
    const ThemeColours& dark = themeColours(Theme::Dark);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, dark.text);
    setPalette(palette);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    verdict_->setObjectName("readingVerdict");
    verdict_->setAccessibleName(QStringLiteral("Verdict"));
    verdict_->setFont(systemFont(28, QFont::DemiBold));
    verdict_->setMargin(10);
    verdict_->setAutoFillBackground(true);
    verdict_->hide();
}

void ReadingScreen::enter() {
    if (reading_) return;
    reading_ = true;
    PictureView* picture = panel_->lendPicture();
    layout()->addWidget(picture);
    picture->show();
    showFullScreen();
    placeVerdict();
    picture->setFocus();
}

void ReadingScreen::leave() {
    if (!reading_) return;
    reading_ = false;
    layout()->removeWidget(panel_->picture());
    panel_->takeBackPicture();
    hide();
    emit left();
}

void ReadingScreen::setVerdict(const QString& text, const QColor& colour) {
    verdict_->setText(text);
    // Over the picture: the dark theme's colour on a near-black plate, so that it reads on any film.
    QPalette palette = verdict_->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0, 200));
    palette.setColor(QPalette::WindowText, colour);
    verdict_->setPalette(palette);
    verdict_->setVisible(!text.isEmpty());
    placeVerdict();
}

void ReadingScreen::placeVerdict() {
    verdict_->adjustSize();
    verdict_->move(16, 16);
    verdict_->raise();
}

void ReadingScreen::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_F11) {
        leave();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ReadingScreen::closeEvent(QCloseEvent* event) {
    leave();
    event->accept();
}

void ReadingScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeVerdict();
}

}  // namespace orvix::app

// The picture box as a viewer: its arithmetic alone, then the widget driven by wheel, mouse and keys.

#include <QtTest>

#include "PictureView.h"
#include "ViewTransform.h"

using namespace orvix;
using namespace orvix::app;

namespace {

const QRectF kSquare(0, 0, 400, 400);  // a square picture fills a square room

// A horizontal grey ramp: the value of a pixel tells where it lies.
Image ramp(int width, int height) {
    cv::Mat pixels(height, width, CV_8UC1);
    for (int x = 0; x < width; ++x) pixels.col(x).setTo(x * 255 / (width - 1));
    return Image(pixels);
}

// Where `at` lies on a picture shown in `shown`, in fractions of its width and height.
QPointF fraction(QPointF at, const QRectF& shown) {
    return {(at.x() - shown.left()) / shown.width(), (at.y() - shown.top()) / shown.height()};
}

}  // namespace

class PictureViewTest : public QObject {
    Q_OBJECT

private slots:
    // The point stays where it is, the zoom clamped to [1, kMaxZoom] (fixed trivially when clamped away).
    void zoomKeepsThePointUnderTheCursor_data() {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QPointF>("at");
        QTest::addColumn<double>("zoom");
        QTest::newRow("in, near a corner") << 1.0 << 2.0 << QPointF(10, 390) << 2.0;
        QTest::newRow("in, past the limit") << 4.0 << 1000.0 << QPointF(55.5, 201) << ViewTransform::kMaxZoom;
        QTest::newRow("out") << 8.0 << 0.5 << QPointF(350, 30) << 4.0;
        QTest::newRow("out of fitted") << 1.0 << 0.5 << QPointF(100, 100) << 1.0;
    }
    void zoomKeepsThePointUnderTheCursor() {
        QFETCH(double, start);
        QFETCH(double, factor);
        QFETCH(QPointF, at);
        ViewTransform view;
        view.zoomAbout(kSquare, kSquare, start, QPointF(123, 321));
        const QPointF before = fraction(at, view.shown(kSquare, kSquare));
        view.zoomAbout(kSquare, kSquare, factor, at);
        QTEST(view.zoom(), "zoom");
        QCOMPARE(fraction(at, view.shown(kSquare, kSquare)), before);
    }

    void panIsClamped() {
        ViewTransform view;  // fully zoomed in: the picture's left and bottom edges stop at the room's
        view.zoomAbout(kSquare, kSquare, ViewTransform::kMaxZoom, {100, 100});
        view.panBy(kSquare, kSquare, {1e6, -1e6});
        QCOMPARE(view.shown(kSquare, kSquare).topLeft(), QPointF(0, 400 - 400 * ViewTransform::kMaxZoom));
        const QRectF fit(0, 100, 400, 200);  // 2:1 at zoom 1.5 overfills the width, not the height: centred there
        ViewTransform wide;
        wide.zoomAbout(kSquare, fit, 1.5, {0, 0});
        wide.panBy(kSquare, fit, {-30, 50});
        QCOMPARE(wide.shown(kSquare, fit), QRectF(-30, 50, 600, 300));
    }

    void windowTable() {  // the ends and centre of a window, the width clamped to [1, 512]
        const std::vector<std::tuple<const char*, WindowLevel, int, int>> rows{
            {"identity", {}, 77, 77},
            {"narrow, below", {100, 10}, 94, 0},
            {"narrow, centre", {100, 10}, 100, 128},
            {"narrow, above", {100, 10}, 106, 255},
            {"too wide is widest", {127.5, 1024}, 0, 64},
            {"width 0 is 1", {100, 0}, 100, 128}};
        for (const auto& [name, window, value, shown] : rows) {
            const int got = windowLut(window)[static_cast<std::size_t>(value)];
            QVERIFY2(got == shown, qPrintable(QStringLiteral("%1: %2, not %3").arg(name).arg(got).arg(shown)));
        }
    }

    void mouseZoomsPansAndWindowsAndANewPictureResets() {
        PictureView view;
        view.resize(400, 300);
        view.setPicture(ramp(800, 400));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        const QPointF at(100, 150);  // a quarter across, halfway down: stays there through two notches
        QWheelEvent wheel(at, at, {}, {0, 240}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &wheel);
        QCOMPARE(view.zoom(), PictureView::kZoomStep * PictureView::kZoomStep);
        const QRect shown = view.pictureRect();
        QVERIFY((fraction(at, shown) - QPointF(0.25, 0.5)).manhattanLength() < 0.02);

        // The left drag pans by 30 to the left; the right one narrows the window and brightens, no pan.
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(200, 150));
        QTest::mouseMove(&view, QPoint(170, 150));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(170, 150));
        QTest::mousePress(&view, Qt::RightButton, {}, QPoint(200, 150));
        QTest::mouseMove(&view, QPoint(170, 130));
        QTest::mouseRelease(&view, Qt::RightButton, {}, QPoint(170, 130));
        QCOMPARE(view.pictureRect(), shown.translated(-30, 0));
        QCOMPARE(view.windowLevel(), (WindowLevel{107.5, 226}));
        const auto lut = windowLut(view.windowLevel());
        for (int x : {0, 300, 799}) QCOMPARE(qGray(view.shownImage().pixel(x, 0)), int(lut[x * 255 / 799]));
        QCOMPARE(view.picture().pixelColor(799, 0).value(), 255);  // the decoded picture is left as it was

        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(200, 150));  // fits, keeps the window
        QCOMPARE(view.pictureRect(), QRect(0, 50, 400, 200));
        QTest::keyClick(&view, Qt::Key_Plus);
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(view.zoom(), PictureView::kZoomStep);
        QCOMPARE(view.windowLevel().width, 234.0);

        view.setPicture(ramp(600, 600));
        QCOMPARE(view.zoom(), 1.0);
        QVERIFY(view.windowLevel().isIdentity());
        QCOMPARE(view.pictureRect(), QRect(50, 0, 300, 300));
    }
};

QTEST_MAIN(PictureViewTest)
#include "PictureViewTest.moc"

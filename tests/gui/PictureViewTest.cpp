// The picture box as a viewer: its arithmetic alone, then the widget driven by wheel, mouse and keys.

#include <QtTest>

#include "ImagePanel.h"
#include "ViewTransform.h"

using namespace orvix;
using namespace orvix::app;

Q_DECLARE_METATYPE(orvix::app::WindowLevel)

namespace {

const QRectF kSquare(0, 0, 400, 400);  // a square picture fills a square room

// A horizontal grey ramp: the value of a pixel tells where it lies.
Image ramp(int width, int height) {
    cv::Mat pixels(height, width, CV_8UC1);
    for (int x = 0; x < width; ++x) pixels.col(x).setTo(x * 255 / (width - 1));
    return Image(pixels);
}

}  // namespace

class PictureViewTest : public QObject {
    Q_OBJECT

private slots:
    void zoomKeepsThePointUnderTheCursor_data() {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QPointF>("at");
        QTest::newRow("in, near a corner") << 1.0 << 2.0 << QPointF(10, 390);
        QTest::newRow("in a notch, off centre") << 1.0 << 1.25 << QPointF(300, 120);
        QTest::newRow("in to the limit") << 4.0 << 8.0 << QPointF(55.5, 201);
        QTest::newRow("out") << 8.0 << 0.5 << QPointF(350, 30);
    }
    void zoomKeepsThePointUnderTheCursor() {
        QFETCH(double, start);
        QFETCH(double, factor);
        QFETCH(QPointF, at);
        ViewTransform view;
        view.zoomAbout(kSquare, kSquare, start, QPointF(123, 321));
        const QRectF before = view.shown(kSquare, kSquare);
        view.zoomAbout(kSquare, kSquare, factor, at);
        const QRectF after = view.shown(kSquare, kSquare);
        QCOMPARE(view.zoom(), start * factor);
        QCOMPARE((at.x() - after.left()) / after.width(), (at.x() - before.left()) / before.width());
        QCOMPARE((at.y() - after.top()) / after.height(), (at.y() - before.top()) / before.height());
    }

    void zoomAndPanAreClamped() {
        ViewTransform view;
        view.zoomAbout(kSquare, kSquare, 0.5, {100, 100});
        QCOMPARE(view.zoom(), 1.0);
        QCOMPARE(view.shown(kSquare, kSquare), kSquare);
        view.zoomAbout(kSquare, kSquare, 1000, {100, 100});
        QCOMPARE(view.zoom(), ViewTransform::kMaxZoom);
        view.panBy(kSquare, kSquare, {1e6, -1e6});  // the picture's left and bottom edges stop at the room's
        QCOMPARE(view.shown(kSquare, kSquare).topLeft(), QPointF(0, 400 - 400 * ViewTransform::kMaxZoom));

        // A 2:1 picture at zoom 1.5 overfills the room's width, not its height: centred on that axis.
        const QRectF fit(0, 100, 400, 200);
        ViewTransform wide;
        wide.zoomAbout(kSquare, fit, 1.5, {0, 0});
        wide.panBy(kSquare, fit, {-30, 50});
        QCOMPARE(wide.shown(kSquare, fit), QRectF(-30, 50, 600, 300));
    }

    void windowTable_data() {
        QTest::addColumn<WindowLevel>("window");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("shown");
        QTest::newRow("narrow, below") << WindowLevel{100, 10} << 94 << 0;
        QTest::newRow("narrow, centre") << WindowLevel{100, 10} << 100 << 128;
        QTest::newRow("narrow, inside") << WindowLevel{100, 10} << 102 << 179;
        QTest::newRow("narrow, above") << WindowLevel{100, 10} << 106 << 255;
        QTest::newRow("wide, black") << WindowLevel{127.5, 512} << 0 << 64;
        QTest::newRow("wide, white") << WindowLevel{127.5, 512} << 255 << 191;
        QTest::newRow("width 0 is 1") << WindowLevel{100, 0} << 99 << 0;
    }
    void windowTable() {
        QFETCH(WindowLevel, window);
        QFETCH(int, value);
        QFETCH(int, shown);
        QCOMPARE(int(windowLut(window)[value]), shown);
        const auto identity = windowLut(WindowLevel{});
        for (int v = 0; v < 256; ++v) QCOMPARE(int(identity[v]), v);
    }

    void mouseZoomsPansAndWindowsAndANewPictureResets() {
        PictureView view;
        view.resize(400, 300);
        view.setPicture(ramp(800, 400));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QRect fit(0, 50, 400, 200);
        QCOMPARE(view.pictureRect(), fit);

        const QPointF at(100, 150);  // a quarter across, halfway down
        QWheelEvent wheel(at, view.mapToGlobal(at), {}, {0, 240}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(&view, &wheel);
        QCOMPARE(view.zoom(), PictureView::kZoomStep * PictureView::kZoomStep);
        QRect shown = view.pictureRect();
        QVERIFY(std::abs((at.x() - shown.left()) / shown.width() - 0.25) < 0.01);
        QVERIFY(std::abs((at.y() - shown.top()) / shown.height() - 0.5) < 0.01);

        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(200, 150));
        QTest::mouseMove(&view, QPoint(170, 150));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(170, 150));
        QCOMPARE(view.pictureRect(), shown.translated(-30, 0));
        shown = view.pictureRect();

        QTest::mousePress(&view, Qt::RightButton, {}, QPoint(200, 150));
        QTest::mouseMove(&view, QPoint(240, 130));
        QTest::mouseRelease(&view, Qt::RightButton, {}, QPoint(240, 130));
        QCOMPARE(view.windowLevel().width, 296.0);
        QCOMPARE(view.windowLevel().level, 107.5);
        QCOMPARE(view.pictureRect(), shown);
        const auto lut = windowLut(view.windowLevel());
        for (int x : {0, 300, 799}) QCOMPARE(qGray(view.shownImage().pixel(x, 0)), int(lut[x * 255 / 799]));
        QCOMPARE(view.picture().pixelColor(799, 0).value(), 255);  // the decoded picture is left as it was

        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(200, 150));
        QCOMPARE(view.pictureRect(), fit);
        QCOMPARE(view.windowLevel().width, 296.0);

        QTest::keyClick(&view, Qt::Key_Plus);
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(view.zoom(), PictureView::kZoomStep);
        QCOMPARE(view.windowLevel().width, 304.0);
        view.setPicture(ramp(600, 600));
        QCOMPARE(view.zoom(), 1.0);
        QVERIFY(view.windowLevel().isIdentity());
        QCOMPARE(view.pictureRect(), QRect(50, 0, 300, 300));
    }
};

QTEST_MAIN(PictureViewTest)
#include "PictureViewTest.moc"

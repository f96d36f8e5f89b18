// The picture box as a viewer: its arithmetic alone, then the widget driven by wheel, mouse and keys.

#include <QPushButton>
#include <QtTest>

#include "Palette.h"
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

// Evidence everywhere, strong enough to tint: a 2 x 2 map of log-odds 4.
ActivationMap evidence() {
    ActivationMap map;
    map.label = "PNEUMONIA";
    map.logOdds = cv::Mat(2, 2, CV_32F, cv::Scalar(4.0));
    return map;
}

// A view of `size` showing a picture, exposed.
void showPicture(PictureView& view, QSize size, const Image& picture) {
    view.resize(size);
    view.setPicture(picture);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
}

}  // namespace

class PictureViewTest : public QObject {
    Q_OBJECT

private slots:
    // The point stays where it is, the zoom clamped to [kMinZoom, kMaxZoom], also while the picture is
    // smaller than the room along an axis (a 2:1 picture fitted into a square) or both (below fit).
    void zoomKeepsThePointUnderTheCursor_data() {
        QTest::addColumn<QRectF>("fit");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("factor");
        QTest::addColumn<QPointF>("at");
        QTest::addColumn<double>("zoom");
        const QRectF wide(0, 100, 400, 200);
        QTest::newRow("in, near a corner") << kSquare << 1.0 << 2.0 << QPointF(10, 390) << 2.0;
        QTest::newRow("in, past the limit")
            << kSquare << 4.0 << 1000.0 << QPointF(55.5, 201) << ViewTransform::kMaxZoom;
        QTest::newRow("out") << kSquare << 8.0 << 0.5 << QPointF(350, 30) << 4.0;
        QTest::newRow("in, still shorter than the room") << wide << 1.0 << 1.25 << QPointF(100, 120) << 1.25;
        QTest::newRow("out, below fit") << kSquare << 1.0 << 0.5 << QPointF(100, 300) << 0.5;
        QTest::newRow("out, below fit, one notch") << wide << 1.0 << 0.8 << QPointF(390, 290) << 0.8;
        QTest::newRow("out, past the limit") << kSquare << 0.5 << 0.01 << QPointF(150, 250) << ViewTransform::kMinZoom;
    }
    void zoomKeepsThePointUnderTheCursor() {
        QFETCH(QRectF, fit);
        QFETCH(double, start);
        QFETCH(double, factor);
        QFETCH(QPointF, at);
        ViewTransform view;
        view.zoomAbout(kSquare, fit, start, fit.center());
        const QPointF before = fraction(at, view.shown(kSquare, fit));
        view.zoomAbout(kSquare, fit, factor, at);
        QTEST(view.zoom(), "zoom");
        const QPointF after = fraction(at, view.shown(kSquare, fit));
        QVERIFY((after - before).manhattanLength() < 1e-9);
        QVERIFY2(kSquare.contains(view.shown(kSquare, fit)) || view.zoom() > 1, "a picture below fit stays whole");
    }

    void panIsClamped() {
        ViewTransform view;  // fully zoomed in: the picture's left and bottom edges stop at the room's
        view.zoomAbout(kSquare, kSquare, ViewTransform::kMaxZoom, {100, 100});
        view.panBy(kSquare, kSquare, {1e6, -1e6});
        QCOMPARE(view.shown(kSquare, kSquare).topLeft(), QPointF(0, 400 - 400 * ViewTransform::kMaxZoom));
        // 2:1 at zoom 1.5 overfills the width, not the height: there it moves, but stays whole in the room.
        const QRectF fit(0, 100, 400, 200);
        ViewTransform wide;
        wide.zoomAbout(kSquare, fit, 1.5, {200, 200});
        QCOMPARE(wide.shown(kSquare, fit), QRectF(-100, 50, 600, 300));
        wide.panBy(kSquare, fit, {70, -20});
        QCOMPARE(wide.shown(kSquare, fit), QRectF(-30, 30, 600, 300));
        wide.panBy(kSquare, fit, {0, -1e6});
        QCOMPARE(wide.shown(kSquare, fit), QRectF(-30, 0, 600, 300));
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
        showPicture(view, {400, 300}, ramp(800, 400));
        const QRect fitted = view.pictureRect();
        const QPointF at(100, 150);  // a quarter across: stays there through two notches
        const QPointF before = fraction(at, fitted);
        QCOMPARE(before.x(), 0.25);
        QWheelEvent wheel(at, at, {}, {0, 240}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &wheel);
        QCOMPARE(view.zoom(), PictureView::kZoomStep * PictureView::kZoomStep);
        const QRect shown = view.pictureRect();
        QVERIFY((fraction(at, shown) - before).manhattanLength() < 0.02);

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
        QCOMPARE(view.pictureRect(), fitted);
        QTest::keyClick(&view, Qt::Key_Plus);
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(view.zoom(), PictureView::kZoomStep);
        QCOMPARE(view.windowLevel().width, 234.0);

        view.setInverted(true);
        view.setPicture(ramp(600, 600));
        QCOMPARE(view.zoom(), 1.0);
        QVERIFY(view.windowLevel().isIdentity() && !view.inverted());
        const int strip = view.height() - view.pictureRect().height();  // the heatmap scale's, kept always
        QVERIFY(strip > 20);
        QCOMPARE(view.pictureRect(), QRect((100 + strip) / 2, 0, 300 - strip, 300 - strip));
    }

    // The scale's texts never overlap and stay in the box; the 50 % mark is there wherever it fits.
    void legendLabelsNeverOverlap_data() {
        QTest::addColumn<QSize>("box");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<bool>("middle");  // 50 % shown
        QTest::newRow("the box at 1366 x 768") << QSize(600, 560) << QSize(1604, 1248) << true;
        QTest::newRow("a tall narrow film") << QSize(600, 560) << QSize(300, 1400) << true;
        QTest::newRow("small") << QSize(200, 200) << QSize(800, 800) << true;
        QTest::newRow("tiny") << QSize(60, 120) << QSize(800, 800) << false;
    }
    void legendLabelsNeverOverlap() {
        QFETCH(QSize, box);
        QFETCH(QSize, picture);
        QFETCH(bool, middle);
        PictureView view;
        showPicture(view, box, ramp(picture.width(), picture.height()));
        view.setActivationMap(evidence(), {});
        view.setHeatmapShown(true);
        const auto labels = view.legendLabels();
        QStringList texts;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            texts << labels[i].text;
            QVERIFY2(view.rect().contains(labels[i].rect), qPrintable(labels[i].text));
            QVERIFY2(!labels[i].rect.intersects(view.pictureRect()), qPrintable(labels[i].text));
            for (std::size_t j = 0; j < i; ++j)
                QVERIFY2(!labels[i].rect.intersects(labels[j].rect),
                         qPrintable(labels[i].text + " over " + labels[j].text));
        }
        QCOMPARE(texts.contains("50 %"), middle);
        if (middle) {  // under the middle of the bar, where its tick is
            const auto mark = std::find_if(labels.begin(), labels.end(), [](auto& l) { return l.text == "50 %"; });
            QVERIFY(std::abs(mark->rect.center().x() - view.legendBar().center().x()) <= 1);
        }
        if (box.width() >= 400) QVERIFY2(texts.size() == 4, qPrintable(texts.join(" | ")));
    }

    // Showing the heatmap neither moves nor shrinks the picture, nor changes the zoom; opacity blends the
    // tint with the grey under it; invert and the presets act on the grey only.
    void heatmapOpacityInvertAndPresets() {
        PictureView view;
        showPicture(view, {300, 300}, Image(cv::Mat(64, 64, CV_8UC1, cv::Scalar(100))));
        view.setActivationMap(evidence(), {});
        QTest::keyClick(&view, Qt::Key_Plus);
        const QRect box = view.pictureRect();
        view.setHeatmapShown(true);
        QVERIFY(view.heatmapDrawn());
        QCOMPARE(view.pictureRect(), box);
        QCOMPARE(view.zoom(), PictureView::kZoomStep);
        view.setHeatmapShown(false);
        QCOMPARE(view.pictureRect(), box);
        view.resetView();
        view.setHeatmapShown(true);
        const QColor tint = view.shownImage().pixelColor(32, 32);
        QVERIFY(tint != QColor(100, 100, 100));
        for (int i = 0; i < 5; ++i) view.lessHeatmapOpacity();
        QCOMPARE(view.heatmapOpacity(), 0.5);
        const QColor half = view.shownImage().pixelColor(32, 32);
        for (const auto& [shown, full] :
             {std::pair{half.red(), tint.red()}, {half.green(), tint.green()}, {half.blue(), tint.blue()}})
            QVERIFY2(std::abs(shown - (full + 100) / 2.0) <= 1, qPrintable(half.name() + " from " + tint.name()));
        for (int i = 0; i < 20; ++i) view.lessHeatmapOpacity();
        QCOMPARE(view.heatmapOpacity(), PictureView::kMinOpacity);
        for (int i = 0; i < 20; ++i) view.moreHeatmapOpacity();
        QCOMPARE(view.heatmapOpacity(), 1.0);
        QCOMPARE(view.shownImage().pixelColor(32, 32), tint);

        view.setHeatmapShown(false);
        view.setInverted(true);
        QCOMPARE(qGray(view.shownImage().pixel(5, 5)), 155);
        view.setWindowPreset(WindowPreset::Lung);
        QCOMPARE(view.windowLevel(), presetWindow(WindowPreset::Lung));
        QCOMPARE(qGray(view.shownImage().pixel(5, 5)), 255 - int(windowLut(presetWindow(WindowPreset::Lung))[100]));
        QCOMPARE(view.readout(), QString("Zoom 100 % \u00b7 W 160 L 80 \u00b7 inverted"));
        view.setWindowPreset(WindowPreset::Own);
        QVERIFY(view.windowLevel().isIdentity());
        view.resetView();
        QVERIFY(!view.inverted());
        QCOMPARE(view.picture().pixelColor(5, 5), QColor(100, 100, 100));  // the decoded picture as it was
        // The presets: each a narrower window than the picture's own, ordered dark to bright.
        const auto lung = presetWindow(WindowPreset::Lung), soft = presetWindow(WindowPreset::SoftTissue),
                   bone = presetWindow(WindowPreset::Bone);
        QVERIFY(lung.level < soft.level && soft.level < bone.level && bone.width < 256);
    }

    // With the focus, a ring in the theme's colour round the box; none without.
    void aFocusRingShowsTheFocus() {
        QWidget window;
        auto* other = new QPushButton("other", &window);
        auto* view = new PictureView(&window);
        view->setGeometry(0, 40, 200, 200);
        view->setPicture(ramp(100, 100));
        window.resize(200, 240);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        const QPoint edge(0, 100);
        QVERIFY(view->grab().toImage().pixelColor(edge) != themeColours().focusRing);
        view->setFocus();
        QTRY_VERIFY(view->hasFocus());
        QCOMPARE(view->grab().toImage().pixelColor(edge), themeColours().focusRing);  // its contrast: ReadingWindowTest
    }
};

QTEST_MAIN(PictureViewTest)
#include "PictureViewTest.moc"

#pragma once
// The arithmetic of the picture box: zoom and pan of a picture fitted into its room, and
// window/level as a table over 8-bit values. No widgets, so that it is checked on its own.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include <QPointF>
#include <QRectF>

namespace orvix::app {

// Zoom and pan of a picture fitted (aspect kept, centred) into a room. Zoom 1 is the fitted
// picture; zoom 32 shows a pixel of a 3000-pixel film fitted into 600 points as 6 points.
// The view keeps the picture point that lies at the fitted rect's centre (the focus, in
// fractions of the picture's width and height), so it stays in place when the room changes
// size (as when the legend comes and goes).
//
// Pan is clamped per axis: a picture wider (taller) than the room covers it, leaving no empty
// margin; one that is narrower stays centred. At zoom 1 the picture is therefore the fitted one.
class ViewTransform {
public:
    static constexpr double kMinZoom = 1.0;
    static constexpr double kMaxZoom = 32.0;

    double zoom() const { return zoom_; }

    // Where the picture lies, given the room and where it lies fitted into the room.
    QRectF shown(const QRectF& room, const QRectF& fit) const;
    // Zooms by `factor` (clamped to the range) about `at`: the picture point under `at` stays
    // under it as far as the pan clamp allows.
    void zoomAbout(const QRectF& room, const QRectF& fit, double factor, QPointF at);
    // Moves the picture by `delta` (points), as far as the pan clamp allows.
    void panBy(const QRectF& room, const QRectF& fit, QPointF delta);

private:
    // Stores the focus that puts the picture's top-left corner at `topLeft` at the current zoom.
    void place(const QRectF& room, const QRectF& fit, QPointF topLeft);

    double zoom_ = kMinZoom;
    QPointF focus_{0.5, 0.5};
};

// Window and level over the displayed 8-bit values: values from level - width/2 to
// level + width/2 are spread over black to white, those outside are black or white. The
// default is the identity (decoded DICOM pictures already carry their own VOI window).
struct WindowLevel {
    static constexpr double kMinWidth = 1.0;
    static constexpr double kMaxWidth = 512.0;

    double level = 127.5;
    double width = 256.0;

    bool isIdentity() const { return level == 127.5 && width == 256.0; }
    // Width within [kMinWidth, kMaxWidth], level within [0, 255].
    WindowLevel clamped() const;
    bool operator==(const WindowLevel&) const = default;
};

// The table of a window: value v gives 127.5 + (v - level) * 256 / width, rounded, within
// [0, 255]. The identity window gives v.
std::array<std::uint8_t, 256> windowLut(const WindowLevel& window);

// Implementation (header only: a few lines of arithmetic).

namespace detail {

// The focus along one axis that keeps a picture of `extent` in the room [lo, hi] by the pan
// clamp, the picture being placed so that `focus` of it lies at `anchor`.
inline double clampFocus(double focus, double extent, double anchor, double lo, double hi) {
    if (extent <= hi - lo + 1e-9) return 0.5;
    // The picture's near edge lies within [hi - extent, lo].
    return std::clamp(focus, (anchor - lo) / extent, (anchor - hi + extent) / extent);
}

}  // namespace detail

inline QRectF ViewTransform::shown(const QRectF& room, const QRectF& fit) const {
    const double w = fit.width() * zoom_, h = fit.height() * zoom_;
    const QPointF anchor = fit.center();
    const double fx = detail::clampFocus(focus_.x(), w, anchor.x(), room.left(), room.right());
    const double fy = detail::clampFocus(focus_.y(), h, anchor.y(), room.top(), room.bottom());
    return {anchor.x() - fx * w, anchor.y() - fy * h, w, h};
}

inline void ViewTransform::place(const QRectF& room, const QRectF& fit, QPointF topLeft) {
    const double w = fit.width() * zoom_, h = fit.height() * zoom_;
    if (w <= 0 || h <= 0) return;
    const QPointF anchor = fit.center();
    focus_ = {detail::clampFocus((anchor.x() - topLeft.x()) / w, w, anchor.x(), room.left(), room.right()),
              detail::clampFocus((anchor.y() - topLeft.y()) / h, h, anchor.y(), room.top(), room.bottom())};
}

inline void ViewTransform::zoomAbout(const QRectF& room, const QRectF& fit, double factor, QPointF at) {
    const QRectF before = shown(room, fit);
    const double zoom = std::clamp(zoom_ * factor, kMinZoom, kMaxZoom);
    if (before.isEmpty() || zoom == zoom_) return;
    // The picture point under `at`, in fractions of the picture (outside [0, 1] off the picture).
    const double u = (at.x() - before.left()) / before.width(), v = (at.y() - before.top()) / before.height();
    zoom_ = zoom;
    place(room, fit, {at.x() - u * fit.width() * zoom_, at.y() - v * fit.height() * zoom_});
}

inline void ViewTransform::panBy(const QRectF& room, const QRectF& fit, QPointF delta) {
    place(room, fit, shown(room, fit).topLeft() + delta);
}

inline WindowLevel WindowLevel::clamped() const {
    return {std::clamp(level, 0.0, 255.0), std::clamp(width, kMinWidth, kMaxWidth)};
}

inline std::array<std::uint8_t, 256> windowLut(const WindowLevel& window) {
    const WindowLevel w = window.clamped();
    std::array<std::uint8_t, 256> lut{};
    for (int v = 0; v < 256; ++v)
        lut[static_cast<std::size_t>(v)] =
            static_cast<std::uint8_t>(std::clamp(std::lround(127.5 + (v - w.level) * 256.0 / w.width), 0L, 255L));
    return lut;
}

}  // namespace orvix::app

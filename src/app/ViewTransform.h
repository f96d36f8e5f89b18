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
// picture; zoom 32 shows a pixel of a 3000-pixel film fitted into 600 points as 6 points, and
// zoom 0.25 a quarter of the fitted size. The view keeps the picture point that lies at the
// fitted rect's centre (the focus, in fractions of the picture's width and height), so it
// stays in place when the room changes size.
//
// Pan is clamped per axis: a picture wider (taller) than the room covers it, leaving no empty
// margin; one that is narrower stays whole inside the room, where the zoom or the pan put it.
// A new view (and a fit) is the fitted picture, centred.
class ViewTransform {
public:
    static constexpr double kMinZoom = 0.25;
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

    double zoom_ = 1.0;  // fitted
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

// The window presets of the picture box. A radiograph has no Hounsfield units, so they act on
// the displayed grey values of the picture's own window (for DICOM, the window of the file's
// tags, which the decoder applied): Own is that window unchanged; Lung spreads the dark range
// of the aerated lung over the whole grey scale, Soft tissue the middle range of heart,
// mediastinum and diaphragm, Bone the bright range of ribs and spine.
enum class WindowPreset { Own, Lung, SoftTissue, Bone };
WindowLevel presetWindow(WindowPreset preset);

// The table of a window: value v gives 127.5 + (v - level) * 256 / width, rounded, within
// [0, 255]; inverted, 255 minus that (bright bone shows dark). The identity window gives v.
std::array<std::uint8_t, 256> windowLut(const WindowLevel& window, bool inverted = false);

// Implementation (header only: a few lines of arithmetic).

namespace detail {

// The focus along one axis that keeps a picture of `extent` in the room [lo, hi] by the pan
// clamp, the picture being placed so that `focus` of it lies at `anchor`.
inline double clampFocus(double focus, double extent, double anchor, double lo, double hi) {
    if (extent <= 0) return 0.5;
    // The picture's near edge lies between lo and hi - extent: within [hi - extent, lo] when it
    // covers the room, within [lo, hi - extent] when it fits inside. A picture that fits is not
    // recentred, so that a zoom below the room's size keeps the point under the cursor too.
    const double a = lo, b = hi - extent;
    return std::clamp(focus, (anchor - std::max(a, b)) / extent, (anchor - std::min(a, b)) / extent);
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

inline WindowLevel presetWindow(WindowPreset preset) {
    switch (preset) {
        case WindowPreset::Lung: return {80, 160};
        case WindowPreset::SoftTissue: return {150, 150};
        case WindowPreset::Bone: return {200, 110};
        case WindowPreset::Own: break;
    }
    return {};
}

inline std::array<std::uint8_t, 256> windowLut(const WindowLevel& window, bool inverted) {
    const WindowLevel w = window.clamped();
    std::array<std::uint8_t, 256> lut{};
    for (int v = 0; v < 256; ++v) {
        const long shown = std::clamp(std::lround(127.5 + (v - w.level) * 256.0 / w.width), 0L, 255L);
        lut[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(inverted ? 255 - shown : shown);
    }
    return lut;
}

}  // namespace orvix::app

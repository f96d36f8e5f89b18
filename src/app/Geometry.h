#pragma once
// The window content's size: every size of the detail area is a fraction of it, up to the
// default size; beyond it the picture takes the extra room.

#include <algorithm>

namespace orvix::app {

struct Geometry {
    // The window content's size at start (where the screen has the room).
    static constexpr double kDefaultWidth = 1200;
    static constexpr double kDefaultHeight = 800;

    double W = 0;  // width of the whole window content, sidebar included
    double H = 0;  // its height

    // The size the fractions are taken of: this one, but no larger than the default.
    Geometry capped() const { return {std::min(W, kDefaultWidth), std::min(H, kDefaultHeight)}; }

    int w(double fraction) const { return static_cast<int>(fraction * W + 0.5); }
    int h(double fraction) const { return static_cast<int>(fraction * H + 0.5); }
};

}  // namespace orvix::app

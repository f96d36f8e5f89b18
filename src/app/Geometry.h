#pragma once
// The window content's size: every size of the detail area is a fraction of it.

namespace orvix::app {

struct Geometry {
    double W = 0;  // width of the whole window content, sidebar included
    double H = 0;  // its height

    int w(double fraction) const { return static_cast<int>(fraction * W + 0.5); }
    int h(double fraction) const { return static_cast<int>(fraction * H + 0.5); }
};

}  // namespace orvix::app

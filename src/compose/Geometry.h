#pragma once

#include <ostream>

namespace reelbox {

// Picture geometry in pixels, origin top-left, y down.
struct SizeD {
    double width = 0;
    double height = 0;
    bool operator==(const SizeD&) const = default;
};

struct RectD {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    SizeD size() const { return {width, height}; }
    bool operator==(const RectD&) const = default;
};

// An affine map: x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static Affine translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static Affine scaling(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    // This map followed by `next`.
    Affine then(const Affine& next) const {
        return {a * next.a + b * next.c,
                a * next.b + b * next.d,
                c * next.a + d * next.c,
                c * next.b + d * next.d,
                tx * next.a + ty * next.c + next.tx,
                tx * next.b + ty * next.d + next.ty};
    }
    double mapX(double x, double y) const { return a * x + c * y + tx; }
    double mapY(double x, double y) const { return b * x + d * y + ty; }
    bool operator==(const Affine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const SizeD& s) {
    return out << s.width << " × " << s.height;
}
inline std::ostream& operator<<(std::ostream& out, const RectD& r) {
    return out << "(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}
inline std::ostream& operator<<(std::ostream& out, const Affine& t) {
    return out << "[" << t.a << " " << t.b << " " << t.c << " " << t.d << " " << t.tx << " " << t.ty
               << "]";
}

} // namespace reelbox

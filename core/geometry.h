// Small geometric values shared by the loaders, the display stage and the canvas.
#pragma once

// A window or image position in whole pixels.
struct vertex2s {
    short x = 0, y = 0;
};

// A position in fractional pixels (profile lines, zoomed coordinates).
struct vertex2d {
    double x = 0.0, y = 0.0;
    vertex2d() = default;
    vertex2d(double x_, double y_) : x(x_), y(y_) {}
};

struct vertex3d {
    double x = 0.0, y = 0.0, z = 0.0;
};

// A 4 x 4 matrix of doubles, row major, used by the loaders for patient orientation.
class matrix16d {
public:
    double m[16];
    matrix16d() { identity(); }
    void identity()
    {
        for (int i = 0; i < 16; i++) m[i] = (i % 5 == 0) ? 1.0 : 0.0;
    }
    double& operator()(int row, int col) { return m[row * 4 + col]; }
    double operator()(int row, int col) const { return m[row * 4 + col]; }
    matrix16d operator*(const matrix16d& b) const
    {
        matrix16d r;
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++) {
                double s = 0.0;
                for (int k = 0; k < 4; k++) s += (*this)(i, k) * b(k, j);
                r(i, j) = s;
            }
        return r;
    }
};

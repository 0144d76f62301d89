// Mask family, mask drawing and rank indices.
#include "processing/masks.h"

#include <algorithm>
#include <cmath>


mask_family make_family(int mask, int r)
{
    r = std::max(r, 0);
    mask_family f;
    if (mask == MASK_VARYING) {
        const int shapes = std::max((int)(0.25 * r + 0.5) + 1, 2);
        for (int i = 0; i < shapes - 1; i++) {
            const double e = i * ((0.3 + r) / (2.0 + r)) / (shapes - 1) + 1.7 / (2.0 + r);
            // A shape needs one orientation at least (radius 0 would give none).
            f.orientations.push_back(std::max(4 * (int)((1 - e) * (r + 2) * 0.4 + 0.5), 1));
            f.major.push_back(r + 0.25);
            f.minor.push_back(e * (r + 0.25));
        }
        f.orientations.push_back(1);
        f.major.push_back(r + 0.25);
        f.minor.push_back(r + 0.25);
        f.varied = true;
    } else {
        f.orientations.push_back(1);
        f.major.push_back(r + 0.5);
        f.minor.push_back(mask == MASK_ELLIPSE ? (r + 0.5) / 3.4 : r + 0.5);
    }
    int count = 0;
    for (int i = 0; i < f.shapes(); i++) {
        f.first.push_back(count);
        for (int o = 0; o < f.orientations[i]; o++, count++) {
            f.shape_of.push_back(i);
            f.orientation_of.push_back(o);
        }
    }
    return f;
}

namespace {

// Reads the runs off a drawn (2r + 1)^2 grid; a row with a gap is taken as one run.
void runs_from_grid(const std::vector<char>& grid, mask_runs& m)
{
    const int r = m.r, d = 2 * r + 1;
    for (int i = 0; i < d; i++) {
        m.row_first[i] = m.col_first[i] = 1;
        m.row_last[i] = m.col_last[i] = 0;
    }
    for (int y = 0; y < d; y++)
        for (int x = 0; x < d; x++) {
            if (!grid[y * d + x]) continue;
            if (m.row_first[y] > m.row_last[y]) m.row_first[y] = m.row_last[y] = x - r;
            m.row_first[y] = std::min(m.row_first[y], x - r);
            m.row_last[y] = std::max(m.row_last[y], x - r);
            if (m.col_first[x] > m.col_last[x]) m.col_first[x] = m.col_last[x] = y - r;
            m.col_first[x] = std::min(m.col_first[x], y - r);
            m.col_last[x] = std::max(m.col_last[x], y - r);
        }
}

}  // namespace

mask_runs make_mask(int kind, int r, double theta, double a, double b)
{
    mask_runs m;
    m.r = r = std::max(r, 0);
    const int d = 2 * r + 1;
    m.col_first.assign(d, 0);
    m.col_last.assign(d, 0);
    m.row_first.assign(d, 0);
    m.row_last.assign(d, 0);
    const double c = std::cos(theta), s = std::sin(theta);
    std::vector<char> grid((size_t)d * d, 0);
    switch (kind) {
    case 1:  // ellipse with a dead zone of a quarter pixel around the centre lines
    case 6:  // (|u| / a)^3 + |v| / b <= 1
        for (int dy = -r; dy <= r; dy++)
            for (int dx = -r; dx <= r; dx++) {
                double u = dx * c + dy * s, v = -dx * s + dy * c;
                bool inside;
                if (kind == 1) {
                    auto dead = [](double t) { return t > 0.25 ? t - 0.25 : t < -0.25 ? t + 0.25 : 0.0; };
                    u = dead(u);
                    v = dead(v);
                    inside = (u / a) * (u / a) + (v / b) * (v / b) <= 1;
                } else {
                    inside = std::pow(std::fabs(u) / a, 3) + std::fabs(v) / b <= 1;
                }
                grid[(size_t)(dy + r) * d + dx + r] = inside;
            }
        grid[(size_t)r * d + r] = 1;  // the centre always belongs
        runs_from_grid(grid, m);
        break;
    case 5:  // a digital line of 2r + 1 points through the centre
        for (int t = -r; t <= r; t++) {
            double x, y;
            if (std::fabs(c) > std::fabs(s)) {
                x = r + t * (c > 0 ? 1 : -1);
                y = r + t * std::fabs(s / c);
            } else {
                x = r + t * c / s;
                y = r + t;
            }
            const int xi = std::clamp((int)(x + 0.5), 0, d - 1), yi = std::clamp((int)(y + 0.5), 0, d - 1);
            grid[(size_t)yi * d + xi] = 1;
        }
        runs_from_grid(grid, m);
        break;
    case 2:
    case 3:  // the square
        for (int i = 0; i < d; i++) {
            m.row_first[i] = m.col_first[i] = -r;
            m.row_last[i] = m.col_last[i] = r;
        }
        break;
    case 4:  // the centre row and the centre column
        for (int i = 0; i < d; i++) m.row_first[i] = m.row_last[i] = m.col_first[i] = m.col_last[i] = 0;
        m.row_first[r] = m.col_first[r] = -r;
        m.row_last[r] = m.col_last[r] = r;
        break;
    default:  // 0, 7: the circle of radius a; rows and columns alike
        for (int dy = -r; dy <= r; dy++) {
            const double q = a * a - (double)dy * dy;
            const int w = q >= 0 ? std::min((int)std::sqrt(q), r) : -1;
            m.row_first[dy + r] = m.col_first[dy + r] = w >= 0 ? -w : 1;
            m.row_last[dy + r] = m.col_last[dy + r] = w >= 0 ? w : 0;
        }
        break;
    }
    for (int i = 0; i < d; i++) m.pixels += std::max(m.row_last[i] - m.row_first[i] + 1, 0);
    return m;
}

mask_runs filter_mask(int mask, int r, double angle)
{
    const mask_family f = make_family(mask, r);
    return make_mask(mask, r, angle * M_PI / 180, f.major[0], f.minor[0]);
}

mask_runs family_mask(const mask_family& f, int m, int r, int mask, double angle)
{
    if (f.shape_of.empty() || m < 0 || m >= f.count()) return make_mask(0, r, 0, r + 0.5, r + 0.5);
    const int s = f.shape_of[m];
    const double theta = f.orientation_of[m] * M_PI / f.orientations[s];
    const int kind = f.varied ? (s == f.shapes() - 1 ? 0 : 1) : mask;
    return make_mask(kind, r, kind == 1 || kind == 5 || kind == 6 ? (f.varied ? theta : angle * M_PI / 180) : 0,
                     f.major[s], f.minor[s]);
}

int family_mask_for(const mask_family& f, double angle, double strength)
{
    const int shapes = f.shapes();
    const int s = std::clamp((int)((1 - std::sqrt(strength / 0.65)) * (shapes - 1) + 0.5), 0, shapes - 1);
    int o = (int)(angle / M_PI * f.orientations[s] + 0.5);
    if (o >= f.orientations[s]) o = 0;
    return f.first[s] + o;
}

int rank_index(double p, int n)
{
    if (n < 1) return 0;
    int k = p <= 0.5 ? (int)std::floor(p * (n - 1) + 0.5)
                     : (n - 1) - (int)std::floor((1 - p) * (n - 1) + 0.5);
    k = std::clamp(k, 0, n - 1);
    if (n >= 4) {
        if (k == 0 && p > 0) k = 1;
        if (k == n - 1 && p < 1) k = n - 2;
    }
    return k;
}

int calculate_centile(const mask_family& f, double p, int m, int n, double circle_area, double thin_count,
                      int width, bool flag_a, bool, bool flag_c)
{
    if (m < 0 || m >= f.count() || !(p >= 0 && p <= 1) || n < 1) return 0;
    // The median is the middle rank of any mask: the thinness correction moves a centile
    // towards the middle, and at the middle it would only push the rank past it.
    if (p == 0.5) return rank_index(p, n);
    const double q = std::min(p, 1 - p);
    double delta = 0.0;
    if (f.varied) {
        // Every ratio is guarded: a family whose thinnest masks are the circle itself
        // (radius 0) has no correction rather than a division by zero.
        const double spread = circle_area - thin_count;
        const double d = n - thin_count;
        const double s = circle_area > 0 ? 25 / std::sqrt(circle_area) : 0.0;
        const double thin_n = std::sqrt(std::max(thin_count, 0.0) / n);
        const double thin_circle = circle_area > 0 ? std::sqrt(std::max(thin_count, 0.0) / circle_area) : 1.0;
        double g = 0.0, t = 0.0;
        if (flag_c) {
            const double den = 0.9 - thin_circle;
            g = den != 0 ? (0.85 - 0.6 * thin_n) / den : 0.0;
            t = spread > 0 ? 0.85 * d / spread : 0.0;
        } else {
            const double den = 1 - thin_circle;
            g = den > 0 ? std::pow(thin_circle * thin_circle, 0.25) / den * 2 * (1 - thin_n) : 0.0;
            t = spread > 0 ? d / spread : 0.0;
        }
        delta = (3.3 * (1 - std::exp(-10 * q)) + 3.0) * 0.01 * s * t;
        if (!flag_a) delta += (4.7 * (1 - std::exp(-8 * q)) + 3.0) * 0.01 * g;
        if (!std::isfinite(delta)) delta = 0.0;
    } else if (f.count() > 1 && f.orientations[f.shape_of[m]] == 1) {
        delta = width > 0 ? 1.0 / width : 0.0;
    }
    const int k = (int)std::floor((delta + q) * (n - 1) + 0.5);
    int index = std::max(p > 0.5 ? (n - 1) - k : k, 0);
    index = std::min(index, n - 1);
    if (n > width && p > 0 && p < 1) {
        if (index == 0) index = 1;
        if (index == n - 1) index = n - 2;
    }
    const int half = n / 2;
    if (p < 0.5) index = std::min(index, std::max(half - 1, 0));
    if (p > 0.5) index = std::max(index, std::min(half + 1, n - 1));
    return std::clamp(index, 0, n - 1);
}

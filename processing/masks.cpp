// Mask family, mask drawing and rank indices.
#include "processing/masks.h"

#include <algorithm>
#include <cmath>

#include "core/record.h"

void create_mask_info(int r)
{
    release_mask_tables();
    r = std::max(r, 0);
    info.mask_varied = 0;
    std::vector<int> orientations;
    std::vector<double> major, minor;
    if (info.mask == 1) {
        const int shapes = std::max((int)(0.25 * r + 0.5) + 1, 2);
        for (int i = 0; i < shapes - 1; i++) {
            const double e = i * ((0.3 + r) / (2.0 + r)) / (shapes - 1) + 1.7 / (2.0 + r);
            // A shape needs one orientation at least (radius 0 would give none).
            orientations.push_back(std::max(4 * (int)((1 - e) * (r + 2) * 0.4 + 0.5), 1));
            major.push_back(r + 0.25);
            minor.push_back(e * (r + 0.25));
        }
        orientations.push_back(1);
        major.push_back(r + 0.25);
        minor.push_back(r + 0.25);
        info.mask_varied = 1;
    } else {
        orientations.push_back(1);
        major.push_back(r + 0.5);
        minor.push_back(info.mask == 6 ? (r + 0.5) / 3.4 : r + 0.5);
    }
    const int shapes = (int)orientations.size();
    info.mask_shapes = shapes;
    info.mask_orientations = new int[shapes];
    info.mask_major = new double[shapes];
    info.mask_minor = new double[shapes];
    info.mask_first = new int[shapes];
    int count = 0;
    for (int i = 0; i < shapes; i++) {
        info.mask_orientations[i] = orientations[i];
        info.mask_major[i] = major[i];
        info.mask_minor[i] = minor[i];
        info.mask_first[i] = count;
        count += orientations[i];
    }
    info.mask_count = count;
    info.mask_shape_of = new int[count];
    info.mask_orientation_of = new int[count];
    for (int i = 0, m = 0; i < shapes; i++)
        for (int o = 0; o < orientations[i]; o++, m++) {
            info.mask_shape_of[m] = i;
            info.mask_orientation_of[m] = o;
        }
    info.mask_a = major[0];
    info.mask_b = minor[0];
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

long create_mask(long size, int* col_first, int* col_last, int* row_first, int* row_last)
{
    const int r = (int)std::max((size - 1) / 2, 0L);
    const mask_runs m = make_mask(info.mask, r, info.angle * M_PI / 180, info.mask_a, info.mask_b);
    std::copy(m.col_first.begin(), m.col_first.end(), col_first);
    std::copy(m.col_last.begin(), m.col_last.end(), col_last);
    std::copy(m.row_first.begin(), m.row_first.end(), row_first);
    std::copy(m.row_last.begin(), m.row_last.end(), row_last);
    return m.pixels;
}

mask_runs family_mask(int m, int r)
{
    if (!info.mask_shape_of || m < 0 || m >= info.mask_count)
        return make_mask(0, r, 0, r + 0.5, r + 0.5);
    const int s = info.mask_shape_of[m];
    const double theta = info.mask_orientation_of[m] * M_PI / info.mask_orientations[s];
    const int kind = info.mask_varied ? (s == info.mask_shapes - 1 ? 0 : 1) : info.mask;
    return make_mask(kind, r, kind == 1 || kind == 5 || kind == 6 ? (info.mask_varied ? theta : info.angle * M_PI / 180) : 0,
                     info.mask_major[s], info.mask_minor[s]);
}

int family_mask_for(double angle, double strength)
{
    const int shapes = info.mask_shapes;
    const int s = std::clamp((int)((1 - std::sqrt(strength / 0.65)) * (shapes - 1) + 0.5), 0, shapes - 1);
    int o = (int)(angle / M_PI * info.mask_orientations[s] + 0.5);
    if (o >= info.mask_orientations[s]) o = 0;
    return info.mask_first[s] + o;
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

int calculate_centile(double p, int m, int n, double circle_area, double thin_count, int width,
                      bool flag_a, bool, bool flag_c)
{
    if (m < 0 || m >= info.mask_count || !(p >= 0 && p <= 1) || n < 1) return 0;
    // The median is the middle rank of any mask: the thinness correction moves a centile
    // towards the middle, and at the middle it would only push the rank past it.
    if (p == 0.5) return rank_index(p, n);
    const double q = std::min(p, 1 - p);
    double delta = 0.0;
    if (info.mask_varied) {
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
    } else if (info.mask_count > 1 && info.mask_orientations[info.mask_shape_of[m]] == 1) {
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

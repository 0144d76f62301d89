#include "ct/metal_trace.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "ct/reconstruction.h"

namespace {

constexpr double pi = 3.14159265358979323846;

double subsample_factor(const mar_params& p) { return std::max(p.subsample, 1); }

}  // namespace

void line_samples::resize(int L)
{
    p.assign(L, 0.0);
    q.assign(L, 0.0);
    trace.assign(L, 0.0);
    metal.assign(L, 0.f);
    tissue.assign(L, 0.f);
    plain.assign(L, 0.f);
    mark.assign(L, 0);
    projected.assign(L, 0);
}

bool place_mdt_line(const int* processed, int w, int h, const std::vector<uint8_t>& neighbours,
                    const mar_params& p, bool fit_metal, bool whole_image, const vertex2d* keep, mdt_line& line)
{
    if (w <= 0 || h <= 0 || !processed) return false;
    line.w = w;
    line.h = h;
    const double s = subsample_factor(p);
    const double cx = w / 2.0, cy = h / 2.0;
    const double diag = std::sqrt((double)w * w + (double)h * h);
    const double scale = (double)p.recon.scale;
    double length, centre_x = cx, centre_y = cy;
    if (keep) {
        const double dx = (keep[1].x - keep[0].x) / s, dy = (keep[1].y - keep[0].y) / s;
        length = std::sqrt(dx * dx + dy * dy);
        centre_x = (keep[0].x + keep[1].x) / (2 * s);
        centre_y = (keep[0].y + keep[1].y) / (2 * s);
        line.margins[0] = line.margins[1] = 0;
        if (length <= 0) return false;
    } else if (fit_metal) {
        const int level = (p.threshold - 1) * 16;
        int left = w, right = -1, top = h, bottom = -1;
        auto take = [&](int x, int y) {
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        };
        for (int y = 0; y < h; y++) {
            const int* row = processed + (size_t)y * w;
            for (int x = 0; x < w; x++)
                if (row[x] >= level) take(x, y);
        }
        if (p.neighbours && neighbours.size() == (size_t)w * h)
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++)
                    if (neighbours[(size_t)y * w + x]) take(x, y);
        if (right < 0) return false;
        // Room left at each end for the trace's widening, the interpolation's pad and the
        // smoothing (as many samples as the sampling density puts there).
        const int k = (int)(p.smooth * scale / 100.0 + 0.5);
        if (whole_image) {
            length = diag + 20;
            if (!p.sinogram) {
                const int m = p.trace_pad[0];
                line.margins[0] = std::max(0, (int)(length / 2 - w / 2.0 + left - m - k - 3));
                line.margins[1] = std::max(0, (int)(length / 2 + w / 2.0 - right - m - k - 3));
            } else {
                line.margins[0] = line.margins[1] = 10;
            }
        } else {
            const double q = 100.0 * 100.0 / scale;
            const double bw = right - left + 1, bh = bottom - top + 1;
            length = 2 * q + std::sqrt(bw * bw + bh * bh);
            centre_x = (left + right + 1) / 2.0;
            centre_y = (top + bottom + 1) / 2.0;
            // q pixels at each end are left unprojected, less that room: with none, a trace
            // that reaches the end of the projected span has no projection on that side to
            // interpolate from.
            line.margins[0] = line.margins[1] = std::max(0, (int)(q * scale / 100.0) - p.trace_pad[0] - k - 3);
        }
    } else {
        length = diag + 20;
        line.margins[0] = line.margins[1] = 10;
    }
    line.cx = centre_x;
    line.cy = centre_y;
    line.R = length / 2;

    int L = (int)(scale / 100.0 * std::ceil(length)) + 1;
    L += L & 1;
    line.L = L;
    // Enough angles that the farthest corner is sampled about once per pixel of arc.
    double r = 0;
    for (double x : {0.0, (double)w})
        for (double y : {0.0, (double)h}) r = std::max(r, std::hypot(x - centre_x, y - centre_y));
    line.angles = std::max(1, (int)(p.recon.angle * std::ceil(r / std::sqrt(s)) / 100));
    // The CT pages window the ramp more steeply than the raw-data reconstruction does:
    // exponent (100 - f) x 0.25, so the slider spans cos^0 .. cos^24.75.
    line.ramp = make_ramp_filter(L, p.recon.filter, 0.25);
    return true;
}

mdt_angle mdt_angle_at(const mdt_line& line, int i)
{
    mdt_angle a;
    const int K = std::max(line.angles, 1);
    const double theta = i * pi / K;
    a.ux = std::cos(theta);
    a.uy = std::sin(theta);
    a.L = std::max(line.L, 2);
    a.sx = line.cx - line.R * a.ux;
    a.sy = line.cy - line.R * a.uy;
    a.delta = 2 * line.R / (a.L - 1);
    a.margin0 = line.margins[0];
    a.margin1 = line.margins[1];
    return a;
}

std::vector<double> trace_deviation(const line_samples& s, const std::vector<std::pair<int, int>>& segments,
                                    const mar_params& p)
{
    const int L = (int)s.p.size();
    std::vector<double> v(L), d(L);
    for (int j = 0; j < L; j++) v[j] = s.p[j] - s.q[j];
    interpolate_segments(v, s.projected, segments, p.trace_pad[0], d.data());
    return d;
}

void prepare_mdt_planes(mdt_planes& planes, const int* sampled, const int* prior, int w, int h,
                        const std::vector<uint8_t>& neighbours, const mar_params& p)
{
    const size_t n = (size_t)w * h;
    planes.w = w;
    planes.h = h;
    planes.slice.resize(n);
    planes.metal.assign(n, 0);
    planes.threshold = (float)p.threshold;
    planes.air = (float)p.air;
    planes.count_trace = !p.recon_only;
    const int level = 16 * p.threshold;
    for (size_t i = 0; i < n; i++) {
        planes.slice[i] = sampled[i] / 16.0f;
        planes.metal[i] = sampled[i] >= level;
    }
    planes.prior.clear();
    if (prior) {
        planes.prior.resize(n);
        for (size_t i = 0; i < n; i++) planes.prior[i] = prior[i] / 16.0f;
    }
    planes.neighbour_metal.clear();
    if (p.neighbours && neighbours.size() == n) planes.neighbour_metal = neighbours;
}

void project_line(const mdt_planes& P, const mdt_angle& a, line_samples& out)
{
    out.resize(a.L);
    const int w = P.w, h = P.h;
    if (w < 1 || h < 1 || a.delta <= 0) return;
    // Ray direction and the step count that crosses the whole image from any sample.
    const double nx = -a.uy * a.delta, ny = a.ux * a.delta;
    const int K = (int)std::ceil(std::sqrt((double)w * w + (double)h * h) / a.delta) + 1;
    const bool prior = !P.prior.empty();
    const bool marks = !P.neighbour_metal.empty();
    const double xmax = w - 1, ymax = h - 1;
    for (int j = a.margin0; j < a.L - a.margin1; j++) {
        out.projected[j] = 1;
        const double px = a.sx + j * a.delta * a.ux, py = a.sy + j * a.delta * a.uy;
        // The steps k for which the point lies inside [0, w-1] x [0, h-1].
        double k0 = -K, k1 = K;
        auto clip = [&](double p, double d, double hi) {
            if (std::abs(d) < 1e-12) {
                if (p < 0 || p > hi) k1 = k0 - 1;
                return;
            }
            double t0 = (0 - p) / d, t1 = (hi - p) / d;
            if (t0 > t1) std::swap(t0, t1);
            k0 = std::max(k0, t0);
            k1 = std::min(k1, t1);
        };
        clip(px, nx, xmax);
        clip(py, ny, ymax);
        if (k1 < k0) continue;
        const int ka = (int)std::ceil(k0 - 1e-9), kb = (int)std::floor(k1 + 1e-9);
        double sum = 0, prior_sum = 0, trace = 0;
        int metal = 0, tissue = 0, plain = 0;
        bool mark = false;
        for (int k = ka; k <= kb; k++) {
            const double x = std::clamp(px + k * nx, 0.0, xmax), y = std::clamp(py + k * ny, 0.0, ymax);
            int ix = (int)x, iy = (int)y;
            if (ix > w - 2) ix = std::max(w - 2, 0);
            if (iy > h - 2) iy = std::max(h - 2, 0);
            const double fx = x - ix, fy = y - iy;
            const size_t i00 = (size_t)iy * w + ix;
            const size_t dx = w > 1 ? 1 : 0, dy = h > 1 ? (size_t)w : 0;
            const double v = (1 - fy) * ((1 - fx) * P.slice[i00] + fx * P.slice[i00 + dx]) +
                             fy * ((1 - fx) * P.slice[i00 + dy] + fx * P.slice[i00 + dy + dx]);
            const bool is_metal = P.metal[i00] | P.metal[i00 + dx] | P.metal[i00 + dy] | P.metal[i00 + dy + dx];
            if (marks && (P.neighbour_metal[i00] | P.neighbour_metal[i00 + dx] | P.neighbour_metal[i00 + dy] |
                          P.neighbour_metal[i00 + dy + dx]))
                mark = true;
            if (is_metal && P.count_trace) {
                // The metal itself is left out of every sum (it counts as water): the
                // correction concerns the tissue the rays cross, and the metal's own
                // reconstruction would otherwise leak round it as a halo.
                trace += v / P.threshold;
                if (v >= P.threshold) metal++;
                continue;
            }
            sum += v;
            plain++;
            if (v > P.air) tissue++;
            if (prior) {
                prior_sum += (1 - fy) * ((1 - fx) * P.prior[i00] + fx * P.prior[i00 + dx]) +
                             fy * ((1 - fx) * P.prior[i00 + dy] + fx * P.prior[i00 + dy + dx]);
            }
        }
        out.p[j] = sum;
        out.q[j] = prior_sum;
        out.trace[j] = trace;
        out.metal[j] = (float)(metal * a.delta);
        out.tissue[j] = (float)(tissue * a.delta);
        out.plain[j] = (float)plain;
        out.mark[j] = mark && P.count_trace;
    }
}

void add_detection_noise(line_samples& s, const mar_params& p, std::mt19937& generator)
{
    if (p.recon.noise <= 0) return;
    std::normal_distribution<double> normal(0.0, 1.0);
    const double sd =
        std::pow(10.0, (p.recon.noise - 40) / 20.0) * (p.data_max - p.data_min) / subsample_factor(p);
    for (size_t j = 0; j < s.p.size(); j++)
        if (s.projected[j]) s.p[j] += normal(generator) * sd;
}

std::vector<std::pair<int, int>> trace_segments(const line_samples& s, int extend, const mar_params& p)
{
    std::vector<std::pair<int, int>> runs;
    const int L = (int)s.p.size();
    const int join = 2 * (p.trace_pad[0] + p.trace_pad[1]);
    for (int j = 0; j < L;) {
        if (!(s.projected[j] && (s.trace[j] > 0 || s.mark[j]))) {
            j++;
            continue;
        }
        int e = j;
        while (e < L && s.projected[e] && (s.trace[e] > 0 || s.mark[e])) e++;
        if (!runs.empty() && j - runs.back().second < join)
            runs.back().second = e;
        else
            runs.push_back({j, e});
        j = e;
    }
    // Widened over the blur of the metal's edge, then merged again where they meet.
    std::vector<std::pair<int, int>> out;
    for (auto [a, b] : runs) {
        a = std::max(0, a - extend);
        b = std::min(L, b + extend);
        // Never into the samples the margins leave unprojected (they hold no projection).
        while (a < b && !s.projected[a]) a++;
        while (b > a && !s.projected[b - 1]) b--;
        if (a >= b) continue;
        if (!out.empty() && a <= out.back().second)
            out.back().second = std::max(out.back().second, b);
        else
            out.push_back({a, b});
    }
    return out;
}

void interpolate_segments(const std::vector<double>& v, const std::vector<uint8_t>& projected,
                          const std::vector<std::pair<int, int>>& segments, int pad, double* out)
{
    const int L = (int)v.size();
    const int P = std::max(pad, 1);
    std::fill(out, out + L, 0.0);
    for (auto [A, B] : segments) {
        double left = 0, right = 0;
        int nl = 0, nr = 0;
        for (int i = A - P; i < A; i++)
            if (i >= 0 && projected[i]) left += v[i], nl++;
        for (int i = B; i < B + P; i++)
            if (i < L && projected[i]) right += v[i], nr++;
        if (!nl && !nr) continue;
        left = nl ? left / nl : right / nr;
        right = nr ? right / nr : left;
        for (int i = A; i < B; i++) {
            const double t = B - A > 1 ? (double)(i - A) / (B - A - 1) : 0.0;
            out[i] = v[i] - ((1 - t) * left + t * right);
        }
    }
}

int mdt_segment_extension(double delta)
{
    // One pixel of the metal's blurred edge, in samples (the four-neighbour rule already
    // widens the metal by one; more than one further pixel loses tissue to the
    // interpolation).
    return std::max(1, (int)std::lround(1.0 / std::max(delta, 1e-6)));
}

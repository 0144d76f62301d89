#include "ct/metal_trace.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <complex>
#include <random>
#include <valarray>

#include "ct/fft.h"
#include "ct/reconstruction.h"

namespace {

constexpr double pi = 3.14159265358979323846;

double subsample_factor(const mar_params& p) { return std::max(p.subsample, 1); }

// The 1-D Gaussian of the correction's smoothing, normalised over the taps that fall
// inside the line so the ends keep their level.
void gauss_1d(double* v, int n, double sigma)
{
    if (sigma < 0.3 || n < 2) return;
    const int r = std::max(1, (int)std::ceil(3 * sigma));
    std::vector<double> taps(2 * r + 1);
    for (int k = -r; k <= r; k++) taps[k + r] = std::exp(-0.5 * k * k / (sigma * sigma));
    std::vector<double> out(n);
    for (int i = 0; i < n; i++) {
        double sum = 0, weight = 0;
        for (int k = std::max(-r, -i); k <= std::min(r, n - 1 - i); k++) {
            sum += taps[k + r] * v[i + k];
            weight += taps[k + r];
        }
        out[i] = sum / weight;
    }
    std::copy(out.begin(), out.end(), v);
}

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

bool mdt_uses_prior(const mar_params& p)
{
    if (p.recon_only) return false;
    // The refined correction refines against the prior of its own last result.
    if (p.rmar) return p.iteration > 0 && !p.predict_back;
    return p.nmar && !(p.li && p.iteration == 0);
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

void add_to_fit(hardening_fit& fit, const line_samples& s, const std::vector<std::pair<int, int>>& segments,
                const mar_params& p)
{
    const std::vector<double> d = trace_deviation(s, segments, p);
    for (auto [A, B] : segments)
        for (int j = A; j < B; j++) fit.add(hardening_x(s, j, p), hardening_t(s, j, p), d[j]);
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

double hardening_x(const line_samples& s, int i, const mar_params& p)
{
    return s.metal[i] / std::max(p.beam_hardening[0], 1e-6);
}

double hardening_t(const line_samples& s, int i, const mar_params& p)
{
    return s.tissue[i] / std::max(p.beam_hardening[0] * p.beam_hardening[2], 1e-6);
}

namespace {
// The model's terms: x, x^2 .. x^H, then x t.
int hardening_terms(int degree) { return degree >= 2 ? degree + 1 : 1; }
void hardening_features(int degree, double x, double t, double* f)
{
    f[0] = x;
    double power = x;
    for (int k = 2; k <= degree; k++) f[k - 1] = power *= x;
    if (degree >= 2) f[degree] = x * t;
}
}  // namespace

void hardening_fit::begin(int d)
{
    degree = std::max(d, 0);
    const int n = hardening_terms(degree);
    ata.assign((size_t)n * n, 0.0);
    atb.assign(n, 0.0);
    c.assign(n, 0.0);
    x_max = 0;
}

void hardening_fit::add(double x, double t, double d)
{
    const int n = hardening_terms(degree);
    double f[16];
    hardening_features(degree, x, t, f);
    for (int a = 0; a < n; a++) {
        atb[a] += f[a] * d;
        for (int b = 0; b < n; b++) ata[(size_t)a * n + b] += f[a] * f[b];
    }
    x_max = std::max(x_max, x);
}

void hardening_fit::solve(double ridge)
{
    const int n = hardening_terms(degree);
    std::vector<double> A = ata, y = atb;
    // The non-linear terms are held back in proportion to the fit's own scale, so a
    // trace with little spread in path length does not produce wild coefficients.
    for (int a = 1; a < n; a++) A[(size_t)a * n + a] *= 1.0 + std::max(ridge, 0.0);
    for (int a = 0; a < n; a++) A[(size_t)a * n + a] += 1e-9 * (1 + A[(size_t)a * n + a]);
    // Gaussian elimination with partial pivoting (n <= 12).
    for (int col = 0; col < n; col++) {
        int piv = col;
        for (int r = col + 1; r < n; r++)
            if (std::abs(A[(size_t)r * n + col]) > std::abs(A[(size_t)piv * n + col])) piv = r;
        if (std::abs(A[(size_t)piv * n + col]) < 1e-300) {
            c.assign(n, 0.0);
            return;
        }
        if (piv != col) {
            for (int k = 0; k < n; k++) std::swap(A[(size_t)col * n + k], A[(size_t)piv * n + k]);
            std::swap(y[col], y[piv]);
        }
        for (int r = col + 1; r < n; r++) {
            const double f = A[(size_t)r * n + col] / A[(size_t)col * n + col];
            for (int k = col; k < n; k++) A[(size_t)r * n + k] -= f * A[(size_t)col * n + k];
            y[r] -= f * y[col];
        }
    }
    for (int r = n - 1; r >= 0; r--) {
        double v = y[r];
        for (int k = r + 1; k < n; k++) v -= A[(size_t)r * n + k] * c[k];
        c[r] = v / A[(size_t)r * n + r];
    }
}

double hardening_fit::nonlinear(double x, double t) const
{
    if (degree < 2 || c.empty()) return 0.0;
    const double xc = std::min(x, x_max);
    double f[16];
    hardening_features(degree, xc, t, f);
    double v = 0;
    for (int k = 1; k < hardening_terms(degree); k++) v += c[k] * f[k];
    return v;
}

namespace {

// The trace's detail finer than metal_smooth pixels: what remains of d after the fit,
// minus its own smoothing within each segment. This is where photon starvation puts its
// noise; the coarser structure of the tissue behind the metal stays.
void add_fine_residual(const line_samples& s, const std::vector<std::pair<int, int>>& segments,
                       const std::vector<double>& d, const hardening_fit* fit, double delta, const mar_params& p,
                       double* correction)
{
    if (p.smooth <= 0) return;
    const double sigma = p.smooth / std::max(delta, 1e-6);
    for (auto [A, B] : segments) {
        std::vector<double> r(B - A);
        for (int i = A; i < B; i++) {
            const double x = hardening_x(s, i, p), t = hardening_t(s, i, p);
            r[i - A] = d[i] - (fit ? fit->linear(x) + fit->nonlinear(x, t) : 0.0);
        }
        std::vector<double> smooth = r;
        gauss_1d(smooth.data(), (int)smooth.size(), sigma);
        for (int i = A; i < B; i++) correction[i] += r[i - A] - smooth[i - A];
    }
}

}  // namespace

int mdt_segment_extension(double delta)
{
    // One pixel of the metal's blurred edge, in samples (the four-neighbour rule already
    // widens the metal by one; more than one further pixel loses tissue to the
    // interpolation).
    return std::max(1, (int)std::lround(1.0 / std::max(delta, 1e-6)));
}

void line_correction(const line_samples& s, const hardening_fit* fit, bool predict, double delta,
                     const mar_params& p, double* correction)
{
    const int L = (int)s.p.size();
    if (p.recon_only) {
        std::copy(s.p.begin(), s.p.end(), correction);
        return;
    }
    const std::vector<std::pair<int, int>> segments = trace_segments(s, mdt_segment_extension(delta), p);
    const bool prior = mdt_uses_prior(p);
    if (!p.rmar && !(prior && !p.li)) {
        // Basic LI, and LI + NMAR: linear interpolation of p - q over the trace (q is 0
        // without a prior).
        const std::vector<double> d = trace_deviation(s, segments, p);
        std::copy(d.begin(), d.end(), correction);
        return;
    }
    if (!p.rmar) {
        // NMAR alone: the projection normalised by the prior's (both as attenuation above
        // the data floor), interpolated, and scaled back by the prior.
        std::vector<double> ratio(L, 1.0), lin(L);
        std::vector<double> pa(L), qa(L);
        for (int j = 0; j < L; j++) {
            const double floor_sum = (double)p.data_min * s.plain[j];
            pa[j] = s.p[j] - floor_sum;
            qa[j] = s.q[j] - floor_sum;
            ratio[j] = qa[j] > 1e-6 ? pa[j] / qa[j] : 1.0;
        }
        interpolate_segments(ratio, s.projected, segments, p.trace_pad[0], lin.data());
        std::fill(correction, correction + L, 0.0);
        for (auto [A, B] : segments)
            for (int i = A; i < B; i++) correction[i] = pa[i] - (ratio[i] - lin[i]) * std::max(qa[i], 0.0);
        return;
    }
    // Refined: the hardening model where the metal lies, plus the fine residual.
    const std::vector<double> d = trace_deviation(s, segments, p);
    std::fill(correction, correction + L, 0.0);
    if (fit)
        for (auto [A, B] : segments)
            for (int i = A; i < B; i++) {
                const double x = hardening_x(s, i, p), t = hardening_t(s, i, p);
                correction[i] = (predict ? -1 : 1) * (fit->linear(x) + fit->nonlinear(x, t));
            }
    if (!predict) add_fine_residual(s, segments, d, fit, delta, p, correction);
}

void line_display(const line_samples& s, const double* correction, double centre, double range,
                  double* projection, double* corrected)
{
    const int L = (int)s.p.size();
    double lo = 0, hi = 0;
    bool any = false;
    for (int j = 0; j < L; j++) {
        if (!s.projected[j]) continue;
        for (double v : {s.p[j], s.p[j] - correction[j]}) {
            lo = any ? std::min(lo, v) : v;
            hi = any ? std::max(hi, v) : v;
            any = true;
        }
    }
    const double span = hi > lo ? hi - lo : 1.0;
    const double base = centre - range / 2.0;
    for (int j = 0; j < L; j++) {
        projection[j] = base + (s.p[j] - lo) / span * range;
        corrected[j] = base + (s.p[j] - correction[j] - lo) / span * range;
    }
}

std::pair<int, int> filter_correction(double* c, int L, bool negate, const mdt_line& line, const mar_params& p)
{
    const int n = (int)line.ramp.size();
    if (n < L || line.ramp.empty()) return {1, 0};
    gauss_1d(c, L, line.w * 0.6283185307179586 / std::max(line.angles, 1));
    std::valarray<std::complex<double>> work(std::complex<double>(0.0), (size_t)n);
    for (int j = 0; j < L; j++) work[j] = c[j];
    my_fft(work);
    for (int k = 0; k < n; k++) work[k] *= line.ramp[k];
    my_ifft(work);
    for (int j = 0; j < L; j++) c[j] = work[j].real();
    int first = 0, last = L - 1;
    if (!p.recon_only) {
        const double level = (p.data_max - p.data_min) / 800.0;
        while (first < L && std::abs(c[first]) < level) first++;
        while (last >= 0 && std::abs(c[last]) < level) last--;
        for (int j = 0; j < L; j++)
            if (j < first || j > last) c[j] = 0.0;
    }
    const double scale = (negate ? -16.0 : 16.0) * pi / std::max(line.angles, 1);
    for (int j = 0; j < L; j++) c[j] *= scale;
    return {first, last};
}

void back_project_block(const mdt_line& line, const std::vector<std::vector<double>>& filtered,
                        const std::vector<std::pair<int, int>>& kept, int a0, int y0, int y1,
                        const uint8_t* skip, double* sum)
{
    const int w = line.w;
    for (size_t k = 0; k < filtered.size(); k++) {
        auto [first, last] = kept[k];
        if (first > last) continue;
        const mdt_angle a = mdt_angle_at(line, a0 + (int)k);
        const double* c = filtered[k].data();
        const double step = a.ux / a.delta;
        for (int y = y0; y < y1; y++) {
            // Sample coordinate t along the line: linear in x, so the columns whose rays
            // fall inside the kept samples are one interval.
            const double t0 = ((0 - a.sx) * a.ux + (y - a.sy) * a.uy) / a.delta;
            int xa = 0, xb = w - 1;
            if (std::abs(step) > 1e-12) {
                double lo = (first - t0) / step, hi = (last - t0) / step;
                if (lo > hi) std::swap(lo, hi);
                xa = std::max(0, (int)std::ceil(lo - 1e-9));
                xb = std::min(w - 1, (int)std::floor(hi + 1e-9));
            } else if (t0 < first || t0 > last) {
                continue;
            }
            double* row = sum + (size_t)y * w;
            const uint8_t* skip_row = skip ? skip + (size_t)y * w : nullptr;
            for (int x = xa; x <= xb; x++) {
                if (skip_row && skip_row[x]) continue;
                const double t = t0 + x * step;
                int j = (int)std::floor(t);
                j = std::clamp(j, first, last);
                const double f = t - j;
                const double v = j + 1 <= last ? (1 - f) * c[j] + f * c[j + 1] : c[j];
                row[x] += v;
            }
        }
    }
}

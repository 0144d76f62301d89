#include "ct/metal_correction.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <valarray>

#include "ct/fft.h"

namespace {

constexpr double pi = 3.14159265358979323846;

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

// The trace's detail finer than metal_smooth pixels: what remains of d after the fit,
// minus its own smoothing within each segment. This is where photon starvation puts its
// noise; the coarser structure of the tissue behind the metal stays.
void add_fine_residual(const line_samples& s, const std::vector<std::pair<int, int>>& segments,
                       const std::vector<double>& d, const hardening_fit* fit, double delta, const mar_params& p,
                       double* correction)
{
    if (p.smooth <= 0) return;
    const double sigma = p.smooth / std::max(delta, 1e-6);
    // Photon starvation grows with the metal a ray crosses: rays through at least half the
    // longest metal path fitted lose all their fine detail, rays through less lose the square
    // of their share of that half. A ray that only grazes the metal keeps the edges of the
    // tissue it crosses (a contrast insert in line with the metal would otherwise come out cut
    // by a dark line).
    const double half_longest = fit && fit->x_max > 0 ? 0.5 * fit->x_max : 0.0;
    for (auto [A, B] : segments) {
        std::vector<double> r(B - A);
        for (int i = A; i < B; i++) {
            const double x = hardening_x(s, i, p), t = hardening_t(s, i, p);
            r[i - A] = d[i] - (fit ? fit->linear(x) + fit->nonlinear(x, t) : 0.0);
        }
        std::vector<double> smooth = r;
        gauss_1d(smooth.data(), (int)smooth.size(), sigma);
        for (int i = A; i < B; i++) {
            const double f = half_longest > 0 ? std::min(1.0, hardening_x(s, i, p) / half_longest) : 1.0;
            correction[i] += f * f * (r[i - A] - smooth[i - A]);
        }
    }
}

}  // namespace

bool mdt_uses_prior(const mar_params& p)
{
    if (p.recon_only) return false;
    // The refined correction refines against the prior of its own last result.
    if (p.rmar) return p.iteration > 0 && !p.predict_back;
    return p.nmar && !(p.li && p.iteration == 0);
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

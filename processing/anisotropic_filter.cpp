// The anisotropic smoother: level-thresholded smoothing along an orientation field.
#include "processing/anisotropic_filter.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <memory>
#include <utility>
#include <cstdlib>
#include <immintrin.h>
#include <vector>

#include "core/cpu_features.h"
#include "core/work_plane.h"
#include "processing/orientation_field.h"
#include "processing/row_bands.h"
#include "processing/simd_rows.h"
#include "processing/along_field_terms.h"
#include "processing/gaussian_filter.h"
#include "processing/thresholded_filter.h"

namespace {

// A pixel's factor 1 / (|v x o| + extra d / 0.65 + 1) for offset o.
inline double factor_at(const field_setup& f, size_t i, const field_offset& o)
{
    double across = std::fabs(f.vx[i] * o.dy - f.vy[i] * o.dx);
    if (f.ex) across += f.ex[i] * o.d;
    return 1.0 / (across + 1);
}

// A row's factors for one offset, as a loop the compiler vectorises for each CPU (the
// same operations per value, so the same factors).
__attribute__((target_clones("avx512f", "avx2", "default"))) void factor_row_of(const field_setup& f, size_t row,
                                                                             const field_offset& o, int w, double* out)
{
    for (int x = 0; x < w; x++) out[x] = factor_at(f, row + x, o);
}

}  // namespace

void terms_one_at_a_time(const field_setup& f, const int* src, const field_offset& o, const double* fp, const double* fq,
                         double* s, double* t, size_t row, long long shift, bool partner_first, int xa, int xb)
{
    for (int x = xa; x < xb; x++) {
        const size_t p = row + x, q = (size_t)((long long)p + shift);
        const double other = fq[x];
        const double g = partner_first ? o.g * other * fp[x] : o.g * fp[x] * other;
        const long long bound =
            f.use_level ? (f.noise ? ((long long)f.noise[p] + f.noise[q]) * f.level / 8192 : f.fixed) : 0;
        const int vp = src[p], vq = src[q];
        // Branch-free: with noise the level test is a coin toss.
        const double gk = !f.use_level || std::llabs((long long)vp - vq) < bound ? g : 0.0;
        s[x] += gk * vq;
        t[x] += gk;
    }
}

namespace {

// Filters `planes` planes along one field. Every pixel is paired with each neighbour of the
// window, weighted by the offset's radial weight and both pixels' factors for it, and
// takes the weighted mean of the pairs that pass the level test (its own value weighing 1).
// Each pixel gathers its own sums, offset by offset in a fixed order (for each offset the
// neighbour before it, then the one after), so rows split over the cores any way give the
// same result, and no plane-sized sums are needed.
void filter_along_field(const int* const* src, int planes, int w, int h, double sigma, const double* vx,
                        const double* vy, const double* extra, const filtered_rows& take, const filter_params& p)
{
    const size_t count = (size_t)w * h;
    const int n = (int)std::floor(sigma);
    if (n < 1) {
        // Nothing to smooth over: every row as it is.
        over_row_bands(h, (long long)count * planes, [&](int y0, int y1, yield_clock*) {
            std::vector<std::vector<int>> rows(planes, std::vector<int>(w));
            std::vector<int*> at(planes);
            for (int y = y0; y < y1; y++) {
                for (int k = 0; k < planes; k++) {
                    std::copy_n(src[k] + (size_t)y * w, w, rows[k].begin());
                    at[k] = rows[k].data();
                }
                take(y, at.data());
            }
        });
        return;
    }
    work_plane<double> ex;
    if (extra) {
        ex.resize(count);
        for (size_t i = 0; i < count; i++) ex[i] = std::min(extra[i], 0.65);
    }
    // Half the window; each offset pairs a pixel with the neighbours at +o and -o.
    std::vector<field_offset> half;
    // Offsets that reach past the image pair no pixels: a huge sigma costs no more than
    // the image's own size.
    for (int dy = 0; dy <= std::min(n, h - 1); dy++)
        for (int dx = -std::min(n, w - 1); dx <= std::min(n, w - 1); dx++) {
            if (dy == 0 && dx <= 0) continue;
            const double d = std::sqrt((double)dx * dx + dy * dy);
            half.push_back({dx, dy, smoothing_weight(d, sigma, n), d / 0.65});
        }
    field_setup f{vx, vy, ex.empty() ? nullptr : ex.data(), w, h, p.use_level,
                  (long long)p.level * 16, nullptr, p.level};
    if (f.use_level) f.noise = p.noise_for(w, h);
    const bool fours = processing_simd.avx2 && !f.noise;
    auto terms = [&](const int* plane, const field_offset& o, const double* fp, const double* fq, double* s, double* t,
                     size_t row, long long shift, bool partner_first, int xa, int xb) {
        const int done = fours ? terms_four_at_a_time(f, plane, o, fp, fq, s, t, row, shift, partner_first, xa, xb) : xa;
        terms_one_at_a_time(f, plane, o, fp, fq, s, t, row, shift, partner_first, done, xb);
    };
    const int offsets = (int)half.size(), ring = 2 * n + 1;
    over_row_bands(h, (long long)count * planes * offsets * 6, [&](int y0, int y1, yield_clock* clock) {
        // Every pixel's factor for every offset, for the rows within n of the row being
        // summed: each factor is computed once and read by the pixel and both partners.
        std::vector<double> factors((size_t)ring * offsets * w), s(w), t(w);
        std::vector<std::vector<int>> rows(planes, std::vector<int>(w));
        std::vector<int*> done(planes);
        // Each offset's factor rows and partners for the row being summed.
        std::vector<const double*> own(offsets), minus(offsets), plus(offsets);
        std::vector<long long> shift(offsets);
        std::unique_ptr<bool[]> has_minus(new bool[offsets]), has_plus(new bool[offsets]);
        const row_terms terms_of_row{half.data(), own.data(), minus.data(), plus.data(), shift.data(),
                                     has_minus.get(), has_plus.get(), offsets};
        auto factor_row = [&](int y, int k) { return &factors[((size_t)(y % ring) * offsets + k) * w]; };
        int ready = std::max(0, y0 - n);
        for (int y = y0; y < y1; y++) {
            for (; ready <= std::min(h - 1, y + n); ready++)
                for (int k = 0; k < offsets; k++) factor_row_of(f, (size_t)ready * w, half[k], w, factor_row(ready, k));
            const size_t row = (size_t)y * w;
            for (int j = 0; j < offsets; j++) {
                const field_offset& o = half[j];
                shift[j] = (long long)o.dy * w + o.dx;
                own[j] = factor_row(y, j);
                has_minus[j] = y - o.dy >= 0;
                has_plus[j] = y + o.dy < h;
                minus[j] = has_minus[j] ? factor_row(y - o.dy, j) - o.dx : nullptr;
                plus[j] = has_plus[j] ? factor_row(y + o.dy, j) + o.dx : nullptr;
            }
            for (int k = 0; k < planes; k++) {
                const int* plane = src[k];
                for (int x = 0; x < w; x++) {
                    s[x] = plane[row + x];
                    t[x] = 1.0;
                }
                // Eight pixels at a time over all the offsets inside; the edges (and the
                // rest of the inside) offset by offset.
                int inner_from = w, inner_to = w;
                if (fours && processing_simd.avx512 && w - n > n) {
                    inner_from = n;
                    inner_to = interior_eight_at_a_time(f, plane, terms_of_row, s.data(), t.data(), row, n, w - n);
                }
                for (int j = 0; j < offsets; j++) {
                    const field_offset& o = half[j];
                    // The neighbour at -o (the pair's first pixel), then the one at +o, on
                    // either side of what the inside form did.
                    for (auto [a, b] : {std::pair<int, int>{0, inner_from}, std::pair<int, int>{inner_to, w}}) {
                        if (has_minus[j])
                            terms(plane, o, own[j], minus[j], s.data(), t.data(), row, -shift[j], true,
                                  std::max({o.dx, 0, a}), std::min({w + o.dx, w, b}));
                        if (has_plus[j])
                            terms(plane, o, own[j], plus[j], s.data(), t.data(), row, shift[j], false,
                                  std::max({0, -o.dx, a}), std::min({w, w - o.dx, b}));
                    }
                }
                int* out = rows[k].data();
                for (int x = 0; x < w; x++) s[x] /= t[x];
                round_row(s.data(), w);
                for (int x = 0; x < w; x++) out[x] = t[x] > 0 ? (int)s[x] : 0;
                done[k] = out;
            }
            take(y, done.data());
            if (clock) clock->maybe_yield();
        }
    });
}

// Filters planes into planes: a plane filtered in place is read from a copy, since a row's
// result is written while later rows still read their neighbours.
void filter_into(int* const* ins, int* const* outs, int planes, int w, int h, double sigma, const double* vx,
                 const double* vy, const double* extra, const filter_params& p)
{
    const size_t count = (size_t)w * h;
    std::vector<work_plane<int>> copies(planes);
    std::vector<const int*> src(planes);
    for (int k = 0; k < planes; k++) {
        src[k] = ins[k];
        if (ins[k] == outs[k]) {
            copies[k].assign(ins[k], ins[k] + count);
            src[k] = copies[k].data();
        }
    }
    filter_along_field(src.data(), planes, w, h, sigma, vx, vy, extra, [&](int y, int* const* rows) {
        for (int k = 0; k < planes; k++) std::copy_n(rows[k], w, outs[k] + (size_t)y * w);
    }, p);
}

}  // namespace


void field_vectors(double* angle, double* strength, int w, int h, double anisotropy)
{
    const double a2 = anisotropy * anisotropy;
    over_row_bands(h, (long long)w * h * 8, [&](int y0, int y1, yield_clock*) {
        for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) {
            const double f = a2 > 0 ? std::min(strength[i] / a2, 1.2) : 1.2;
            const double a = angle[i];
            angle[i] = std::cos(a) * f;
            strength[i] = std::sin(a) * f;
        }
    });
}

void anisotropic_filter_2d(int* in, int w, int h, double sigma, double anisotropy, int* out,
                           double* angle, double* strength, double* extra, bool structure_only,
                           const filter_params& p)
{
    if (!in || w < 1 || h < 1) return;
    const size_t count = (size_t)w * h;
    std::vector<double> own_angle, own_strength;
    if (structure_only || !angle || !strength) {
        if (!angle) {
            own_angle.resize(count);
            angle = own_angle.data();
        }
        if (!strength) {
            own_strength.resize(count);
            strength = own_strength.data();
        }
        orientation_field(in, w, h, sigma, angle, strength, extra);
        if (structure_only) return;
    }
    if (!out) return;
    work_plane<double> vx(angle, angle + count), vy(strength, strength + count);
    field_vectors(vx.data(), vy.data(), w, h, anisotropy);
    filter_into(&in, &out, 1, w, h, sigma, vx.data(), vy.data(), extra, p);
}

void anisotropic_filter_planes(int* const* ins, int* const* outs, int planes, int w, int h, double sigma,
                               double anisotropy, const double* angle, const double* strength,
                               const filter_params& p)
{
    if (!ins || !outs || planes < 1 || w < 1 || h < 1 || !angle || !strength) return;
    const size_t count = (size_t)w * h;
    work_plane<double> vx(angle, angle + count), vy(strength, strength + count);
    field_vectors(vx.data(), vy.data(), w, h, anisotropy);
    filter_into(ins, outs, planes, w, h, sigma, vx.data(), vy.data(), nullptr, p);
}

void anisotropic_filter_vectors(int* const* ins, int* const* outs, int planes, int w, int h, double sigma,
                                const double* vx, const double* vy, const double* extra, const filter_params& p)
{
    if (!ins || !outs || planes < 1 || w < 1 || h < 1 || !vx || !vy) return;
    filter_into(ins, outs, planes, w, h, sigma, vx, vy, extra, p);
}

void anisotropic_filter_rows(const int* const* ins, int planes, int w, int h, double sigma, const double* vx,
                             const double* vy, const filtered_rows& take, const filter_params& p)
{
    if (!ins || planes < 1 || w < 1 || h < 1 || !vx || !vy) return;
    filter_along_field(ins, planes, w, h, sigma, vx, vy, nullptr, take, p);
}

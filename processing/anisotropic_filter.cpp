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

// A pixel's factor 1 / (|v x o| + min(extra, 0.65) d / 0.65 + 1) for offset o.
inline double factor_at(const field_setup& f, size_t i, const field_offset& o)
{
    double across = std::fabs(f.vx[i] * o.dy - f.vy[i] * o.dx);
    if (f.ex) across += std::min(f.ex[i], 0.65) * o.d;
    return 1.0 / (across + 1);
}

// Factors for one offset of the pixels row + x, x in [xa, xb), into out[x], as a loop the
// compiler vectorises for each CPU (the same operations per value, so the same factors).
__attribute__((target_clones("avx512f", "avx2", "default"))) void factor_row_of(const field_setup& f, size_t row,
                                                                             const field_offset& o, int xa, int xb,
                                                                             double* out)
{
    for (int x = xa; x < xb; x++) out[x] = factor_at(f, row + x, o);
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

// The tiles the smoother sums over: a tile's sums and the factors of one offset around it
// stay in the core's own cache while every offset passes over them.
constexpr int tile_rows = 48, tile_columns = 512;

// Filters `planes` planes along one field. Every pixel is paired with each neighbour of the
// window, weighted by the offset's radial weight and both pixels' factors for it, and
// takes the weighted mean of the pairs that pass the level test (its own value weighing 1).
// Each pixel gathers its own sums, offset by offset in a fixed order (for each offset the
// neighbour before it, then the one after), so rows split over the cores any way give the
// same result, and no plane-sized sums are needed.
//
// The work goes tile by tile (tile_rows x tile_columns pixels). For each offset in turn, the
// factors of the tile's pixels and of their partners (the tile widened by the offset) are
// computed into a small buffer, then every pixel of the tile adds that offset's two terms to
// its sums. A pixel's additions are the same in the same order as offset by offset over the
// whole row; only which pixels are summed between two offsets changes. (Keeping every
// offset's factors for the rows around the one being summed instead needs (2n + 1) rows of
// all offsets: tens of megabytes at n = 9, read from memory three times per row.) A factor
// near a tile's border is computed again by the neighbouring tile: about a fifth more
// divisions at n = 9, a twentieth at n = 3.
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
    field_setup f{vx, vy, extra, w, h, p.use_level, (long long)p.level * 16, nullptr, p.level};
    if (f.use_level) f.noise = p.noise_for(w, h);
    const bool fours = processing_simd.avx2 && !f.noise, noisy_fours = processing_simd.avx2 && f.noise;
    auto terms = [&](const int* plane, const field_offset& o, const double* fp, const double* fq, double* s, double* t,
                     size_t row, long long shift, bool partner_first, int xa, int xb) {
        const int done =
            fours         ? terms_four_at_a_time(f, plane, o, fp, fq, s, t, row, shift, partner_first, xa, xb)
            : noisy_fours ? noise_terms_four_at_a_time(f, plane, o, fp, fq, s, t, row, shift, partner_first, xa, xb)
                          : xa;
        terms_one_at_a_time(f, plane, o, fp, fq, s, t, row, shift, partner_first, done, xb);
    };
    const int offsets = (int)half.size();
    over_row_bands(h, (long long)count * planes * offsets * 6, [&](int y0, int y1, yield_clock* clock) {
        const int th = std::min(tile_rows, y1 - y0), tw = std::min(tile_columns, w);
        // The sums of one tile per plane (row stride tw), one offset's factors around it,
        // and the finished rows of a band of tiles per plane (row stride w).
        std::vector<double> sums((size_t)planes * 2 * th * tw), factors;
        std::vector<int> finished((size_t)planes * th * w);
        std::vector<int*> done(planes);
        for (int ty = y0; ty < y1; ty += th) {
            const int ty1 = std::min(ty + th, y1);
            for (int tx = 0; tx < w; tx += tw) {
                const int tx1 = std::min(tx + tw, w);
                // Tile row y's sums of plane k, indexed by the image column.
                auto s_of = [&](int k, int y) { return &sums[((size_t)(2 * k) * th + (y - ty)) * tw] - tx; };
                auto t_of = [&](int k, int y) { return &sums[((size_t)(2 * k + 1) * th + (y - ty)) * tw] - tx; };
                for (int k = 0; k < planes; k++)
                    for (int y = ty; y < ty1; y++) {
                        const int* v = src[k] + (size_t)y * w;
                        double *s = s_of(k, y), *t = t_of(k, y);
                        for (int x = tx; x < tx1; x++) {
                            s[x] = v[x];
                            t[x] = 1.0;
                        }
                    }
                for (const field_offset& o : half) {
                    // The factors of the tile widened by the offset (within the image).
                    const int fy0 = std::max(0, ty - o.dy), fy1 = std::min(h, ty1 + o.dy);
                    const int fx0 = std::max(0, tx - std::abs(o.dx)), fx1 = std::min(w, tx1 + std::abs(o.dx));
                    const size_t stride = (size_t)(fx1 - fx0);
                    factors.resize(std::max(factors.size(), stride * (fy1 - fy0)));
                    // Factor row y, indexed by the image column.
                    auto factor_row = [&](int y) { return factors.data() + (size_t)(y - fy0) * stride - fx0; };
                    for (int y = fy0; y < fy1; y++) factor_row_of(f, (size_t)y * w, o, fx0, fx1, factor_row(y));
                    const long long shift = (long long)o.dy * w + o.dx;
                    for (int y = ty; y < ty1; y++) {
                        const size_t row = (size_t)y * w;
                        const double* own = factor_row(y);
                        // The neighbour at -o (the pair's first pixel), then the one at +o.
                        const bool has_minus = y - o.dy >= 0, has_plus = y + o.dy < h;
                        const int ma = std::max({o.dx, tx}), mb = std::min({w + o.dx, tx1});
                        const int pa = std::max({-o.dx, tx}), pb = std::min({w - o.dx, tx1});
                        const double* fm = has_minus ? factor_row(y - o.dy) - o.dx : nullptr;
                        const double* fn = has_plus ? factor_row(y + o.dy) + o.dx : nullptr;
                        // Where a pixel has both partners the SIMD form adds both terms in one
                        // pass; a pixel outside [both_a, both_b) has at most one of them.
                        int both_a = std::max(ma, pa), both_b = std::min(mb, pb);
                        if (!fours || !has_minus || !has_plus || both_a >= both_b) both_a = both_b = ma;
                        for (int k = 0; k < planes; k++) {
                            double *s = s_of(k, y), *t = t_of(k, y);
                            if (both_a < both_b) {
                                const int done = pair_terms_four_at_a_time(f, src[k], o, own, fm, fn, s, t, row, shift,
                                                                          both_a, both_b);
                                terms_one_at_a_time(f, src[k], o, own, fm, s, t, row, -shift, true, done, both_b);
                                terms_one_at_a_time(f, src[k], o, own, fn, s, t, row, shift, false, done, both_b);
                            }
                            if (has_minus) {
                                terms(src[k], o, own, fm, s, t, row, -shift, true, ma, std::min(mb, both_a));
                                terms(src[k], o, own, fm, s, t, row, -shift, true, std::max(ma, both_b), mb);
                            }
                            if (has_plus) {
                                terms(src[k], o, own, fn, s, t, row, shift, false, pa, std::min(pb, both_a));
                                terms(src[k], o, own, fn, s, t, row, shift, false, std::max(pa, both_b), pb);
                            }
                        }
                    }
                    if (clock) clock->maybe_yield();
                }
                for (int k = 0; k < planes; k++)
                    for (int y = ty; y < ty1; y++) {
                        double *s = s_of(k, y) + tx, *t = t_of(k, y) + tx;
                        const int m = tx1 - tx;
                        for (int x = 0; x < m; x++) s[x] /= t[x];
                        round_row(s, m);
                        int* out = &finished[((size_t)k * th + (y - ty)) * w + tx];
                        for (int x = 0; x < m; x++) out[x] = t[x] > 0 ? (int)s[x] : 0;
                    }
            }
            for (int y = ty; y < ty1; y++) {
                for (int k = 0; k < planes; k++) done[k] = &finished[((size_t)k * th + (y - ty)) * w];
                take(y, done.data());
            }
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
    // Planes of the field this call makes for itself are filled before they are read, and
    // become the vectors in place; a caller's planes are read, not changed.
    work_plane<double> own_angle, own_strength;
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
    if (own_angle.empty()) own_angle.assign(angle, angle + count);
    if (own_strength.empty()) own_strength.assign(strength, strength + count);
    field_vectors(own_angle.data(), own_strength.data(), w, h, anisotropy);
    filter_into(&in, &out, 1, w, h, sigma, own_angle.data(), own_strength.data(), extra, p);
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

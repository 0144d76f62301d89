// The gradient, the structure tensor's orientation field and the anisotropic smoother.
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
#include "processing/row_bands.h"
#include "processing/gaussian_filter.h"
#include "processing/thresholded_filter.h"

namespace {

// The gradient at (x, y): central differences halved (truncated towards zero), one-sided at
// the first and last column and row.
inline void gradient_at(const int* in, int w, int h, int x, int y, int& gx, int& gy)
{
    const int* row = in + (size_t)y * w;
    gx = w < 2 ? 0 : x == 0 ? row[1] - row[0] : x == w - 1 ? row[x] - row[x - 1] : (row[x + 1] - row[x - 1]) / 2;
    gy = h < 2 ? 0 : y == 0 ? row[x + w] - row[x] : y == h - 1 ? row[x] - row[x - w] : (row[x + w] - row[x - w]) / 2;
}

}  // namespace

void grad_2d(int* in, int w, int h, int* gx, int* gy)
{
    if (!in || w < 1 || h < 1) return;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int a, b;
            gradient_at(in, w, h, x, y, a, b);
            const size_t i = (size_t)y * w + x;
            if (gx) gx[i] = a;
            if (gy) gy[i] = b;
        }
}

namespace {

// The row loops below in one order of operations per value, so the compiler's SIMD forms
// for each CPU (chosen at load time) give the plain form's results to the last bit.

// out[x] = sum over j of k[j + n] in[x + j] for x in [from, to), terms in j order.
__attribute__((target_clones("avx512f", "avx2", "default"))) void taps_along_row(const double* in, const double* k,
                                                                              int n, int from, int to, double* out)
{
    for (int x = from; x < to; x++) out[x] = 0;
    for (int j = -n; j <= n; j++) {
        const double kj = k[j + n];
        for (int x = from; x < to; x++) out[x] += kj * in[x + j];
    }
}

// acc[x] += kj r[x].
__attribute__((target_clones("avx512f", "avx2", "default"))) void add_scaled_row(double* acc, const double* r,
                                                                              double kj, int w)
{
    for (int x = 0; x < w; x++) acc[x] += kj * r[x];
}

// std::round (halves away from zero) of a row in place: the truncation, plus one away from
// zero where the exact remainder is at least a half.
__attribute__((target("avx2"))) int round_four_at_a_time(double* v, int w)
{
    const __m256d half = _mm256_set1_pd(0.5), one = _mm256_set1_pd(1.0), sign = _mm256_set1_pd(-0.0);
    int x = 0;
    for (; x + 4 <= w; x += 4) {
        const __m256d a = _mm256_loadu_pd(v + x);
        const __m256d t = _mm256_round_pd(a, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256d rest = _mm256_andnot_pd(sign, _mm256_sub_pd(a, t));
        const __m256d away = _mm256_add_pd(t, _mm256_or_pd(one, _mm256_and_pd(sign, a)));
        _mm256_storeu_pd(v + x, _mm256_blendv_pd(t, away, _mm256_cmp_pd(rest, half, _CMP_GE_OQ)));
    }
    return x;
}

// The SIMD forms in use: AVX2 (four doubles) and AVX-512 (eight), where the CPU has them
// and VOXMIRA_NO_SIMD / VOXMIRA_NO_AVX512 do not turn them off.
bool rows_in_fours = avx2_allowed();
bool rows_in_eights = avx512_allowed();

void round_row(double* v, int w)
{
    int x = rows_in_fours ? round_four_at_a_time(v, w) : 0;
    for (; x < w; x++) v[x] = std::round(v[x]);
}

// The Gaussian of filter_2d (same taps, edge replication, results rounded) on planes of
// doubles, a band of rows at a time: the structure tensor of strong 16-bit gradients does
// not fit in 32 bits. Rows enter a ring of the last 2n + 1 row-smoothed rows and leave it
// smoothed down the columns, so no plane-sized buffer is needed; every value is the same
// sum in the same order whatever the split.
class rolling_gaussian {
public:
    rolling_gaussian(double sigma, int w, int h, int components)
        : n((int)std::floor(sigma)), w(w), h(h), components(components)
    {
        if (n < 1) return;
        k.resize(2 * n + 1);
        gaussian_kernel(sigma, k.data());
    }
    int radius() const { return n; }
    // Scratch for one band: the ring and a row.
    struct band {
        std::vector<double> ring, row;
        int ready = -1;
    };
    void start(band& b, int y0) const
    {
        b.ring.assign((size_t)(2 * n + 1) * components * w, 0.0);
        b.row.assign(w, 0.0);
        b.ready = std::max(0, y0 - n) - 1;
    }
    // Smooths row y of every component into out[c] (w values each); source(r, c, row)
    // writes row r of component c. Rows must be asked for in increasing order.
    template <typename Source>
    void row(band& b, int y, Source&& source, double* const* out) const
    {
        for (; b.ready < std::min(h - 1, y + n); ) {
            const int r = ++b.ready;
            for (int c = 0; c < components; c++) {
                source(r, c, b.row.data());
                double* dst = slot(b, r, c);
                const int from = std::min(n, w), to = std::max(from, w - n);
                taps_along_row(b.row.data(), k.data(), n, from, to, dst);
                for (int x = 0; x < w; x++) {
                    if (x == from) x = to;
                    if (x >= w) break;
                    double sum = 0;
                    for (int j = -n; j <= n; j++) sum += k[j + n] * b.row[std::clamp(x + j, 0, w - 1)];
                    dst[x] = sum;
                }
            }
        }
        for (int c = 0; c < components; c++) {
            double* acc = out[c];
            std::fill(acc, acc + w, 0.0);
            for (int j = -n; j <= n; j++) add_scaled_row(acc, slot(b, std::clamp(y + j, 0, h - 1), c), k[j + n], w);
            round_row(acc, w);
        }
    }

private:
    double* slot(band& b, int r, int c) const
    {
        return &b.ring[((size_t)(r % (2 * n + 1)) * components + c) * w];
    }
    int n, w, h, components;
    std::vector<double> k;
};

// Row y of the structure tensor (gx^2, gy^2, 2 gx gy) in whole levels: the gradient of
// grad_2d divided by 16 with C's truncation.
void tensor_row(const int* in, int w, int h, int y, int c, double* out)
{
    for (int x = 0; x < w; x++) {
        int gx, gy;
        gradient_at(in, w, h, x, y, gx, gy);
        const double a = gx / 16, b = gy / 16;
        out[x] = c == 0 ? a * a : c == 1 ? b * b : 2 * a * b;
    }
}

void orientation_field(int* in, int w, int h, double sigma, double* angle, double* strength, double* extra)
{
    const size_t count = (size_t)w * h;
    // Row by row, in one pass: the smoothed tensor gives a row's angle, major eigenvalue
    // (kept in strength until the row is finished), minor one and corner measure; the
    // minor eigenvalues, smoothed twice as wide, then give the strength of the row that
    // far above. A band makes the rows of minor eigenvalues it needs beyond its own
    // itself (writing nothing else for them), so no plane of them is needed.
    const rolling_gaussian tensor(sigma, w, h, 3), wide(2 * sigma, w, h, 1);
    const int reach = std::max(wide.radius(), 0);
    over_row_bands(h, (long long)count * (2 * tensor.radius() + 2 * reach + 2) * 6, [&](int y0, int y1, yield_clock*) {
        rolling_gaussian::band tensor_band, wide_band;
        std::vector<double> j(3 * (size_t)w), smoothed(w);
        double* parts[3] = {j.data(), j.data() + w, j.data() + 2 * w};
        double* part = smoothed.data();
        if (tensor.radius() >= 1) tensor.start(tensor_band, y0 - reach);
        if (wide.radius() >= 1) wide.start(wide_band, y0);
        // Row y's minor eigenvalues into out, and for the band's own rows its angle,
        // major eigenvalue and corner measure.
        auto eigen_row = [&](int y, double* minor) {
            if (tensor.radius() >= 1)
                tensor.row(tensor_band, y, [&](int r, int c, double* out) { tensor_row(in, w, h, r, c, out); }, parts);
            else
                for (int c = 0; c < 3; c++) tensor_row(in, w, h, y, c, parts[c]);
            const bool own = y >= y0 && y < y1;
            for (int x = 0; x < w; x++) {
                const size_t i = (size_t)y * w + x;
                const double jxx = parts[0][x], jyy = parts[1][x], jxy = parts[2][x];
                const double s = jxx + jyy, d = jxx - jyy;
                const double r = std::sqrt(d * d + jxy * jxy);
                minor[x] = s == 0 ? 0 : std::floor(s - r + 0.5);
                if (!own) continue;
                angle[i] = (std::atan2(jxy, d) + M_PI) / 2;
                strength[i] = s == 0 ? 0 : s + r;
                if (extra) extra[i] = s == 0 ? 0 : (s - r) * (s + r) / 2;
            }
        };
        for (int y = y0; y < y1; y++) {
            const size_t row = (size_t)y * w;
            if (wide.radius() >= 1)
                wide.row(wide_band, y, [&](int r, int, double* out) { eigen_row(r, out); }, &part);
            else
                eigen_row(y, part);
            for (int x = 0; x < w; x++) {
                const double major = strength[row + x];
                if (major > 0) {
                    const double q = 1 - part[x] / major;
                    strength[row + x] = q < 0 ? 0.0 : std::min(q * q, 1.0);
                } else {
                    strength[row + x] = 0.0;
                }
            }
        }
    });
    if (extra) {
        // Normalise by the mean of the lowest 90 %: a flat image (maximum 0) stays at 0.
        const double top = *std::max_element(extra, extra + count);
        if (top > 0) {
            std::vector<long long> bins(256, 0), sums(256, 0);
            for (size_t i = 0; i < count; i++) {
                const int b = std::clamp((int)(extra[i] * 256 / top), 0, 255);
                bins[b]++;
                sums[b] += (long long)extra[i];
            }
            long long n = 0, sum = 0;
            const long long limit = (long long)(0.9 * count);
            double m = 0.0;
            for (int b = 0; b < 256; b++) {
                n += bins[b];
                sum += sums[b];
                if (n > limit) {
                    m = (double)sum / n;
                    break;
                }
            }
            const double t = 2 * m;
            for (size_t i = 0; i < count; i++) extra[i] = t > 0 ? std::max(0.0, (extra[i] - t) / (40 * t - t)) : 0.0;
        } else {
            std::fill(extra, extra + count, 0.0);
        }
    }
}

}  // namespace

namespace {


// One offset of the half window: its radial weight and its distance / 0.65.
struct offset {
    int dx, dy;
    double g, d;
};

// What every pixel's sums read: the orientation vectors, the corner term and the level test.
struct field_setup {
    const double *vx, *vy, *ex;
    int w, h;
    bool use_level;
    long long fixed;  // the level test's bound without a noise map
    const int* noise;
    int level;
};

// A pixel's factor 1 / (|v x o| + extra d / 0.65 + 1) for offset o.
inline double factor_at(const field_setup& f, size_t i, const offset& o)
{
    double across = std::fabs(f.vx[i] * o.dy - f.vy[i] * o.dx);
    if (f.ex) across += f.ex[i] * o.d;
    return 1.0 / (across + 1);
}

// A row's factors for one offset, as a loop the compiler vectorises for each CPU (the
// same operations per value, so the same factors).
__attribute__((target_clones("avx512f", "avx2", "default"))) void factor_row_of(const field_setup& f, size_t row,
                                                                             const offset& o, int w, double* out)
{
    for (int x = 0; x < w; x++) out[x] = factor_at(f, row + x, o);
}

// Adds to the sums s / t of row `row` (pixel x at row + x) the pair terms with the partner
// at `shift` from each pixel of [xa, xb), four pixels at a time; fp[x] holds pixel x's
// factor for the offset and fq[x] its partner's. A pair's weight is the radial weight times
// the first pixel's factor times the second's: `partner_first` says the partner is the
// pair's first pixel. Returns the first x not done. Only without a noise map (a fixed level
// test).
__attribute__((target("avx2"))) int terms_four_at_a_time(const field_setup& f, const int* src, const offset& o,
                                                        const double* fp, const double* fq, double* s, double* t,
                                                        size_t row, long long shift, bool partner_first, int xa,
                                                        int xb)
{
    const __m256d radial = _mm256_set1_pd(o.g);
    const __m128i limit = _mm_set1_epi32((int)std::min<long long>(f.fixed, INT32_MAX));
    int x = xa;
    for (; x + 4 <= xb; x += 4) {
        const size_t p = row + x, q = (size_t)((long long)p + shift);
        const __m256d own = _mm256_loadu_pd(fp + x), other = _mm256_loadu_pd(fq + x);
        const __m256d g = partner_first ? _mm256_mul_pd(_mm256_mul_pd(radial, other), own)
                                        : _mm256_mul_pd(_mm256_mul_pd(radial, own), other);
        const __m128i vp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + p));
        const __m128i vq = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + q));
        __m256d gk = g;
        if (f.use_level) {
            const __m128i near = _mm_cmpgt_epi32(limit, _mm_abs_epi32(_mm_sub_epi32(vp, vq)));
            gk = _mm256_and_pd(g, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(near)));
        }
        _mm256_storeu_pd(s + x, _mm256_add_pd(_mm256_loadu_pd(s + x), _mm256_mul_pd(gk, _mm256_cvtepi32_pd(vq))));
        _mm256_storeu_pd(t + x, _mm256_add_pd(_mm256_loadu_pd(t + x), gk));
    }
    return x;
}

// One row's terms where every offset's partners lie in the row range (x in [xa, xb)),
// eight pixels at a time with their sums held in registers over all the offsets: for each
// offset j the partner at -o (when the row has one, has_minus) then the one at +o
// (has_plus), in the order of the per-offset forms, so the sums are the same.
struct row_terms {
    const offset* o;
    const double *const *own, *const *minus, *const *plus;  // factor rows: the pixel's, partners'
    const long long* shift;
    const bool *has_minus, *has_plus;
    int offsets;
};

__attribute__((target("avx512f,avx512vl"))) inline void interior_term(bool use_level, __m256i limit, __m512d radial,
                                                                     __m512d own, const double* fq, const int* q,
                                                                     __m256i vp, bool first, __m512d& S, __m512d& T)
{
    const __m512d other = _mm512_loadu_pd(fq);
    const __m512d g = first ? _mm512_mul_pd(_mm512_mul_pd(radial, other), own)
                            : _mm512_mul_pd(_mm512_mul_pd(radial, own), other);
    const __m256i vq = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    __m512d gk = g;
    if (use_level)
        gk = _mm512_maskz_mov_pd(_mm256_cmpgt_epi32_mask(limit, _mm256_abs_epi32(_mm256_sub_epi32(vp, vq))), g);
    S = _mm512_add_pd(S, _mm512_mul_pd(gk, _mm512_maskz_cvtepi32_pd(0xFF, vq)));
    T = _mm512_add_pd(T, gk);
}

// G groups of eight pixels from x: each pixel's sum is one long chain of additions, so
// several chains at once keep the adder busy.
template <int G>
__attribute__((target("avx512f,avx512vl"))) inline void interior_groups(const field_setup& f, const int* src,
                                                                      const row_terms& r, double* s, double* t,
                                                                      size_t row, int x, __m256i limit)
{
    __m512d S[G], T[G];
    __m256i vp[G];
    for (int i = 0; i < G; i++) {
        vp[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + row + x + 8 * i));
        S[i] = _mm512_loadu_pd(s + x + 8 * i);
        T[i] = _mm512_loadu_pd(t + x + 8 * i);
    }
    for (int j = 0; j < r.offsets; j++) {
        const __m512d radial = _mm512_set1_pd(r.o[j].g);
        const double* own = r.own[j] + x;
        if (r.has_minus[j]) {
            const double* fq = r.minus[j] + x;
            const int* q = src + (long long)(row + x) - r.shift[j];
            for (int i = 0; i < G; i++)
                interior_term(f.use_level, limit, radial, _mm512_loadu_pd(own + 8 * i), fq + 8 * i, q + 8 * i, vp[i],
                              true, S[i], T[i]);
        }
        if (r.has_plus[j]) {
            const double* fq = r.plus[j] + x;
            const int* q = src + (long long)(row + x) + r.shift[j];
            for (int i = 0; i < G; i++)
                interior_term(f.use_level, limit, radial, _mm512_loadu_pd(own + 8 * i), fq + 8 * i, q + 8 * i, vp[i],
                              false, S[i], T[i]);
        }
    }
    for (int i = 0; i < G; i++) {
        _mm512_storeu_pd(s + x + 8 * i, S[i]);
        _mm512_storeu_pd(t + x + 8 * i, T[i]);
    }
}

__attribute__((target("avx512f,avx512vl"))) int interior_eight_at_a_time(const field_setup& f, const int* src,
                                                                       const row_terms& r, double* s, double* t,
                                                                       size_t row, int xa, int xb)
{
    const __m256i limit = _mm256_set1_epi32((int)std::min<long long>(f.fixed, INT32_MAX));
    int x = xa;
    for (; x + 32 <= xb; x += 32) interior_groups<4>(f, src, r, s, t, row, x, limit);
    for (; x + 8 <= xb; x += 8) interior_groups<1>(f, src, r, s, t, row, x, limit);
    return x;
}

// The one-pixel form of the same terms, also with a noise map (the level test's bound then
// comes from both pixels' noise).
void terms_one_at_a_time(const field_setup& f, const int* src, const offset& o, const double* fp, const double* fq,
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
    std::vector<offset> half;
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
    const bool fours = rows_in_fours && !f.noise;
    auto terms = [&](const int* plane, const offset& o, const double* fp, const double* fq, double* s, double* t,
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
                const offset& o = half[j];
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
                if (fours && rows_in_eights && w - n > n) {
                    inner_from = n;
                    inner_to = interior_eight_at_a_time(f, plane, terms_of_row, s.data(), t.data(), row, n, w - n);
                }
                for (int j = 0; j < offsets; j++) {
                    const offset& o = half[j];
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

bool use_along_field_simd(bool wanted, bool wide)
{
    const bool before = rows_in_fours;
    rows_in_fours = wanted && cpu_has_avx2();
    rows_in_eights = rows_in_fours && wide && cpu_has_avx512();
    return before;
}

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

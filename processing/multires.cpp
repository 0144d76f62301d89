// Restriction and interpolation between pyramid levels.
#include "processing/multires.h"

#include <algorithm>
#include <vector>

#include "processing/rank_filter.h"

int whole_level(int v)
{
    const int q = v % 16;  // the sign of the value
    return q < 8 ? v - q : v + 16 - q;
}

namespace {

// One separable pass at the even positions: out[i] = sum taps[j] x in[2i + j - n] / scale.
void decimate_line(const int* in, int count, size_t stride, const std::vector<int>& taps, int scale, long long* out,
                   int out_count)
{
    const int n = (int)taps.size() / 2;
    for (int i = 0; i < out_count; i++) {
        long long s = 0;
        for (int j = -n; j <= n; j++) s += (long long)taps[j + n] * in[std::clamp(2 * i + j, 0, count - 1) * stride];
        out[i] = s;
    }
    (void)scale;
}

void separable_restrict(const int* in, int w, int h, int* out, int w2, int h2, const std::vector<int>& taps, int scale)
{
    // Rows first (every second column), then columns of that (every second row).
    std::vector<long long> rows((size_t)w2 * h), line(std::max(w2, h2));
    for (int y = 0; y < h; y++) {
        decimate_line(in + (size_t)y * w, w, 1, taps, scale, line.data(), w2);
        std::copy(line.begin(), line.begin() + w2, rows.begin() + (size_t)y * w2);
    }
    const int n = (int)taps.size() / 2;
    for (int x = 0; x < w2; x++)
        for (int i = 0; i < h2; i++) {
            long long s = 0;
            for (int j = -n; j <= n; j++) s += taps[j + n] * rows[(size_t)std::clamp(2 * i + j, 0, h - 1) * w2 + x];
            const long long total = (long long)scale * scale;
            const long long v = s >= 0 ? (s + total / 2) / total : -((-s + total / 2) / total);
            out[(size_t)i * w2 + x] = whole_level((int)v);
        }
}

}  // namespace

void restrict(int* in, int w, int h, int* out, int w2, int h2, const filter_params& p)
{
    if (!in || !out || w < 1 || h < 1 || w2 < 1 || h2 < 1) return;
    switch (p.restrict_kind) {
    case 1:
        for (int y = 0; y < h2; y++)
            for (int x = 0; x < w2; x++) {
                long long s = 0, weight = 0;
                for (int dy = -1; dy <= 1; dy++)
                    for (int dx = -1; dx <= 1; dx++) {
                        const int fx = 2 * x + dx, fy = 2 * y + dy;
                        if (fx < 0 || fy < 0 || fx >= w || fy >= h) continue;
                        const int k = (2 - std::abs(dx)) * (2 - std::abs(dy));
                        s += (long long)k * in[(size_t)fy * w + fx];
                        weight += k;
                    }
                const long long v = s >= 0 ? (s + weight / 2) / weight : -((-s + weight / 2) / weight);
                out[(size_t)y * w2 + x] = whole_level((int)v);
            }
        return;
    case 3: separable_restrict(in, w, h, out, w2, h2, {1, 4, 6, 4, 1}, 16); return;
    case 4: separable_restrict(in, w, h, out, w2, h2, {1, 2, 1}, 4); return;
    case 5: {
        std::vector<int> median((size_t)w * h);
        // The 3 x 3 square, whatever the mask choice.
        rank_2d(in, w, h, 1, 0.5, median.data(), 0, nullptr, false, p.with_mask(MASK_SQUARE));
        for (int y = 0; y < h2; y++)
            for (int x = 0; x < w2; x++)
                out[(size_t)y * w2 + x] = whole_level(median[(size_t)std::min(2 * y, h - 1) * w + std::min(2 * x, w - 1)]);
        return;
    }
    default: separable_restrict(in, w, h, out, w2, h2, {-1, 0, 9, 16, 9, 0, -1}, 32); return;
    }
}

namespace {

// One separable upsampling pass of `count2` coarse values into `count` fine ones.
void upsample_line(const long long* in, int count2, long long* out, int count, int kind)
{
    auto at = [&](int i) { return in[std::clamp(i, 0, count2 - 1)]; };
    for (int x = 0; x < count; x++) {
        const int i = x / 2;
        if (kind == 2) {
            out[x] = x % 2 == 0 ? at(i) : (9 * (at(i) + at(i + 1)) - (at(i - 1) + at(i + 2))) / 16;
        } else if (kind == 1 || kind == 3) {
            out[x] = x % 2 == 0 ? at(i) : (at(i) + at(i + 1)) / 2;
        } else if (kind == 4) {
            out[x] = x % 2 == 0 ? (at(i - 1) + 6 * at(i) + at(i + 1)) / 8 : (at(i) + at(i + 1)) / 2;
        } else {
            out[x] = at(i);
        }
    }
}

}  // namespace

void interpolate(int* in, int w2, int h2, int* out, int w, int h, const filter_params& p)
{
    if (!in || !out || w < 1 || h < 1 || w2 < 1 || h2 < 1) return;
    const int kind = p.interpolate_kind;
    std::vector<long long> rows((size_t)w * h2), line_in(std::max(w2, h2)), line_out(std::max(w, h));
    for (int y = 0; y < h2; y++) {
        for (int x = 0; x < w2; x++) line_in[x] = in[(size_t)y * w2 + x];
        upsample_line(line_in.data(), w2, rows.data() + (size_t)y * w, w, kind);
    }
    for (int x = 0; x < w; x++) {
        for (int y = 0; y < h2; y++) line_in[y] = rows[(size_t)y * w + x];
        upsample_line(line_in.data(), h2, line_out.data(), h, kind);
        for (int y = 0; y < h; y++) out[(size_t)y * w + x] = whole_level((int)line_out[y]);
    }
}

namespace {

void per_channel(int* in, int iw, int ih, int* out, int ow, int oh, const filter_params& p,
                 void (*op)(int*, int, int, int*, int, int, const filter_params&))
{
    const int n = p.colour_processing ? std::max(p.channels, 1) : 1;
    if (n == 1) {
        op(in, iw, ih, out, ow, oh, p);
        return;
    }
    std::vector<int> a((size_t)iw * ih), b((size_t)ow * oh);
    for (int k = 0; k < n; k++) {
        for (size_t i = 0; i < a.size(); i++) a[i] = in[i * n + k];
        op(a.data(), iw, ih, b.data(), ow, oh, p);
        for (size_t i = 0; i < b.size(); i++) out[i * n + k] = b[i];
    }
}

}  // namespace

void restrict_data(int* in, int w, int h, int* out, int w2, int h2, const filter_params& p)
{
    per_channel(in, w, h, out, w2, h2, p, restrict);
}

void interpolate_data(int* in, int w2, int h2, int* out, int w, int h, const filter_params& p)
{
    per_channel(in, w2, h2, out, w, h, p, interpolate);
}

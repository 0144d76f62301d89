// Area openings and closings by union-find over the pixels sorted by value.
#include "processing/grain_filter.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// The pixels by value, brightest first, equal values in pixel order: a stable radix sort
// of (maximum - value), sixteen bits a pass (one pass for a range up to 65536).
std::vector<unsigned> brightest_first(const int* in, size_t n)
{
    std::vector<unsigned> order(n), other(n);
    std::iota(order.begin(), order.end(), 0u);
    if (n == 0) return order;
    const auto [lo, hi] = std::minmax_element(in, in + n);
    const int top = *hi;
    const unsigned long long range = (unsigned long long)((long long)top - *lo);
    std::vector<size_t> start(1 << 16);
    for (int shift = 0; shift < 32 && (shift == 0 || (range >> shift) != 0); shift += 16) {
        std::fill(start.begin(), start.end(), 0);
        auto digit = [&](unsigned p) { return (unsigned)(((unsigned long long)((long long)top - in[p]) >> shift) & 0xffff); };
        for (size_t i = 0; i < n; i++) start[digit((unsigned)i)]++;
        size_t at = 0;
        for (size_t& c : start) {
            const size_t count = c;
            c = at;
            at += count;
        }
        for (unsigned p : order) other[start[digit(p)]++] = p;
        order.swap(other);
    }
    return order;
}

}  // namespace

void area_opening(const int* in, int w, int h, long long limit, int* out)
{
    const size_t n = (size_t)w * h;
    if (limit < 1) {
        if (out != in) std::copy(in, in + n, out);
        return;
    }
    // Brightest first; a component stays while it is no larger than the limit, and is then
    // flattened into the level at which it joins a larger one.
    const std::vector<unsigned> order = brightest_first(in, n);
    std::vector<unsigned> parent(n);
    std::vector<long long> area(n, 0);
    std::vector<char> done(n, 0);
    auto find = [&](unsigned p) {
        unsigned root = p;
        while (parent[root] != root) root = parent[root];
        while (parent[p] != root) {
            const unsigned next = parent[p];
            parent[p] = root;
            p = next;
        }
        return root;
    };
    const long long big = limit + 1;  // an area that can no longer be removed
    for (unsigned p : order) {
        parent[p] = p;
        area[p] = 1;
        done[p] = 1;
        const int x = (int)(p % w), y = (int)(p / w);
        const unsigned neighbours[4] = {p - 1, p + 1, p - (unsigned)w, p + (unsigned)w};
        const bool valid[4] = {x > 0, x < w - 1, y > 0, y < h - 1};
        for (int k = 0; k < 4; k++) {
            if (!valid[k] || !done[neighbours[k]]) continue;
            const unsigned r = find(neighbours[k]);
            if (r == p) continue;
            if (in[r] == in[p] || area[r] < big) {
                area[p] = std::min(area[p] + area[r], big);
                parent[r] = p;
            } else {
                area[p] = big;
            }
        }
    }
    // Roots keep their value; every other pixel takes its parent's result. A parent comes
    // later in the order, so walking it backwards resolves every chain.
    for (size_t i = n; i-- > 0;) {
        const unsigned p = order[i];
        out[p] = parent[p] == p ? in[p] : out[parent[p]];
    }
}

void grain_filter_2d(int* in, int w, int h, int r, double c, int* out)
{
    if (!in || !out || w < 1 || h < 1) return;
    const size_t n = (size_t)w * h;
    if (r < 1) {
        if (in != out) std::copy(in, in + n, out);
        return;
    }
    c = std::clamp(c, 0.0, 1.0);
    const long long A = (long long)(2 * r - 1) * (2 * r - 1);
    const long long upper = (long long)((1 - c) * A + 0.5), lower = (long long)(c * A + 0.5);
    std::vector<int> opened(n);
    area_opening(in, w, h, upper, opened.data());
    // The closing is the opening of the negated plane.
    for (int& v : opened) v = -v;
    area_opening(opened.data(), w, h, lower, out);
    for (size_t i = 0; i < n; i++) out[i] = -out[i];
}

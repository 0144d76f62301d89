// Area openings and closings: a flood that builds the component tree, and union-find over
// the pixels sorted by value for planes too large for the flood's tables.
#include "processing/grain_filter.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

#include "processing/row_bands.h"

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

// The component tree by flooding (a pixel heap and a stack of open components):
//
// The levels are renumbered as keys 0, 1, ... in the order they are filtered (brightest
// first for an opening, darkest first for a closing), so both are the same flood. Starting
// from one pixel, the flood always goes on from the lowest key it can reach: a neighbour of
// a lower key than the current one opens a new component on the stack (the current pixel
// waits in the heap), neighbours at or above it wait in the heap. When the lowest waiting
// key rises past the top component's, that component is finished: it either grows into a
// component of the new key (a new tree node) or merges into the component below it on the
// stack. Each finished node knows its area, its key and its parent, which is all the area
// filter needs: a node more than `limit` pixels keeps its level, a smaller one takes its
// parent's result, and the root (the whole plane) keeps its level (the lowest), which is
// what the union-find form gives too (both compute, for every pixel, the highest level at
// or below its own whose component holds more than `limit` pixels, so the results agree to
// the last bit). Unlike a pass in order of value, the flood mostly moves between
// neighbouring pixels. The heap is one stack per key (a pixel waits at most once at a
// time, so a key's stack needs room for its pixel count) with a three-tier bit set to find
// the next non-empty key.

class key_set {
public:
    explicit key_set(size_t keys)
    {
        for (auto& tier : tiers) {
            tier.assign((keys + 63) / 64, 0);
            keys = tier.size();
        }
    }
    // Adds k when `on` (without a branch: setting a bit already set changes nothing).
    void insert(size_t k, bool on = true)
    {
        const uint64_t bit = on;
        tiers[0][k >> 6] |= bit << (k & 63);
        tiers[1][k >> 12] |= bit << ((k >> 6) & 63);
        tiers[2][k >> 18] |= bit << ((k >> 12) & 63);
    }
    void erase(size_t k)
    {
        for (auto& tier : tiers) {
            uint64_t& word = tier[k >> 6];
            word &= ~(1ull << (k & 63));
            if (word != 0) return;
            k >>= 6;
        }
    }
    // The first key >= k in the set, or SIZE_MAX.
    size_t next(size_t k) const { return next_in(0, k); }

private:
    size_t next_in(int t, size_t k) const
    {
        const std::vector<uint64_t>& tier = tiers[t];
        size_t w = k >> 6;
        if (w >= tier.size()) return SIZE_MAX;
        const uint64_t here = tier[w] & (~0ull << (k & 63));
        if (here) return (w << 6) + (size_t)__builtin_ctzll(here);
        if (t == 2) {
            while (++w < tier.size())
                if (tier[w]) return (w << 6) + (size_t)__builtin_ctzll(tier[w]);
            return SIZE_MAX;
        }
        const size_t u = next_in(t + 1, w + 1);
        return u == SIZE_MAX ? u : (u << 6) + (size_t)__builtin_ctzll(tier[u]);
    }
    std::vector<uint64_t> tiers[3];
};

// The pixel that waits next in the heap, at key k or the nearest key above it: into cur,
// with its key into k; false when none waits.
inline bool next_waiting(const std::vector<unsigned>& waiting, const std::vector<unsigned>& bottom,
                         std::vector<unsigned>& fill, key_set& nonempty, unsigned& k, unsigned& cur)
{
    if (fill[k] == bottom[k]) {
        const size_t next = nonempty.next((size_t)k + 1);
        if (next == SIZE_MAX) return false;
        k = (unsigned)next;
    }
    cur = waiting[--fill[k]];
    if (fill[k] == bottom[k]) nonempty.erase(k);
    return true;
}


// Keys and padded planes must fit these.
constexpr unsigned long long most_levels = 1ull << 22;
constexpr size_t most_pixels = (size_t)1 << 30;
constexpr unsigned no_node = ~0u;

// A node of the component tree: its key, its area in pixels and its parent (no_node at the
// root). A parent's key is always above its children's.
struct node_t {
    unsigned key, area, parent;
};

// Floods rows [y0, y1) of the plane on their own (as if the plane ended there): appends the
// band's nodes to `nodes` from index `used` on (at most one per pixel) and writes each
// pixel's node to node_of.
// The flood's working arrays, kept from band to band.
struct flood_space {
    std::vector<unsigned> plane, count, waiting, bottom, fill;
};

void flood_band(const int* in, int w, int y0, int y1, const unsigned* key_of, int lo, unsigned keys,
                node_t* nodes, unsigned& used, unsigned* node_of, flood_space& space, yield_clock* clock)
{
    const int h = y1 - y0;
    const size_t n = (size_t)w * h, pw = (size_t)w + 2;

    // The padded key plane; the top bit marks a pixel the flood has reached (the frame is
    // marked from the start, so neighbours need no bounds checks). A pixel's entry is
    // replaced by its tree node once it is finished.
    constexpr unsigned seen = 1u << 31;
    std::vector<unsigned>&plane = space.plane, &count = space.count;
    plane.assign(pw * ((size_t)h + 2), seen);
    count.assign(keys, 0);
    for (int y = 0; y < h; y++) {
        const int* row = in + (size_t)(y0 + y) * w;
        unsigned* dst = plane.data() + (size_t)(y + 1) * pw + 1;
        for (int x = 0; x < w; x++) {
            const unsigned k = key_of[(size_t)(row[x] - lo)];
            dst[x] = k;
            count[k]++;
        }
    }

    // The heap: one stack per key in a shared array, and one more (key `keys`, never
    // filled) that takes the writes of neighbours that do not wait.
    std::vector<unsigned>&waiting = space.waiting, &bottom = space.bottom, &fill = space.fill;
    waiting.resize(n + 1);
    bottom.resize(keys + 1);
    fill.resize(keys + 1);
    for (unsigned k = 0, at = 0; k <= keys; k++) {
        bottom[k] = fill[k] = at;
        at += k < keys ? count[k] : 0;
    }
    key_set nonempty((size_t)keys + 1);
    auto wait = [&](unsigned p, unsigned k) {
        nonempty.insert(k);
        waiting[fill[k]++] = p;
    };

    // The open components, lowest key on top; the first is above every key and never ends.
    struct open_t {
        unsigned key, area, node;
    };
    std::vector<open_t> open;
    open.reserve((size_t)keys + 2);
    open.push_back({keys, 0, no_node});
    auto new_node = [&](unsigned k) {
        nodes[used] = {k, 0, no_node};
        return used++;
    };
    auto finish = [&](const open_t& c, unsigned parent) {
        nodes[c.node].area = c.area;
        nodes[c.node].parent = parent;
    };

    const ptrdiff_t step[4] = {-1, 1, -(ptrdiff_t)pw, (ptrdiff_t)pw};
    unsigned cur = (unsigned)pw + 1, level = plane[cur];
    plane[cur] |= seen;
    open.push_back({level, 0, new_node(level)});
    for (size_t done = 1;; done++) {
        // Neighbours not reached yet at or above the level start waiting; the first below
        // it is where the flood goes deeper, the current pixel waiting meanwhile (the
        // neighbours after it are looked at when it comes back).
        bool deeper = false;
        for (ptrdiff_t s : step) {
            const unsigned q = (unsigned)(cur + s), kq = plane[q];
            if (kq & seen) continue;
            plane[q] = kq | seen;
            if (kq >= level) {
                wait(q, kq);
                continue;
            }
            wait(cur, level);
            cur = q;
            level = kq;
            open.push_back({level, 0, new_node(level)});
            deeper = true;
            break;
        }
        if (deeper) continue;
        open.back().area++;
        plane[cur] = seen | open.back().node;
        if ((done & 0xffff) == 0 && clock) clock->maybe_yield();

        unsigned k = level;
        if (!next_waiting(waiting, bottom, fill, nonempty, k, cur)) break;
        // Finish the open components below key k.
        while (k > level) {
            open_t& top = open.back();
            open_t& below = open[open.size() - 2];
            if (k < below.key) {
                const unsigned grown = new_node(k);
                finish(top, grown);
                top.node = grown;
                top.key = k;
                break;
            }
            finish(top, below.node);
            below.area += top.area;
            open.pop_back();
            level = open.back().key;
        }
        level = k;
    }
    while (open.size() > 2) {
        const open_t top = open.back();
        open.pop_back();
        finish(top, open.back().node);
        open.back().area += top.area;
    }
    finish(open.back(), no_node);

    for (int y = 0; y < h; y++) {
        const unsigned* src = plane.data() + (size_t)(y + 1) * pw + 1;
        unsigned* dst = node_of + (size_t)(y0 + y) * w;
        for (int x = 0; x < w; x++) dst[x] = src[x] & ~seen;
    }
}

// The trees of two bands joined where pixel a of one meets pixel b of the other: the two
// chains of ancestors are merged in order of key, nodes of equal key become one (`same`
// points the absorbed one to the kept one), and every node on either chain grows by the
// area of the other chain's node just at or below its key, up to the first node the chains
// already share (above it the areas already count both).
class tree_joiner {
public:
    tree_joiner(node_t* nodes, size_t count) : nodes(nodes), same(count)
    {
        std::iota(same.begin(), same.end(), 0u);
    }
    unsigned find(unsigned i)
    {
        unsigned root = i;
        while (same[root] != root) root = same[root];
        while (same[i] != root) {
            const unsigned next = same[i];
            same[i] = root;
            i = next;
        }
        return root;
    }
    void join(unsigned x, unsigned y)
    {
        x = find(x);
        y = find(y);
        unsigned before = no_node, area_x = 0, area_y = 0;  // the chains' last areas passed
        auto key = [&](unsigned i) { return i == no_node ? ~0u : nodes[i].key; };
        auto up = [&](unsigned i) { return nodes[i].parent == no_node ? no_node : find(nodes[i].parent); };
        while (x != y) {
            if (key(x) > key(y)) {
                std::swap(x, y);
                std::swap(area_x, area_y);
            }
            const unsigned own = nodes[x].area, next = up(x);
            if (before != no_node) nodes[before].parent = x;
            before = x;
            if (key(x) == key(y)) {
                const unsigned other = nodes[y].area, next_y = up(y);
                nodes[x].area = own + other;
                same[y] = x;
                area_y = other;
                y = next_y;
            } else {
                nodes[x].area = own + area_y;
            }
            area_x = own;
            x = next;
        }
        if (before != no_node) nodes[before].parent = x;
    }

private:
    node_t* nodes;
    std::vector<unsigned> same;
};

// Keys: the ranks of the values present, in filtering order (brightest or darkest first):
// key_of[value - lo] for every value of the plane, and value_of[key] back.
std::pair<std::vector<unsigned>, std::vector<int>> level_keys(const int* in, size_t n, int lo,
                                                              unsigned long long range, bool brightest_first)
{
    std::vector<unsigned> key_of((size_t)range + 1, 0);
    for (size_t i = 0; i < n; i++) key_of[(size_t)(in[i] - lo)] = 1;
    std::vector<int> value_of;
    for (size_t j = 0; j <= range; j++) {
        const size_t d = brightest_first ? (size_t)range - j : j;
        if (key_of[d]) {
            key_of[d] = (unsigned)value_of.size();
            value_of.push_back(lo + (int)d);
        }
    }
    return {std::move(key_of), std::move(value_of)};
}

// The area opening (brightest first) or closing (darkest first) by flooding; false, with
// nothing written, when the plane's range or size is beyond the tables.
bool area_filter_by_flooding(const int* in, int w, int h, long long limit, bool brightest_first, int* out)
{
    const size_t n = (size_t)w * h;
    const auto [lo_at, hi_at] = std::minmax_element(in, in + n);
    const int lo = *lo_at;
    const unsigned long long range = (unsigned long long)((long long)*hi_at - lo);
    if (range >= most_levels || ((size_t)w + 2) * ((size_t)h + 2) >= most_pixels) return false;

    auto [key_of, value_of] = level_keys(in, n, lo, range, brightest_first);
    const unsigned keys = (unsigned)value_of.size();

    // The flood jumps along the whole boundary of what it has reached, which on a large
    // noisy plane leaves the cache at every step; so the plane is flooded in bands of rows
    // small enough for the cache (the two halves on two cores), each band on its own, and
    // the trees are then joined across every seam, pixel pair by pixel pair.
    const int rows = std::max(16, (int)std::min<size_t>(1u << 17, (1u << 17) / (size_t)w));
    // Node ids: a band's nodes have at most one per pixel, so each half numbers its nodes
    // from the index of its first pixel (the array is not touched beyond the nodes made).
    std::unique_ptr<node_t[]> nodes(new node_t[n]);
    std::unique_ptr<unsigned[]> node_of(new unsigned[n]);  // every pixel is written
    unsigned first[2] = {0, 0}, used[2] = {0, 0};
    std::vector<int> half_seams[2];
    over_row_bands(h, (long long)n * 8, [&](int y0, int y1, yield_clock* clock) {
        const int half = y0 == 0 ? 0 : 1;
        first[half] = used[half] = (unsigned)((size_t)y0 * w);
        flood_space space;
        for (int y = y0; y < y1; y += rows) {
            if (y > 0) half_seams[half].push_back(y);
            flood_band(in, w, y, std::min(y + rows, y1), key_of.data(), lo, keys, nodes.get(), used[half],
                       node_of.get(), space, clock);
        }
    });
    tree_joiner joined(nodes.get(), n);
    for (const auto& seams_of_half : half_seams)
        for (int seam : seams_of_half)
            for (int x = 0; x < w; x++)
                joined.join(node_of[(size_t)(seam - 1) * w + x], node_of[(size_t)seam * w + x]);

    // A node more than `limit` pixels keeps its level, a smaller one takes its parent's
    // result, and the root (the whole plane) keeps its level, the lowest: what the
    // union-find form gives. Parents first point past joined nodes; then each chain is
    // walked up to the first node known.
    for (int half = 0; half < 2; half++)
        for (unsigned i = first[half]; i < used[half]; i++)
            if (nodes[i].parent != no_node) nodes[i].parent = joined.find(nodes[i].parent);
    // A node's result replaces its area once known (marked in its key's top bit).
    constexpr unsigned known = 1u << 31;
    auto settle = [&](unsigned i, unsigned value) {
        nodes[i].area = value;
        nodes[i].key |= known;
    };
    std::vector<unsigned> chain;
    for (int half = 0; half < 2; half++)
        for (unsigned i = first[half]; i < used[half]; i++) {
            unsigned j = joined.find(i);
            chain.clear();
            while (!(nodes[j].key & known)) {
                const node_t& d = nodes[j];
                if (d.parent == no_node || d.area > limit) {
                    settle(j, (unsigned)value_of[d.key]);
                    break;
                }
                chain.push_back(j);
                j = d.parent;
            }
            for (unsigned c : chain) settle(c, nodes[j].area);
            if (i != j) settle(i, nodes[j].area);  // a node joined into j
        }
    over_row_bands(h, (long long)n, [&](int y0, int y1, yield_clock*) {
        for (size_t i = (size_t)y0 * w; i < (size_t)y1 * w; i++) out[i] = (int)nodes[node_of[i]].area;
    });
    return true;
}

// Runs body over the rows: split over the cores, or, for a filter that is itself one of two
// running side by side (`alone` is its thread's clock), all on the calling thread.
void over_rows(int h, long long work, yield_clock* alone, const std::function<void(int, int, yield_clock*)>& body)
{
    if (alone)
        body(0, h, alone);
    else
        over_row_bands(h, work, body);
}

// The area filter for a limit small beside the plane, flooded in bands of rows with
// margins, without building the tree:
//
// A pixel's result is the highest level t at or below its own whose component at t holds
// more than `limit` pixels. That component holds a connected set of limit + 1 pixels with
// the pixel among them, and any such set lies within `limit` rows of the pixel; so the
// filter of the rows [y0 - limit, y1 + limit) on their own (as if the plane ended there)
// gives rows [y0, y1) exactly (a band that stops short of the plane's edge has more than
// `limit` pixels, so its root is never the small-plane exception). Each half of the rows,
// with its margin, is such a band, flooded on a core of its own; the bands need no joining.
//
// The flood is the tree's flood above, but the results come out as it goes. A pixel joins
// the top open component; while that component has at most `limit` pixels, the pixel waits
// in a pending list. The moment the component has more, it is the first node above each of
// its pending pixels that keeps its level (their earlier nodes ended no larger), so they
// all take its key; its later pixels keep their own. A finished component hands its pending
// pixels on to the one it grows into or merges with. The pending pixels of the open
// components sit in one array in the stack's order, so handing on is free.

// A flood band's working arrays.
template <class T>
struct margin_space {
    std::vector<T> plane;
    std::vector<unsigned> count, waiting, bottom, fill, pending;
};

// Floods rows [y0, y1) of the plane on their own and writes the filter's result over rows
// [own0, own1) to out. `limit` is below the band's pixel count unless the band is the whole
// plane. T holds a key and the flood's mark in its top bit.
template <class T>
void flood_with_margins(const int* in, int w, int y0, int y1, int own0, int own1, const unsigned* key_of, int lo,
                        unsigned keys, const int* value_of, unsigned limit, int* out, margin_space<T>& space,
                        yield_clock* clock)
{
    constexpr T seen = (T)(T(1) << (8 * sizeof(T) - 1));
    const int h = y1 - y0;
    const size_t n = (size_t)w * h, pw = (size_t)w + 2;

    // The padded key plane, the frame marked as reached from the start; a pixel's entry
    // ends as the key of its result.
    std::vector<T>& plane = space.plane;
    std::vector<unsigned>& count = space.count;
    plane.resize(pw * ((size_t)h + 2));
    std::fill(plane.begin(), plane.begin() + pw, seen);
    std::fill(plane.end() - pw, plane.end(), seen);
    count.assign(keys, 0);
    for (int y = 0; y < h; y++) {
        const int* row = in + (size_t)(y0 + y) * w;
        T* dst = plane.data() + (size_t)(y + 1) * pw + 1;
        dst[-1] = dst[w] = seen;
        for (int x = 0; x < w; x++) {
            const unsigned k = key_of[(size_t)(row[x] - lo)];
            dst[x] = (T)k;
            count[k]++;
        }
    }

    // The heap: one stack per key in a shared array.
    std::vector<unsigned>&waiting = space.waiting, &bottom = space.bottom, &fill = space.fill;
    std::vector<unsigned>& pending = space.pending;
    waiting.resize(n);
    pending.resize(n);
    bottom.resize(keys);
    fill.resize(keys);
    for (unsigned k = 0, at = 0; k < keys; k++) {
        bottom[k] = fill[k] = at;
        at += count[k];
    }
    key_set nonempty(keys);

    // The open components, lowest key on top, each with where its pending pixels start;
    // the first is above every key and never ends. Areas stop counting past the limit.
    struct open_t {
        unsigned key, area, start;
    };
    // Keys fall from each to the next above it, so the stack holds at most keys + 1.
    std::vector<open_t> open((size_t)keys + 2);
    open_t* top = open.data();  // the last in use
    size_t pend = 0;
    auto settle = [&](size_t from, unsigned k) {
        for (size_t i = from; i < pend; i++) plane[pending[i]] = (T)(seen | k);
        pend = from;
    };
    // The top component ends and merges into the one below it.
    auto merge = [&] {
        const unsigned area = top->area;
        open_t& below = *--top;
        below.area += area;
        if (below.area > limit && pend > below.start) settle(below.start, below.key);
    };

    const ptrdiff_t step[4] = {-1, 1, -(ptrdiff_t)pw, (ptrdiff_t)pw};
    unsigned cur = (unsigned)pw + 1, level = plane[cur];
    plane[cur] |= seen;
    *top = {keys, 0, 0};
    *++top = {level, 0, 0};
    for (size_t done = 1;; done++) {
        bool deeper = false;
        for (ptrdiff_t s : step) {
            const unsigned q = (unsigned)(cur + s);
            const unsigned kq = plane[q];
            if (kq & seen) continue;
            plane[q] = (T)(kq | seen);
            if (kq >= level) {
                nonempty.insert(kq);
                waiting[fill[kq]++] = q;
                continue;
            }
            nonempty.insert(level);
            waiting[fill[level]++] = cur;
            cur = q;
            level = kq;
            *++top = {level, 0, (unsigned)pend};
            deeper = true;
            break;
        }
        if (deeper) continue;
        if (top->area <= limit) {
            pending[pend++] = cur;
            if (++top->area > limit) settle(top->start, top->key);
        }
        if ((done & 0xffff) == 0 && clock) clock->maybe_yield();

        unsigned k = level;
        if (!next_waiting(waiting, bottom, fill, nonempty, k, cur)) break;
        while (k > level) {
            if (k < top[-1].key) {
                top->key = k;  // grows into a component of key k
                break;
            }
            merge();
            level = top->key;
        }
        level = k;
    }
    while (top > open.data() + 1) merge();
    settle(top->start, top->key);  // the root keeps its level

    for (int y = own0; y < own1; y++) {
        const T* src = plane.data() + (size_t)(y - y0 + 1) * pw + 1;
        int* dst = out + (size_t)y * w;
        for (int x = 0; x < w; x++) dst[x] = value_of[src[x] & (T)(seen - 1)];
    }
}

// The area filter in bands with margins of `limit` rows; false, with nothing written, when
// the margins would cost more than the tree's joins or the range is beyond the tables.
bool area_filter_with_margins(const int* in, int w, int h, long long limit, bool brightest_first, int* out,
                              yield_clock* alone)
{
    const size_t n = (size_t)w * h;
    // Over the cores, each half of the rows is one band with its margin: that pays while
    // the margins add less than a quarter of the plane (the tree's joins cost about that);
    // beyond, the tree's two halves do better. Alone, the whole plane is one band and needs
    // no margins, whatever the limit.
    if (!alone && 8 * limit >= h) return false;
    const int margin = alone ? 0 : (int)limit;
    const unsigned most = (unsigned)std::min<long long>(limit, (long long)n);  // areas stop at n
    const auto [lo_at, hi_at] = std::minmax_element(in, in + n);
    const int lo = *lo_at;
    const unsigned long long range = (unsigned long long)((long long)*hi_at - lo);
    if (range >= most_levels || ((size_t)w + 2) * ((size_t)h + 2) >= most_pixels) return false;

    auto [key_of, value_of] = level_keys(in, n, lo, range, brightest_first);
    const unsigned keys = (unsigned)value_of.size();
    // A band reads its margins after others have written their rows: an output over the
    // input needs a copy of it.
    std::vector<int> copy;
    if (in == out) {
        copy.assign(in, in + n);
        in = copy.data();
    }

    // One band per half: smaller bands, nearer the caches, flood no faster than their extra
    // margins cost.
    auto body = [&](int y0, int y1, yield_clock* clock) {
        const int from = std::max(0, y0 - margin), to = std::min(h, y1 + margin);
        if (keys < (1u << 15)) {
            margin_space<uint16_t> space;
            flood_with_margins(in, w, from, to, y0, y1, key_of.data(), lo, keys, value_of.data(), most, out, space,
                               clock);
        } else {
            margin_space<unsigned> space;
            flood_with_margins(in, w, from, to, y0, y1, key_of.data(), lo, keys, value_of.data(), most, out, space,
                               clock);
        }
    };
    if (alone)
        body(0, h, alone);
    else
        over_row_bands(h, (long long)n * 8, body);
    return true;
}

// The area filter with a limit of one or two pixels, from the neighbourhood: a pixel's
// result is the highest minimum over the connected sets of limit + 1 pixels holding it.
// For a pair (limit 1) that is min(value, the largest neighbour). A connected triple is the
// pixel with two of its neighbours, or with a neighbour q and one of q's other neighbours;
// so for limit 2 it is min(value, the largest of the second-largest neighbour and, over the
// neighbours q, min(q, the largest of q's neighbours but the pixel)). The closing is the
// same with the order reversed. The plane is padded with two pixels of a value that never
// wins (every pixel of a plane larger than the limit lies in a set inside it).
template <bool Opening>
void area_filter_of_few(const int* in, int w, int h, long long limit, int* out, yield_clock* alone)
{
    const size_t n = (size_t)w * h;
    auto best = [](int a, int b) { return Opening ? std::max(a, b) : std::min(a, b); };
    auto worst = [](int a, int b) { return Opening ? std::min(a, b) : std::max(a, b); };
    if (n <= (size_t)limit) {  // the whole plane is one small root: it keeps its lowest level
        const int root = Opening ? *std::min_element(in, in + n) : *std::max_element(in, in + n);
        std::fill(out, out + n, root);
        return;
    }
    const size_t pw = (size_t)w + 4;
    std::vector<int> padded(pw * ((size_t)h + 4), Opening ? INT_MIN : INT_MAX);
    for (int y = 0; y < h; y++) std::copy(in + (size_t)y * w, in + (size_t)(y + 1) * w, padded.data() + (y + 2) * pw + 2);
    const ptrdiff_t up = -(ptrdiff_t)pw, dn = (ptrdiff_t)pw;
    over_rows(h, (long long)n * 4, alone, [&](int y0, int y1, yield_clock*) {
        for (int y = y0; y < y1; y++) {
            const int* c = padded.data() + (y + 2) * pw + 2;
            int* dst = out + (size_t)y * w;
            if (limit == 1) {
                for (int x = 0; x < w; x++, c++)
                    dst[x] = worst(c[0], best(best(c[-1], c[1]), best(c[up], c[dn])));
                continue;
            }
            for (int x = 0; x < w; x++, c++) {
                const int l = c[-1], r = c[1], u = c[up], d = c[dn];
                const int second = best(worst(best(l, r), best(u, d)), best(worst(l, r), worst(u, d)));
                const int via_l = worst(l, best(c[-2], best(c[up - 1], c[dn - 1])));
                const int via_r = worst(r, best(c[2], best(c[up + 1], c[dn + 1])));
                const int via_u = worst(u, best(c[2 * up], best(c[up - 1], c[up + 1])));
                const int via_d = worst(d, best(c[2 * dn], best(c[dn - 1], c[dn + 1])));
                dst[x] = worst(c[0], best(second, best(best(via_l, via_r), best(via_u, via_d))));
            }
        }
    });
}

// The area opening by union-find over the pixels in order of value, for planes beyond the
// flood's tables.
void area_opening_by_union_find(const int* in, int w, int h, long long limit, int* out)
{
    const size_t n = (size_t)w * h;
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

}  // namespace

namespace {

// The area opening, or the closing (the opening of the negated plane, which the floods do
// directly by taking the levels darkest first).
void area_filter(const int* in, int w, int h, long long limit, bool opening, int* out, yield_clock* alone = nullptr)
{
    const size_t n = (size_t)w * h;
    if (limit < 1) {
        if (out != in) std::copy(in, in + n, out);
        return;
    }
    if (limit <= 2) {
        if (opening) return area_filter_of_few<true>(in, w, h, limit, out, alone);
        return area_filter_of_few<false>(in, w, h, limit, out, alone);
    }
    if (area_filter_with_margins(in, w, h, limit, opening, out, alone)) return;
    if (area_filter_by_flooding(in, w, h, limit, opening, out)) return;
    if (opening) return area_opening_by_union_find(in, w, h, limit, out);
    std::vector<int> negated(n);
    for (size_t i = 0; i < n; i++) negated[i] = -in[i];
    area_opening_by_union_find(negated.data(), w, h, limit, out);
    for (size_t i = 0; i < n; i++) out[i] = -out[i];
}

// The limits of the grain filter's opening and closing.
struct grain_limits {
    long long upper, lower;
    bool operator==(const grain_limits& o) const { return upper == o.upper && lower == o.lower; }
};

grain_limits limits_of(int r, double c)
{
    c = std::clamp(c, 0.0, 1.0);
    const long long A = (long long)(2 * r - 1) * (2 * r - 1);
    return {(long long)((1 - c) * A + 0.5), (long long)(c * A + 0.5)};
}

void grain_one(const int* in, int w, int h, int r, double c, int* out, yield_clock* alone)
{
    const size_t n = (size_t)w * h;
    if (r < 1) {
        if (in != out) std::copy(in, in + n, out);
        return;
    }
    const grain_limits l = limits_of(r, c);
    std::vector<int> opened(n);
    area_filter(in, w, h, l.upper, true, opened.data(), alone);
    area_filter(opened.data(), w, h, l.lower, false, out, alone);
}

}  // namespace

void area_opening(const int* in, int w, int h, long long limit, int* out)
{
    if (w < 1 || h < 1) return;
    area_filter(in, w, h, limit, true, out);
}

void grain_filter_2d(int* in, int w, int h, int r, double c, int* out)
{
    if (!in || !out || w < 1 || h < 1) return;
    grain_one(in, w, h, r, c, out, nullptr);
}

void grain_filter_2d_pair(int w, int h, int r, const int* in_a, double c_a, int* out_a, const int* in_b, double c_b,
                          int* out_b)
{
    if (w < 1 || h < 1) return;
    over_items(2, (long long)w * h * 16, [&](int i0, int i1, yield_clock* clock) {
        const bool both = i0 == 0 && i1 == 2;  // one core: each filter splits its own rows
        for (int i = i0; i < i1; i++)
            grain_one(i ? in_b : in_a, w, h, r, i ? c_b : c_a, i ? out_b : out_a, both ? nullptr : clock);
    });
}

void grain_occo(const int* in, int w, int h, int r, double c, int* O, int* C, int* CO, int* OC)
{
    if (w < 1 || h < 1) return;
    const size_t n = (size_t)w * h;
    if (r >= 1 && limits_of(r, c) == limits_of(r, 1 - c)) {
        // The two grain filters are the same closing of an opening, a filter that gives its
        // own output back (for an opening G and a closing K, both increasing and idempotent,
        // with F = KG: FF <= KKG = F as G lowers, and FF >= KGG = F as KG >= G); so all four
        // outputs are one.
        grain_one(in, w, h, r, c, O, nullptr);
        std::copy(O, O + n, C);
        std::copy(O, O + n, CO);
        std::copy(O, O + n, OC);
        return;
    }
    grain_filter_2d_pair(w, h, r, in, c, O, in, 1 - c, C);
    grain_filter_2d_pair(w, h, r, O, 1 - c, CO, C, c, OC);
}

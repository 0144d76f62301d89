// The display stage: create_display_image and the visible crop.
#include "display/display_image.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#define VOXMIRA_X86 1
#else
#define VOXMIRA_X86 0
#endif

#include "core/memory.h"
#include "core/record.h"
#include "display/display_kernels.h"
#include "display/interpolation.h"
#include "processing/colour.h"

display_crop display_visible_crop()
{
    const double s = std::max(info.subsample, 1), z = info.zoom;
    const int last_row = std::max(info.proc_height - 1, 0);
    const int last_col = std::max(info.proc_width - 1, 0);
    auto clamp_to = [](double v, int last) { return (int)std::clamp(v, 0.0, (double)last); };
    display_crop c;
    c.top = clamp_to(std::floor((info.centre.y - info.window_height * 0.5 / z) / s) - 2, last_row);
    c.bottom = clamp_to(std::ceil((info.centre.y + info.window_height * 0.5 / z) / s) + 2, last_row);
    c.left = clamp_to(std::floor((info.centre.x - info.window_width * 0.5 / z) / s) - 2, last_col);
    c.right = clamp_to(std::ceil((info.centre.x + info.window_width * 0.5 / z) / s) + 2, last_col);
    return c;
}

namespace {

// Every kernel reads at most two samples before and three after its own; the padded
// copy of the crop repeats the edge samples this far so no read leaves it.
const int pad = 3;

// Where a display row or column falls in the crop: sample index (-1 outside), fraction,
// and edge class 0 (outermost), 1 (second) or 2 (inside).
struct axis_position {
    int index;
    double frac;
    int edge;
};

axis_position map_axis(int d, int window_size, double centre, int first, int count)
{
    const double s = std::max(info.subsample, 1);
    // The window's middle pixel (integer half, as window_to_image) shows the centre pixel,
    // so at zoom 1 every window pixel falls on a sample whatever the parities.
    const double v = ((d - window_size / 2) / info.zoom + centre) / s - first;
    const double f = std::floor(v);
    axis_position p{-1, 0.0, 0};
    if (!(f >= 0 && f < count)) return p;
    p.index = (int)f;
    p.frac = v - f;
    const int from_edge = std::min(p.index, count - 1 - p.index);
    p.edge = std::min(from_edge, 2);
    return p;
}

// The kernel used near the crop edge: bilinear in the outermost row or column, Lanczos-2
// for Lanczos-3 in the second.
interp_t edge_kind(interp_t kind, int edge)
{
    if (kind <= INTERP_LINEAR) return kind;
    if (edge == 0) return INTERP_LINEAR;
    if (edge == 1 && kind == INTERP_LANCZOS3) return INTERP_LANCZOS2;
    return kind;
}

// Saturates a 64-bit intermediate into the range the interpolation sums safely.
inline int saturate(long long v)
{
    const long long lim = INT_MAX / 2;
    return (int)std::clamp(v, -lim, lim);
}

// interp_data at (col + fx, row + fy) of a rows x cols view of n values per pixel (rows
// `stride` values apart), channel ch, with every read clamped to the view.
double clamped_level(const int* a, size_t stride, int rows, int cols, int n, int ch, int col,
                     int row, double fx, double fy, interp_t kind)
{
    int local[6 * 6];
    for (int j = 0; j < 6; j++) {
        const int r = std::clamp(row + j - 2, 0, rows - 1);
        for (int i = 0; i < 6; i++) {
            const int c = std::clamp(col + i - 2, 0, cols - 1);
            local[j * 6 + i] = a[(size_t)r * stride + (size_t)c * n + ch];
        }
    }
    double level = 0.0;
    interp_data(local + 2 * 6 + 2, 1, 6, fx, fy, kind, &level);
    return level;
}

struct render_job {
    const int* padded;       // (rows + 2 pad) x (cols + 2 pad) x m values
    int m;                   // values per pixel in `padded`
    bool grey;               // one value per pixel is shown
    size_t prow;             // values per padded row
    interp_t kind;
    bool gradient;
    int taps, back;          // separable kernels: tap count and taps before the sample
    std::vector<axis_position> columns;
    std::vector<double> column_weights;  // 6 per display column
    // Display columns fast_begin .. fast_end - 1 fall inside the crop away from its edges,
    // where the separable fast path applies (grey, kinds 3 to 7, no gradient); their crop
    // column minus `back`, and their weights, tap by tap (tap i of fast column k at
    // i x count + k).
    int fast_begin = 0, fast_end = 0;
    // Display columns inside the crop (one run: the rest is black).
    int inside_begin = 0, inside_end = 0;
    std::vector<int> fast_index;
    std::vector<double> fast_weights;
    int rows, cols, top, left;
    // The display: its size, the crop's centre row in it, and its RGB bytes.
    int window_width = 0, window_height = 0;
    double centre_y = 0;
    unsigned char* display = nullptr;
};

// One display pixel (all its channels) by the general path.
inline void render_pixel(const render_job& job, int c, const axis_position& x,
                         const axis_position& y, const double* wy, const int* row_base,
                         unsigned char* out)
{
    const interp_t kind = edge_kind(job.kind, std::min(x.edge, y.edge));
    const int* p = row_base + (size_t)(x.index + pad) * job.m;
    const int channels = job.grey ? 1 : 3;
    for (int ch = 0; ch < channels; ch++) {
        const int* d = p + ch;
        unsigned char level;
        if (job.gradient && job.grey) {
            vertex2d direction;
            level = interp_grad(d, job.m, (int)job.prow, x.frac, y.frac, kind, &direction);
        } else if (job.taps && kind == job.kind) {
            // Same sum as interp_data, with the weights of this row and column computed
            // once instead of per pixel.
            const int* first = d - job.back * job.m - job.back * (ptrdiff_t)job.prow;
            level = display_level(separable_sum(first, job.m, (int)job.prow,
                                                &job.column_weights[(size_t)c * 6], wy, job.taps));
        } else {
            level = interp_data(d, job.m, (int)job.prow, x.frac, y.frac, kind, nullptr);
        }
        out[ch] = level;
        if (job.grey) out[1] = out[2] = level;
    }
}


// Horizontal sums of padded rows at the fast columns, kept for the few display rows that
// read the same image row. Each entry is the inner sum of separable_sum for one image
// row, so the vertical sum over them gives exactly the value interp_data computes.
class row_sums {
public:
    explicit row_sums(const render_job& job) : job(job), width(job.fast_index.size())
    {
        sums.resize((size_t)job.taps * width);
        keys.assign(job.taps, INT_MIN);
        row_values.resize((size_t)job.cols + 2 * pad);
    }
    // Sums of padded row `row` (crop row index, may reach into the padding).
    const double* get(int row)
    {
        const int slot = (int)(((unsigned)(row + pad)) % (unsigned)job.taps);
        double* s = &sums[(size_t)slot * width];
        if (keys[slot] == row) return s;
        keys[slot] = row;
        const int* base = job.padded + (size_t)(row + pad) * job.prow + pad;
        if (job.taps == 4)
            fill<4>(base, s);
        else
            fill<6>(base, s);
        return s;
    }

private:
    template <int taps>
    void fill(const int* base, double* s)
    {
        horizontal_sums(base, job.cols + pad, job.fast_index.data(), job.fast_weights.data(),
                        width, taps, row_values.data(), s);
    }

    const render_job& job;
    size_t width;
    std::vector<double> sums;
    std::vector<int> keys;
    std::vector<double> row_values;
};

void render_rows(const render_job& job, int r_begin, int r_end)
{
    const int ww = job.window_width;
    const bool fast = job.grey && job.taps && !job.gradient && job.fast_end > job.fast_begin;
    row_sums cache(job);
    std::vector<double> sums(job.fast_index.size());
    const double* rows_needed[6];
    double wy[6];
    for (int r = r_begin; r < r_end; r++) {
        unsigned char* out = job.display + (size_t)r * ww * 3;
        const axis_position y = map_axis(r, job.window_height, job.centre_y, job.top, job.rows);
        if (y.index < 0) {
            std::memset(out, 0, (size_t)ww * 3);
            continue;
        }
        if (job.taps) interp_weights(job.kind, y.frac, wy);
        const int* row_base = job.padded + (size_t)(y.index + pad) * job.prow;
        const bool fast_row = fast && y.edge == 2;
        if (fast_row) {
            for (int j = 0; j < job.taps; j++) rows_needed[j] = cache.get(y.index - job.back + j);
            unsigned char* first = out + (size_t)job.fast_begin * 3;
            if (job.taps == 4)
                vertical_sums(rows_needed, wy, 4, sums.size(), sums.data(), first);
            else
                vertical_sums(rows_needed, wy, 6, sums.size(), sums.data(), first);
        }
        std::memset(out, 0, (size_t)job.inside_begin * 3);
        std::memset(out + (size_t)job.inside_end * 3, 0, (size_t)(ww - job.inside_end) * 3);
        for (int c = job.inside_begin; c < job.inside_end; c++) {
            if (fast_row && c == job.fast_begin) {
                c = job.fast_end - 1;
                continue;
            }
            render_pixel(job, c, job.columns[c], y, wy, row_base, out + (size_t)c * 3);
        }
    }
}

// Splits rows 0 .. rows - 1 of a pass over the machine's cores, body(first, end) for each
// band on a thread of its own (the first on the calling one); each band writes only its own
// rows, so the result does not depend on the split. Passes over fewer than 65536 values
// (`per_row` a row) stay on the calling thread.
template <typename Body>
void split_rows(int rows, size_t per_row, const Body& body)
{
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    if ((size_t)std::max(rows, 0) * per_row < 65536) workers = 1;
    workers = std::min<unsigned>(workers, (unsigned)std::max(rows, 1));
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; t++)
        threads.emplace_back([&body, rows, t, workers] {
            body((int)((long long)rows * t / workers), (int)((long long)rows * (t + 1) / workers));
        });
    body(0, (int)((long long)rows / workers));
    for (std::thread& t : threads) t.join();
}

// Splits the display rows over the machine's cores; each worker writes its own rows.
void render_all(const render_job& job)
{
    split_rows(job.window_height, (size_t)job.window_width, [&job](int r0, int r1) { render_rows(job, r0, r1); });
}

// A work buffer of at least `need` values kept between calls: the display stage runs on
// one thread at a time (it reads and writes the record), and a fresh buffer of a plane's
// size would be mapped and faulted in on every call. One far larger than needed (after
// zooming back in) is given back.
int* kept_buffer(std::vector<int>& buffer, size_t need)
{
    if (buffer.size() > 4 * need) std::vector<int>().swap(buffer);
    buffer.resize(std::max(buffer.size(), need));
    return buffer.data();
}

// Widens [lo, hi] to hold the n values of v.
#if VOXMIRA_X86
__attribute__((target_clones("avx2", "default")))
#endif
void extend_range(const int* v, size_t n, int& lo, int& hi)
{
    int a = lo, b = hi;
    for (size_t i = 0; i < n; i++) {
        a = v[i] < a ? v[i] : a;
        b = v[i] > b ? v[i] : b;
    }
    lo = a;
    hi = b;
}

// The display window: ((v / 16 - centre) x 255 / range + 127) x 16 in integers.
// Crops hold few distinct levels, so a table over their span replaces the division per
// value when the span is modest.
class value_window {
public:
    value_window(const int* view, size_t stride, int rows, size_t row_values, bool identity, bool invert)
        : identity(identity), invert(invert), centre(info.window_centre),
          range(std::max(info.window_range, 1))  // a zero width must not divide
    {
        if (identity || rows < 1 || row_values == 0) return;
        // Division by 16 keeps order, so the extremes of the levels are those of the values.
        // Each band widens its own range; the ranges are joined after.
        int lo_value = INT_MAX, hi_value = INT_MIN;
        std::mutex joining;
        split_rows(rows, row_values, [&](int y0, int y1) {
            int lo_band = INT_MAX, hi_band = INT_MIN;
            for (int y = y0; y < y1; y++) extend_range(view + (size_t)y * stride, row_values, lo_band, hi_band);
            std::lock_guard<std::mutex> lock(joining);
            lo_value = std::min(lo_value, lo_band);
            hi_value = std::max(hi_value, hi_band);
        });
        const int lo_level = lo_value / 16, hi = hi_value / 16;
        const long long span = (long long)hi - lo_level;
        if (span > (long long)rows * (long long)row_values || span > (1 << 22)) return;
        lo = lo_level;
        table.resize((size_t)span + 1);
        for (long long level = lo; level <= hi; level++) table[(size_t)(level - lo)] = direct_level(level);
    }
    void apply(const int* in, size_t count, int* out) const
    {
        if (identity)
            std::copy(in, in + count, out);
        else if (!table.empty())
            for (size_t i = 0; i < count; i++) out[i] = table[(size_t)(in[i] / 16 - lo)];
        else
            for (size_t i = 0; i < count; i++) out[i] = direct_level(in[i] / 16);
    }

private:
    int direct_level(long long level) const
    {
        const long long shown = (level - centre) * 255 / range + 127;
        return saturate((invert ? 255 - shown : shown) * 16);
    }

    bool identity, invert;
    long long centre, range;
    int lo = 0;
    std::vector<int> table;
};

}  // namespace

void resize_display(int w, int h)
{
    w = std::max(w, 1);
    h = std::max(h, 1);
    // The canvas keeps its size and picture when the new one cannot be had.
    unsigned char* fresh = nullptr;
    within_memory("a " + std::to_string(w) + " x " + std::to_string(h) + " display image",
                  [&] { fresh = new unsigned char[(size_t)w * h * 3](); });
    info.window_width = w;
    info.window_height = h;
    release_array(info.display_image);
    info.display_image = fresh;
}

static void build_display_image();

void create_display_image()
{
    within_memory("the display image of a " + std::to_string(info.window_width) + " x " +
                      std::to_string(info.window_height) + " canvas",
                  build_display_image);
}

namespace {

// The image shown over the crop, before windowing: the processed image read in place, or a
// work copy (residual, detail-enhanced, noise map, colour-mapped). `m` values per pixel,
// rows `stride` values apart.
struct shown_image {
    const int* view = nullptr;
    size_t stride = 0;
    int m = 1;
    bool in_place = false;
    bool noise_map = false;
    bool all_channels = true;  // every channel shown, not one tinted
    int* work = nullptr;       // the work copy (kept between calls), when not in place
};

// The image shown: residual, detail-enhanced, noise map or the processed image.
shown_image select_shown_image(const display_crop& crop)
{
    const int rows = crop.rows(), cols = crop.cols();
    const int n = info.colour_processing ? info.channels : 1;
    const int pw = info.proc_width;
    const bool have_sampled = info.sampled_image != nullptr;  // residual and detail need it
    const bool hipass = info.show_hipass && have_sampled;
    const bool detail = !hipass && info.detail >= 1 && have_sampled;
    shown_image shown;
    shown.noise_map = !hipass && !detail && info.show_noise && info.noise_image;
    const int m = shown.m = shown.noise_map ? 1 : n;
    const colour_t colour = (colour_t)info.colour;
    shown.all_channels = info.channel <= 0 || info.channel > m;
    // The processed image itself, neither derived nor colour-mapped, is read in place.
    shown.in_place = !hipass && !detail && !shown.noise_map &&
                     (colour == COLOUR_GREY || (m > 1 && colour == COLOUR_RGB && shown.all_channels));
    shown.view = info.processed_image + ((size_t)crop.top * pw + crop.left) * n;
    shown.stride = (size_t)pw * n;
    if (shown.in_place) return shown;
    static std::vector<int> work_buffer;
    int* const work = shown.work = kept_buffer(work_buffer, (size_t)rows * cols * std::max(m, 3));
    const double gain = info.detail / 10.0 + 1;
    const size_t count = (size_t)cols * m;
    // The bands read the planes through these, not the record.
    const int *const noise = info.noise_image, *const processed = info.processed_image,
                     *const sampled = info.sampled_image;
    const int level = info.level;
    split_rows(rows, count, [&](int y0, int y1) {
        for (int y = y0; y < y1; y++) {
            const size_t src = ((size_t)(crop.top + y) * pw + crop.left);
            int* w = work + (size_t)y * count;
            if (shown.noise_map) {
                const int* q = noise + src;
                for (size_t i = 0; i < count; i++) w[i] = saturate((long long)q[i] * level / 4096);
                continue;
            }
            const int* p = processed + src * n;
            const int* s = sampled + src * n;
            if (hipass)
                for (size_t i = 0; i < count; i++) w[i] = s[i] - p[i];
            else if (detail)
                for (size_t i = 0; i < count; i++) w[i] = p[i] + (int)((s[i] - p[i]) * gain);
            else
                std::copy(p, p + count, w);
        }
    });
    shown.view = work;
    shown.stride = (size_t)cols * m;
    return shown;
}

// The line profile, in source units, before colour mapping and windowing, into
// line_profile when a line is drawn (and neither the metal view nor the gradient shows).
void record_line_profile(const shown_image& shown, const display_crop& crop)
{
    const bool have_line = info.line_start.x != info.line_end.x || info.line_start.y != info.line_end.y;
    if (info.metal_active || info.show_gradient || !have_line || info.profile_length <= 0 || !info.line_profile)
        return;
    const int rows = crop.rows(), cols = crop.cols();
    info.show_projection = 0;
    const int length = info.profile_length;
    const int per_sample = std::min(shown.m, 4);
    const double s = std::max(info.subsample, 1);
    for (int k = 0; k < length; k++) {
        const double t = length > 1 ? (double)k / (length - 1) : 0.0;
        const double px = (info.line_start.x + t * (info.line_end.x - info.line_start.x)) / s - crop.left;
        const double py = (info.line_start.y + t * (info.line_end.y - info.line_start.y)) / s - crop.top;
        double* out = info.line_profile + (size_t)k * per_sample;
        const double col = std::floor(px), row = std::floor(py);
        if (!(col >= 0 && col < cols && row >= 0 && row < rows)) {
            std::fill(out, out + per_sample, 0.0);
            continue;
        }
        for (int ch = 0; ch < per_sample; ch++) {
            double level = clamped_level(shown.view, shown.stride, rows, cols, shown.m, ch, (int)col, (int)row,
                                         px - col, py - row, (interp_t)info.interp);
            if (info.show_threshold && per_sample == 1 && level > info.threshold)
                level = info.window_centre + info.window_range / 2;
            out[ch] = level;
        }
    }
}

// Colour mapping of the work copy into the colour space's display colours. True when the
// conversion also windowed the values (to_rgb does).
bool map_colours(shown_image& shown, int rows, int cols)
{
    const colour_t colour = (colour_t)info.colour;
    if (shown.in_place || shown.noise_map || colour == COLOUR_GREY) return false;
    const size_t pixels = (size_t)rows * cols;
    int* const work = shown.work;
    const int m = shown.m;
    bool windowed = false;
    if (m == 1) {
        double f;
        channel_factor(COLOUR_GREY, &f, colour);
        split_rows(rows, (size_t)cols, [&](int y0, int y1) {
            for (size_t i = (size_t)y0 * cols; i < (size_t)y1 * cols; i++) work[i] = (int)std::floor(work[i] * f + 0.5);
        });
    } else if (shown.all_channels) {
        if (colour != COLOUR_RGB && colour_channels(colour) == m &&
            to_rgb(work, cols, rows, colour, info.window_range, info.window_centre)) {
            shown.m = 3;
            windowed = true;  // to_rgb windows as it converts
        }
    } else {
        const int k = info.channel - 1;
        double f[4];
        channel_factor(colour, f, COLOUR_RGB);
        const double* tint = colour_info[colour].channel_colours[k];
        // Three values per pixel replace m: walk forwards only while 3 <= m.
        auto map_pixel = [&](size_t i) {
            const double v = work[i * m + k] * f[k];
            for (int c = 0; c < 3; c++) work[i * 3 + c] = (int)std::floor(v * tint[c] + 0.5);
        };
        if (m >= 3)
            for (size_t i = 0; i < pixels; i++) map_pixel(i);
        else
            for (size_t i = pixels; i-- > 0;) map_pixel(i);
        shown.m = 3;
    }
    shown.stride = (size_t)cols * shown.m;
    return windowed;
}

// Windowing, written into a copy of the crop padded with its edge samples, from which the
// resampling reads; returns that copy (job.prow values a row). Kept between calls: the
// display stage runs on the GUI thread only, and a fresh buffer of this size would be
// mapped and faulted in on every call.
const int* window_into_padded(const shown_image& shown, const render_job& job, bool windowed)
{
    const int rows = job.rows, cols = job.cols, m = job.m;
    static std::vector<int> padded_buffer;
    int* const padded_data = kept_buffer(padded_buffer, (size_t)(rows + 2 * pad) * job.prow);
    // MONOCHROME1 data show inverted; their values (read-out, profile) stay as stored.
    const bool invert = job.grey && info.invert_grey && !(info.show_noise && info.noise_image);
    const value_window window(shown.view, shown.stride, rows, (size_t)cols * m, windowed, invert);
    split_rows(rows, (size_t)cols * m, [&](int y0, int y1) {
        for (int y = y0; y < y1; y++) {
            const int* src = shown.view + (size_t)y * shown.stride;
            int* dst = padded_data + (size_t)(y + pad) * job.prow;
            window.apply(src, (size_t)cols * m, dst + (size_t)pad * m);
            for (int x = 0; x < pad; x++) {
                std::copy(dst + (size_t)pad * m, dst + (size_t)(pad + 1) * m, dst + (size_t)x * m);
                const int* last = dst + (size_t)(pad + cols - 1) * m;
                std::copy(last, last + m, dst + (size_t)(pad + cols + x) * m);
            }
        }
    });
    for (int y = 0; y < pad; y++) {
        int* first = padded_data + (size_t)pad * job.prow;
        std::copy(first, first + job.prow, padded_data + (size_t)y * job.prow);
        int* last = padded_data + (size_t)(pad + rows - 1) * job.prow;
        std::copy(last, last + job.prow, padded_data + (size_t)(pad + rows + y) * job.prow);
    }
    return padded_data;
}

// The interpolation kind and where every display column falls: its crop column and
// weights, the run of columns inside the crop and the run the separable fast path takes.
void place_columns(render_job& job)
{
    const int ww = info.window_width;
    job.kind = (interp_t)std::clamp(info.interp, 0, INTERP_KINDS - 1);
    job.gradient = info.show_gradient && job.grey;
    double probe[6];
    job.taps = job.gradient ? 0 : interp_weights(job.kind, 0.0, probe);
    job.back = job.taps / 2 - 1;
    job.columns.resize(ww);
    job.column_weights.assign((size_t)ww * 6, 0.0);
    job.fast_begin = job.fast_end = 0;
    job.inside_begin = job.inside_end = 0;
    for (int c = 0; c < ww; c++) {
        const axis_position x = job.columns[c] = map_axis(c, ww, info.centre.x, job.left, job.cols);
        if (x.index >= 0) {
            if (job.inside_end == job.inside_begin) job.inside_begin = c;
            job.inside_end = c + 1;
        }
        if (!job.taps || x.index < 0) continue;
        interp_weights(job.kind, x.frac, &job.column_weights[(size_t)c * 6]);
        // Crop columns grow with display columns, so the inner ones form one run.
        if (x.edge == 2) {
            if (job.fast_end == job.fast_begin) job.fast_begin = c;
            job.fast_end = c + 1;
            job.fast_index.push_back(x.index - job.back);
        }
    }
    const size_t fast_count = job.fast_index.size();
    job.fast_weights.resize(fast_count * std::max(job.taps, 1));
    for (size_t k = 0; k < fast_count; k++)
        for (int i = 0; i < job.taps; i++)
            job.fast_weights[i * fast_count + k] = job.column_weights[(size_t)(job.fast_begin + k) * 6 + i];
}

// Threshold marks over the display image: grey pixels at or above the threshold lose
// their green, colour channels at or above it go to full.
void mark_threshold(bool grey)
{
    unsigned char* d = info.display_image;
    const size_t bytes = (size_t)info.window_width * info.window_height * 3;
    const int t = info.threshold;
    if (grey) {
        for (size_t i = 0; i < bytes; i += 3)
            if (d[i] >= t) d[i + 1] = 0;
    } else {
        for (size_t i = 0; i < bytes; i++)
            if (d[i] >= t) d[i] = 255;
    }
}

}  // namespace

static void build_display_image()
{
    const int ww = info.window_width, wh = info.window_height;
    if (ww < 1 || wh < 1) return;
    const size_t bytes = (size_t)ww * wh * 3;
    if (!info.display_image) info.display_image = new unsigned char[bytes];
    if (!info.processed_image || info.proc_width < 1 || info.proc_height < 1 || !(info.zoom > 0)) {
        std::memset(info.display_image, 0, bytes);
        return;
    }
    const display_crop crop = display_visible_crop();
    shown_image shown = select_shown_image(crop);
    record_line_profile(shown, crop);
    const bool windowed = map_colours(shown, crop.rows(), crop.cols());

    render_job job;
    job.m = shown.m;
    job.grey = shown.m < 3;
    job.rows = crop.rows();
    job.cols = crop.cols();
    job.top = crop.top;
    job.left = crop.left;
    job.prow = (size_t)(job.cols + 2 * pad) * job.m;
    job.window_width = info.window_width;
    job.window_height = info.window_height;
    job.centre_y = info.centre.y;
    job.display = info.display_image;
    job.padded = window_into_padded(shown, job, windowed);
    place_columns(job);
    render_all(job);
    if (info.show_threshold && !shown.noise_map) mark_threshold(job.grey);
}

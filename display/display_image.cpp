// The display stage: create_display_image and the visible crop.
#include "display/display_image.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "app/record.h"
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
    const double v = ((d - window_size * 0.5) / info.zoom + centre) / s - first;
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

// interp_data at (col + fx, row + fy) of an unpadded rows x cols array of n values per
// pixel, channel ch, with every read clamped to the array.
double clamped_level(const std::vector<int>& a, int rows, int cols, int n, int ch, int col,
                     int row, double fx, double fy, interp_t kind)
{
    int local[6 * 6];
    for (int j = 0; j < 6; j++) {
        const int r = std::clamp(row + j - 2, 0, rows - 1);
        for (int i = 0; i < 6; i++) {
            const int c = std::clamp(col + i - 2, 0, cols - 1);
            local[j * 6 + i] = a[((size_t)r * cols + c) * n + ch];
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
    int rows, cols, top, left;
};

void render_rows(const render_job& job, int r_begin, int r_end)
{
    const int ww = info.window_width;
    double wy[6];
    for (int r = r_begin; r < r_end; r++) {
        unsigned char* out = info.display_image + (size_t)r * ww * 3;
        const axis_position y = map_axis(r, info.window_height, info.centre.y, job.top, job.rows);
        if (y.index < 0) {
            std::memset(out, 0, (size_t)ww * 3);
            continue;
        }
        if (job.taps) interp_weights(job.kind, y.frac, wy);
        const int* row_base = job.padded + (size_t)(y.index + pad) * job.prow;
        for (int c = 0; c < ww; c++, out += 3) {
            const axis_position& x = job.columns[c];
            if (x.index < 0) {
                out[0] = out[1] = out[2] = 0;
                continue;
            }
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
                    // Same sum as interp_data, with the weights of this row and column
                    // computed once instead of per pixel.
                    const int* first = d - job.back * job.m - job.back * (ptrdiff_t)job.prow;
                    level = display_level(separable_sum(first, job.m, (int)job.prow,
                                                        &job.column_weights[(size_t)c * 6], wy,
                                                        job.taps));
                } else {
                    level = interp_data(d, job.m, (int)job.prow, x.frac, y.frac, kind, nullptr);
                }
                out[ch] = level;
                if (job.grey) out[1] = out[2] = level;
            }
        }
    }
}

// Splits the display rows over the machine's cores; each worker writes its own rows.
void render_all(const render_job& job)
{
    const int wh = info.window_height;
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    if ((size_t)wh * info.window_width < 65536) workers = 1;
    workers = std::min<unsigned>(workers, (unsigned)std::max(wh, 1));
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; t++)
        threads.emplace_back(render_rows, std::cref(job), (int)((long long)wh * t / workers),
                             (int)((long long)wh * (t + 1) / workers));
    render_rows(job, 0, (int)((long long)wh / workers));
    for (std::thread& t : threads) t.join();
}

}  // namespace

void create_display_image()
{
    const int ww = info.window_width, wh = info.window_height;
    if (ww < 1 || wh < 1) return;
    const size_t bytes = (size_t)ww * wh * 3;
    if (!info.display_image) info.display_image = new unsigned char[bytes];
    if (!info.processed_image || info.proc_width < 1 || info.proc_height < 1 || !(info.zoom > 0)) {
        std::memset(info.display_image, 0, bytes);
        return;
    }

    // 2. The visible crop.
    const display_crop crop = display_visible_crop();
    const int rows = crop.rows(), cols = crop.cols();
    const int n = info.colour_processing ? info.channels : 1;
    const int pw = info.proc_width;

    // 3. The image shown: residual, detail-enhanced, noise map or the processed image.
    const bool have_sampled = info.sampled_image != nullptr;
    const bool hipass = info.show_hipass && have_sampled;
    const bool detail = !hipass && info.detail >= 1 && have_sampled;
    const bool noise_map = !hipass && !detail && info.show_noise && info.noise_image;
    int m = noise_map ? 1 : n;  // values per pixel of the work array
    std::vector<int> work((size_t)rows * cols * std::max(m, 3));
    const double gain = info.detail / 10.0 + 1;
    for (int y = 0; y < rows; y++) {
        const size_t src = ((size_t)(crop.top + y) * pw + crop.left);
        int* w = work.data() + (size_t)y * cols * m;
        const size_t count = (size_t)cols * m;
        if (noise_map) {
            const int* q = info.noise_image + src;
            for (size_t i = 0; i < count; i++) w[i] = saturate((long long)q[i] * info.level / 4096);
            continue;
        }
        const int* p = info.processed_image + src * n;
        const int* s = have_sampled ? info.sampled_image + src * n : nullptr;
        if (hipass)
            for (size_t i = 0; i < count; i++) w[i] = s[i] - p[i];
        else if (detail)
            for (size_t i = 0; i < count; i++) w[i] = p[i] + (int)((s[i] - p[i]) * gain);
        else
            std::copy(p, p + count, w);
    }

    // 4. The line profile, in source units, before colour mapping and windowing.
    const bool have_line = info.line_start.x != info.line_end.x || info.line_start.y != info.line_end.y;
    if (!info.metal_active && !info.show_gradient && have_line && info.profile_length > 0 &&
        info.line_profile) {
        info.show_projection = 0;
        const int length = info.profile_length;
        const int per_sample = std::min(m, 4);
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
                double level = clamped_level(work, rows, cols, m, ch, (int)col, (int)row, px - col,
                                             py - row, (interp_t)info.interp);
                if (info.show_threshold && per_sample == 1 && level > info.threshold)
                    level = info.window_centre + info.window_range / 2;
                out[ch] = level;
            }
        }
    }

    // 5. Colour mapping; 6. windowing.
    const size_t pixels = (size_t)rows * cols;
    const colour_t colour = (colour_t)info.colour;
    bool windowed = false;
    if (!noise_map && colour != COLOUR_GREY) {
        if (m == 1) {
            double f;
            channel_factor(COLOUR_GREY, &f, colour);
            for (size_t i = 0; i < pixels; i++) work[i] = (int)std::floor(work[i] * f + 0.5);
        } else if (info.channel <= 0 || info.channel > m) {
            if (colour != COLOUR_RGB &&
                to_rgb(work.data(), cols, rows, colour, info.window_range, info.window_centre)) {
                m = 3;
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
            m = 3;
        }
    }
    if (!windowed) {
        const long long centre = info.window_centre;
        const long long range = std::max(info.window_range, 1);  // a zero width must not divide
        const size_t count = pixels * m;
        for (size_t i = 0; i < count; i++)
            work[i] = saturate(((work[i] / 16 - centre) * 255 / range + 127) * 16);
    }

    // 7. Resampling from a padded copy of the crop.
    const bool grey = m < 3;
    render_job job;
    job.m = m;
    job.grey = grey;
    job.rows = rows;
    job.cols = cols;
    job.top = crop.top;
    job.left = crop.left;
    job.prow = (size_t)(cols + 2 * pad) * m;
    std::vector<int> padded((size_t)(rows + 2 * pad) * job.prow);
    for (int y = -pad; y < rows + pad; y++) {
        const int* src = work.data() + (size_t)std::clamp(y, 0, rows - 1) * cols * m;
        int* dst = padded.data() + (size_t)(y + pad) * job.prow;
        for (int x = -pad; x < 0; x++) std::copy(src, src + m, dst + (size_t)(x + pad) * m);
        std::copy(src, src + (size_t)cols * m, dst + (size_t)pad * m);
        const int* last = src + (size_t)(cols - 1) * m;
        for (int x = cols; x < cols + pad; x++) std::copy(last, last + m, dst + (size_t)(x + pad) * m);
    }
    job.padded = padded.data();
    job.kind = (interp_t)std::clamp(info.interp, 0, INTERP_KINDS - 1);
    job.gradient = info.show_gradient && grey;
    double probe[6];
    job.taps = job.gradient ? 0 : interp_weights(job.kind, 0.0, probe);
    job.back = job.taps / 2 - 1;
    job.columns.resize(ww);
    job.column_weights.assign((size_t)ww * 6, 0.0);
    for (int c = 0; c < ww; c++) {
        job.columns[c] = map_axis(c, ww, info.centre.x, crop.left, cols);
        if (job.taps && job.columns[c].index >= 0)
            interp_weights(job.kind, job.columns[c].frac, &job.column_weights[(size_t)c * 6]);
    }
    render_all(job);

    // 9. Threshold marks.
    if (info.show_threshold && !noise_map) {
        unsigned char* d = info.display_image;
        const int t = info.threshold;
        if (grey) {
            for (size_t i = 0; i < bytes; i += 3)
                if (d[i] >= t) d[i + 1] = 0;
        } else {
            for (size_t i = 0; i < bytes; i++)
                if (d[i] >= t) d[i] = 255;
        }
    }
}

#include "io/dfe_file.h"

#include <cmath>
#include <memory>
#include <new>
#include <wx/log.h>

#include "core/record.h"
#include "core/checked_size.h"
#include "io/vendor_file.h"
#include "processing/colour.h"

static const int dxa_max_width = 2048;
// Whole-file search needs the file in memory; real DXA files are a few megabytes.
static const int64_t dxa_max_file = (int64_t)256 << 20;

double estimate_row_shift(const int* image, int width, int b)
{
    double best = 1e10, best_shift = 0.0;
    for (int step = 0; step < 40; step++) {
        const double s = step * 0.1;
        const int i = (int)s;
        const double f = s - i;
        const int* a1 = image + (size_t)(b - i - 1) * width;
        const int* a2 = image + (size_t)(b - i - 2) * width;
        const int* c1 = image + (size_t)(b + i) * width;
        const int* c2 = image + (size_t)(b + i + 1) * width;
        double sum = 0;
        int count = 0;
        for (int x = 0; x < width; x++) {
            if (a1[x] <= -48000 || a2[x] <= -48000 || c1[x] <= -48000 || c2[x] <= -48000) continue;
            sum += std::fabs((a1[x] - c1[x]) * (1 - f) + (a2[x] - c2[x]) * f) / 16;
            count++;
        }
        if (count == 0) continue;
        const double mean = sum / count;
        if (mean < best) {
            best = mean;
            best_shift = s;
        }
    }
    return best_shift;
}

void correct_row_shifts(int* image, int width, int height)
{
    if (height < 32 || height % 16 != 0 || width < 1) return;
    const int blocks = height / 16;
    std::vector<double> at(blocks, 0.0);  // shift at boundary 16 k, k = 1 .. blocks-1
    for (int k = 1; k < blocks; k++) at[k] = estimate_row_shift(image, width, 16 * k);
    std::vector<double> shift(height);
    for (int j = 0; j < height; j++) {
        if (j < 16) {
            shift[j] = at[1];
        } else if (j >= 16 * (blocks - 1)) {
            shift[j] = at[blocks - 1];
        } else {
            const int b = (j / 16 + 1) * 16, k = j - (b - 16);
            shift[j] = ((15 - k) * at[b / 16 - 1] + k * at[b / 16]) / 15;
        }
    }
    std::vector<int64_t> sum((size_t)width * height, 0);
    std::vector<int> count(height, 0);
    for (int r0 = 0; r0 < height; r0 += 16)
        for (int j = 0; j < height; j++) {
            const double p = j + shift[j] * (r0 + 7.5 - j) / 7.5;
            const int q = (int)std::floor(p);
            if (q < r0 || q > r0 + 14 || q + 1 >= height) continue;
            const double t = p - q;
            const int* a = image + (size_t)q * width;
            const int* b = a + width;
            int64_t* s = sum.data() + (size_t)j * width;
            for (int x = 0; x < width; x++) s[x] += (int)(a[x] * (1 - t) + b[x] * t);
            count[j]++;
        }
    // Rows no block contributes to keep their samples as read.
    for (int j = 0; j < height; j++) {
        if (!count[j]) continue;
        int* row = image + (size_t)j * width;
        const int64_t* s = sum.data() + (size_t)j * width;
        for (int x = 0; x < width; x++) row[x] = (int)(s[x] / count[j]);
    }
}

bool load_dfe_file(char* path, int index)
{
    vendor_file file(path);
    unsigned char sig[8];
    if (!file.ok() || !file.read_at(0, sig, 8)) return false;
    if (!sig[2] || !sig[6] || sig[0] || sig[1] || sig[3] || sig[4] || sig[5] || sig[7]) return false;
    if (file.size() > dxa_max_file) {
        wxLogWarning("%s: the file is too large for a DXA file.", path);
        return false;
    }
    const int frame = index == -1 ? 0 : index;
    std::vector<unsigned char> all;
    try {
        all.resize((size_t)file.size());
    } catch (const std::bad_alloc&) {
        wxLogWarning("%s: not enough memory to search the file.", path);
        return false;
    }
    if (!file.read_at(0, all.data(), all.size())) return false;
    static const unsigned char marker[8] = {0, 1, 0, 0x0C, 0, 0, 0, 0};
    int count = 0;
    size_t start = 0;
    for (size_t i = 0; i + 8 <= all.size(); i++)
        if (all[i + 1] == 1 && std::memcmp(all.data() + i, marker, 8) == 0) {
            if (count == frame) start = i + 8;
            count++;
        }
    if (frame < 0 || frame >= count) {
        if (index != -1 || count > 0)
            wxLogWarning("%s: there is no image record %i (%i records).", path, frame, count);
        return false;
    }
    if (start + 18 > all.size()) {
        wxLogWarning("%s: image record %i is cut short.", path, frame);
        return false;
    }
    const int w = be16(all.data() + start + 4), h = be16(all.data() + start + 6);
    if (w < 1 || h < 1 || w > dxa_max_width ||
        !image_fits(w, h, 1, 2, (int64_t)start + 18, (int64_t)all.size())) {
        wxLogWarning("%s: image record %i of %i x %i pixels does not fit in the file.", path, frame,
                     w, h);
        return false;
    }
    std::unique_ptr<int[]> raw(new_samples_checked(w, h, 1));
    if (!raw) return false;
    const unsigned char* p = all.data() + start + 18;
    int lo = 100000, hi = -100000;
    for (size_t i = 0; i < (size_t)w * h; i++) {
        const int v = (int16_t)be16(p + 2 * i);
        raw[i] = v * 16;
        if (v > -30000) {
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
    }
    correct_row_shifts(raw.get(), w, h);

    if (index == -1) {
        info.data_colour = COLOUR_GREY;
        info.channels = 1;
        info.frames = count;
        info.pixel_width = 0.1;
        info.pixel_height = 0.10625;
        info.first_frame = 0;
        info.file_type = FILE_DXA;
        info.slice_thickness = 0.01;
    }
    info.width = w;
    info.height = h;
    info.frame = frame;
    for (int k = 0; k < 3; k++) info.position[k] = info.orientation_angles[k] = 0;
    info.slice_location = 0;
    install_raw_frame(raw.release(), lo, hi);
    return true;
}

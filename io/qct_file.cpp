#include "io/qct_file.h"

#include <cmath>
#include <memory>
#include <vector>
#include <wx/log.h>

#include "core/record.h"
#include "core/checked_size.h"
#include "io/vendor_file.h"
#include "processing/colour.h"

// Rows longer than this are not supported by the format's readers.
static const int qct_max_width = 2048;

bool load_qct_file(char* path, int index)
{
    vendor_file file(path);
    unsigned char head[48];
    if (!file.ok() || !file.read_at(0, head, sizeof head)) return false;
    if (le64(head + 32) != 1) return false;
    const int64_t n = le64(head + 40);
    if (n < 1 || n > 2048) return false;
    std::vector<unsigned char> table((size_t)n * 8);
    if (!file.read_at(48, table.data(), table.size())) {
        wxLogWarning("%s: the QCT slice table is cut short.", path);
        return false;
    }
    const int64_t slice = index == -1 ? 1 : index;
    if (slice < 0 || slice >= n) {
        wxLogWarning("%s: there is no slice %lli (slices 1 to %lli).", path, (long long)slice,
                     (long long)(n - 1));
        return false;
    }
    const int64_t at = le64(table.data() + 8 * slice);
    unsigned char rec[208];
    if (!file.read_at(at, rec, sizeof rec)) {
        wxLogWarning("%s: slice %lli lies outside the file.", path, (long long)slice);
        return false;
    }
    const int64_t w = le64(rec + 16), h = le64(rec + 24);
    const float pw = lef32(rec + 48), ph = lef32(rec + 52);
    const double thickness = lef64(rec + 56), z = lef64(rec + 64);
    if (le64(rec) != 1 || w < 0 || h < 0 || !(pw >= 0) || !(ph >= 0)) return false;
    if (w == 0 || h == 0 || w > qct_max_width || !image_fits(w, h, 1, 2, at + 208, file.size())) {
        wxLogWarning("%s: slice %lli of %lli x %lli pixels does not fit in the file.", path,
                     (long long)slice, (long long)w, (long long)h);
        return false;
    }
    std::vector<unsigned char> data((size_t)(w * h * 2));
    if (!file.read_at(at + 208, data.data(), data.size())) return false;
    std::unique_ptr<int[]> raw(new_samples_checked(w, h, 1));
    if (!raw) return false;
    int lo = 100000, hi = -100000;
    for (size_t i = 0; i < (size_t)(w * h); i++) {
        const int v = le16(data.data() + 2 * i) - 1000;
        raw[i] = v * 16;
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }

    if (index == -1) {
        info.data_colour = COLOUR_GREY;
        info.channels = 1;
        // Slice 0 is the table's first entry, which the format never uses for an image.
        info.frames = (int)(n - 1);
        info.first_frame = 1;
        info.file_type = FILE_QCT;
        info.pixel_width = pw;
        info.pixel_height = ph;
        info.slice_thickness = std::isfinite(thickness) ? thickness : 0.0;
    }
    // Each slice carries its own size.
    info.width = (int)w;
    info.height = (int)h;
    info.frame = (int)slice;
    for (double& a : info.orientation_angles) a = 0;
    info.position[0] = info.position[1] = 0;
    info.position[2] = info.slice_location = std::isfinite(z) ? z : 0.0;
    install_raw_frame(raw.release(), lo, hi);
    return true;
}

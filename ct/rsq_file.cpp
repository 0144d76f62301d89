#include "ct/rsq_file.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>
#include <wx/log.h>
#include <wx/string.h>

#include "core/byte_order.h"
#include "core/mapped_file.h"
#include "core/path_buffer.h"
#include "core/record.h"
#include "core/ui.h"
#include "ct/reconstruction.h"
#include "processing/row_bands.h"

namespace {

// The largest parallel sinogram side reconstructed (a plane of 256 MB of ints).
const int max_parallel_size = 8192;

int32_t header_int(const uint8_t* file, size_t offset) { return (int32_t)le32(file + offset); }

wxString text(const std::string& s) { return path_text(s); }

}  // namespace

bool read_rsq_layout(const uint8_t* file, size_t size, rsq_layout& l, std::string& why)
{
    why.clear();
    if (!file || size < 512 || std::memcmp(file, "CTDATA-HEADER_V1", 16) != 0) return false;
    l = rsq_layout();
    l.X = header_int(file, 44);
    l.Y = header_int(file, 48);
    l.Z = header_int(file, 52);
    l.pitch = header_int(file, 72);
    const int32_t full_samples = header_int(file, 92), full_stack = header_int(file, 96);
    const int32_t blocks = header_int(file, 508);
    auto refuse = [&](const std::string& reason) {
        why = reason;
        return false;
    };
    if (l.X < 1 || l.Y < 1 || l.Z < 1 || header_int(file, 56) < 0 || header_int(file, 60) < 0)
        return refuse("its header gives no samples, rows or records");
    if (l.Y < 3) return refuse("its records hold no view besides the dark and bright rows");
    l.b = full_samples / l.X;
    if (l.b < 1 || l.b > 138) return refuse("its header gives a binning factor outside 1 to 138");
    l.F = 138 / l.b;
    l.E = 12 / l.b;
    l.lead = 36 / l.b;
    l.trail = 17 / l.b;
    l.N = 18 / l.b;
    l.S = full_stack / l.b;
    l.W0 = l.X - l.lead - l.trail;
    if (l.W0 < 2 || l.W0 > 8192) return refuse("its rows hold fewer than 2 or more than 8192 used samples");
    l.M = l.S - 2 * l.N;
    if (l.M < 1) return refuse("its stacks hold no record to show");
    if (l.pitch <= 0) return refuse("its header gives no sample pitch");
    if (blocks < 0) return refuse("its header gives a negative data offset");
    l.data_offset = ((uint64_t)blocks + 1) * 512;
    const uint64_t record_bytes = (uint64_t)l.X * l.Y * 2;
    if (l.data_offset > size || (size - l.data_offset) / record_bytes < (uint64_t)l.Z)
        return refuse("it is truncated: it holds " +
                      std::to_string(l.data_offset > size ? 0 : (size - l.data_offset) / record_bytes) +
                      " of its " + std::to_string(l.Z) + " records");
    // Data left over mean the header's sizes are not the data's: rows read with them
    // would be sheared and the references taken from the wrong rows.
    if (size - l.data_offset != record_bytes * l.Z)
        return refuse("its data are " + std::to_string(size - l.data_offset) + " bytes, not the " +
                      std::to_string(record_bytes * l.Z) + " bytes of " + std::to_string(l.Z) +
                      " records of " + std::to_string(l.Y) + " rows of " + std::to_string(l.X) + " samples");
    // Whole stacks show M records each; a partial last stack shows what lies inside its
    // first and last N.
    const int64_t frames = (int64_t)l.M * (l.Z / l.S) + std::max(0, l.Z % l.S - 2 * l.N);
    if (frames < 1) return refuse("it holds no record to show");
    l.Fr = (int)std::min<int64_t>(frames, INT_MAX);
    l.P = 2 * ((l.Y - 2) - 2 * l.E - l.F);
    return true;
}

int rsq_record_of_frame(const rsq_layout& l, int f)
{
    return ((f - 1) / l.M) * l.S + ((f - 1) % l.M) + l.N;
}

int rsq_frames(const rsq_layout& l, int mode) { return mode == 1 ? l.Y : l.Fr; }

int rsq_convert(int I, int Dk, int Br)
{
    const double a = -1000.0 * std::log((double)(I - Dk) / (double)(Br - Dk));
    if (!std::isfinite(a) || a < 0) return 0;
    const double stored = std::trunc(16.0 * a);
    return stored >= INT_MAX ? INT_MAX : (int)stored;
}

namespace {

// The file a loaded cache belongs to.
std::string cache_file;

class rsq_reader {
public:
    rsq_reader(const uint8_t* file, const rsq_layout& l) : file_(file), l_(l) {}

    // Sample x (0 .. W0 - 1) of row `row` of record q (held in 0 .. Z - 1).
    const uint8_t* row(int q, int row) const
    {
        q = std::clamp(q, 0, l_.Z - 1);
        return file_ + l_.data_offset + ((uint64_t)q * l_.Y + row) * l_.X * 2 + (uint64_t)l_.lead * 2;
    }
    static int sample(const uint8_t* row, int x) { return (int16_t)le16(row + 2 * x); }

    // The Y - 2 data rows of record q converted into `out` (W0 x (Y - 2)).
    void convert_record(int q, int* out, int* lo = nullptr, int* hi = nullptr) const
    {
        const uint8_t* dark = row(q, 0);
        const uint8_t* bright = row(q, 1);
        for (int r = 2; r < l_.Y; r++) {
            const uint8_t* data = row(q, r);
            int* o = out + (size_t)(r - 2) * l_.W0;
            for (int x = 0; x < l_.W0; x++) {
                o[x] = rsq_convert(sample(data, x), sample(dark, x), sample(bright, x));
                if (lo) {
                    *lo = std::min(*lo, o[x] / 16);
                    *hi = std::max(*hi, o[x] / 16);
                }
            }
        }
    }

private:
    const uint8_t* file_;
    const rsq_layout& l_;
};

// Moves the cache to centre record p for width W, freeing what falls outside, and fills
// the slots the mode needs. False when memory runs out.
bool fill_cache(const rsq_reader& reader, const rsq_layout& l, const rsq_geometry& g, int p, int k,
                double pixel_width, const std::string& name)
{
    const int W = g.P / k, slots = 2 * l.N + 1;
    double** cache = info.rsq_cache;
    if (info.rsq_cache_record < 0 || info.rsq_cache_width != W || cache_file != name) {
        flush_rsq_cache();
    } else if (info.rsq_cache_record != p) {
        const int d = p - info.rsq_cache_record;
        std::vector<double*> moved(slots, nullptr);
        for (int j = 0; j < slots; j++) {
            const int from = j + d;
            if (from >= 0 && from < slots) {
                moved[j] = cache[from];
                cache[from] = nullptr;
            }
        }
        for (int j = 0; j < slots; j++) {
            release_array(cache[j]);
            cache[j] = moved[j];
        }
    }
    info.rsq_cache_width = W;
    info.rsq_cache_record = p;
    cache_file = name;
    const bool cone = info.xtreme_recon == 1;
    const int64_t window = info.recon_filter;
    std::vector<int> fan((size_t)l.W0 * (l.Y - 2)), parallel((size_t)g.P * g.P);
    for (int j = cone ? 0 : l.N; j <= (cone ? 2 * l.N : l.N); j++) {
        if (cache[j]) continue;
        reader.convert_record(p - l.N + j, fan.data());
        rebin_fan_to_parallel(fan.data(), g, parallel.data());
        const std::vector<int> reduced = k == 1 ? parallel : reduce_sinogram(parallel.data(), g.P, k);
        double* slot = new (std::nothrow) double[(size_t)(W / 2) * W];
        if (!slot) return false;
        // Filtered unweighted: the weight belongs to the centre record and is applied
        // when back-projecting, so a slot serves whichever record is the centre.
        fft_rsq(reduced.data(), W, window, pixel_width, 1.0, slot);
        cache[j] = slot;
        // The CT pages' ramp filter does not outlive a raw-data filtering.
        release_array(info.ramp_filter);
        info.fft_length = 0;
    }
    return true;
}

// The whole back-projection into sampled_image (W x W, filled with -16000 first, then every
// angle): rows split over the cores into a plane of its own, copied to the record between
// the bands. With `show_progress` the window shows the growing slice about twice a second
// (through the UI seam); after half a second a cancellable progress report runs. Sets the
// canvas's projection line and direction of the last angle and shows "Recon in %.3lf
// secs.". False when cancelled.
bool iradon_rsq(const backprojection_input& in, bool show_progress)
{
    using clock = std::chrono::steady_clock;
    const int W = in.W;
    info.profile_length = W;
    release_array(info.line_profile);
    release_array(info.projection_line);
    info.line_profile = new double[4 * (size_t)W]();
    info.projection_line = new double[W]();
    std::vector<int> image((size_t)W * W, -16000);
    auto publish = [&] { std::copy(image.begin(), image.end(), info.sampled_image); };

    const auto started = clock::now();
    auto refreshed = started;
    const int angles = W > 1 ? W / 2 : 0;
    const int chunk = 8;
    bool progress = false, cancelled = false;
    for (int i = 0; i < angles && !cancelled; i += chunk) {
        const int end = std::min(i + chunk, angles);
        over_row_bands(W, (long long)W * W * (end - i), [&](int y0, int y1, yield_clock*) {
            back_project_angles(in, i, end, image.data(), y0, y1);
        });
        if (clock::now() - refreshed >= std::chrono::microseconds(501000)) {
            if (show_progress) {
                publish();
                ui_redraw();
            }
            ui_yield();
            if (!progress) ui_progress_begin("Reconstructing", "Back-projecting", angles, true);
            progress = true;
            cancelled = !ui_progress_update(end, wxString::Format("Back-projecting angle %i of %i", end, angles));
            refreshed = clock::now();
        }
    }
    if (progress) ui_progress_end();
    publish();
    if (cancelled) return false;
    if (angles > 0) {
        // The canvas shows the last direction and its filtered projection.
        const int i = angles - 1;
        const angle_frame a = frame_of_angle(W, i);
        info.line_start = {(float)a.ox, (float)a.oy};
        info.line_end = {(float)(a.ox + W * a.ca), (float)(a.oy - W * a.sa)};
        const double* row = in.slots[in.N] + (size_t)i * W;
        for (int x = 0; x < W; x++) info.projection_line[x] = row[x] * in.weight;
        info.show_projection = 1;
    }
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - started).count();
    ui_status(2, wxString::Format("Recon in %.3lf secs.", ms / 1000.0));
    return true;
}

}  // namespace

bool load_rsq_file(char* name_text, int frame, bool reset_window)
{
    if (!name_text) return false;
    const std::string name(name_text);
    mapped_file file(name);
    if (!file.data()) return false;
    rsq_layout l;
    std::string why;
    if (!read_rsq_layout(file.data(), file.size(), l, why)) {
        if (!why.empty()) wxLogWarning("The micro-CT file %s cannot be read: %s.", text(name), text(why));
        return false;
    }
    const int mode = std::clamp(info.xtreme_load, 0, 4);
    if (frame == -1) frame = 1;
    const int frames = rsq_frames(l, mode);
    if (frame < 1 || frame > frames) {
        wxLogWarning("The micro-CT file %s has no frame %i (frames 1 to %i).", text(name), frame, frames);
        return false;
    }
    if (l.N != info.rsq_neighbours || !info.rsq_cache) resize_rsq_cache(l.N);
    const rsq_reader reader(file.data(), l);
    const double spacing = 0.00104 * l.pitch;
    int lo = 100000, hi = -100000;
    int width, height, k = 1;
    int* plane = nullptr;

    if (mode == 0) {
        width = l.W0;
        height = l.Y - 2;
        plane = new (std::nothrow) int[(size_t)width * height];
        if (plane) reader.convert_record(rsq_record_of_frame(l, frame), plane, &lo, &hi);
    } else if (mode == 1) {
        // Row f - 1 of every shown record; the reference rows (frames 1 and 2) raw.
        width = l.W0;
        height = l.Fr;
        plane = new (std::nothrow) int[(size_t)width * height];
        for (int r = 0; plane && r < l.Fr; r++) {
            const int q = rsq_record_of_frame(l, r + 1);
            const uint8_t* data = reader.row(q, frame - 1);
            const uint8_t* dark = reader.row(q, 0);
            const uint8_t* bright = reader.row(q, 1);
            int* o = plane + (size_t)r * width;
            for (int x = 0; x < width; x++) {
                const int s = rsq_reader::sample(data, x);
                o[x] = frame <= 2 ? 16 * s
                                  : rsq_convert(s, rsq_reader::sample(dark, x), rsq_reader::sample(bright, x));
                lo = std::min(lo, o[x] / 16);
                hi = std::max(hi, o[x] / 16);
            }
        }
    } else {
        k = mode == 2 ? 1 : mode == 3 ? 2 : 4;
        // The parallel sinogram (P x P) may not dwarf the record it comes from.
        const bool backed = (uint64_t)l.P * l.P <= 32ull * l.X * l.Y + (1u << 22);
        if (l.P < 2 || l.P / k < 2 || l.P > max_parallel_size || !backed) {
            wxLogWarning("The micro-CT file %s cannot be reconstructed at this size: its %i views give "
                         "a slice of %i pixels. Choose \"Sinogram\" or \"X-ray projection\".",
                         text(name), l.Y - 2, std::max(l.P, 0) / k);
            return false;
        }
        const rsq_geometry g = make_rsq_geometry(l.Y - 2, l.W0, l.F, l.E);
        width = height = l.P / k;
        const int p = rsq_record_of_frame(l, frame);
        if (!fill_cache(reader, l, g, p, k, k * spacing, name)) {
            flush_rsq_cache();
            wxLogWarning("Not enough memory to reconstruct %s.", text(name));
            return false;
        }
        const double z = (p % l.S) - ((l.S - 1) / 2);
        backprojection_input in;
        in.W = width;
        in.N = l.N;
        in.slots = info.rsq_cache;
        in.weight = (g.D / std::sqrt(g.D * g.D + z * z)) / 0.23;
        release_array(info.aux_image);
        std::vector<uint8_t> table;
        if (info.xtreme_recon == 1) {
            info.aux_image = new int[(size_t)width * width];
            build_cone_table(info.aux_image, width, k, g.D, z, l.N);
            table.assign(info.aux_image, info.aux_image + (size_t)width * width);
            in.table = table.data();
        }
        release_array(info.sampled_image);
        info.sampled_image = new int[(size_t)width * width];
        info.proc_width = info.proc_height = width;
        if (!iradon_rsq(in, false)) {
            wxLogWarning("The reconstruction of %s was cancelled.", text(name));
            return false;
        }
        plane = new (std::nothrow) int[(size_t)width * height];
        if (plane) {
            std::copy(info.sampled_image, info.sampled_image + (size_t)width * height, plane);
            for (size_t i = 0; i < (size_t)width * height; i++) {
                lo = std::min(lo, plane[i] / 16);
                hi = std::max(hi, plane[i] / 16);
            }
        }
    }
    if (!plane) {
        wxLogWarning("Not enough memory for the image of %s.", text(name));
        return false;
    }

    release_array(info.raw_image);
    release_array(info.ref_image);
    info.raw_image = plane;
    info.width = width;
    info.height = height;
    info.frames = frames;
    info.frame = frame;
    info.first_frame = 1;
    info.file_type = -7;
    info.data_colour = 0;
    info.channels = 1;
    info.pixel_width = info.pixel_height = mode >= 2 ? k * spacing : spacing;
    info.position[0] = info.position[1] = 0.0;
    info.position[2] = frame * 0.0001 * l.pitch;
    info.orientation_angles[0] = info.orientation_angles[1] = info.orientation_angles[2] = 0.0;
    info.data_min = lo;
    info.data_max = hi;
    info.rsq_loaded = 1;
    // The projection overlay belongs to a reconstruction.
    if (mode < 2) info.show_projection = 0;
    if (reset_window && mode >= 2) {
        info.window_centre = 450;
        info.window_range = 3100;
    }
    return true;
}

bool load_rsq_frame(char* name, int index) { return load_rsq_file(name, index, true); }

#include "io/dicom_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <string>
#include <vector>
#include <wx/log.h>

#include "core/mapped_file.h"
#include "core/path_buffer.h"
#include "core/record.h"
#include "io/dicom_frame.h"
#include "io/dicom_series.h"
#include "io/dicom_walk.h"
#include "processing/colour.h"

namespace {

// Paths are limited to what the program's 1024-byte path buffer has always held.
const size_t path_buffer_size = 1024;

// Whether frame `index` is a frame (from 1) of the open multi-frame file rather than a
// file of a series or a first open.
bool frame_in_file(int index)
{
    return index >= 2 && info.file_type == FILE_DICOM && index >= info.first_frame &&
           (int64_t)index < (int64_t)info.first_frame + info.frames;
}

// The file that holds frame `index` of the open data set (the data set's own path on a
// first open); empty, warned, when the name cannot be one.
std::string frame_file(char* path, int index)
{
    if (!path) return std::string();
    std::string name(path);
    if (name.size() >= path_buffer_size) {
        wxLogWarning("The file name is too long to open (%u bytes; at most %u).",
                     (unsigned)name.size(), (unsigned)(path_buffer_size - 1));
        return std::string();
    }
    return index == -1 ? name : frame_file_name(name, info.file_type, index);
}

// Loads the walked file's frame into the record: its samples converted, the geometry of
// every frame, and on a first open the data set's size, colour, window and frames.
bool install_frame(const dicom_header_walk& w, const frame_fields& discovered)
{
    frame_source src;
    int64_t available = 1;  // frames the pixel data actually hold (first open)
    if (!locate_frame(w, frame_in_file(w.index), src, available)) return false;

    const bool palette = w.h.palette && w.h.samples == 1;
    const int channels = w.h.samples == 3 || palette ? 3 : 1;
    const bool first_open = w.index == -1;
    // Record update: per-frame geometry on every load.
    auto update_geometry = [&]() {
        std::copy(w.h.position, w.h.position + 3, info.position);
        info.pixel_width = w.h.pixel_spacing[0];
        info.pixel_height = w.h.pixel_spacing[1];
        info.slice_thickness = w.h.slice_thickness;
        info.slice_location = w.h.slice_location;
    };
    if (!first_open && (w.h.columns != info.width || w.h.rows != info.height ||
                        channels != info.channels || !info.raw_image)) {
        // A frame of another size or kind in a sequence cannot take the data set's place;
        // the previous image stays.
        wxLogWarning("The DICOM file %s holds a %i x %i image with %i samples per pixel, unlike the "
                     "%i x %i image of this data set: frame %i is not shown.",
                     w.file_text(), w.h.columns, w.h.rows, w.h.samples, info.width, info.height, w.index);
        return false;
    }
    const size_t count = (size_t)channels * w.h.columns * w.h.rows;
    const size_t stored = palette ? (size_t)w.h.columns * w.h.rows : count;
    // A decoder never stands for more samples than it produced.
    if (!src.uncompressed && decoded_count(src.decoded) < stored) {
        w.warn(wxString::Format("The DICOM file %s cannot be read: its compressed pixel data hold fewer "
                              "samples than its header describes.", w.file_text()));
        return false;
    }
    // Every sample is written below, so the new image is not zeroed first.
    int* samples = first_open ? new (std::nothrow) int[count] : info.raw_image;
    if (first_open && samples) advise_huge_pages(samples, count * sizeof(int));
    if (!samples) {
        wxLogWarning("Not enough memory for the image of %s.", w.file_text());
        return false;
    }
    int lo, hi;
    if (palette) {
        std::vector<int> index(stored);
        if (!convert_samples(src, w.h, w.big_endian, index.data(), stored, lo, hi)) {
            if (first_open) delete[] samples;
            return false;
        }
        if (!apply_palette(w, index.data(), stored, samples, lo, hi)) {
            if (first_open) delete[] samples;
            return false;
        }
    } else if (!convert_samples(src, w.h, w.big_endian, samples, count, lo, hi)) {
        wxLogWarning("The DICOM file %s holds 32-bit values beyond what Voxmira keeps: after the "
                     "rescale every value must lie within -134217728 .. 134217727.", w.file_text());
        if (first_open) delete[] samples;
        return false;
    }
    // Uncompressed colour stored by plane arrives as three planes: interleave them (the
    // decoders already give interleaved pixels).
    if (src.uncompressed && channels == 3 && w.h.planar_configuration == 1 && !w.h.ybr_422) {
        const size_t n = (size_t)w.h.columns * w.h.rows;
        std::vector<int> planes(samples, samples + count);
        for (size_t i = 0; i < n; i++)
            for (int c = 0; c < 3; c++) samples[i * 3 + c] = planes[c * n + i];
    }
    // Luminance and chrominance arrive as RGB: uncompressed, and from every decoder that
    // gives the stored samples back (RLE, lossless JPEG, JPEG-LS, JPEG 2000 without its
    // component transform).
    if (channels == 3 && w.h.ybr && w.h.bits_allocated == 8 && !src.decoded.rgb) {
        ybr_to_rgb(samples, (size_t)w.h.columns * w.h.rows, 8, src.uncompressed && w.h.ybr_422);
        lo = INT_MAX;
        hi = INT_MIN;
        for (size_t i = 0; i < count; i++) {
            lo = std::min(lo, samples[i]);
            hi = std::max(hi, samples[i]);
        }
    }

    update_geometry();
    if (first_open) {
        frame_fields f = discovered;
        if (w.multi_frame) {
            // Frames the file cannot hold are not offered.
            f.frames = (int)std::max<int64_t>(1, std::min<int64_t>(w.h.number_of_frames,
                                                                 available));
            f.first_frame = 1;
            f.file_type = FILE_DICOM;
            f.frame = 0;
        }
        info.file_type = f.file_type;
        info.first_frame = f.first_frame;
        info.frames = f.frames;
        info.frame = f.frame;
        info.width = w.h.columns;
        info.height = w.h.rows;
        info.data_colour = channels == 3 ? COLOUR_RGB : COLOUR_GREY;
        info.channels = channels;
        // MONOCHROME1 keeps its stored values; the display shows them inverted.
        info.invert_grey = channels == 1 && w.h.monochrome1;
        info.window_centre = clamp_to_int(w.h.window_centre);
        // A width below 1 (files carry 0) proposes no window; the caller then derives one.
        info.window_range = w.h.window_width >= 1.0 ? clamp_to_int(w.h.window_width) : 1;
        if (w.h.orientation_set) std::copy(w.h.orientation, w.h.orientation + 6, info.orientation);
        convert_orientation(&info.orientation_angles[0], &info.orientation_angles[1],
                            &info.orientation_angles[2]);
        release_array(info.raw_image);
        info.raw_image = samples;
        release_array(info.ref_image);
    } else if (info.file_type == FILE_DICOM_NUMBERED || info.file_type == FILE_DICOM) {
        info.frame = w.index;
    }
    info.data_min = lo / 16;
    info.data_max = hi / 16;
    // Capability flags for the data-set writers.
    info.dicom_output = 0;
    info.tiff_output = 0;
    if (channels == 1 && info.subsample == 1) {
        if (src.uncompressed && !w.deflated && (w.h.bits_allocated == 8 || w.h.bits_allocated == 16))
            info.dicom_output = 1;
        else if (src.decoded.kind == decoded_kind::words16) info.tiff_output = 1;
    }
    return true;
}

}  // namespace

void convert_orientation(double* a0, double* a1, double* a2)
{
    const double deg = 57.29577951308232;
    const double pi = 3.14159265358979323846;
    const double rx = info.orientation[0], ry = info.orientation[1], rz = info.orientation[2];
    const double cx = info.orientation[3], cy = info.orientation[4], cz = info.orientation[5];
    auto clamped_acos = [](double v) {
        if (v <= -1.0) return 3.14159265358979323846;
        if (v >= 1.0) return 0.0;
        return std::acos(v);
    };
    double b0, b1, b2;
    if (rz < -0.99999999) {
        b1 = pi / 2;
        b0 = 0;
        b2 = clamped_acos(ry * cz - rz * cy);
        if ((std::sin(b2) > 0) != (cx > 0)) b2 = -b2;
    } else if (rz > 0.99999999) {
        b1 = -pi / 2;
        b0 = 0;
        b2 = clamped_acos(cy);
        if ((std::sin(b2) < 0) != (cx > 0)) b2 = -b2;
    } else {
        b1 = std::asin(-rz);
        const double c1 = std::cos(b1);
        b0 = clamped_acos(rx / c1);
        if ((std::sin(b0) * c1 > 0) != (ry > 0)) b0 = -b0;
        b2 = clamped_acos((rx * cy - ry * cx) / c1);
        if ((c1 * std::sin(b2) > 0) != (cz > 0)) b2 = -b2;
    }
    *a0 = b0 * deg;
    *a1 = b1 * deg;
    *a2 = b2 * deg;
}

bool load_dicom_file(char* path, int index)
{
    const std::string name = frame_file(path, index);
    if (name.empty()) return false;
    const frame_fields discovered = index == -1 ? discover_frames(name) : frame_fields();
    return walk_dicom_file(name, index, [&](dicom_header_walk& w) { return install_frame(w, discovered); });
}

bool locate_dicom_frame(char* path, int index, const std::function<bool(const dicom_located_frame&)>& use)
{
    const std::string name = frame_file(path, index);
    if (name.empty()) return false;
    return walk_dicom_file(name, index, [&](dicom_header_walk& w) {
        const dicom_header_t& h = w.h;
        dicom_located_frame f;
        f.file = name;
        f.data = w.data;
        f.size = w.size;
        f.samples = h.samples;
        f.columns = h.columns;
        f.rows = h.rows;
        f.bits_allocated = h.bits_allocated;
        f.encapsulated = w.encapsulated;
        f.pixel_length = w.pixel_length;
        f.layout.media_instance_uid = w.media_instance_uid;
        f.layout.instance_uid = w.instance_uid;
        f.layout.series_uid = w.series_uid;
        f.layout.columns = h.columns;
        f.layout.rows = h.rows;
        f.layout.bits_allocated = h.bits_allocated;
        f.layout.bits_stored = h.bits_stored;
        f.layout.is_signed = h.pixel_representation == 1;
        f.layout.big_endian = w.big_endian;
        f.layout.slope = h.rescale_slope;
        f.layout.intercept = h.rescale_intercept;
        const size_t frame_size = (size_t)h.rows * h.columns * h.samples * (h.bits_allocated / 8);
        f.stored_whole = !w.encapsulated && h.bits_allocated != 1 && w.pixel_length >= frame_size;
        if (f.stored_whole)
            f.frame_fault = uncompressed_frame_offset(w, frame_in_file(index), frame_size, f.layout.pixel_offset);
        return use(f);
    });
}

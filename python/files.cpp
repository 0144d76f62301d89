// Reading and writing through the program's loaders and writers. These use the global
// record, so each call holds the module's record lock (with the GIL released).
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <algorithm>
#include <wx/filename.h>

#include "commands/filter_choice.h"
#include "commands/loader_chain.h"
#include "commands/open_data_set.h"
#include "commands/pipeline.h"
#include "commands/save_sequence.h"
#include "commands/startup.h"
#include "core/path_buffer.h"
#include "core/record.h"
#include "display/display_image.h"
#include "io/save_image.h"
#include "processing/colour.h"
#include "filter_settings.h"

namespace {

const char* file_type_name(int t)
{
    switch (t) {
    case FILE_MICRO_CT: return "micro-ct";
    case FILE_DXA: return "dxa";
    case FILE_IMAGE_PAGES: return "image-pages";
    case FILE_IMAGE: return "image";
    case FILE_QCT: return "qct";
    case FILE_SONIX_TAGGED: return "ultrasound-tagged";
    case FILE_SONIX: return "ultrasound";
    case FILE_DICOM: return "dicom";
    case FILE_DICOM_NUMBERED: return "dicom-numbered";
    case FILE_DICOM_FOLDER: return "dicom-folder";
    default: return "unknown";
    }
}

const char* const colour_names[COLOUR_SPACES] = {"grey", "rgb", "hsv", "ycbcr", "xyz",
                                                 "lab", "lch", "rgba", "raw", "yuvdg"};

}  // namespace

void load_into_record(const std::string& file, int frame, const std::string& loader, bool pair,
                      const log_capture& log)
{
    const char* only = nullptr;
    if (loader != "auto") {
        if (!find_loader(loader))
            throw py::value_error("unknown loader '" + loader + "' (auto, image, dicom, sonix, qct, dfe, rsq)");
        only = find_loader(loader)->name;
    }
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) throw file_missing("cannot open " + file + ": no such file");
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        throw py::value_error("cannot open " + file + ": not a regular file");
    reset_info();
    info.file_name = path_text(file);
    if (!load_startup_file(only)) {
        if (only && !find_loader(only)->load)
            fail("the " + std::string(only) + " loader is not part of this build", log);
        fail("no loader could open " + file, log);
    }
    if (frame >= 0) {
        if (frame < info.first_frame || frame >= info.first_frame + info.frames)
            throw py::value_error("frame must be between " + std::to_string(info.first_frame) + " and " +
                                  std::to_string(info.first_frame + info.frames - 1));
        if (!reload_frame(frame)) fail("could not load frame " + std::to_string(frame) + " of " + file, log);
    }
    derive_first_view(0, 0, false);
    if (pair) pair_reference();
}

void apply_to_record(const filter_settings& s, bool sampling)
{
    if (sampling) {
        if (info.width / s.subsample < 1 || info.height / s.subsample < 1)
            throw py::value_error("sub-sampling by " + std::to_string(s.subsample) + " leaves no pixel of a " +
                                  std::to_string(info.width) + " x " + std::to_string(info.height) + " image");
        info.subsample = s.subsample;
        if (!s.subsample_filter) info.subsample_filter = 0;
        if (s.colour >= 0) {
            if (!colour_allowed(info.data_colour, s.colour))
                throw py::value_error("colour " + std::string(colour_names[s.colour]) +
                                      " is not offered for data of colour layout " +
                                      colour_names[std::clamp(info.data_colour, 0, COLOUR_SPACES - 1)]);
            info.colour = s.colour;
            if (s.colour == COLOUR_GREY) info.channel = 0;
        }
    }
    info.filter = s.filter;
    info.filter_size = s.size;
    info.mask_radius[0] = info.mask_radius[1] = s.size + 0.5;
    if (s.centile >= 0) info.centile = s.centile;
    if (s.level >= 0) info.level = s.level;
    if (!s.use_level) info.use_level = 0;
    if (s.levelling) info.levelling = 1;
    if (s.multires >= 1) {
        info.filter_iterate = 1;
        info.iterations = s.multires;
    }
    info.mask = s.mask;
    info.angle = s.angle;
    info.noise_kind = s.noise;
    info.noise_colour = s.noise != 0 && info.data_colour == COLOUR_RGB;
    apply_filter_choice();
    if (s.anisotropy >= 0) info.centile_alt = s.anisotropy;
}

void whole_view()
{
    resize_display(info.width, info.height);
    info.zoom = 1.0;
    info.centre.x = (short)(info.width / 2);
    info.centre.y = (short)(info.height / 2);
}

namespace {

// What read returns besides the samples, copied while the record is locked.
struct loaded_frame {
    std::vector<int> samples;
    int w = 0, h = 0, n = 1, frames = 1, first_frame = 0, frame = 0, file_type = 0, data_colour = 0;
    int data_min = 0, data_max = 0, centre = 0, range = 1;
    double pixel_width = 0, pixel_height = 0, slice_thickness = 0, frame_spacing = 0, slice_location = 0;
    double position[3] = {}, orientation[6] = {};
    std::string file_name;
};

py::tuple read_file(const std::string& path, int frame, const std::string& loader)
{
    loaded_frame l;
    log_capture log;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(record_mutex());
        load_into_record(path, frame, loader, false, log);
        l.w = info.width;
        l.h = info.height;
        l.n = info.data_colour != COLOUR_GREY ? info.channels : 1;
        l.samples.assign(info.raw_image, info.raw_image + (size_t)l.w * l.h * l.n);
        l.frames = info.frames;
        l.first_frame = info.first_frame;
        l.frame = info.frame;
        l.file_type = info.file_type;
        l.data_colour = std::clamp(info.data_colour, 0, COLOUR_SPACES - 1);
        l.data_min = info.data_min;
        l.data_max = info.data_max;
        l.centre = info.default_centre;
        l.range = info.default_range;
        l.pixel_width = info.pixel_width;
        l.pixel_height = info.pixel_height;
        l.slice_thickness = info.slice_thickness;
        l.frame_spacing = info.frame_spacing;
        l.slice_location = info.slice_location;
        std::copy(info.position, info.position + 3, l.position);
        std::copy(info.orientation, info.orientation + 6, l.orientation);
        l.file_name = std::string(info.file_name.utf8_str());
    }
    warn_captured(log);
    py::dict meta;
    meta["size"] = py::make_tuple(l.w, l.h);
    meta["frames"] = l.frames;
    meta["first_frame"] = l.first_frame;
    meta["frame"] = l.frame;
    meta["spacing"] = py::make_tuple(l.pixel_width, l.pixel_height);
    meta["slice_thickness"] = l.slice_thickness;
    meta["frame_spacing"] = l.frame_spacing;
    meta["slice_location"] = l.slice_location;
    meta["window"] = py::make_tuple(l.centre, l.range);
    meta["position"] = py::make_tuple(l.position[0], l.position[1], l.position[2]);
    const double* o = l.orientation;
    meta["orientation"] = py::make_tuple(o[0], o[1], o[2], o[3], o[4], o[5]);
    meta["file_type"] = file_type_name(l.file_type);
    meta["file_type_code"] = l.file_type;
    meta["colour"] = colour_names[l.data_colour];
    meta["channels"] = l.n;
    meta["data_min"] = l.data_min;
    meta["data_max"] = l.data_max;
    meta["file_name"] = l.file_name;
    return py::make_tuple(array_of(l.samples.data(), l.w, l.h, l.n, true), meta);
}

// Moves the files a run wrote into folder `out` (made when missing); their names stay.
std::vector<std::string> move_into(const std::vector<std::string>& files, const std::string& out)
{
    namespace fs = std::filesystem;
    std::vector<std::string> moved;
    fs::create_directories(out);
    for (const std::string& f : files) {
        const fs::path to = fs::path(out) / fs::path(f).filename();
        std::error_code e;
        fs::rename(f, to, e);
        if (e) {  // another file system: copy, then remove the original
            fs::copy_file(f, to, fs::copy_options::overwrite_existing);
            fs::remove(f);
        }
        moved.push_back(to.string());
    }
    // The run's own folder goes when it is left empty.
    if (!files.empty()) {
        std::error_code e;
        const fs::path folder = fs::path(files.front()).parent_path();
        if (fs::is_empty(folder, e) && !e) fs::remove(folder, e);
    }
    return moved;
}

py::list process_dataset(const std::string& path, py::object out, const py::dict& d)
{
    filter_settings s;
    settings_of(d, s);
    std::vector<std::string> files;
    log_capture log;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(record_mutex());
        load_into_record(path, -1, "auto", true, log);
        apply_to_record(s, false);
        const wxString refusal = data_set_refusal();
        if (!refusal.empty())
            throw py::value_error("cannot write " + path + " as a data set: " + std::string(refusal.utf8_str()));
        whole_view();
        sample_image();
        process_data_set(nullptr);
        const data_set_run& run = current_data_set_run();
        files = run.files;
        if (run.failed) fail("the run stopped: a file could not be written", log);
        if (files.empty()) fail("no file was written", log);
        if (run.skipped)
            fail(std::to_string(run.skipped) + (run.skipped == 1 ? " frame was" : " frames were") + " not written",
                 log);
    }
    warn_captured(log);
    if (!out.is_none()) files = move_into(files, py::str(out).cast<std::string>());
    py::list result;
    for (const std::string& f : files) result.append(f);
    return result;
}

py::list save_processed(const std::string& path, const std::string& out, const py::dict& d)
{
    filter_settings s;
    settings_of(d, s);
    const int index = export_index_for_path(wxString::FromUTF8(out.c_str()));
    if (index < 0)
        throw py::value_error(out + ": the output name must end in .png, .jpg, .jpeg, .tif, .tiff, .bmp, .pnm, .ppm or .bin");
    log_capture log;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(record_mutex());
        load_into_record(path, -1, "auto", true, log);
        apply_to_record(s, true);
        whole_view();
        sample_image();
        process_image();
        if (!info.processed_image) fail("nothing was processed", log);
        if (!save_processed_image(wxString::FromUTF8(out.c_str()), index)) fail("could not write " + out, log);
    }
    warn_captured(log);
    py::list result;
    result.append(out);
    return result;
}

}  // namespace

void register_files(py::module_& m)
{
    m.def("_read", &read_file, py::arg("path"), py::arg("frame"), py::arg("loader"));
    m.def("_process_dataset", &process_dataset, py::arg("path"), py::arg("out"), py::arg("settings"));
    m.def("_save_processed", &save_processed, py::arg("path"), py::arg("out"), py::arg("settings"));
}

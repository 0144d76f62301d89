// The CT pages' commands on one slice: the simulated acquisition and reconstruction ("CT
// Recon", "Reconstruct") and the metal-artefact reduction ("CT Metal", "Apply"). They run
// through the record, so each call holds the module's record lock (with the GIL released).
#include <algorithm>
#include <climits>
#include <cstring>

#include "commands/metal_run.h"
#include "commands/pipeline.h"
#include "commands/startup.h"
#include "core/record.h"
#include "module_support.h"

namespace {

// The pages' sliders: name, record field setter, range (the batch tool's mar and recon
// options).
struct ct_setting {
    const char* name;
    long lo, hi;
    bool metal;  // a CT Metal setting (mar only)
    void (*set)(long v);
};

const ct_setting ct_settings[] = {
    {"noise", 0, 80, false, [](long v) { info.recon_noise = v; }},
    {"angle_scale", 1, 200, false, [](long v) { info.recon_angle = v; }},
    {"relative_scale", 1, 200, false, [](long v) { info.recon_scale = v; }},
    {"filter_parameter", 1, 100, false, [](long v) { info.recon_filter = v; }},
    {"seed", 0, 4294967295L, false, [](long v) { info.recon_seed = (uint64_t)v; }},
    {"metal", 0, 4000, true, [](long v) { info.metal_threshold = (int)v; }},
    {"background", -1000, 2000, true, [](long v) { info.metal_background = (int)v; }},
    {"air", -1000, 1000, true, [](long v) { info.metal_air = (int)v; }},
    {"range", 0, 1000, true, [](long v) { info.metal_range = (int)v; }},
    {"iterations", 1, 10, true, [](long v) { info.metal_iterations = (int)v; }},
    {"convergence", 0, 100, true, [](long v) { info.metal_convergence = v; }},
    {"smooth", 0, 40, true, [](long v) { info.metal_smooth = (int)v; }},
    {"smooth_frames", 0, 40, true, [](long v) { info.metal_smooth_frames = (int)v; }},
};

// The keyword arguments as (setting, value) pairs, checked before anything runs.
std::vector<std::pair<const ct_setting*, long>> ct_values(const py::kwargs& kw, bool metal, int& method)
{
    std::vector<std::pair<const ct_setting*, long>> out;
    for (auto item : kw) {
        const std::string key = py::str(item.first);
        const py::handle v = item.second;
        if (metal && key == "method") {
            if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v)) throw py::type_error("method must be an integer");
            method = v.cast<int>();
            if (method < 0 || method > 6) throw py::value_error("method must be between 0 and 6");
            continue;
        }
        const ct_setting* s = nullptr;
        for (const ct_setting& c : ct_settings)
            if (key == c.name && (metal || !c.metal)) s = &c;
        if (!s) throw py::type_error("unknown parameter '" + key + "'");
        if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v))
            throw py::type_error(key + " must be an integer");
        const long long x = v.cast<long long>();
        if (x < s->lo || x > s->hi)
            throw py::value_error(key + " must be between " + std::to_string(s->lo) + " and " + std::to_string(s->hi));
        out.push_back({s, (long)x});
    }
    return out;
}

// A grey slice (source units, HU for CT) as a loaded one-frame image.
void install_slice(const array_samples& s)
{
    reset_info();
    int* samples = new int[s.samples.size()];
    std::copy(s.samples.begin(), s.samples.end(), samples);
    int lo = INT_MAX, hi = INT_MIN;
    for (int v : s.samples) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    info.width = s.width;
    info.height = s.height;
    info.frames = 1;
    info.first_frame = info.frame = 0;
    info.file_type = FILE_IMAGE;
    info.data_colour = 0;
    info.channels = 1;
    info.window_range = 1;
    install_raw_frame(samples, lo / 16, hi / 16);
    derive_first_view(0, 0, false);
}

// The slice argument: a path (with frame) loaded as the batch tool loads it, or an array.
struct slice_source {
    bool is_path = false;
    std::string path;
    int frame = -1;
    array_samples plane;
};

slice_source source_of(const py::object& slice, const py::object& frame)
{
    slice_source s;
    if (py::isinstance<py::str>(slice) || py::hasattr(slice, "__fspath__")) {
        s.is_path = true;
        s.path = py::str(py::module_::import("os").attr("fspath")(slice));
        s.frame = frame.is_none() ? -1 : frame.cast<int>();
        if (!frame.is_none() && s.frame < 0) throw py::value_error("frame must not be negative");
        return s;
    }
    if (!frame.is_none()) throw py::type_error("frame applies to a path only");
    s.plane = samples_of(py::array::ensure(slice), "slice");
    if (s.plane.channels != 1) throw py::value_error("slice must be a 2-D grey image");
    if (s.plane.width < 2 || s.plane.height < 2) throw py::value_error("slice must be at least 2 x 2 pixels");
    return s;
}

py::array ct_run(const py::object& slice, const py::object& frame, const py::kwargs& kw, bool metal)
{
    int method = 4;
    const auto values = ct_values(kw, metal, method);
    slice_source src = source_of(slice, frame);
    std::vector<int> out;
    int w = 0, h = 0;
    log_capture log;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(record_mutex());
        if (src.is_path)
            load_into_record(src.path, src.frame, "auto", true, log);
        else
            install_slice(src.plane);
        if (metal) set_metal_choice(method);
        for (const auto& [s, v] : values) s->set(v);
        whole_view();
        sample_image();
        wxString why;
        bool ran = true;
        if (metal && method == 0) {
            process_whole_image();
        } else {
            ran = metal ? metal_apply(&why) : reconstruct_slice(&why);
            if (!why.empty()) fail(std::string(metal ? "cannot correct the slice: " : "cannot reconstruct the slice: ") +
                                       std::string(why.utf8_str()), log);
            if (!ran && !metal) fail("cannot reconstruct the slice: nothing to project", log);
        }
        w = info.proc_width;
        h = info.proc_height;
        if (!info.processed_image) fail("nothing was processed", log);
        out.assign(info.processed_image, info.processed_image + (size_t)w * h);
    }
    warn_captured(log);
    return array_of(out.data(), w, h, 1, false);
}

}  // namespace

void register_ct(py::module_& m)
{
    m.def("_reconstruct", [](const py::object& slice, const py::object& frame, const py::kwargs& kw) {
        return ct_run(slice, frame, kw, false);
    }, py::arg("slice"), py::arg("frame") = py::none());
    m.def("_mar", [](const py::object& slice, const py::object& frame, const py::kwargs& kw) {
        return ct_run(slice, frame, kw, true);
    }, py::arg("slice"), py::arg("frame") = py::none());
}

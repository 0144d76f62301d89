#include "batch/batch_load.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>

#include "core/record.h"
#include "commands/startup.h"
#include "commands/loader_chain.h"
#include "commands/open_data_set.h"

void batch_load(const batch_args& args)
{
    const std::string file = args.positional().at(0);
    const char* only = nullptr;
    if (args.has("--loader")) {
        const std::string& name = args.value("--loader");
        if (name != "auto") {
            if (!find_loader(name))
                throw usage_error("unknown loader '" + name +
                                  "' (auto, image, dicom, sonix, qct, dfe, rsq)");
            only = find_loader(name)->name;
        }
    }
    const long frame = args.integer("--frame", -1, 0, 1000000000);
    const long xtreme_load = args.integer("--xtreme-load", 2, 0, 4);
    const long xtreme_recon = args.integer("--xtreme-recon", 0, 0, 1);

    const wxString path = path_text(file);
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) throw run_error("cannot open " + file + ": no such file");
    // A fifo is never read (it would wait for a writer) and a device has no image.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        throw run_error("cannot open " + file + ": not a regular file");

    reset_info();
    info.xtreme_load = (int)xtreme_load;
    info.xtreme_recon = (int)xtreme_recon;
    info.file_name = path;
    if (!load_startup_file(only)) {
        if (only && !find_loader(only)->load)
            throw run_error("the " + std::string(only) + " loader is not part of this build");
        throw run_error("no loader could open " + file);
    }
    if (frame >= 0) {
        if (frame < info.first_frame || frame >= info.first_frame + info.frames)
            throw usage_error("--frame must be between " + std::to_string(info.first_frame) +
                              " and " + std::to_string(info.first_frame + info.frames - 1));
        if (!reload_frame((int)frame))
            throw run_error("could not load frame " + std::to_string(frame) + " of " + file);
    }
    derive_first_view(0, 0, false);
    // Ordinary image files are paired with their reference as the Open command does.
    pair_reference();
}

std::string json_string(const wxString& text)
{
    std::string out = "\"";
    for (unsigned char c : std::string(text.utf8_str())) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += (char)c;
            }
        }
    }
    return out + "\"";
}

static std::string json_number(double v)
{
    if (!std::isfinite(v)) return "null";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

static std::string json_array(const double* v, int n)
{
    std::string out = "[";
    for (int i = 0; i < n; i++) out += (i ? "," : "") + json_number(v[i]);
    return out + "]";
}

std::string record_json()
{
    std::string s = "{";
    auto field = [&s](const char* name, const std::string& value) {
        if (s.size() > 1) s += ",";
        s += "\"";
        s += name;
        s += "\":" + value;
    };
    field("file_name", json_string(info.file_name));
    field("file_type", std::to_string(info.file_type));
    field("width", std::to_string(info.width));
    field("height", std::to_string(info.height));
    field("frames", std::to_string(info.frames));
    field("first_frame", std::to_string(info.first_frame));
    field("frame", std::to_string(info.frame));
    field("data_colour", std::to_string(info.data_colour));
    field("channels", std::to_string(info.channels));
    field("data_min", std::to_string(info.data_min));
    field("data_max", std::to_string(info.data_max));
    field("window_centre", std::to_string(info.window_centre));
    field("window_range", std::to_string(info.window_range));
    field("pixel_width", json_number(info.pixel_width));
    field("pixel_height", json_number(info.pixel_height));
    field("slice_thickness", json_number(info.slice_thickness));
    field("slice_location", json_number(info.slice_location));
    field("position", json_array(info.position, 3));
    field("orientation_angles", json_array(info.orientation_angles, 3));
    field("dicom_output", std::to_string(info.dicom_output));
    field("tiff_output", std::to_string(info.tiff_output));
    if (!info.ref_file_name.empty()) {
        field("ref_file_name", json_string(info.ref_file_name));
        field("ref_range", json_number(info.ref_range));
        field("level", std::to_string(info.level));
        field("use_level", std::to_string(info.use_level));
    }
    return s + "}";
}

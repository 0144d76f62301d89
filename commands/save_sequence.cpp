#include "commands/save_sequence.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/stopwatch.h>

#include "core/record.h"
#include "core/ui.h"
#include "display/display_image.h"
#include "processing/colour.h"
#include "commands/loader_chain.h"
#include "commands/open_data_set.h"
#include "io/dicom_reader.h"
#include "io/image_file.h"
#include "io/save_image.h"
#include "io/tiff_writer.h"
#include "io/frame_writer.h"
#include "commands/pipeline.h"
#include "commands/metal_run.h"

wxString sequence_choice_text(int choice)
{
    const int n = info.subsample;
    if (n <= 1)
        return choice == 0 ? "Save every frame of filtered original image" : "Save every frame as displayed";
    if (!info.subsample_filter)
        return wxString::Format(choice == 0 ? "Save one out of %i frames of filtered down-sampled image"
                                            : "Save one out of %i frames as displayed",
                                n);
    return wxString::Format(choice == 0 ? "Save every %i frame-average of filtered down-sampled image"
                                        : "Save every %i frame-average as displayed",
                            n);
}

// The processed image windowed into 8-bit RGB (and alpha for RGB Alpha data in PNG).
static bool windowed_processed_image(int index, wxImage& image, bool& grey)
{
    const int w = info.proc_width, h = info.proc_height;
    const size_t n = (size_t)w * h;
    image.Create(w, h, false);
    unsigned char* d = image.GetData();
    grey = !info.colour_processing;
    if (grey) {
        double f = 1.0;
        if (info.data_colour != COLOUR_GREY) channel_factor(COLOUR_GREY, &f, (colour_t)info.data_colour);
        for (size_t i = 0; i < n; i++)
            d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = windowed_byte(info.processed_image[i], f);
        return true;
    }
    const int vpp = info.channels;
    const int* v = info.processed_image;
    std::unique_ptr<int[]> copy;
    int stride = vpp;
    if (info.colour != COLOUR_RGB) {
        copy.reset(new int[n * vpp]);
        std::copy(v, v + n * vpp, copy.get());
        if (!to_rgb(copy.get(), w, h, (colour_t)info.colour, 0, 1)) {
            wxLogWarning("This colour space cannot be converted to RGB here.");
            return false;
        }
        v = copy.get();
        stride = 3;
    }
    for (size_t i = 0; i < n; i++)
        for (int k = 0; k < 3; k++) d[3 * i + k] = windowed_byte(v[stride * i + k], 1.0);
    if (info.data_colour == COLOUR_RGBA && vpp == 4 && index == export_png) {
        image.SetAlpha();
        unsigned char* a = image.GetAlpha();
        for (size_t i = 0; i < n; i++) a[i] = windowed_byte(info.processed_image[4 * i + 3], 1.0);
    }
    return true;
}

int save_sequence(const wxString& base, int index, int choice,
                  const std::function<void()>& after_frame, bool* complete)
{
    if (complete) *complete = false;
    if (!info.raw_image || index < export_png || index > export_binary) return 0;
    const int n = info.subsample > 1 ? info.subsample : 1;
    const bool skipping = n > 1 && !info.subsample_filter;
    const bool averaging = n > 1 && info.subsample_filter;
    const bool sixteen = index == export_tiff && (int64_t)info.data_max - info.data_min >= 256 && choice == 0 &&
                         info.colour == COLOUR_GREY;
    const wxFileName chosen(base);
    const int first = info.first_frame, frames = info.frames;
    // A reconstruction shown before the command is redone for every frame.
    const bool reconstruct = info.backproject_pending != 0;

    ui_progress progress("Saving as a sequence of images",
                         wxString::Format("Currently saving %i of %i.", 0, frames), frames, true);
    std::vector<int64_t> sum;
    size_t frame_values = 0;
    int written = 0;
    bool stopped = false;  // by a frame that could not be read or written, not by a cancel
    for (int k = first; k < first + frames; k++) {
        const int position = k - first;
        if (skipping && position % n != 0) continue;
        if (!reload_frame(k)) {
            wxLogWarning("Frame %i could not be read: the sequence stops after %i files.", k, written);
            stopped = true;
            break;
        }
        sample_image();
        if (!info.sampled_image) {
            stopped = true;
            break;
        }
        if (averaging) {
            const size_t values = (size_t)info.proc_width * info.proc_height *
                                  (info.colour_processing ? info.channels : 1);
            if (frame_values == 0) frame_values = values;
            if (values != frame_values) {
                wxLogWarning("Ignoring image since it is not the same size as previous images in this sequence.");
                stopped = true;
                break;
            }
            const int* s = info.sampled_image;
            if (position % n == 0) {
                sum.assign(s, s + values);
                if (n > 1) continue;
            } else if (position % n < n - 1) {
                for (size_t i = 0; i < values; i++) sum[i] += s[i];
                continue;
            } else {
                for (size_t i = 0; i < values; i++)
                    info.sampled_image[i] = (int)std::trunc((double)(s[i] + sum[i]) / n + 0.5);
            }
        }
        // A saved filtered frame is filtered whole; a frame saved as displayed shows the view.
        if (choice == 0)
            process_whole_image();
        else
            process_image();
        if (reconstruct) reconstruct_frame();
        if (after_frame) after_frame();
        if (!progress.update(position + 1,
                             wxString::Format("Currently saving %i of %i.", position + 1, frames)))
            break;

        wxFileName name(chosen);
        name.SetName(chosen.GetName() + wxString::Format("_%04i", written));
        const wxString path = name.GetFullPath();
        bool ok;
        if (sixteen) {
            ok = save_processed_image_as_tiff(name, tiff_form::scaled);
        } else if (choice == 1) {
            ok = save_display_image(path, index);
        } else if (index == export_binary) {
            ok = save_processed_image(path, index);
        } else {
            wxImage image;
            bool grey = false;
            ok = windowed_processed_image(index, image, grey) && save_with_handler(image, path, index, grey);
        }
        if (!ok) {
            stopped = true;
            break;
        }
        written++;
    }
    if (complete) *complete = !stopped;
    return written;
}

wxString data_set_refusal()
{
    const bool image = is_image_type(info.file_type);
    const bool dicom = is_dicom_type(info.file_type);
    if (!info.raw_image) return "no data set is loaded";
    if (!image && !dicom) return "only DICOM and TIFF data sets can be written";
    if (info.subsample != 1) return "sub-sampled data cannot be written as a data set";
    if (info.dicom_output || info.tiff_output) return wxString();
    if (info.channels != 1) return "colour data cannot be written as a DICOM or TIFF data set";
    if (image) return "only 16-bit grey TIFF data sets can be written";
    return "only uncompressed grey DICOM data (written as DICOM) and 16-bit grey lossless JPEG, JPEG-LS or "
           "RLE data (written as 16-bit TIFF) can be written; this data set is neither";
}

namespace {

// ": 12 files in proc/": how many files a run wrote and the folder they went to, named from
// the data set's folder when it lies within it.
wxString files_written_text(const data_set_run& run)
{
    if (run.files.empty()) return wxString();
    wxString where = wxFileName(path_text(run.files.front())).GetPath(wxPATH_GET_SEPARATOR);
    const wxString base = wxFileName(info.file_name).GetPath(wxPATH_GET_SEPARATOR);
    wxString below;
    if (!base.empty() && where.StartsWith(base, &below) && !below.empty()) where = below;
    const size_t n = run.files.size();
    return wxString::Format(": %zu file%s in %s", n, n == 1 ? "" : "s", where);
}

}  // namespace

namespace {

// The run write_data_set made last (or is making).
data_set_run last_run;

}  // namespace

const data_set_run& current_data_set_run() { return last_run; }

// Writes the processed frame `index` of the open data set beside the file it was read
// from: a DICOM frame as its file allows, a frame of an image data set as a 16-bit TIFF.
static bool write_frame_beside_source(data_set_run& run, bool dicom, int index)
{
    const std::string path = native_path(info.file_name);
    if (!dicom)
        return write_processed_frame(run, image_frame_path(path, index), index,
                                     unscaled_tiff_form(info.file_type, info.tiff_offset));
    std::vector<char> buffer = path_buffer(path);
    return locate_dicom_frame(buffer.data(), index,
                              [&](const dicom_located_frame& f) { return write_dicom_source_frame(run, f, index); });
}

int write_data_set(int first, int last, const data_set_pass& pass, const std::function<void()>& after_frame)
{
    if (!(info.dicom_output || info.tiff_output) || info.subsample != 1 || last < first) return 0;
    const loader_entry* reader = loader_for_file_type(info.file_type);
    const bool image = is_image_type(info.file_type);
    const bool dicom = is_dicom_type(info.file_type);
    if (!reader || !(image || dicom)) return 0;
    wxStopWatch watch;
    last_run = data_set_run::begun();
    data_set_run& run = last_run;
    const int count = last - first + 1;
    int written = 0;
    {
        ui_progress progress(pass.title, wxString::Format("Processing frame %i of %i", 0, last), count, true);
        for (int f = first, k = 0; f <= last; f++, k++) {
            if (!progress.update(k, wxString::Format("Processing frame %i of %i", k, last))) break;
            ui_yield();
            // To frame f as the frame slider goes, except that the frame is filtered once,
            // whole, rather than first for the view.
            bool readable = true;
            if (f != info.frame || !info.sampled_image || pass.fresh_frames) {
                readable = reload_frame(f);
                if (readable) sample_image();
                info.metal_active = 0;
                info.metal_iteration = 0;
            }
            if (!readable || !info.sampled_image) {
                wxLogWarning("Frame %i could not be read: it was not written.", f);
                run.note_frame_skipped();
                continue;
            }
            process_whole_image(after_frame != nullptr);
            if (pass.step) pass.step();
            if (after_frame) after_frame();
            ui_yield();
            info.metal_iteration = pass.corrected ? std::max(info.metal_iteration, 0) : -1;
            info.writing_frames = 1;
            if (write_frame_beside_source(run, dicom, info.frame)) written++;
            info.writing_frames = 0;
            info.metal_iteration = 0;
            if (run.failed) break;
        }
    }
    if (!after_frame) create_display_image();
    const long ms = watch.Time();
    const int missed = run.skipped;
    if (run.failed)
        ui_status(2, wxString::Format("Stopped: a file could not be written (%i written)",
                                      (int)run.files.size()));
    else if (written == 0)
        ui_status(2, "Nothing was written");
    else
        ui_status(2, wxString::Format(pass.done + " in %.0lf mins, %.0lf secs", std::floor(ms / 60000.0),
                                      std::fmod(ms / 1000.0, 60.0)) +
                         files_written_text(run) + (missed ? wxString::Format(" (%i frames not written)", missed) : wxString()));
    return written;
}

int process_all_frames(int first, int last, const std::function<void()>& after_frame)
{
    data_set_pass pass;
    pass.title = info.dicom_output ? "Creating DICOM data" : "Creating 16-bit TIFF data";
    return write_data_set(first, last, pass, after_frame);
}

int process_data_set(const std::function<void()>& after_frame)
{
    // Image data sets start at the frame shown, the others at their first frame.
    const int first = (is_image_type(info.file_type)) ? info.frame : info.first_frame;
    return process_all_frames(first, info.first_frame + info.frames - 1, after_frame);
}

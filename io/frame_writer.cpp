// Writing a processed frame beside its source when every frame of a data set is processed.
#include "io/frame_writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <wx/filename.h>
#include <wx/log.h>

#include "core/record.h"
#include "core/path_buffer.h"
#include "io/dicom_writer.h"
#include "io/output_file.h"

static wxString wx_path(const std::string& path) { return path_text(path); }
static std::string local_path(const wxFileName& name) { return native_path(name.GetFullPath()); }

const char* frame_output_folder()
{
    return info.metal_iteration < 0 ? "proc"
           : info.metal_nmar        ? "nmar"
           : info.metal_li          ? "bmar"
           : info.metal_rmar        ? "refined"
                                    : "";
}

std::string frame_output_path(const std::string& source)
{
    const char* sub = frame_output_folder();
    // Without a sub-folder the output would be the file being read.
    if (!*sub) return std::string();
    wxFileName name(wx_path(source));
    name.AppendDir(sub);
    return local_path(name);
}

std::string dicom_output_path(const std::string& source, bool tiff)
{
    const std::string in_folder = frame_output_path(source);
    if (in_folder.empty()) return in_folder;
    wxFileName name(wx_path(in_folder));
    const wxString ext = name.GetExt();
    if (name.HasExt() && ext.find_first_not_of("0123456789") == wxString::npos) {
        // "1.2.840.10008.7": a UID, not a name with an extension.
        name.SetName(name.GetFullName());
        name.ClearExt();
    }
    name.SetName(name.GetName() + (info.metal_iteration < 0 ? "_proc" : "_refined"));
    if (tiff) name.SetExt("tiff");
    return local_path(name);
}

std::string numbered_output_path(const std::string& path, int index)
{
    wxFileName name(wx_path(path));
    name.SetName(name.GetName() + wxString::Format("_%04i", index));
    return local_path(name);
}

tiff_form unscaled_tiff_form(int file_type, int tiff_offset)
{
    // CT values round-trip only with the CT offset: DICOM data and TIFF data sets that
    // were themselves written in CT form.
    const bool image_file = is_image_type(file_type);
    return is_dicom_type(file_type) || (image_file && tiff_offset == -32768)
               ? tiff_form::ct
               : tiff_form::direct;
}

data_set_run data_set_run::begun()
{
    data_set_run run;
    run.stamp = (uint64_t)std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
    return run;
}

void data_set_run::note_file_written(const std::string& path)
{
    if (std::find(files.begin(), files.end(), path) == files.end()) files.push_back(path);
}

void data_set_run::forget_file(const std::string& path)
{
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
    made.erase(path);
}

bool make_output_folder(const std::string& path)
{
    const wxFileName out(wx_path(path));
    if (wxFileName::DirExists(out.GetPath())) return true;
    if (wxFileName::Mkdir(out.GetPath(), 0777, wxPATH_MKDIR_FULL)) return true;
    wxLogWarning("Could not create the folder %s.", out.GetPath());
    return false;
}

bool refuse_overwriting_source(const std::string& target, const std::string& source)
{
    const wxString refusal = output_refusal(target, source);
    if (refusal.empty()) return false;
    wxLogWarning("%s", refusal);
    return true;
}

bool write_frame_tiff(data_set_run& run, const std::string& target, const std::string& source, tiff_form form)
{
    if (refuse_overwriting_source(target, source) || !make_output_folder(target)) {
        run.note_run_failed();
        return false;
    }
    if (!save_processed_image_as_tiff(wxFileName(wx_path(target)), form)) {
        run.forget_file(target);
        run.note_run_failed();
        return false;
    }
    run.note_file_written(target);
    return true;
}

bool write_processed_frame(data_set_run& run, const std::string& source, int index, tiff_form form)
{
    std::string target = frame_output_path(source);
    // Pages of one file would all get the file's name: each page gets its number.
    if (!target.empty() && info.file_type == FILE_IMAGE_PAGES) target = numbered_output_path(target, index);
    if (target.empty()) {
        wxLogWarning("Not writing %s over itself: choose a metal-artefact method or process "
                     "all frames.", source);
        run.note_run_failed();
        return false;
    }
    return write_frame_tiff(run, target, source, form);
}

bool write_dicom_source_frame(data_set_run& run, const dicom_located_frame& f, int index)
{
    const wxString file = wx_path(f.file);
    auto refuse = [&](const wxString& why) {
        wxLogWarning("%s", why);
        run.note_frame_skipped();
        return false;
    };
    if (f.samples != 1)
        return refuse(wxString::Format("%s holds colour data, which cannot be written as a new "
                                       "DICOM data set: it was not written.", file));
    if (info.subsample != 1 || f.columns != info.proc_width || f.rows != info.proc_height)
        return refuse(wxString::Format("%s is %i x %i pixels, not the size of the processed image "
                                       "(%i x %i): it was not written.", file, f.columns,
                                       f.rows, info.proc_width, info.proc_height));
    const bool multi_frame_file = info.file_type == FILE_DICOM && info.frames > 1;
    if (!info.dicom_output && info.tiff_output) {
        std::string target = dicom_output_path(f.file, true);
        if (multi_frame_file && !target.empty()) target = numbered_output_path(target, index);
        if (target.empty()) {
            wxLogWarning("Not writing %s over itself.", file);
            run.note_run_failed();
            return false;
        }
        return write_frame_tiff(run, target, f.file, tiff_form::ct);
    }
    const size_t frame_size = (size_t)f.rows * f.columns * (f.bits_allocated / 8);
    if (f.encapsulated || f.pixel_length < frame_size)
        return refuse(wxString::Format("%s holds compressed pixel data, which cannot be written "
                                       "back as DICOM: it was not written.", file));
    if (!f.stored_whole)
        return refuse(wxString::Format("%s holds 1-bit pixel data, which cannot be written back as "
                                       "DICOM: it was not written.", file));
    const double slope = f.layout.slope;
    if (!std::isfinite(slope) || slope == 0)
        return refuse(wxString::Format("%s gives a rescale slope of %g, so its samples cannot be "
                                       "computed from the processed values: it was not written.",
                                       file, slope));
    if (!f.frame_fault.empty()) return refuse(f.frame_fault);
    return write_dicom_frame(run, f.file, f.data, f.size, f.layout);
}

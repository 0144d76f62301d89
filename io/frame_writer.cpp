// Writing a processed frame beside its source when every frame of a data set is processed.
#include "io/frame_writer.h"

#include <wx/filename.h>
#include <wx/log.h>

#include "core/record.h"

static wxString wx_path(const std::string& path) { return wxString(path.c_str(), wxConvLibc); }

std::string frame_output_path(const std::string& source)
{
    const char* sub = info.metal_iteration < 0 ? "proc"
                      : info.metal_nmar       ? "nmar"
                      : info.metal_li         ? "bmar"
                      : info.metal_rmar       ? "refined"
                                              : "";
    // Without a sub-folder the output would be the file being read.
    if (!*sub) return std::string();
    wxFileName name(wx_path(source));
    name.AppendDir(sub);
    return std::string(name.GetFullPath().mb_str());
}

tiff_form unscaled_tiff_form(int file_type, int tiff_offset)
{
    // CT values round-trip only with the CT offset: DICOM data and TIFF data sets that
    // were themselves written in CT form.
    const bool image_file = file_type == -4 || file_type == -5;
    return (file_type >= 0 && file_type <= 2) || (image_file && tiff_offset == -32768)
               ? tiff_form::ct
               : tiff_form::direct;
}

bool write_processed_frame(const std::string& source, int index, tiff_form form)
{
    std::string target = frame_output_path(source);
    if (!target.empty() && info.file_type == -5) {
        // Pages of one file would all get the file's name: each page gets its number.
        wxFileName page(wx_path(target));
        page.SetName(page.GetName() + wxString::Format("_%04i", index));
        target = std::string(page.GetFullPath().mb_str());
    }
    if (target.empty()) {
        wxLogWarning("Not writing %s over itself: choose a metal-artefact method or process "
                     "all frames.", source);
        return false;
    }
    const wxFileName out(wx_path(target));
    if (!wxFileName::Mkdir(out.GetPath(), 0777, wxPATH_MKDIR_FULL)) {
        wxLogWarning("Could not create the folder %s.", out.GetPath());
        return false;
    }
    return save_processed_image_as_tiff(out, form);
}


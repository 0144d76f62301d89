#include "commands/loader_chain.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>
#include <wx/log.h>
#include <wx/thread.h>

#include "core/record.h"
#include "ct/rsq_file.h"
#include "io/dicom_reader.h"
#include "io/dfe_file.h"
#include "io/image_file.h"
#include "io/qct_file.h"
#include "io/sonix_file.h"

const std::vector<loader_entry>& startup_loaders()
{
    static const std::vector<loader_entry> table = {
        {"image", load_image_file, "an image file (PNG, JPEG, TIFF, BMP or PNM)"},
        {"dicom", load_dicom_file, "a DICOM file"},
        {"sonix", load_sonix_file, "a Sonix ultrasound file"},
        {"qct", load_qct_file, "a Mindways QCT file"},
        {"rsq", load_rsq_frame, "an Xtreme Raw micro-CT file"},
        {"dfe", load_dfe_file, "a Lunar DFE file"},
    };
    return table;
}

const loader_entry* find_loader(const std::string& name)
{
    for (const loader_entry& e : startup_loaders())
        if (name == e.name) return &e;
    return nullptr;
}

bool load_with_chain(const std::string& path, int index, const char* only)
{
    for (const loader_entry& e : startup_loaders()) {
        if (only && std::strcmp(only, e.name) != 0) continue;
        if (!e.load) continue;
        std::vector<char> buffer = path_buffer(path);
        if (e.load(buffer.data(), index)) return true;
    }
    return false;
}

namespace {

// Hands every message on to the log target in place and notes whether a warning (or
// worse) went by. Messages silenced with wxLogNull never arrive.
// Notes whether a warning is logged while it lives, and passes every message on. Off the
// main thread (a script's worker thread loading through the Python module) wx keeps a
// target per thread: the watch takes that one's place and gives it back, and never
// touches the program's target, which another thread may be replacing meanwhile.
class warning_watch : public wxLog {
public:
    warning_watch() : main_(wxThread::IsMain())
    {
        if (main_) {
            previous_ = wxLog::GetActiveTarget();
            wxLog::SetActiveTarget(this);
        } else {
            previous_ = wxLog::SetThreadActiveTarget(this);
        }
    }
    ~warning_watch() override
    {
        if (main_) {
            wxLog::SetActiveTarget(previous_);
            return;
        }
        wxLog::SetThreadActiveTarget(previous_);
        // A thread without a target of its own: its messages take the usual way now.
        for (const held_record& r : held_) wxLog::OnLog(r.level, r.msg, r.info);
    }
    bool warned = false;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override
    {
        if (level <= wxLOG_Warning) warned = true;
        if (previous_)
            previous_->LogRecord(level, msg, info);
        else if (!main_)
            held_.push_back({level, msg, info});
    }

private:
    struct held_record {
        wxLogLevel level;
        wxString msg;
        wxLogRecordInfo info;
    };
    bool main_;
    wxLog* previous_ = nullptr;
    std::vector<held_record> held_;
};

}  // namespace

bool load_or_say_why(const std::string& path, const char* only)
{
    bool warned;
    {
        warning_watch watch;
        if (load_with_chain(path, -1, only)) return true;
        warned = watch.warned;
    }
    if (warned) return false;
    const wxString shown = path_text(path);
    const loader_entry* e = only ? find_loader(only) : nullptr;
    if (::access(path.c_str(), R_OK) != 0)
        wxLogWarning("Could not open '%s': %s.", shown, wxString(std::strerror(errno)));
    else if (e)
        wxLogWarning("%s is not %s.", shown, e->kind);
    else
        wxLogWarning("Could not open '%s': no loader recognised it.", shown);
    return false;
}

const loader_entry* loader_for_file_type(int file_type)
{
    const char* name = nullptr;
    switch (file_type) {
    case FILE_DICOM: case FILE_DICOM_NUMBERED: case FILE_DICOM_FOLDER: name = "dicom"; break;
    case FILE_SONIX: case FILE_SONIX_TAGGED: name = "sonix"; break;
    case FILE_QCT: name = "qct"; break;
    case FILE_IMAGE: case FILE_IMAGE_PAGES: name = "image"; break;
    case FILE_DXA: name = "dfe"; break;
    case FILE_MICRO_CT: name = "rsq"; break;
    default: return nullptr;
    }
    const loader_entry* e = find_loader(name);
    return e && e->load ? e : nullptr;
}

bool reload_frame(int n)
{
    const int previous = info.frame;
    info.frame = n;
    release_array(info.sampled_image);
    release_array(info.aux_image);
    release_array(info.noise_image);
    release_array(info.processed_image);
    const loader_entry* e = loader_for_file_type(info.file_type);
    if (!e) {
        info.frame = previous;
        return false;
    }
    const int centre = info.window_centre, range = info.window_range;
    const std::string path = native_path(info.file_name);
    std::vector<char> buffer = path_buffer(path);
    const bool ok = e->load(buffer.data(), n);
    info.window_centre = centre;
    info.window_range = range;
    // A frame that did not load leaves the record showing the frame it had.
    if (!ok) info.frame = previous;
    return ok;
}

// voxmira._voxmira: the compiled part of the Python package. wx base is initialised once,
// when the module is imported (the core uses wxImage, so with the image handlers); it
// never opens a window. wx log messages become Python warnings or exception texts
// (module_support.h), never stderr output. Like the desktop program, the process keeps the
// memory of freed work planes for the next call (a fresh plane costs a page fault per
// 4 kB, often more than the filter itself).
#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>

#include "core/memory.h"
#include "core/record.h"
#include "core/ui.h"
#include "module_support.h"

namespace {

// Anything logged outside a call (none is expected) is dropped rather than printed.
class quiet_log : public wxLog {
protected:
    void DoLogTextAtLevel(wxLogLevel, const wxString&) override {}
};

void no_progress_begin(const wxString&, const wxString&, int, bool) {}
bool no_progress_update(int, const wxString&) { return true; }
void no_progress_end() {}

void initialise_wx()
{
    // Kept for the life of the process: wx is shut down with it.
    static wxInitializer* initializer = new wxInitializer;
    if (!initializer->IsOk()) throw std::runtime_error("voxmira: could not initialise wxWidgets");
    wxInitAllImageHandlers();
    wxLog::DisableTimestamp();
    delete wxLog::SetActiveTarget(new quiet_log);
    // The data-set runs report progress: no console bar from inside Python.
    ui_hooks hooks;
    hooks.progress_begin = no_progress_begin;
    hooks.progress_update = no_progress_update;
    hooks.progress_end = no_progress_end;
    ui_install(hooks);
    info.histogram_bins = 256;
    info.histogram = new int[info.histogram_bins]();
    reset_info();
}

}  // namespace

PYBIND11_MODULE(_voxmira, m)
{
    m.doc() = "The compiled part of voxmira; use the voxmira package.";
    initialise_wx();
    keep_freed_memory();
    py::register_exception<file_missing>(m, "FileMissing", PyExc_FileNotFoundError);
    m.attr("__version__") = VOXMIRA_VERSION;
    register_filters(m);
    register_files(m);
    register_ct(m);
}

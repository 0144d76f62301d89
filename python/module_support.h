// What the parts of the Python module share: the record's lock, the capture of wx log
// messages around a call, and the conversions between numpy arrays and sample planes.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>
#include <wx/log.h>

namespace py = pybind11;

// The one lock of the global record `info`: loaders, writers, the data-set runs and the CT
// paths use the record, so only one such call runs at a time. Taken after the GIL is
// released, so other Python threads (and record-free filtering) go on meanwhile.
std::mutex& record_mutex();

// The warnings and errors wx logs during a call (wxLogWarning, wxLogError), kept rather
// than printed. On the thread that initialised wx the active target is swapped, on others
// the thread's own target is set.
class log_capture : public wxLog {
public:
    log_capture();
    ~log_capture() override;
    std::vector<std::string> messages;
    std::string joined() const;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    wxLog* previous = nullptr;
    bool main_thread = false;
};

// Hands the captured messages to Python as RuntimeWarnings (call with the GIL held).
void warn_captured(const log_capture& log);

// A file that does not exist: FileNotFoundError in Python.
struct file_missing : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Raised for work that failed (a file no loader takes, a write that failed); the
// message carries what wx logged.
[[noreturn]] void fail(const std::string& what, const log_capture& log);

// An image array's samples times 16 (the record's scale), rows top first, channels
// interleaved: 2-D grey or H x W x C. Integers are scaled exactly, floats rounded; NaN,
// infinities and values outside +-2^26 are refused with ValueError, other dtypes with
// TypeError.
struct array_samples {
    std::vector<int> samples;
    int width = 0, height = 0, channels = 1;
};
array_samples samples_of(const py::array& image, const char* what = "image");

// The record's scale back to source units: int32 when every sample is a whole number of
// source units (`exact_int`) and asked for, else float64 (value / 16, exact).
py::array array_of(const int* samples, int width, int height, int channels, bool exact_int);

// The record paths (hold record_mutex()): loads `file` as the batch tool does (frame -1: the
// first open's; `pair`: an ordinary image file's reference found by name, as Open does),
// and shows the whole image at zoom 1 so that the pipeline filters every pixel.
void load_into_record(const std::string& file, int frame, const std::string& loader, bool pair,
                      const log_capture& log);
void whole_view();

// Registration of the module's parts.
void register_filters(py::module_& m);
void register_files(py::module_& m);
void register_ct(py::module_& m);

// The record's lock, the log capture and the array conversions of the Python module.
#include "module_support.h"

#include <cmath>
#include <cstdint>
#include <wx/thread.h>

std::mutex& record_mutex()
{
    static std::mutex m;
    return m;
}

log_capture::log_capture()
{
    main_thread = wxThread::IsMain();
    previous = main_thread ? wxLog::SetActiveTarget(this) : wxLog::SetThreadActiveTarget(this);
}

log_capture::~log_capture()
{
    if (main_thread)
        wxLog::SetActiveTarget(previous);
    else
        wxLog::SetThreadActiveTarget(previous);
}

void log_capture::DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&)
{
    if (level <= wxLOG_Warning) messages.emplace_back(msg.utf8_str());
}

std::string log_capture::joined() const
{
    std::string out;
    for (const std::string& m : messages) out += (out.empty() ? "" : "; ") + m;
    return out;
}

void warn_captured(const log_capture& log)
{
    for (const std::string& m : log.messages)
        if (PyErr_WarnEx(PyExc_RuntimeWarning, m.c_str(), 2) < 0) throw py::error_already_set();
}

void fail(const std::string& what, const log_capture& log)
{
    const std::string said = log.joined();
    throw std::runtime_error(said.empty() ? what : what + ": " + said);
}

namespace {

template <class T>
void scale_into(const py::array& image, std::vector<int>& out)
{
    auto a = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(image);
    const T* v = a.data();
    const size_t n = (size_t)a.size();
    out.resize(n);
    constexpr double limit = 67108864.0;  // 2^26 source units: x 16 stays inside int32
    for (size_t i = 0; i < n; i++) {
        const double d = (double)v[i];
        if (!(std::fabs(d) < limit))
            throw py::value_error(std::isfinite(d) ? "image samples must lie within +-2^26"
                                                   : "image samples must be finite (no NaN or infinity)");
        if constexpr (std::is_integral_v<T>)
            out[i] = (int)((int64_t)v[i] * 16);
        else
            out[i] = (int)std::lround(d * 16.0);
    }
}

}  // namespace

array_samples samples_of(const py::array& image, const char* what)
{
    array_samples s;
    const int nd = (int)image.ndim();
    if (nd != 2 && nd != 3)
        throw py::value_error(std::string(what) + " must be 2-D (grey) or H x W x 3 (colour), not " +
                              std::to_string(nd) + "-D");
    if (nd == 3 && image.shape(2) != 3)
        throw py::value_error(std::string(what) + " must have 3 channels (H x W x 3), not " +
                              std::to_string(image.shape(2)));
    if (image.shape(0) < 1 || image.shape(1) < 1) throw py::value_error(std::string(what) + " is empty");
    if (image.shape(0) > 1 << 20 || image.shape(1) > 1 << 20 ||
        (double)image.shape(0) * image.shape(1) * (nd == 3 ? 3 : 1) > 1e9)
        throw py::value_error(std::string(what) + " is too large");
    s.height = (int)image.shape(0);
    s.width = (int)image.shape(1);
    s.channels = nd == 3 ? 3 : 1;
    const char kind = image.dtype().kind();
    const size_t size = image.dtype().itemsize();
    if (kind == 'b') throw py::type_error(std::string(what) + ": boolean images are not filtered; use a numeric dtype");
    if (kind == 'u' && size <= 2) scale_into<uint16_t>(image, s.samples);
    else if (kind == 'u' || kind == 'i') scale_into<int64_t>(image, s.samples);
    else if (kind == 'f') scale_into<double>(image, s.samples);
    else
        throw py::type_error(std::string(what) + " must hold integers or floats, not dtype " +
                             std::string(py::str(image.dtype())));
    return s;
}

py::array array_of(const int* samples, int width, int height, int channels, bool exact_int)
{
    std::vector<py::ssize_t> shape = {height, width};
    if (channels > 1) shape.push_back(channels);
    const size_t n = (size_t)width * height * channels;
    if (exact_int) {
        bool whole = true;
        for (size_t i = 0; i < n && whole; i++) whole = samples[i] % 16 == 0;
        if (whole) {
            py::array_t<int32_t> out(shape);
            int32_t* o = out.mutable_data();
            for (size_t i = 0; i < n; i++) o[i] = samples[i] / 16;
            return std::move(out);
        }
    }
    py::array_t<double> out(shape);
    double* o = out.mutable_data();
    for (size_t i = 0; i < n; i++) o[i] = samples[i] / 16.0;
    return std::move(out);
}

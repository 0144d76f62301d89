#include "io/save_image.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include "core/record.h"
#include "core/path_buffer.h"
#include "processing/colour.h"
#include "io/image_file.h"
#include "io/output_file.h"
#include "io/tiff_writer.h"

const char* const save_wildcard =
    "PNG file|*.png|JPEG file|*.jpg;*.jpeg|TIFF file|*.tiff;*.tif|Windows bitmap|*.bmp|"
    "PixMap file|*.pnm;*.ppm|Binary file|*.bin";

wxBitmapType export_type(int index)
{
    static const wxBitmapType types[] = {wxBITMAP_TYPE_PNG, wxBITMAP_TYPE_JPEG, wxBITMAP_TYPE_TIFF,
                                         wxBITMAP_TYPE_BMP, wxBITMAP_TYPE_PNM};
    return index >= export_png && index < export_binary ? types[index] : wxBITMAP_TYPE_INVALID;
}

int export_index_for_path(const wxString& path)
{
    const wxString ext = wxFileName(path).GetExt().Lower();
    if (ext == "png") return export_png;
    if (ext == "jpg" || ext == "jpeg") return export_jpeg;
    if (ext == "tif" || ext == "tiff") return export_tiff;
    if (ext == "bmp") return export_bmp;
    if (ext == "pnm" || ext == "ppm") return export_pnm;
    if (ext == "bin") return export_binary;
    return -1;
}

int export_choice(wxString& path, int filter_index)
{
    const int typed = export_index_for_path(path);
    if (typed >= 0) return typed;
    static const char* const extensions[export_formats] = {"png", "jpg", "tif", "bmp", "pnm", "bin"};
    const int index = std::clamp(filter_index, (int)export_png, (int)export_binary);
    path += wxString(".") + extensions[index];
    return index;
}

namespace {

const char* const export_names[] = {"PNG", "JPEG", "TIFF", "BMP", "PNM"};

// Grey data of 256 levels or more saved as TIFF keep their precision.
bool processed_tiff_is_16bit()
{
    const int vpp = info.colour_processing ? info.channels : 1;
    return (int64_t)info.data_max - info.data_min >= 256 && info.colour == COLOUR_GREY && vpp == 1;
}

}  // namespace

wxString processed_export_kind(int index)
{
    if (index == export_binary) return "32-bit binary";
    if (index < export_png || index > export_binary) return "";
    if (index == export_tiff && processed_tiff_is_16bit()) return "16-bit TIFF";
    return wxString("8-bit ") + export_names[index];
}

wxString display_export_kind(int index)
{
    if (index == export_binary) return "RGB binary";
    if (index < export_png || index > export_binary) return "";
    return wxString("8-bit RGB ") + export_names[index];
}

unsigned char processed_byte(int v, double f)
{
    const double x = v * f / 16;
    if (x < 0) return 0;
    if (x > 255) return 255;
    return (unsigned char)std::min(255.0, std::trunc(x + 0.5));
}

unsigned char windowed_byte(int v, double f)
{
    const double range = info.window_range != 0 ? info.window_range : 1;
    const double x = ((v * f / 16) - info.window_centre) * 255 / range + 127;
    if (x < 0) return 0;
    if (x > 255) return 255;
    return (unsigned char)std::min(255.0, std::trunc(x + 0.5));
}

bool write_binary_file(const wxString& path, const void* data, size_t bytes)
{
    return write_output_file(native_path(path), data, bytes);
}

bool save_with_handler(wxImage& image, const wxString& path, int index, bool grey_png)
{
    const wxBitmapType type = export_type(index);
    if (type == wxBITMAP_TYPE_INVALID) return false;
    register_image_handlers();  // the writer is found by its type
    if (grey_png && type == wxBITMAP_TYPE_PNG)
        image.SetOption(wxIMAGE_OPTION_PNG_FORMAT, wxPNG_TYPE_GREY_RED);
    // The handlers write through streams that do not tell a full disk from success, so
    // the image is encoded in memory and its bytes written here, every write checked.
    output_file out;
    if (!out.open(native_path(path))) return false;
    wxMemoryOutputStream encoded;
    bool ok;
    {
        wxLogNull quiet;  // the handler's own complaints are replaced by one warning
        ok = image.SaveFile(encoded, type);
    }
    if (!ok) {
        wxLogWarning("Could not encode %s.", path);
        return false;
    }
    const wxStreamBuffer* buffer = encoded.GetOutputStreamBuffer();
    out.write(buffer->GetBufferStart(), (size_t)encoded.GetLength());
    return out.commit();
}

bool save_display_image(const wxString& path, int index)
{
    if (!info.display_image || info.window_width < 1 || info.window_height < 1) {
        wxLogWarning("There is no image on display to save.");
        return false;
    }
    const size_t bytes = (size_t)info.window_width * info.window_height * 3;
    if (index == export_binary) return write_binary_file(path, info.display_image, bytes);
    wxImage image(info.window_width, info.window_height, info.display_image, true);
    return save_with_handler(image, path, index, false);
}

// The processed image in 8 bits, no windowing.
static bool processed_as_8bit(int index, wxImage& image, bool& grey)
{
    const int w = info.proc_width, h = info.proc_height;
    const size_t n = (size_t)w * h;
    const int* v = info.processed_image;
    grey = false;
    if (!info.colour_processing) {
        double f = 1.0;
        if (info.data_colour != COLOUR_GREY) channel_factor(COLOUR_GREY, &f, (colour_t)info.data_colour);
        image.Create(w, h, false);
        unsigned char* d = image.GetData();
        for (size_t i = 0; i < n; i++) d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = processed_byte(v[i], f);
        grey = true;
        return true;
    }
    const int c = info.colour;
    const int vpp = info.channels;
    const bool png = index == export_png;
    if (info.data_colour == COLOUR_RAW && (c == COLOUR_RAW || c == COLOUR_YUVDG) && vpp == 4) {
        // 16-bit samples as high bytes above low bytes, alpha the same way.
        std::unique_ptr<int[]> copy;
        if (c == 9) {
            copy.reset(new int[n * 4]);
            std::copy(v, v + n * 4, copy.get());
            if (!to_raw(copy.get(), w, h, (colour_t)c)) {
                wxLogWarning("The YUVdG colour space cannot be converted back to RAW data here.");
                return false;
            }
            v = copy.get();
        }
        image.Create(w, 2 * h, false);
        image.SetAlpha();
        unsigned char* d = image.GetData();
        unsigned char* a = image.GetAlpha();
        for (size_t i = 0; i < n; i++) {
            for (int k = 0; k < 4; k++) {
                const long word = std::clamp<long>((long)std::trunc(v[4 * i + k] / 16.0 + 0.5), 0, 65535);
                if (k < 3) {
                    d[3 * i + k] = (unsigned char)(word >> 8);
                    d[3 * (i + n) + k] = (unsigned char)(word & 255);
                } else {
                    a[i] = (unsigned char)(word >> 8);
                    a[i + n] = (unsigned char)(word & 255);
                }
            }
        }
        if (!png) image.ClearAlpha();
        return true;
    }
    if (c == 1 && vpp >= 3) {
        image.Create(w, h, false);
        unsigned char* d = image.GetData();
        for (size_t i = 0; i < n; i++)
            for (int k = 0; k < 3; k++) d[3 * i + k] = processed_byte(v[vpp * i + k], 1.0);
        return true;
    }
    if (colour_channels((colour_t)c) == 3 && vpp == 3) {
        std::unique_ptr<int[]> copy(new int[n * 3]);
        std::copy(v, v + n * 3, copy.get());
        if (!to_rgb(copy.get(), w, h, (colour_t)c, 0, 1)) {
            wxLogWarning("This colour space cannot be converted to RGB here.");
            return false;
        }
        image.Create(w, h, false);
        unsigned char* d = image.GetData();
        for (size_t i = 0; i < 3 * n; i++) d[i] = processed_byte(copy[i], 1.0);
        return true;
    }
    if (vpp == 4) {
        image.Create(w, h, false);
        image.SetAlpha();
        unsigned char* d = image.GetData();
        unsigned char* a = image.GetAlpha();
        for (size_t i = 0; i < n; i++) {
            for (int k = 0; k < 3; k++) d[3 * i + k] = processed_byte(v[4 * i + k], 1.0);
            a[i] = processed_byte(v[4 * i + 3], 1.0);
        }
        if (!png) image.ClearAlpha();
        return true;
    }
    wxLogWarning("This processed image has no 8-bit form.");
    return false;
}

bool save_processed_image(const wxString& path, int index)
{
    const int w = info.proc_width, h = info.proc_height;
    if (!info.processed_image || w < 1 || h < 1) {
        wxLogWarning("There is no processed image to save.");
        return false;
    }
    if (index < export_png || index > export_binary) {
        wxLogWarning("Unknown image type for %s.", path);
        return false;
    }
    const int vpp = info.colour_processing ? info.channels : 1;
    if (index == export_tiff && processed_tiff_is_16bit())
        return save_processed_image_as_tiff(wxFileName(path), tiff_form::scaled);
    if (index == export_binary)
        return write_binary_file(path, info.processed_image, (size_t)w * h * vpp * sizeof(int));
    wxImage image;
    bool grey = false;
    if (!processed_as_8bit(index, image, grey)) return false;
    return save_with_handler(image, path, index, grey);
}

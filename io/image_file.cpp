#include "io/image_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>
#include <sys/stat.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>

#include "core/path_buffer.h"
#include "core/record.h"
#include "core/ui.h"
#include "core/checked_size.h"
#include "io/image_file_tiff.h"
#include "io/sample_buffer.h"
#include "io/sequence_name.h"
#include "processing/colour.h"

void register_image_handlers()
{
    static const wxBitmapType order[] = {wxBITMAP_TYPE_BMP, wxBITMAP_TYPE_JPEG, wxBITMAP_TYPE_PNG,
                                         wxBITMAP_TYPE_PNM, wxBITMAP_TYPE_TIFF};
    const int n = (int)(sizeof order / sizeof order[0]);
    // Already in order at the front: nothing to do (the usual case on every load).
    int k = 0;
    for (wxList::compatibility_iterator node = wxImage::GetHandlers().GetFirst(); node && k < n;
         node = node->GetNext(), k++)
        if (static_cast<wxImageHandler*>(node->GetData())->GetType() != order[k]) break;
    if (k == n) return;
    // The loader's five go to the front in its order; whatever else is registered (GIF,
    // ICO, XPM, ...) stays behind them.
    for (int i = n - 1; i >= 0; i--) {
        if (wxImageHandler* old = wxImage::FindHandler(order[i])) wxImage::RemoveHandler(old->GetName());
        wxImageHandler* h = nullptr;
        switch (order[i]) {
        case wxBITMAP_TYPE_BMP:
            h = new wxBMPHandler;
            h->SetName("Windows bitmap file");
            h->SetExtension("bmp");
            h->SetMimeType("image/x-bmp");
            break;
        case wxBITMAP_TYPE_JPEG: h = new wxJPEGHandler; break;
        case wxBITMAP_TYPE_PNG: h = new wxPNGHandler; break;
        case wxBITMAP_TYPE_PNM: h = new wxPNMHandler; break;
        default: h = new wxTIFFHandler; break;
        }
        wxImage::InsertHandler(h);
    }
}

static wxString wx_path(const std::string& path) { return path_text(path); }

std::string image_frame_path(const std::string& path, int index)
{
    sequence_field field;
    if (index >= 0 && info.file_type == FILE_IMAGE && info.frames > 1 && find_sequence_field(path, field))
        return sequence_file_name(path, field, index);
    return path;
}

// The wxImage path: every format the handlers read, 8 bits per channel.
static bool read_wx_image(const std::string& path, int index, page_state& pages,
                          staged_image& out)
{
    register_image_handlers();
    const wxString name = wx_path(path);
    page_state p = pages;
    int page = 0;
    // The handlers' own messages are kept quiet; a file they cannot read is not an image.
    std::unique_ptr<wxLogNull> quiet(new wxLogNull);
    if (index == -1 && p.frames == 1) {
        const int count = wxImage::GetImageCount(name);
        if (count > 1) {
            p.frames = count;
            p.frame = 0;
            p.first_frame = 0;
            p.file_type = FILE_IMAGE_PAGES;
            page = -1;  // the handler's default image
        } else {
            p.file_type = FILE_IMAGE;
        }
    } else if (index >= 0 && p.file_type == FILE_IMAGE_PAGES) {
        page = index;
    }
    wxImage image;
    const bool read = image.LoadFile(name, wxBITMAP_TYPE_ANY, page) && image.IsOk();
    quiet.reset();
    if (!read) {
        // A handler recognised the file's signature, so this is a damaged image file rather
        // than a file of another kind: say so instead of failing silently.
        wxLogWarning("%s: the image file is damaged or truncated and could not be read.", wx_path(path));
        return false;
    }

    const int w = image.GetWidth(), stored_h = image.GetHeight();
    const unsigned char* rgb = image.GetData();
    const unsigned char* alpha = image.HasAlpha() ? image.GetAlpha() : nullptr;
    staged_image s;
    s.width = w;
    s.height = stored_h;
    if (alpha) {
        s.channels = 4;
        s.data_colour = COLOUR_RGBA;
        if (path.find("_RAW") != std::string::npos) {
            // 16-bit samples stored as high bytes above low bytes.
            if (stored_h < 2) {
                wxLogWarning("%s: a RAW image needs at least two stored rows.", wx_path(path));
                return false;
            }
            s.data_colour = COLOUR_RAW;
            s.height = stored_h / 2;
        }
    } else {
        s.channels = 1;
        const size_t n = (size_t)w * stored_h;
        for (size_t i = 0; i < n; i++)
            if (rgb[3 * i] != rgb[3 * i + 1] || rgb[3 * i] != rgb[3 * i + 2]) {
                s.channels = 3;
                break;
            }
        s.data_colour = s.channels == 3 ? COLOUR_RGB : COLOUR_GREY;
    }
    s.raw.reset(new_samples_unfilled(s.width, s.height, s.channels));
    if (!s.raw) {
        wxLogWarning("%s: the image is too large (%i x %i).", wx_path(path), w, stored_h);
        return false;
    }
    int* dst = s.raw.get();
    const size_t n = (size_t)s.width * s.height;
    if (s.data_colour == COLOUR_RAW) {
        const size_t half = (size_t)s.height * w;
        for (size_t i = 0; i < n; i++) {
            for (int k = 0; k < 3; k++) dst[4 * i + k] = (rgb[3 * i + k] * 256 + rgb[3 * (i + half) + k]) * 16;
            dst[4 * i + 3] = (alpha[i] * 256 + alpha[i + half]) * 16;
        }
    } else if (s.channels == 4) {
        for (size_t i = 0; i < n; i++) {
            for (int k = 0; k < 3; k++) dst[4 * i + k] = rgb[3 * i + k] * 16;
            dst[4 * i + 3] = alpha[i] * 16;
        }
    } else if (s.channels == 3) {
        for (size_t i = 0; i < 3 * n; i++) dst[i] = rgb[i] * 16;
    } else {
        for (size_t i = 0; i < n; i++) dst[i] = rgb[3 * i] * 16;
    }
    int lo = dst[0], hi = dst[0];
    for (size_t i = 0; i < n * s.channels; i++) {
        lo = dst[i] < lo ? dst[i] : lo;
        hi = dst[i] > hi ? dst[i] : hi;
    }
    s.data_min = lo / 16;
    s.data_max = hi / 16;
    s.has_centre = s.has_range = true;
    if (s.data_colour == COLOUR_RAW) {
        s.window_centre = (s.data_min + s.data_max) / 2;
        s.window_range = s.data_max - s.data_min;
    } else {
        s.window_centre = 127;
        s.window_range = 255;
    }
    if (index == -1) s.has_spacing = true;  // 0.1 mm: ordinary images carry no spacing
    pages = p;
    out = std::move(s);
    return true;
}

namespace {

// The header of a grey or colour map (P2, P3, P5, P6): width, height, the largest sample
// value, and where the samples start (after the one white-space character that ends it).
struct pnm_header {
    char kind = 0;
    long width = 0, height = 0, largest = 0;
    size_t data_at = 0;
    std::string fault;  // empty when the header is sound or the file is not such a map
};

pnm_header read_pnm_header(const std::string& path)
{
    pnm_header hd;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return hd;
    char head[512];
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (n < 2 || head[0] != 'P' || !head[1] || !std::strchr("2356", head[1])) return hd;
    hd.kind = head[1];
    size_t i = 2;
    long* fields[3] = {&hd.width, &hd.height, &hd.largest};
    for (long* v : fields) {
        for (;;) {
            while (i < n && std::isspace((unsigned char)head[i])) i++;
            if (i < n && head[i] == '#')
                while (i < n && head[i] != '\n') i++;
            else
                break;
        }
        if (i >= n || !std::isdigit((unsigned char)head[i])) {
            hd.fault = "its header is incomplete";
            return hd;
        }
        *v = 0;
        while (i < n && std::isdigit((unsigned char)head[i]) && *v <= 65536) *v = *v * 10 + (head[i++] - '0');
    }
    hd.data_at = i + 1;
    if (hd.width < 1 || hd.height < 1) hd.fault = "its header gives no pixels";
    else if (hd.largest < 1 || hd.largest > 65535)
        hd.fault = "its header gives a largest sample value outside 1 to 65535";
    else if (hd.largest > 255 && hd.kind != '5')
        hd.fault = "only grey binary maps (P5) are read with samples above 255";
    return hd;
}

// A binary grey map of two-byte samples (most significant byte first), which the toolkit's
// reader does not read: the samples as they are, windowed over their range.
bool read_pnm16(const std::string& path, const pnm_header& hd, staged_image& s)
{
    const size_t pixels = (size_t)hd.width * (size_t)hd.height;
    std::unique_ptr<int[]> raw(hd.width > 1000000 || hd.height > 1000000
                                   ? nullptr
                                   : new_samples_unfilled(hd.width, hd.height, 1));
    if (!raw) {
        wxLogWarning("%s: not enough memory for a %ld x %ld image.", wx_path(path), hd.width, hd.height);
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<unsigned char> bytes(pixels * 2);
    const bool complete = std::fseek(f, (long)hd.data_at, SEEK_SET) == 0 &&
                          std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    if (!complete) {
        wxLogWarning("%s: the PNM image data end before its %ld x %ld samples.", wx_path(path), hd.width,
                     hd.height);
        return false;
    }
    int lo = 65535, hi = 0;
    for (size_t k = 0; k < pixels; k++) {
        const int v = bytes[2 * k] << 8 | bytes[2 * k + 1];
        raw[k] = v * 16;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    s.width = (int)hd.width;
    s.height = (int)hd.height;
    s.data_colour = COLOUR_GREY;
    s.channels = 1;
    s.raw = std::move(raw);
    s.data_min = lo;
    s.data_max = hi;
    s.has_centre = s.has_range = true;
    s.window_centre = (lo + hi) / 2;
    s.window_range = std::max(hi - lo, 1);
    return true;
}

}  // namespace

std::string pnm_header_fault(const std::string& path)
{
    const pnm_header hd = read_pnm_header(path);
    if (hd.fault.empty() && hd.largest > 255) return "the toolkit's reader gives zeros for samples above 255";
    return hd.fault;
}

// "DICM" after the 128-byte preamble.
static bool has_dicom_prefix(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char head[132];
    const bool dicom = std::fread(head, 1, sizeof head, f) == sizeof head &&
                       std::memcmp(head + 128, "DICM", 4) == 0;
    std::fclose(f);
    return dicom;
}

bool load_image_file(char* path_text, int index)
{
    if (!path_text || !*path_text) return false;
    std::string path = path_text;
    page_state pages{info.file_type, info.frames, info.first_frame, info.frame};
    sequence_field field;
    if (index != -1 && pages.frames > 1 && pages.file_type == FILE_IMAGE && find_sequence_field(path, field)) {
        path = sequence_file_name(path, field, index);
        pages.frame = index;
    }
    // Only files a reader recognises start a sequence scan: the start-up chain offers
    // DICOM series here first. A DICOM file whose preamble looks like a TIFF header (dual
    // DICOM-TIFF files) belongs to the DICOM reader: no image reader tries it or warns.
    register_image_handlers();
    if (!is_regular_file(path) || has_dicom_prefix(path)) return false;
    const bool tiff = has_tiff_magic(path);
    const pnm_header pnm = read_pnm_header(path);
    if (!pnm.fault.empty()) {
        wxLogWarning("%s: the PNM image cannot be read: %s.", wx_path(path), pnm.fault);
        return false;
    }
    const bool pnm16 = pnm.kind && pnm.largest > 255;
    {
        wxLogNull quiet;
        if (!tiff && !pnm16 && !wxImage::CanRead(wx_path(path))) return false;
    }

    if (index == -1) {
        pages.file_type = FILE_IMAGE;
        pages.frames = 1;
        if (find_sequence_field(path, field)) {
            ui_progress progress("Loading image files", "Checking for a sequence of image files",
                                 102, true);
            int pulses = 0;
            long first = field.number, count = 1;
            find_sequence_range(path, field, is_regular_file,
                                [&] { return progress.update(++pulses % 102); }, first, count);
            // Frame numbers are ints in the record.
            if (first + count - 1 > 1000000000L) count = 1, first = field.number;
            pages.first_frame = (int)first;
            pages.frames = (int)count;
            pages.frame = (int)field.number;
        }
    }

    staged_image s;
    s.pixel_width = info.pixel_width;
    s.pixel_height = info.pixel_height;
    bool loaded = false;
    if (tiff) {
        const tiff_read r = read_grey_tiff(path, index, info.window_centre, pages, s);
        if (r == tiff_read::damaged) return false;
        loaded = r == tiff_read::loaded;
    }
    if (pnm16) {
        if (!read_pnm16(path, pnm, s)) return false;
        loaded = true;
    }
    if (!loaded) {
        s.tiff_offset = 0;
        if (!read_wx_image(path, index, pages, s)) return false;
    }

    // The frame is in: only now does the record change.
    info.file_type = pages.file_type;
    info.frames = pages.frames;
    info.first_frame = pages.first_frame;
    info.frame = index == -1 ? pages.frame : (pages.file_type == FILE_IMAGE_PAGES ? index : pages.frame);
    install_raw_frame(s.raw.release(), s.data_min, s.data_max);
    info.width = s.width;
    info.height = s.height;
    info.data_colour = s.data_colour;
    info.channels = s.channels;
    if (s.has_centre) info.window_centre = s.window_centre;
    if (s.has_range) info.window_range = s.window_range;
    if (index == -1) {
        info.frame_spacing = 0;
        if (s.has_spacing) {
            info.pixel_width = s.pixel_width;
            info.pixel_height = s.pixel_height;
        }
    }
    if (s.tiff_output >= 0) info.tiff_output = (uint8_t)s.tiff_output;
    info.tiff_offset = s.tiff_offset;
    for (double& a : info.orientation_angles) a = 0;
    info.position[0] = info.position[1] = 0;
    info.position[2] = (index < 0 ? 0 : index) * info.frame_spacing;
    return true;
}

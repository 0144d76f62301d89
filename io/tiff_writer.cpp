#include "io/tiff_writer.h"

#include <algorithm>
#include <cerrno>
#include <tiffio.h>
#include <vector>
#include <wx/log.h>

#include "core/record.h"
#include "core/path_buffer.h"
#include "io/output_file.h"

void tiff_scaling(int data_min, int data_max, int& offset, int& factor)
{
    if (data_min >= 0) {
        offset = 0;
    } else if (data_min == -1) {
        offset = 1;
    } else {
        offset = 2;
        while (offset < -(int64_t)data_min && offset < (1 << 30)) offset *= 2;
    }
    factor = 1;
    const int64_t top = (int64_t)data_max + offset;
    if (top > 0)
        while ((int64_t)factor * top < 32768) factor *= 2;
}

static uint16_t word(int64_t v) { return (uint16_t)std::clamp<int64_t>(v, 0, 65535); }

bool save_processed_image_as_tiff(wxFileName name, tiff_form form)
{
    const bool scaled = form == tiff_form::scaled;
    const int w = info.proc_width, h = info.proc_height;
    if (!info.processed_image || w <= 0 || h <= 0) {
        wxLogWarning("There is no processed image to save.");
        return false;
    }
    const std::string path(native_path(name.GetFullPath()));
    output_file out;
    if (!out.open(path)) return false;
    TIFFErrorHandler warning = TIFFSetWarningHandler(nullptr);
    TIFFErrorHandler error = TIFFSetErrorHandler(nullptr);
    // libtiff writes into the output's temporary; the output closes it.
    errno = 0;
    TIFF* tif = TIFFFdOpen(out.fd(), out.temporary().c_str(), "w");
    bool ok = tif != nullptr;
    if (tif) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, (uint32_t)w);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, (uint32_t)h);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, (uint16_t)1);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, (uint16_t)16);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, (uint32_t)1);
        TIFFSetField(tif, TIFFTAG_ORIENTATION, (uint16_t)ORIENTATION_TOPLEFT);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, (uint16_t)PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, (uint16_t)COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, (uint16_t)PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, (uint16_t)RESUNIT_CENTIMETER);
        if (info.pixel_width > 0 && info.pixel_height > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, (float)(10.0 / info.pixel_width));
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, (float)(10.0 / info.pixel_height));
        }
        const int lo = info.data_min, hi = info.data_max;
        const bool ct = form == tiff_form::ct;
        int64_t add = 0, factor = 1, min_word, max_word;
        if (ct) {
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "Voxmira RMAR CT Data");
            const wxString page = wxString::Format(
                "%.3lf,%.3lf,%.3lf,%.3lf,%.3lf,%.3lf", info.position[0], info.position[1],
                info.position[2], info.orientation_angles[0], info.orientation_angles[1],
                info.orientation_angles[2]);
            TIFFSetField(tif, TIFFTAG_PAGENAME, (const char*)page.utf8_str());
            add = 32768;
            min_word = (int64_t)lo + 32768;
            max_word = (int64_t)hi + 32768;
        } else if (!scaled) {
            min_word = lo;
            max_word = hi;
        } else {
            int o, s;
            tiff_scaling(lo, hi, o, s);
            add = o;
            factor = s;
            min_word = ((int64_t)lo + o) * (s > 1 ? s : 1);
            max_word = ((int64_t)hi + o) * s;
        }
        TIFFSetField(tif, TIFFTAG_MINSAMPLEVALUE, word(min_word));
        TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, word(max_word));

        const int stride = info.colour_processing ? std::max(info.channels, 1) : 1;
        std::vector<uint16_t> row(w);
        for (int y = 0; y < h && ok; y++) {
            const int* src = info.processed_image + (size_t)y * w * stride;
            for (int x = 0; x < w; x++) {
                const int64_t d = src[(size_t)x * stride] / 16;  // truncated toward zero
                int64_t v;
                if (scaled)
                    v = std::clamp<int64_t>((d + add) * factor, min_word, max_word);
                else
                    v = std::clamp<int64_t>(d, lo, hi) + add;
                row[x] = word(v);
            }
            ok = TIFFWriteScanline(tif, row.data(), (uint32_t)y, 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tif) && TIFFFlush(tif);
        TIFFCleanup(tif);
    }
    TIFFSetWarningHandler(warning);
    TIFFSetErrorHandler(error);
    // A file cut short by a full disk would read as a damaged image: none is left.
    if (!ok) out.fail(errno);
    return out.commit();
}

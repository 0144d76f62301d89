#include "io/image_file_tiff.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <cstdio>
#include <cstring>
#include <tiffio.h>
#include <wx/log.h>

#include "core/checked_size.h"
#include "core/path_buffer.h"
#include "io/sample_buffer.h"
#include "processing/colour.h"

bool has_tiff_magic(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char m[4] = {};
    const bool ok = std::fread(m, 1, 4, f) == 4;
    std::fclose(f);
    if (!ok) return false;
    const bool little = m[0] == 'I' && m[1] == 'I' && (m[2] == 42 || m[2] == 43) && m[3] == 0;
    const bool big = m[0] == 'M' && m[1] == 'M' && m[2] == 0 && (m[3] == 42 || m[3] == 43);
    return little || big;
}

namespace {
// libtiff reports through global handlers; the loader keeps them quiet and restores them.
struct quiet_libtiff {
    TIFFErrorHandler warning = TIFFSetWarningHandler(nullptr);
    TIFFErrorHandler error = TIFFSetErrorHandler(nullptr);
    ~quiet_libtiff()
    {
        TIFFSetWarningHandler(warning);
        TIFFSetErrorHandler(error);
    }
};

struct tiff_closer {
    TIFF* t;
    ~tiff_closer()
    {
        if (t) TIFFClose(t);
    }
};

double spacing_from_resolution(float resolution, int unit, double current)
{
    if (!std::isfinite(resolution) || resolution <= 0) return current;
    if (unit == RESUNIT_CENTIMETER) return 10.0 / resolution;
    if (unit == RESUNIT_INCH) return 25.4 / resolution;
    return current;
}
}  // namespace

tiff_read read_grey_tiff(const std::string& path, int index, int window_centre, page_state& pages,
                         staged_image& out)
{
    quiet_libtiff quiet;
    // Plain reads beat mapping the file: each mapped page costs a fault.
    tiff_closer tif{TIFFOpen(path.c_str(), "rm")};
    if (!tif.t) return tiff_read::unsuitable;

    uint16_t bits = 1, samples = 1, photometric = 1;
    TIFFGetFieldDefaulted(tif.t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (!TIFFGetField(tif.t, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 1;
    if ((bits != 8 && bits != 16) || samples != 1 || photometric > 1) return tiff_read::unsuitable;

    // Page choice: a first open of a single file counts the pages.
    page_state p = pages;
    int page = 0;
    if (index == -1 && p.frames == 1) {
        const int count = (int)TIFFNumberOfDirectories(tif.t);
        if (count > 1) {
            p.frames = count;
            p.frame = 0;
            p.first_frame = 0;
            p.file_type = FILE_IMAGE_PAGES;
        } else {
            p.file_type = FILE_IMAGE;
        }
    } else if (index >= 0 && p.file_type == FILE_IMAGE_PAGES) {
        page = index;
    }
    if (page > 0 && !TIFFSetDirectory(tif.t, (tdir_t)page)) return tiff_read::unsuitable;
    // Each page is checked for itself: pages of one file may differ.
    TIFFGetFieldDefaulted(tif.t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (!TIFFGetField(tif.t, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 1;
    if ((bits != 8 && bits != 16) || samples != 1 || photometric > 1) return tiff_read::unsuitable;
    // Scan-line reading does not serve tiled files; the wxImage path reads those.
    if (TIFFIsTiled(tif.t)) return tiff_read::unsuitable;

    uint32_t w = 0, h = 0;
    TIFFGetField(tif.t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.t, TIFFTAG_IMAGELENGTH, &h);
    if (w == 0 || h == 0 || w > max_image_side || h > max_image_side ||
        !mad3_sizes_valid(w, h, 1, 0)) {
        wxLogWarning("%s: the TIFF image size %u x %u is not plausible.", path_text(path), w, h);
        return tiff_read::damaged;
    }
    if (TIFFScanlineSize(tif.t) < (tmsize_t)w * (bits / 8)) {
        wxLogWarning("%s: the TIFF rows are shorter than the image width.", path_text(path));
        return tiff_read::damaged;
    }

    float xres = 10.0f, yres = 10.0f;
    uint16_t unit = RESUNIT_CENTIMETER;
    TIFFGetField(tif.t, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(tif.t, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetField(tif.t, TIFFTAG_RESOLUTIONUNIT, &unit);

    staged_image s;
    s.width = (int)w;
    s.height = (int)h;
    s.data_colour = COLOUR_GREY;
    s.channels = 1;
    if (index == -1) {
        s.has_spacing = true;
        s.pixel_width = spacing_from_resolution(xres, unit, out.pixel_width);
        s.pixel_height = spacing_from_resolution(yres, unit, out.pixel_height);
    }
    int offset = 0;
    if (bits == 8) {
        s.has_centre = s.has_range = true;
        s.window_centre = 127;
        s.window_range = 255;
        s.tiff_output = 0;
    } else {
        uint16_t lo = 0, hi = 0;
        s.window_centre = window_centre;
        if (TIFFGetField(tif.t, TIFFTAG_MINSAMPLEVALUE, &lo) &&
            TIFFGetField(tif.t, TIFFTAG_MAXSAMPLEVALUE, &hi)) {
            s.has_centre = s.has_range = true;
            s.window_centre = (lo + hi) / 2;
            s.window_range = hi - lo;
        }
        const char* description = nullptr;
        if (TIFFGetField(tif.t, TIFFTAG_IMAGEDESCRIPTION, &description) && description &&
            std::strcmp(description, "Voxmira RMAR CT Data") == 0) {
            offset = -32768;
            s.window_centre -= 32768;
            s.has_centre = true;  // without limits only the centre moves
        }
        s.tiff_output = 1;
    }
    s.tiff_offset = offset;

    // Every sample is written below, so the buffer is not cleared first.
    s.raw.reset(new_samples_unfilled(w, h, 1));
    if (!s.raw) {
        wxLogWarning("%s: not enough memory for a %u x %u image.", path_text(path), w, h);
        return tiff_read::damaged;
    }
    std::unique_ptr<unsigned char[]> row(new unsigned char[(size_t)TIFFScanlineSize(tif.t)]);
    int lo = 100000, hi = -100000;
    for (uint32_t y = 0; y < h; y++) {
        if (TIFFReadScanline(tif.t, row.get(), y, 0) < 0) {
            wxLogWarning("%s: the TIFF image data end or are damaged at row %u.", path_text(path), y);
            return tiff_read::damaged;
        }
        int* dst = s.raw.get() + (size_t)y * w;
        if (bits == 8) {
            for (uint32_t x = 0; x < w; x++) {
                const int v = row[x];
                dst[x] = v * 16;
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
        } else {
            const uint16_t* words = reinterpret_cast<const uint16_t*>(row.get());
            int row_lo = lo, row_hi = hi;
            for (uint32_t x = 0; x < w; x++) {
                const int v = words[x] + offset;
                dst[x] = v * 16;
                row_lo = std::min(row_lo, v);
                row_hi = std::max(row_hi, v);
            }
            lo = row_lo;
            hi = row_hi;
        }
    }
    s.data_min = lo;
    s.data_max = hi;
    pages = p;
    out = std::move(s);
    return tiff_read::loaded;
}

#include "io/jpeg8_decode.h"

#include <cstdio>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "io/ijg_errors.h"
#include "io/lossless_jpeg.h"

bool jpeg8_decode(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out)
{
    // Grey 8-bit streams also come in frames of 16 bits allocated (8 stored).
    const bool wide = h.bits_allocated == 16 && h.samples == 1;
    if ((h.samples != 1 && h.samples != 3) || (h.bits_allocated != 8 && !wide)) return false;
    // The library sizes its work from the frame header: check it first. A DCT block costs
    // at least two bits, which bounds the pixels a fragment can describe.
    lossless_jpeg_frame frame;
    if (!lossless_jpeg_read_frame(f, length, frame) || frame.marker < 0xC0 || frame.marker > 0xC2 ||
        frame.precision != 8)
        return false;
    if (frame.width != h.columns || frame.height != h.rows || frame.components != h.samples) {
        out.refusal = "its JPEG data describe another image than its header";
        return false;
    }
    const size_t pixels = (size_t)h.rows * h.columns;
    if (pixels > length * 256) {
        out.refusal = "its JPEG data are too short for the image";
        return false;
    }
    if (length > (size_t)0x7FFFFFFF) return false;

    jpeg_decompress_struct cinfo;
    ijg_errors err;
    err.install(cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        out.bytes.clear();
        out.refusal = "its JPEG data do not decode (damaged or truncated)";
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, f, (unsigned long)length);
    jpeg_read_header(&cinfo, TRUE);
    if ((int)cinfo.image_width != h.columns || (int)cinfo.image_height != h.rows ||
        cinfo.num_components != h.samples) {
        jpeg_destroy_decompress(&cinfo);
        out.refusal = "its JPEG data describe another image than its header";
        return false;
    }
    if (h.samples == 3) {
        if (!cinfo.saw_JFIF_marker && !cinfo.saw_Adobe_marker)
            cinfo.jpeg_color_space = h.ybr ? JCS_YCbCr : JCS_RGB;
        cinfo.out_color_space = JCS_RGB;
    } else {
        cinfo.out_color_space = JCS_GRAYSCALE;
    }
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    if ((int)cinfo.output_width != h.columns || (int)cinfo.output_height != h.rows ||
        cinfo.output_components != h.samples) {
        jpeg_destroy_decompress(&cinfo);
        out.refusal = "its JPEG data describe another image than its header";
        return false;
    }
    out.bytes.resize(pixels * h.samples);
    const size_t stride = (size_t)h.columns * h.samples;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.bytes.data() + (size_t)cinfo.output_scanline * stride;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    }
    // Warnings while the scans are read count; a missing end-of-image marker after them
    // (the library then warns of a premature end) does not.
    const bool complete = cinfo.output_scanline == cinfo.output_height;
    const int corrupt = err.corrupt;
    if (complete) jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (!complete || corrupt) {
        out.bytes.clear();
        out.refusal = "its JPEG data do not decode (damaged or truncated)";
        return false;
    }
    if (wide) {
        out.words.resize(pixels);
        for (size_t i = 0; i < pixels; i++) out.words[i] = out.bytes[i];
        out.bytes.clear();
        out.kind = decoded_kind::words16;
        return true;
    }
    // Grey samples are taken unsigned whatever the header's pixel representation, as the
    // JPEG codes them.
    out.kind = h.samples == 3 ? decoded_kind::bytes8 : decoded_kind::red_bytes;
    out.rgb = h.samples == 3;
    return true;
}

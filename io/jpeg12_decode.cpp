#include "io/jpeg12_decode.h"

#include <cstdio>
#include <cstring>

// The 12-bit library's own header; its names are prefixed, so it links beside the 8-bit
// libjpeg that wx uses.
extern "C" {
#include <gdcm-3.0/gdcmjpeg/12/jpeglib.h>
#include <gdcm-3.0/gdcmjpeg/12/jerror.h>
}

#include "io/ijg_errors.h"
#include "io/lossless_jpeg.h"

static_assert(sizeof(JSAMPLE) == 2, "the 12-bit library keeps a sample in 16 bits");

namespace {

// The stream in memory. Past its end the library is given an end-of-image marker: a scan
// cut short then meets it and warns that its data segment ended early.
const JOCTET end_of_image[2] = {0xFF, 0xD9};

void init_source(j_decompress_ptr) {}

boolean fill_input(j_decompress_ptr c)
{
    c->src->next_input_byte = end_of_image;
    c->src->bytes_in_buffer = 2;
    return TRUE;
}

void skip_input(j_decompress_ptr c, long n)
{
    if (n <= 0) return;
    if ((size_t)n > c->src->bytes_in_buffer) {
        fill_input(c);
        return;
    }
    c->src->next_input_byte += n;
    c->src->bytes_in_buffer -= (size_t)n;
}

void term_source(j_decompress_ptr) {}

}  // namespace

bool jpeg12_decode(const uint8_t* f, size_t length, const dicom_header_t& h, decoded_frame& out)
{
    lossless_jpeg_frame frame;
    if (!lossless_jpeg_read_frame(f, length, frame)) return false;
    if (frame.marker < 0xC0 || frame.marker > 0xC2 || frame.precision != 12) return false;
    if (h.bits_allocated != 16 || (h.samples != 1 && h.samples != 0)) {
        out.refusal = "12-bit JPEG is read for grey data of 16 bits allocated only";
        return false;
    }
    if (frame.width != h.columns || frame.height != h.rows || frame.components != 1) {
        out.refusal = "its JPEG data describe another image than its header";
        return false;
    }
    // A DCT block costs at least a few bits, which bounds the pixels a stream can describe.
    const size_t pixels = (size_t)h.rows * h.columns;
    if (pixels > length * 256) {
        out.refusal = "its JPEG data are too short for the image";
        return false;
    }

    jpeg_decompress_struct cinfo;
    ijg_errors err;
    err.install(cinfo);
    jpeg_source_mgr source;
    // Everything that must survive a longjmp lives above this point or in `out`.
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        out.words.clear();
        out.refusal = "its 12-bit JPEG data do not decode (damaged or truncated)";
        return false;
    }
    jpeg_create_decompress(&cinfo);
    source.next_input_byte = f;
    source.bytes_in_buffer = length;
    source.init_source = init_source;
    source.fill_input_buffer = fill_input;
    source.skip_input_data = skip_input;
    source.resync_to_restart = jpeg_resync_to_restart;
    source.term_source = term_source;
    cinfo.src = &source;
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width != h.columns || cinfo.image_height != h.rows ||
        cinfo.num_components != 1 || cinfo.data_precision != 12) {
        jpeg_destroy_decompress(&cinfo);
        out.refusal = "its JPEG data describe another image than its header";
        return false;
    }
    cinfo.out_color_space = JCS_GRAYSCALE;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != h.columns || cinfo.output_height != h.rows ||
        cinfo.output_components != 1) {
        jpeg_destroy_decompress(&cinfo);
        out.refusal = "its JPEG data describe another image than its header";
        return false;
    }
    out.words.resize(pixels);
    const bool sign = h.pixel_representation == 1;
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION y = cinfo.output_scanline;
        JSAMPLE* row = reinterpret_cast<JSAMPLE*>(out.words.data() + (size_t)y * h.columns);
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
        // Samples are 0 .. 4095; signed data keep two's complement in those 12 bits.
        if (sign)
            for (int x = 0; x < h.columns; x++) {
                const uint16_t w = out.words[(size_t)y * h.columns + x];
                out.words[(size_t)y * h.columns + x] = (w & 0x800) ? (uint16_t)(w | 0xF000) : w;
            }
    }
    const bool complete = cinfo.output_scanline == cinfo.output_height;
    const int corrupt = err.corrupt;  // while the scans were read
    if (complete) jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    if (!complete || corrupt) {
        out.words.clear();
        out.refusal = "its 12-bit JPEG data do not decode (damaged or truncated)";
        return false;
    }
    out.kind = decoded_kind::words16;
    return true;
}

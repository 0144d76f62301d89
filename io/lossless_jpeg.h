// Decoder for the lossless (predictive, Huffman-coded) JPEG process, as DICOM's lossless
// JPEG transfer syntaxes carry it. One complete stream in memory becomes 8-bit grey,
// 16-bit grey or 24-bit RGB samples.
//
// The decoder keeps its state per call, so calls may overlap; every length and offset in
// the stream is checked against the stream before use and nothing is written outside the
// output buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// What the frame header of a stream says.
struct lossless_jpeg_frame {
    int width = 0;
    int height = 0;
    int components = 0;  // frame components (Nf), 1 to 255
    int precision = 0;   // sample precision P, 2 to 16
    int marker = 0;      // the frame marker, 0xC0 to 0xCF; only 0xC3 (lossless) is decoded
};

// Reads the headers up to the frame header of any JPEG process, quietly (AC Huffman tables
// are passed over). False when the stream does not start with a start-of-image marker, or a
// table or the frame header is malformed.
bool lossless_jpeg_read_frame(const unsigned char* stream, size_t length,
                              lossless_jpeg_frame& frame);

// Decodes `stream` (`length` bytes) into `out`, which holds `out_size` bytes.
// `out_bits` selects the layout, rows top to bottom without padding:
//   8  one byte per pixel, the low 8 bits of the first scan component;
//   16 one host-order unsigned 16-bit word per pixel, the first scan component;
//   any other value (24 is used) three bytes per pixel, the low bytes of the first three
//      scan components (the stream must carry at least three).
// The frame must fill `out` exactly: width x height x bytes per pixel == out_size.
// Returns 0 on success and -1 on any failure (malformed or truncated stream, unsupported
// process, size mismatch); `out` may then be partly written. A scan whose Huffman table is
// not defined, or a stream with AC Huffman tables (a DCT-coded JPEG), is refused with the
// warning "Huffman table for lossless JPEG is not defined." through the log. On failure
// `why`, when given, is pointed at the damage found ("its scan header is missing or
// malformed", "a Huffman table's code lengths cannot form a code", ...).
int JPEGLosslessDecodeImage(unsigned char* stream, unsigned char* out, int out_bits, int length,
                            size_t out_size, const char** why = nullptr);

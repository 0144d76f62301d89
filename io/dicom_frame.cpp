// Locating a DICOM frame's samples and converting them to the record's values.
#include "io/dicom_frame.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <wx/log.h>

#include "core/byte_order.h"

namespace {

// What a transfer syntax UID stands for, for refusal messages.
const char* transfer_syntax_name(const std::string& uid)
{
    static const struct {
        const char* uid;
        const char* name;
    } names[] = {
        {"1.2.840.10008.1.2.4.50", "baseline JPEG"},
        {"1.2.840.10008.1.2.4.51", "extended (12-bit) JPEG"},
        {"1.2.840.10008.1.2.4.57", "lossless JPEG"},
        {"1.2.840.10008.1.2.4.70", "lossless JPEG (selection value 1)"},
        {"1.2.840.10008.1.2.4.80", "JPEG-LS lossless"},
        {"1.2.840.10008.1.2.4.81", "JPEG-LS near-lossless"},
        {"1.2.840.10008.1.2.4.90", "JPEG 2000 lossless"},
        {"1.2.840.10008.1.2.4.91", "JPEG 2000"},
        {"1.2.840.10008.1.2.4.201", "High-Throughput JPEG 2000 lossless"},
        {"1.2.840.10008.1.2.4.202", "High-Throughput JPEG 2000 (RPCL) lossless"},
        {"1.2.840.10008.1.2.4.203", "High-Throughput JPEG 2000"},
        {"1.2.840.10008.1.2.5", "RLE"},
        {"1.2.840.10008.1.2.4.100", "MPEG-2 video"},
        {"1.2.840.10008.1.2.4.102", "MPEG-4 video"},
        {"1.2.840.10008.1.2.4.110", "MPEG-4 video"},
        {"1.2.840.10008.1.2.4.107", "HEVC video"},
    };
    for (const auto& n : names)
        if (uid == n.uid) return n.name;
    return "an encoding Voxmira does not know";
}

// 1-bit samples (segmentations): frames follow each other bit by bit, the first pixel in
// the lowest bit of a byte; unpacked to one 0 or 1 byte a pixel.
bool unpack_bits(const dicom_header_walk& w, bool in_frames, frame_source& src, int64_t& available)
{
    const uint32_t length = w.pixel_length;
    const bool undefined = w.encapsulated;
    const size_t pos = w.pixel_pos;
    if (undefined) {
        w.warn(wxString::Format("The DICOM file %s holds compressed 1-bit data, which Voxmira does not "
                              "read.", w.file_text()));
        return false;
    }
    const uint64_t frame_bits = (uint64_t)w.h.rows * w.h.columns;
    const uint64_t first = in_frames ? (uint64_t)(w.index - 1) * frame_bits : 0;
    const uint64_t have = (uint64_t)std::min<size_t>(length, w.size - pos) * 8;
    if (first + frame_bits > have) {
        w.warn(wxString::Format("The DICOM file %s is truncated: its 1-bit pixel data end before frame %i "
                              "does.", w.file_text(), std::max(w.index, 1)));
        return false;
    }
    available = (int64_t)(have / frame_bits);
    const uint8_t* p = w.data + pos;
    src.expanded.resize(frame_bits);
    for (uint64_t i = 0; i < frame_bits; i++) {
        const uint64_t b = first + i;
        src.expanded[i] = (p[b >> 3] >> (b & 7)) & 1;
    }
    src.raw = src.expanded.data();
    src.uncompressed = true;
    return true;
}

}  // namespace

// A double to int, truncated toward zero and held within the int range.
int clamp_to_int(double v)
{
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    return (int)v;
}

// YBR_FULL to RGB in place over interleaved samples (value x 16), as DCMTK renders them:
// offsets at half the range; YBR_FULL truncates each term toward zero (its lookup tables),
// YBR_FULL_422 the whole sum; then clamped to 0 .. maximum.
void ybr_to_rgb(int* samples, size_t pixels, int bits, bool pairs)
{
    const double m = (double)((1 << bits) - 1);
    const int top = (1 << bits) - 1;
    auto clamped = [&](double v) { return v < 0 ? 0 : v > m ? top : (int)v; };
    for (size_t i = 0; i < pixels; i++) {
        int* p = samples + 3 * i;
        const int y = p[0] / 16, cb = p[1] / 16, cr = p[2] / 16;
        int r, g, b;
        if (pairs) {
            r = clamped(y + 1.4020 * cr - 0.7010 * m);
            g = clamped(y - 0.3441 * cb - 0.7141 * cr + 0.5291 * m);
            b = clamped(y + 1.7720 * cb - 0.8859 * m);
        } else {
            r = std::clamp(y + (int)(1.4020 * cr - 0.7010 * m), 0, top);
            g = std::clamp(y - (int)(0.3441 * cb) - (int)(0.7141 * cr - 0.5291 * m), 0, top);
            b = std::clamp(y + (int)(1.7720 * cb - 0.8859 * m), 0, top);
        }
        p[0] = 16 * r;
        p[1] = 16 * g;
        p[2] = 16 * b;
    }
}

// Converts every sample s of the frame to trunc((s x slope + intercept) x 16) into `out`
// and returns the smallest and largest result. Integer sources go through a table of every
// possible sample value (the same arithmetic, once per value rather than once per sample);
// the range is then taken over the table entries that occur, which spares a second pass.
bool convert_samples(const frame_source& src, const dicom_header_t& h, bool big_endian,
                     int* out, size_t count, int& lo, int& hi)
{
    const bool is_signed = h.pixel_representation == 1;
    auto value = [&](double s) {
        return clamp_to_int((s * h.rescale_slope + h.rescale_intercept) * 16.0);
    };
    lo = INT_MAX;
    hi = INT_MIN;
    if (h.bits_allocated == 32 && (src.uncompressed || src.decoded.kind == decoded_kind::words32)) {
        // 32-bit samples load only when every rescaled value x 16 fits the record's ints.
        const uint8_t* words = src.uncompressed ? src.raw : src.decoded.bytes.data();
        for (size_t i = 0; i < count; i++) {
            uint32_t w;
            if (src.uncompressed)
                w = big_endian ? be32(words + 4 * i) : le32(words + 4 * i);
            else
                std::memcpy(&w, words + 4 * i, 4);
            const double v = ((is_signed ? (double)(int32_t)w : (double)w) * h.rescale_slope +
                              h.rescale_intercept) * 16.0;
            if (!(v >= -2147483648.0 && v < 2147483648.0)) return false;
            out[i] = (int)v;
            lo = std::min(lo, out[i]);
            hi = std::max(hi, out[i]);
        }
        return true;
    }
    if (src.decoded.kind == decoded_kind::jpeg2000) {
        for (size_t i = 0; i < count; i++) {
            out[i] = value(src.decoded.ints[i]);
            lo = std::min(lo, out[i]);
            hi = std::max(hi, out[i]);
        }
        return true;
    }
    const bool bytes = src.uncompressed ? h.bits_allocated == 8 || h.bits_allocated == 1
                                        : src.decoded.kind != decoded_kind::words16;
    const int values = bytes ? 256 : 65536;
    std::vector<int> table(values);
    std::vector<uint8_t> seen(values, 0);
    if (bytes) {
        const bool signed_bytes = is_signed && src.decoded.kind != decoded_kind::red_bytes;
        for (int b = 0; b < 256; b++) table[b] = value(signed_bytes ? (int8_t)b : b);
        const uint8_t* p = src.uncompressed ? src.raw : src.decoded.bytes.data();
        for (size_t i = 0; i < count; i++) {
            out[i] = table[p[i]];
            seen[p[i]] = 1;
        }
    } else {
        for (int w = 0; w < 65536; w++) table[w] = value(is_signed ? (int16_t)w : w);
        if (src.uncompressed) {
            const uint8_t* p = src.raw;
            for (size_t i = 0; i < count; i++) {
                const uint16_t w = big_endian ? be16(p + 2 * i) : le16(p + 2 * i);
                out[i] = table[w];
                seen[w] = 1;
            }
        } else {
            const uint16_t* p = src.decoded.words.data();
            for (size_t i = 0; i < count; i++) {
                out[i] = table[p[i]];
                seen[p[i]] = 1;
            }
        }
    }
    for (int v = 0; v < values; v++)
        if (seen[v]) {
            lo = std::min(lo, table[v]);
            hi = std::max(hi, table[v]);
        }
    return true;
}

wxString uncompressed_frame_offset(const dicom_header_walk& w, bool in_frames, size_t frame_size, size_t& offset)
{
    offset = 0;
    // Frames of a multi-frame file are counted from 1; frame 1 starts the element.
    if (in_frames && w.index >= 2) {
        const size_t skip = (size_t)(w.index - 1);
        if (skip > w.pixel_length / frame_size - 1)
            return wxString::Format("The DICOM file %s does not hold frame %i.", w.file_text(), w.index);
        offset = skip * frame_size;
    }
    const size_t pos = w.pixel_pos;
    if (frame_size > w.size - pos || offset > w.size - pos - frame_size)
        return wxString::Format("The DICOM file %s is truncated: its pixel data end after the end of the file.",
                                w.file_text());
    offset += pos;
    return wxString();
}

// Finds the samples of the wanted frame: in the file for uncompressed data, or through
// the decoder chain for encapsulated and short pixel data.
bool locate_frame(const dicom_header_walk& w, bool in_frames, frame_source& src, int64_t& available)
{
    const uint32_t length = w.pixel_length;
    const bool undefined = w.encapsulated;
    size_t pos = w.pixel_pos;
    if (w.h.bits_allocated == 1) return unpack_bits(w, in_frames, src, available);
    // Uncompressed YBR_FULL_422 stores two samples a pixel (Y1 Y2 Cb Cr per pair).
    const bool pairs = w.h.ybr_422 && w.h.samples == 3 && !undefined;
    const size_t frame_size =
        (size_t)w.h.rows * w.h.columns * (pairs ? 2 : w.h.samples) * (w.h.bits_allocated / 8);
    if (!undefined && length >= frame_size) {
        size_t offset;
        const wxString fault = uncompressed_frame_offset(w, in_frames, frame_size, offset);
        if (!fault.empty()) {
            w.warn(fault);
            return false;
        }
        src.raw = w.data + offset;
        available = (int64_t)(std::min<size_t>(length, w.size - pos) / frame_size);
        src.uncompressed = true;
        if (pairs) {
            if (w.h.columns % 2 != 0) {
                w.warn(wxString::Format("The DICOM file %s stores YBR_FULL_422 pixels in pairs but has an "
                                      "odd width (%i).", w.file_text(), w.h.columns));
                return false;
            }
            const size_t bytes = w.h.bits_allocated / 8, n = (size_t)w.h.rows * w.h.columns;
            src.expanded.resize(n * 3 * bytes);
            static const size_t order[6] = {0, 2, 3, 1, 2, 3};  // Y1 Cb Cr, Y2 Cb Cr
            for (size_t i = 0; i < n; i += 2) {
                const uint8_t* q = src.raw + i * 2 * bytes;  // Y1 Y2 Cb Cr
                uint8_t* o = src.expanded.data() + i * 3 * bytes;
                for (int k = 0; k < 6; k++) std::memcpy(o + k * bytes, q + order[k] * bytes, bytes);
            }
            src.raw = src.expanded.data();
        }
        return true;
    }
    const uint8_t* fragment = nullptr;
    size_t fragment_length = 0;
    std::vector<uint8_t> joined;
    if (undefined) {
        // The basic offset table item, then the item tag of the first fragment.
        auto truncated = [&]() {
            w.warn(wxString::Format("The DICOM file %s is truncated or corrupt: its "
                                  "encapsulated pixel data end early.", w.file_text()));
            return false;
        };
        if (w.size - pos < 8) return truncated();
        pos += 8;
        for (;;) {
            if (w.size - pos < 8) return truncated();
            if (le16(w.data + pos) == 0xFFFE && le16(w.data + pos + 2) == 0xE000) break;
            pos += 2;
        }
        uint32_t item = le32(w.data + pos + 4);
        pos += 8;
        // One fragment per frame.
        if (in_frames && w.index >= 2) {
            for (int k = 1; k < w.index; k++) {
                if (item > w.size - pos || w.size - pos - item < 8) return truncated();
                pos += item;
                if (le16(w.data + pos) != 0xFFFE || le16(w.data + pos + 2) != 0xE000) {
                    w.warn(wxString::Format("The DICOM file %s does not hold frame %i.",
                                          w.file_text(), w.index));
                    return false;
                }
                item = le32(w.data + pos + 4);
                pos += 8;
            }
        }
        if (item > w.size - pos) return truncated();
        fragment = w.data + pos;
        fragment_length = item;
        // A single frame may be split over several fragments (encoders limit their size):
        // the frame's stream is all of them, in order.
        if (w.h.number_of_frames <= 1) {
            size_t at = pos + item;
            while (w.size - at >= 8 && le16(w.data + at) == 0xFFFE && le16(w.data + at + 2) == 0xE000) {
                const uint32_t n = le32(w.data + at + 4);
                if (n > w.size - at - 8) return truncated();
                if (joined.empty()) joined.assign(fragment, fragment + fragment_length);
                joined.insert(joined.end(), w.data + at + 8, w.data + at + 8 + n);
                at += 8 + (size_t)n;
            }
            if (!joined.empty()) {
                fragment = joined.data();
                fragment_length = joined.size();
            }
        }
        // The rest of the element is not needed, except on a first open to count the
        // fragments that follow: a frame count beyond them could never be loaded.
        if (w.index == -1 && w.multi_frame) {
            available = 1;
            size_t at = pos + item;
            while (available < w.h.number_of_frames && w.size - at >= 8 &&
                   le16(w.data + at) == 0xFFFE && le16(w.data + at + 2) == 0xE000) {
                const uint32_t n = le32(w.data + at + 4);
                if (n > w.size - at - 8) break;
                at += 8 + (size_t)n;
                available++;
            }
        }
    }
    if (!decode_compressed_frame(fragment, fragment_length, w.h, src.decoded)) {
        // The program's wording, then the reason when a decoder recognised its data.
        if (!src.decoded.refusal.empty())
            wxLogWarning("%s\n(%s: %s.)", dicom_unsupported_compression_text, w.file_text(), src.decoded.refusal);
        else if (!w.transfer_syntax.empty())
            wxLogWarning("%s\n(%s: its transfer syntax %s, %s, is not read.)", dicom_unsupported_compression_text,
                         w.file_text(), wxString(w.transfer_syntax), transfer_syntax_name(w.transfer_syntax));
        else
            wxLogWarning("%s", dicom_unsupported_compression_text);
        return false;
    }
    return true;
}

// PALETTE COLOR: each stored index (value x 16) through the red, green and blue tables
// into interleaved RGB x 16. Indices below the first mapped value take the first entry,
// above the last the last one (as the standard says); 16-bit entries keep their high byte,
// as DCMTK renders them. False, with a warning, for tables that are missing or shorter
// than their descriptors.
bool apply_palette(const dicom_header_walk& w, const int* index, size_t n, int* rgb, int& lo, int& hi)
{
    std::vector<int> table[3];
    for (int c = 0; c < 3; c++) {
        const dicom_palette_lut& t = w.palette[c];
        const size_t entries = t.entries == 0 ? 65536 : t.entries;
        const size_t bytes = t.bits == 16 ? 2 : t.bits == 8 ? 1 : 0;
        if (!t.data || bytes == 0 || t.length < entries * bytes) {
            w.warn(wxString::Format("The DICOM file %s is PALETTE COLOR but its lookup tables are missing "
                                  "or shorter than their descriptors say.", w.file_text()));
            return false;
        }
        table[c].resize(entries);
        for (size_t i = 0; i < entries; i++) {
            const uint8_t* p = t.data + i * bytes;
            table[c][i] = bytes == 1 ? p[0] : (w.big_endian ? be16(p) : le16(p)) >> 8;
        }
    }
    // The first mapped value is signed when the pixel values are.
    const int first_signed = w.h.pixel_representation == 1 ? (int16_t)w.palette[0].first : w.palette[0].first;
    lo = INT_MAX;
    hi = INT_MIN;
    for (size_t i = 0; i < n; i++)
        for (int c = 0; c < 3; c++) {
            const int first = c == 0 ? first_signed
                              : w.h.pixel_representation == 1 ? (int16_t)w.palette[c].first : w.palette[c].first;
            const long k = std::clamp<long>((long)(index[i] / 16) - first, 0, (long)table[c].size() - 1);
            const int v = 16 * table[c][k];
            rgb[3 * i + c] = v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    return true;
}

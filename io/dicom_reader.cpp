#include "io/dicom_reader.h"

#include <algorithm>
#include <climits>
#include <new>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <wx/log.h>
#include <zlib.h>

#include "core/byte_order.h"
#include "core/mapped_file.h"
#include "core/path_buffer.h"
#include "core/record.h"
#include "core/checked_size.h"
#include "io/dicom_pixel_data.h"
#include "io/dicom_series.h"
#include "io/dicom_writer.h"
#include "io/frame_writer.h"

namespace {

// Paths are limited to what the program's 1024-byte path buffer has always held.
const size_t path_buffer_size = 1024;
// Text values longer than this are not parsed.
const size_t text_buffer_size = 1024;

inline bool is_upper(uint8_t c) { return c >= 'A' && c <= 'Z'; }

// Value representations whose explicit form has two reserved bytes and a 32-bit length.
bool long_length_vr(uint8_t a, uint8_t b)
{
    static const char* const vrs[] = {"OB", "OW", "SQ", "UN", "UT", "OF", "OD", "OL", "OV",
                                      "SV", "UV", "UC", "UR"};
    for (const char* v : vrs)
        if (a == (uint8_t)v[0] && b == (uint8_t)v[1]) return true;
    return false;
}

// Parses a text value with a scanf format of `n` doubles; only finite values are kept.
void parse_doubles(const char* text, const char* format, double* out, int n)
{
    double v[6];
    int got = 0;
    switch (n) {
    case 1: got = std::sscanf(text, format, &v[0]); break;
    case 2: got = std::sscanf(text, format, &v[0], &v[1]); break;
    case 3: got = std::sscanf(text, format, &v[0], &v[1], &v[2]); break;
    case 6: got = std::sscanf(text, format, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]); break;
    }
    for (int i = 0; i < got && i < n; i++)
        if (std::isfinite(v[i])) out[i] = v[i];
}

// A double to int, truncated toward zero and held within the int range.
int clamp_to_int(double v)
{
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    return (int)v;
}

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

// A text value without its padding spaces.
std::string trimmed(const char* text)
{
    std::string s(text);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
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

// Where the samples of the frame come from.
struct frame_source {
    const uint8_t* raw = nullptr;  // uncompressed samples in the file
    decoded_frame decoded;         // or the output of the decoder chain
    bool uncompressed = false;
    std::vector<uint8_t> expanded;  // YBR_FULL_422 pairs spread to three samples a pixel
};

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

// One walk over one file.
class dicom_walk {
public:
    // `deflated`: the bytes are the file with its data set inflated (never written back).
    dicom_walk(const uint8_t* data, size_t size, const std::string& name, int index, bool deflated)
        : d_(data), size_(size), name_(name), index_(index), deflated_(deflated)
    {
    }

    // Walks to the pixel data and fills the record; false on failure (warned when the
    // file is evidently DICOM).
    bool run(const frame_fields& discovered);

private:
    bool walk_to_pixel_data(uint32_t& length, bool& undefined);
    bool read_element_header(uint16_t& group, uint16_t& element, uint32_t& length);
    bool skip_undefined_length();
    bool skip_items(int depth);
    void act_on(uint16_t group, uint16_t element, const uint8_t* value, uint32_t length);
    bool locate_frame(uint32_t length, bool undefined, frame_source& src);
    bool write_frame(uint32_t length, bool undefined);
    bool unpack_bits(uint32_t length, bool undefined, frame_source& src);
    void warn(const wxString& text) const
    {
        if (looks_dicom()) wxLogWarning("%s", text);
    }
    bool looks_dicom() const { return has_prefix_ || ts_seen_ || h_.rows || h_.columns; }
    wxString file_text() const { return path_text(name_); }

    const uint8_t* d_;
    size_t size_;
    size_t pos_ = 0;
    std::string name_;
    int index_;
    bool deflated_;
    std::string transfer_syntax_;
    dicom_header_t h_;
    bool ts_seen_ = false, explicit_vr_ = true, big_endian_ = false, has_prefix_ = false;
    bool multi_frame_ = false;
    int64_t available_frames_ = 1;  // frames the pixel data actually hold (first open)
    // The red, green and blue lookup tables of PALETTE COLOR data.
    struct palette_lut {
        uint32_t entries = 0;  // 0 stands for 65536
        uint16_t first = 0, bits = 0;
        const uint8_t* data = nullptr;
        size_t length = 0;
    } palette_[3];
    bool apply_palette(const int* index, size_t n, int* rgb, int& lo, int& hi) const;
    // The identities a written copy replaces: the first top-level occurrence of each.
    dicom_value_span media_instance_uid_, instance_uid_, series_uid_;
};

// Skips an undefined-length value. A sequence is stepped over item by item, entering
// undefined-length items element by element, so that a sequence nested in an item (an
// icon's thumbnail behind a referenced-image sequence) ends where it does and none of the
// item's elements is taken for the data set's own. A value that is not made of items is
// scanned in 16-bit words for a sequence delimitation item with zero length (FFFE, E0DD,
// 0000, 0000).
bool dicom_walk::skip_undefined_length()
{
    const size_t start = pos_;
    if (skip_items(0)) return true;
    pos_ = start;
    const uint8_t a = big_endian_ ? 0xFF : 0xFE, b = big_endian_ ? 0xFE : 0xFF;
    const uint8_t c = big_endian_ ? 0xE0 : 0xDD, e = big_endian_ ? 0xDD : 0xE0;
    while (size_ - pos_ >= 8) {
        const uint8_t* p = d_ + pos_;
        if (p[0] == a && p[1] == b && p[2] == c && p[3] == e && le32(p + 4) == 0) {
            pos_ += 8;
            return true;
        }
        pos_ += 2;
    }
    pos_ = size_;
    return false;
}

// The items of an undefined-length value up to and past its delimiter; false (position
// undefined) when the bytes are not items or nest deeper than any real file.
bool dicom_walk::skip_items(int depth)
{
    if (depth > 32) return false;
    uint16_t group, element;
    uint32_t length;
    for (;;) {
        if (!read_element_header(group, element, length) || group != 0xFFFE) return false;
        if (element == 0xE0DD) return true;
        if (element != 0xE000) return false;
        if (length != 0xFFFFFFFFu) {
            if (length > size_ - pos_) return false;
            pos_ += length;
            continue;
        }
        for (;;) {
            if (!read_element_header(group, element, length)) return false;
            if (group == 0xFFFE && element == 0xE00D) break;
            if (length == 0xFFFFFFFFu) {
                if (!skip_items(depth + 1)) return false;
            } else {
                if (length > size_ - pos_) return false;
                pos_ += length;
            }
        }
    }
}

void dicom_walk::act_on(uint16_t group, uint16_t element, const uint8_t* value, uint32_t length)
{
    const uint32_t tag = (uint32_t)group << 16 | element;
    auto u16 = [&](uint16_t& field) {
        if (length >= 2) field = big_endian_ ? be16(value) : le16(value);
    };
    char text[text_buffer_size];
    auto read_text = [&]() {
        if (length >= text_buffer_size) return false;
        std::memcpy(text, value, length);
        text[length] = '\0';
        return true;
    };
    switch (tag) {
    case 0x00020010:
        ts_seen_ = true;
        if (read_text()) transfer_syntax_ = trimmed(text);
        if (length == 20 && value[18] == '2') big_endian_ = true;
        if (length == 18) explicit_vr_ = false;
        break;
    // The identities the data-set writer replaces; reading does not need them.
    case 0x00020003: case 0x00080018: case 0x0020000E: {
        dicom_value_span& span = tag == 0x00020003 ? media_instance_uid_
                                 : tag == 0x00080018 ? instance_uid_
                                                     : series_uid_;
        if (span.length == 0) span = {(size_t)(value - d_), length};
        break;
    }
    case 0x00180050:
        if (read_text()) parse_doubles(text, "%lf", &h_.slice_thickness, 1);
        break;
    case 0x00181100:
        if (read_text()) parse_doubles(text, "%lf", &h_.reconstruction_diameter, 1);
        break;
    case 0x00186056: case 0x00186058: case 0x0018605A:
        read_text();  // ultrasound break-point tables: read, not used
        break;
    case 0x00200032:
        if (read_text()) parse_doubles(text, "%lf\\%lf\\%lf", h_.position, 3);
        break;
    case 0x00200037:
        if (read_text()) {
            double o[6];
            if (std::sscanf(text, "%lf\\%lf\\%lf\\%lf\\%lf\\%lf", &o[0], &o[1], &o[2], &o[3],
                            &o[4], &o[5]) == 6 &&
                std::all_of(o, o + 6, [](double v) { return std::isfinite(v); })) {
                std::copy(o, o + 6, h_.orientation);
                h_.orientation_set = true;
            }
        }
        break;
    case 0x00201041:
        if (read_text()) parse_doubles(text, "%lf", &h_.slice_location, 1);
        break;
    case 0x00280002: u16(h_.samples); break;
    case 0x00280004:  // photometric interpretation
        if (read_text()) {
            h_.monochrome1 = std::strncmp(text, "MONOCHROME1", 11) == 0;
            const std::string p = trimmed(text);
            h_.ybr = p == "YBR_FULL" || p == "YBR_FULL_422";
            h_.ybr_422 = p == "YBR_FULL_422";
            h_.palette = p == "PALETTE COLOR";
        }
        break;
    // The palette's three descriptors (entries, first mapped value, bits per entry) and tables.
    case 0x00281101: case 0x00281102: case 0x00281103:
        if (length >= 6) {
            palette_lut& t = palette_[element - 0x1101];
            t.entries = big_endian_ ? be16(value) : le16(value);
            t.first = big_endian_ ? be16(value + 2) : le16(value + 2);
            t.bits = big_endian_ ? be16(value + 4) : le16(value + 4);
        }
        break;
    case 0x00281201: case 0x00281202: case 0x00281203: {
        palette_lut& t = palette_[element - 0x1201];
        t.data = value;
        t.length = length;
        break;
    }
    case 0x00280006: u16(h_.planar_configuration); break;
    case 0x00280008:
        if (read_text()) {
            int n;
            // Decimal only: an IS value of "010" is ten frames.
            if (std::sscanf(text, "%d", &n) == 1) {
                h_.number_of_frames = n;
                if (index_ == -1 && n >= 2) multi_frame_ = true;
            }
        }
        break;
    case 0x00280010: u16(h_.rows); break;
    case 0x00280011: u16(h_.columns); break;
    case 0x00280012: u16(h_.planes); break;
    case 0x00280030:
        if (read_text()) parse_doubles(text, "%lf\\%lf", h_.pixel_spacing, 2);
        break;
    case 0x00280100:
        u16(h_.bits_allocated);
        h_.bits_stored = h_.bits_allocated;
        break;
    case 0x00280101: u16(h_.bits_stored); break;
    case 0x00280102: u16(h_.high_bit); break;
    case 0x00280103: u16(h_.pixel_representation); break;
    case 0x00280120: u16(h_.padding_value); break;
    case 0x00281050:
        if (read_text()) parse_doubles(text, "%lf", &h_.window_centre, 1);
        break;
    case 0x00281051:
        if (read_text()) parse_doubles(text, "%lf", &h_.window_width, 1);
        break;
    case 0x00281052:
        if (read_text()) parse_doubles(text, "%lf", &h_.rescale_intercept, 1);
        break;
    case 0x00281053:
        if (read_text()) parse_doubles(text, "%lf", &h_.rescale_slope, 1);
        break;
    default:
        break;
    }
}

// Walks elements until (7FE0,0010). False when the file ends first.
// Reads the tag and length of the element at the position and moves past them. Item and
// delimiter tags (group FFFE) carry no VR in either encoding.
bool dicom_walk::read_element_header(uint16_t& group, uint16_t& element, uint32_t& length)
{
    if (size_ - pos_ < 8) return false;
    const uint8_t* p = d_ + pos_;
    group = le16(p);
    element = le16(p + 2);
    const bool meta = group == 0x0002;
    const bool big = big_endian_ && !meta;
    if (big) {
        group = be16(p);
        element = be16(p + 2);
    }
    bool is_explicit;
    if (meta)
        is_explicit = true;
    else if (group == 0xFFFE)
        is_explicit = false;
    else if (!ts_seen_)
        is_explicit = is_upper(p[4]) && is_upper(p[5]);
    else
        is_explicit = explicit_vr_;
    size_t header = 8;
    if (is_explicit) {
        if (long_length_vr(p[4], p[5])) {
            if (size_ - pos_ < 12) return false;
            length = big ? be32(p + 8) : le32(p + 8);
            header = 12;
        } else {
            length = big ? be16(p + 6) : le16(p + 6);
        }
    } else {
        length = big ? be32(p + 4) : le32(p + 4);
    }
    pos_ += header;
    return true;
}

bool dicom_walk::walk_to_pixel_data(uint32_t& length, bool& undefined)
{
    for (;;) {
        uint16_t group, element;
        if (!read_element_header(group, element, length)) return false;
        undefined = length == 0xFFFFFFFFu || length == 0xFFFFu;
        if (group == 0x7FE0 && element == 0x0010) return true;
        if (undefined) {
            if (!skip_undefined_length()) return false;
            continue;
        }
        if (length > size_ - pos_) return false;
        act_on(group, element, d_ + pos_, length);
        pos_ += length;
    }
}

// Finds the samples of the wanted frame: in the file for uncompressed data, or through
// the decoder chain for encapsulated and short pixel data.
bool dicom_walk::locate_frame(uint32_t length, bool undefined, frame_source& src)
{
    if (h_.bits_allocated == 1) return unpack_bits(length, undefined, src);
    // Uncompressed YBR_FULL_422 stores two samples a pixel (Y1 Y2 Cb Cr per pair).
    const bool pairs = h_.ybr_422 && h_.samples == 3 && !undefined;
    const size_t frame_size =
        (size_t)h_.rows * h_.columns * (pairs ? 2 : h_.samples) * (h_.bits_allocated / 8);
    const bool in_frames = index_ >= 0 && info.file_type == 0 && index_ >= info.first_frame &&
                           (int64_t)index_ < (int64_t)info.first_frame + info.frames;
    if (!undefined && length >= frame_size) {
        size_t offset = 0;
        // Frames of a multi-frame file are counted from 1; frame 1 starts the element.
        if (in_frames && index_ >= 2) {
            const size_t skip = (size_t)(index_ - 1);
            if (skip > length / frame_size - 1) {
                warn(wxString::Format("The DICOM file %s does not hold frame %i.", file_text(),
                                      index_));
                return false;
            }
            offset = skip * frame_size;
        }
        if (frame_size > size_ - pos_ || offset > size_ - pos_ - frame_size) {
            warn(wxString::Format("The DICOM file %s is truncated: its pixel data end after "
                                  "the end of the file.", file_text()));
            return false;
        }
        src.raw = d_ + pos_ + offset;
        available_frames_ = (int64_t)(std::min<size_t>(length, size_ - pos_) / frame_size);
        src.uncompressed = true;
        if (pairs) {
            if (h_.columns % 2 != 0) {
                warn(wxString::Format("The DICOM file %s stores YBR_FULL_422 pixels in pairs but has an "
                                      "odd width (%i).", file_text(), h_.columns));
                return false;
            }
            const size_t bytes = h_.bits_allocated / 8, n = (size_t)h_.rows * h_.columns;
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
            warn(wxString::Format("The DICOM file %s is truncated or corrupt: its "
                                  "encapsulated pixel data end early.", file_text()));
            return false;
        };
        if (size_ - pos_ < 8) return truncated();
        pos_ += 8;
        for (;;) {
            if (size_ - pos_ < 8) return truncated();
            if (le16(d_ + pos_) == 0xFFFE && le16(d_ + pos_ + 2) == 0xE000) break;
            pos_ += 2;
        }
        uint32_t item = le32(d_ + pos_ + 4);
        pos_ += 8;
        // One fragment per frame.
        if (in_frames && index_ >= 2) {
            for (int k = 1; k < index_; k++) {
                if (item > size_ - pos_ || size_ - pos_ - item < 8) return truncated();
                pos_ += item;
                if (le16(d_ + pos_) != 0xFFFE || le16(d_ + pos_ + 2) != 0xE000) {
                    warn(wxString::Format("The DICOM file %s does not hold frame %i.",
                                          file_text(), index_));
                    return false;
                }
                item = le32(d_ + pos_ + 4);
                pos_ += 8;
            }
        }
        if (item > size_ - pos_) return truncated();
        fragment = d_ + pos_;
        fragment_length = item;
        // A single frame may be split over several fragments (encoders limit their size):
        // the frame's stream is all of them, in order.
        if (h_.number_of_frames <= 1) {
            size_t at = pos_ + item;
            while (size_ - at >= 8 && le16(d_ + at) == 0xFFFE && le16(d_ + at + 2) == 0xE000) {
                const uint32_t n = le32(d_ + at + 4);
                if (n > size_ - at - 8) return truncated();
                if (joined.empty()) joined.assign(fragment, fragment + fragment_length);
                joined.insert(joined.end(), d_ + at + 8, d_ + at + 8 + n);
                at += 8 + (size_t)n;
            }
            if (!joined.empty()) {
                fragment = joined.data();
                fragment_length = joined.size();
            }
        }
        // The rest of the element is not needed, except on a first open to count the
        // fragments that follow: a frame count beyond them could never be loaded.
        if (index_ == -1 && multi_frame_) {
            available_frames_ = 1;
            size_t at = pos_ + item;
            while (available_frames_ < h_.number_of_frames && size_ - at >= 8 &&
                   le16(d_ + at) == 0xFFFE && le16(d_ + at + 2) == 0xE000) {
                const uint32_t n = le32(d_ + at + 4);
                if (n > size_ - at - 8) break;
                at += 8 + (size_t)n;
                available_frames_++;
            }
        }
    }
    if (!decode_compressed_frame(fragment, fragment_length, h_, src.decoded)) {
        // The program's wording, then the reason when a decoder recognised its data.
        if (!src.decoded.refusal.empty())
            wxLogWarning("%s\n(%s: %s.)", dicom_unsupported_compression_text, file_text(), src.decoded.refusal);
        else if (!transfer_syntax_.empty())
            wxLogWarning("%s\n(%s: its transfer syntax %s, %s, is not read.)", dicom_unsupported_compression_text,
                         file_text(), wxString(transfer_syntax_), transfer_syntax_name(transfer_syntax_));
        else
            wxLogWarning("%s", dicom_unsupported_compression_text);
        return false;
    }
    return true;
}

bool dicom_walk::run(const frame_fields& discovered)
{
    // Preamble and prefix, or a bare data set from byte 0.
    if (size_ >= 132 && std::memcmp(d_ + 128, "DICM", 4) == 0) {
        pos_ = 132;
        has_prefix_ = true;
    }
    uint32_t length = 0;
    bool undefined = false;
    if (!walk_to_pixel_data(length, undefined)) {
        warn(wxString::Format("The DICOM file %s ends before its pixel data.", file_text()));
        return false;
    }
    if (h_.rows == 0 || h_.columns == 0 || (h_.samples != 1 && h_.samples != 3) ||
        (h_.bits_allocated != 1 && h_.bits_allocated != 8 && h_.bits_allocated != 16 &&
         h_.bits_allocated != 32) ||
        (h_.samples != 1 && h_.bits_allocated != 8 && h_.bits_allocated != 16) ||
        !mad3_sizes_valid(h_.rows, h_.columns, h_.samples, 0)) {
        warn(wxString::Format("The DICOM file %s has an image format Voxmira does not read "
                              "(%i x %i pixels, %i samples per pixel, %i bits allocated).",
                              file_text(), h_.columns, h_.rows, h_.samples, h_.bits_allocated));
        return false;
    }
    // While a data set is written the file is not loaded: its processed frame goes out.
    if (info.writing_frames) return write_frame(length, undefined);
    frame_source src;
    if (!locate_frame(length, undefined, src)) return false;

    const bool palette = h_.palette && h_.samples == 1;
    const int channels = h_.samples == 3 || palette ? 3 : 1;
    const bool first_open = index_ == -1;
    // Record update: per-frame geometry on every load.
    auto update_geometry = [&]() {
        std::copy(h_.position, h_.position + 3, info.position);
        info.pixel_width = h_.pixel_spacing[0];
        info.pixel_height = h_.pixel_spacing[1];
        info.slice_thickness = h_.slice_thickness;
        info.slice_location = h_.slice_location;
    };
    if (!first_open && (h_.columns != info.width || h_.rows != info.height ||
                        channels != info.channels || !info.raw_image)) {
        // A frame of another size or kind in a sequence cannot take the data set's place;
        // the previous image stays.
        wxLogWarning("The DICOM file %s holds a %i x %i image with %i samples per pixel, unlike the "
                     "%i x %i image of this data set: frame %i is not shown.",
                     file_text(), h_.columns, h_.rows, h_.samples, info.width, info.height, index_);
        return false;
    }
    const size_t count = (size_t)channels * h_.columns * h_.rows;
    const size_t stored = palette ? (size_t)h_.columns * h_.rows : count;
    // A decoder never stands for more samples than it produced.
    if (!src.uncompressed && decoded_count(src.decoded) < stored) {
        warn(wxString::Format("The DICOM file %s cannot be read: its compressed pixel data hold fewer "
                              "samples than its header describes.", file_text()));
        return false;
    }
    // Every sample is written below, so the new image is not zeroed first.
    int* samples = first_open ? new (std::nothrow) int[count] : info.raw_image;
    if (first_open && samples) advise_huge_pages(samples, count * sizeof(int));
    if (!samples) {
        wxLogWarning("Not enough memory for the image of %s.", file_text());
        return false;
    }
    int lo, hi;
    if (palette) {
        std::vector<int> index(stored);
        if (!convert_samples(src, h_, big_endian_, index.data(), stored, lo, hi)) {
            if (first_open) delete[] samples;
            return false;
        }
        if (!apply_palette(index.data(), stored, samples, lo, hi)) {
            if (first_open) delete[] samples;
            return false;
        }
    } else if (!convert_samples(src, h_, big_endian_, samples, count, lo, hi)) {
        wxLogWarning("The DICOM file %s holds 32-bit values beyond what Voxmira keeps: after the "
                     "rescale every value must lie within -134217728 .. 134217727.", file_text());
        if (first_open) delete[] samples;
        return false;
    }
    // Uncompressed colour stored by plane arrives as three planes: interleave them (the
    // decoders already give interleaved pixels).
    if (src.uncompressed && channels == 3 && h_.planar_configuration == 1 && !h_.ybr_422) {
        const size_t n = (size_t)h_.columns * h_.rows;
        std::vector<int> planes(samples, samples + count);
        for (size_t i = 0; i < n; i++)
            for (int c = 0; c < 3; c++) samples[i * 3 + c] = planes[c * n + i];
    }
    // Luminance and chrominance arrive as RGB: uncompressed, and from every decoder that
    // gives the stored samples back (RLE, lossless JPEG, JPEG-LS, JPEG 2000 without its
    // component transform).
    if (channels == 3 && h_.ybr && h_.bits_allocated == 8 && !src.decoded.rgb) {
        ybr_to_rgb(samples, (size_t)h_.columns * h_.rows, 8, src.uncompressed && h_.ybr_422);
        lo = INT_MAX;
        hi = INT_MIN;
        for (size_t i = 0; i < count; i++) {
            lo = std::min(lo, samples[i]);
            hi = std::max(hi, samples[i]);
        }
    }

    update_geometry();
    if (first_open) {
        frame_fields f = discovered;
        if (multi_frame_) {
            // Frames the file cannot hold are not offered.
            f.frames = (int)std::max<int64_t>(1, std::min<int64_t>(h_.number_of_frames,
                                                                 available_frames_));
            f.first_frame = 1;
            f.file_type = 0;
            f.frame = 0;
        }
        info.file_type = f.file_type;
        info.first_frame = f.first_frame;
        info.frames = f.frames;
        info.frame = f.frame;
        info.width = h_.columns;
        info.height = h_.rows;
        info.data_colour = channels == 3 ? 1 : 0;
        info.channels = channels;
        // MONOCHROME1 keeps its stored values; the display shows them inverted.
        info.invert_grey = channels == 1 && h_.monochrome1;
        info.window_centre = clamp_to_int(h_.window_centre);
        // A width below 1 (files carry 0) proposes no window; the caller then derives one.
        info.window_range = h_.window_width >= 1.0 ? clamp_to_int(h_.window_width) : 1;
        if (h_.orientation_set) std::copy(h_.orientation, h_.orientation + 6, info.orientation);
        convert_orientation(&info.orientation_angles[0], &info.orientation_angles[1],
                            &info.orientation_angles[2]);
        release_array(info.raw_image);
        info.raw_image = samples;
        release_array(info.ref_image);
    } else if (info.file_type == 1 || info.file_type == 0) {
        info.frame = index_;
    }
    info.data_min = lo / 16;
    info.data_max = hi / 16;
    // Capability flags for the data-set writers.
    info.dicom_output = 0;
    info.tiff_output = 0;
    if (channels == 1 && info.subsample == 1) {
        if (src.uncompressed && !deflated_ && (h_.bits_allocated == 8 || h_.bits_allocated == 16))
            info.dicom_output = 1;
        else if (src.decoded.kind == decoded_kind::words16) info.tiff_output = 1;
    }
    return true;
}

// PALETTE COLOR: each stored index (value x 16) through the red, green and blue tables
// into interleaved RGB x 16. Indices below the first mapped value take the first entry,
// above the last the last one (as the standard says); 16-bit entries keep their high byte,
// as DCMTK renders them. False, with a warning, for tables that are missing or shorter
// than their descriptors.
bool dicom_walk::apply_palette(const int* index, size_t n, int* rgb, int& lo, int& hi) const
{
    std::vector<int> table[3];
    for (int c = 0; c < 3; c++) {
        const palette_lut& t = palette_[c];
        const size_t entries = t.entries == 0 ? 65536 : t.entries;
        const size_t bytes = t.bits == 16 ? 2 : t.bits == 8 ? 1 : 0;
        if (!t.data || bytes == 0 || t.length < entries * bytes) {
            warn(wxString::Format("The DICOM file %s is PALETTE COLOR but its lookup tables are missing "
                                  "or shorter than their descriptors say.", file_text()));
            return false;
        }
        table[c].resize(entries);
        for (size_t i = 0; i < entries; i++) {
            const uint8_t* p = t.data + i * bytes;
            table[c][i] = bytes == 1 ? p[0] : (big_endian_ ? be16(p) : le16(p)) >> 8;
        }
    }
    // The first mapped value is signed when the pixel values are.
    const int first_signed = h_.pixel_representation == 1 ? (int16_t)palette_[0].first : palette_[0].first;
    lo = INT_MAX;
    hi = INT_MIN;
    for (size_t i = 0; i < n; i++)
        for (int c = 0; c < 3; c++) {
            const int first = c == 0 ? first_signed
                              : h_.pixel_representation == 1 ? (int16_t)palette_[c].first : palette_[c].first;
            const long k = std::clamp<long>((long)(index[i] / 16) - first, 0, (long)table[c].size() - 1);
            const int v = 16 * table[c][k];
            rgb[3 * i + c] = v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    return true;
}

// 1-bit samples (segmentations): frames follow each other bit by bit, the first pixel in
// the lowest bit of a byte; unpacked to one 0 or 1 byte a pixel.
bool dicom_walk::unpack_bits(uint32_t length, bool undefined, frame_source& src)
{
    if (undefined) {
        warn(wxString::Format("The DICOM file %s holds compressed 1-bit data, which Voxmira does not "
                              "read.", file_text()));
        return false;
    }
    const uint64_t frame_bits = (uint64_t)h_.rows * h_.columns;
    const bool in_frames = index_ >= 2 && info.file_type == 0 && index_ >= info.first_frame &&
                           (int64_t)index_ < (int64_t)info.first_frame + info.frames;
    const uint64_t first = in_frames ? (uint64_t)(index_ - 1) * frame_bits : 0;
    const uint64_t have = (uint64_t)std::min<size_t>(length, size_ - pos_) * 8;
    if (first + frame_bits > have) {
        warn(wxString::Format("The DICOM file %s is truncated: its 1-bit pixel data end before frame %i "
                              "does.", file_text(), std::max(index_, 1)));
        return false;
    }
    available_frames_ = (int64_t)(have / frame_bits);
    const uint8_t* p = d_ + pos_;
    src.expanded.resize(frame_bits);
    for (uint64_t i = 0; i < frame_bits; i++) {
        const uint64_t b = first + i;
        src.expanded[i] = (p[b >> 3] >> (b & 7)) & 1;
    }
    src.raw = src.expanded.data();
    src.uncompressed = true;
    return true;
}

// Writes the processed frame for this file: a new DICOM file for uncompressed grey data,
// else the 16-bit CT-form TIFF when the data set is written as TIFF. A frame that cannot
// be written is refused with a warning and the run goes on; write errors stop the run.
bool dicom_walk::write_frame(uint32_t length, bool undefined)
{
    auto refuse = [&](const wxString& why) {
        wxLogWarning("%s", why);
        note_frame_skipped();
        return false;
    };
    if (h_.samples != 1)
        return refuse(wxString::Format("%s holds colour data, which cannot be written as a new "
                                       "DICOM data set: it was not written.", file_text()));
    if (info.subsample != 1 || h_.columns != info.proc_width || h_.rows != info.proc_height)
        return refuse(wxString::Format("%s is %i x %i pixels, not the size of the processed image "
                                       "(%i x %i): it was not written.", file_text(), h_.columns,
                                       h_.rows, info.proc_width, info.proc_height));
    const bool multi_frame_file = info.file_type == 0 && info.frames > 1;
    if (!info.dicom_output && info.tiff_output) {
        std::string target = dicom_output_path(name_, true);
        if (multi_frame_file && !target.empty()) target = numbered_output_path(target, index_);
        if (target.empty()) {
            wxLogWarning("Not writing %s over itself.", file_text());
            note_run_failed();
            return false;
        }
        return write_frame_tiff(target, name_, tiff_form::ct);
    }
    const size_t frame_size = (size_t)h_.rows * h_.columns * (h_.bits_allocated / 8);
    if (undefined || length < frame_size)
        return refuse(wxString::Format("%s holds compressed pixel data, which cannot be written "
                                       "back as DICOM: it was not written.", file_text()));
    if (!std::isfinite(h_.rescale_slope) || h_.rescale_slope == 0)
        return refuse(wxString::Format("%s gives a rescale slope of %g, so its samples cannot be "
                                       "computed from the processed values: it was not written.",
                                       file_text(), h_.rescale_slope));
    frame_source src;
    if (!locate_frame(length, undefined, src)) {
        note_frame_skipped();
        return false;
    }
    dicom_frame_layout layout;
    layout.media_instance_uid = media_instance_uid_;
    layout.instance_uid = instance_uid_;
    layout.series_uid = series_uid_;
    layout.pixel_offset = (size_t)(src.raw - d_);
    layout.columns = h_.columns;
    layout.rows = h_.rows;
    layout.bits_allocated = h_.bits_allocated;
    layout.bits_stored = h_.bits_stored;
    layout.is_signed = h_.pixel_representation == 1;
    layout.big_endian = big_endian_;
    layout.slope = h_.rescale_slope;
    layout.intercept = h_.rescale_intercept;
    return write_dicom_frame(name_, d_, size_, layout);
}

enum class inflate_result { not_deflated, inflated, failed };

// A file of the Deflated Explicit VR Little Endian transfer syntax: its file meta, then the
// rest inflated (raw deflate), into `out`. The inflated size is bounded (at most 1 GB and
// 1024 times the compressed size) so that a hostile stream cannot exhaust memory.
inflate_result inflate_data_set(const uint8_t* d, size_t size, std::vector<uint8_t>& out)
{
    if (size < 132 || std::memcmp(d + 128, "DICM", 4) != 0) return inflate_result::not_deflated;
    static const char deflated_uid[] = "1.2.840.10008.1.2.1.99";
    size_t pos = 132;
    bool deflated = false;
    // The file meta: explicit VR little endian elements of group 0002.
    while (size - pos >= 8 && le16(d + pos) == 0x0002) {
        const uint16_t element = le16(d + pos + 2);
        size_t header = 8, length;
        if (long_length_vr(d[pos + 4], d[pos + 5])) {
            if (size - pos < 12) return inflate_result::not_deflated;
            length = le32(d + pos + 8);
            header = 12;
        } else {
            length = le16(d + pos + 6);
        }
        if (length > size - pos - header) return inflate_result::not_deflated;
        if (element == 0x0010 && length >= sizeof deflated_uid - 1 &&
            std::memcmp(d + pos + header, deflated_uid, sizeof deflated_uid - 1) == 0 &&
            (length == sizeof deflated_uid - 1 || d[pos + header + sizeof deflated_uid - 1] == 0))
            deflated = true;
        pos += header + length;
    }
    if (!deflated) return inflate_result::not_deflated;
    const uint64_t limit = std::min<uint64_t>(1ull << 30, (uint64_t)(size - pos) * 1024 + (1 << 20));
    out.assign(d, d + pos);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return inflate_result::failed;
    z.next_in = const_cast<Bytef*>(d + pos);
    z.avail_in = (uInt)std::min<size_t>(size - pos, UINT_MAX);
    int status = Z_OK;
    std::vector<uint8_t> chunk(1 << 16);
    while (status == Z_OK) {
        z.next_out = chunk.data();
        z.avail_out = (uInt)chunk.size();
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
        if (out.size() > limit) {
            status = Z_MEM_ERROR;
            break;
        }
        if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;  // input ended early
    }
    inflateEnd(&z);
    return status == Z_STREAM_END ? inflate_result::inflated : inflate_result::failed;
}

}  // namespace

void convert_orientation(double* a0, double* a1, double* a2)
{
    const double deg = 57.29577951308232;
    const double pi = 3.14159265358979323846;
    const double rx = info.orientation[0], ry = info.orientation[1], rz = info.orientation[2];
    const double cx = info.orientation[3], cy = info.orientation[4], cz = info.orientation[5];
    auto clamped_acos = [](double v) {
        if (v <= -1.0) return 3.14159265358979323846;
        if (v >= 1.0) return 0.0;
        return std::acos(v);
    };
    double b0, b1, b2;
    if (rz < -0.99999999) {
        b1 = pi / 2;
        b0 = 0;
        b2 = clamped_acos(ry * cz - rz * cy);
        if ((std::sin(b2) > 0) != (cx > 0)) b2 = -b2;
    } else if (rz > 0.99999999) {
        b1 = -pi / 2;
        b0 = 0;
        b2 = clamped_acos(cy);
        if ((std::sin(b2) < 0) != (cx > 0)) b2 = -b2;
    } else {
        b1 = std::asin(-rz);
        const double c1 = std::cos(b1);
        b0 = clamped_acos(rx / c1);
        if ((std::sin(b0) * c1 > 0) != (ry > 0)) b0 = -b0;
        b2 = clamped_acos((rx * cy - ry * cx) / c1);
        if ((c1 * std::sin(b2) > 0) != (cz > 0)) b2 = -b2;
    }
    *a0 = b0 * deg;
    *a1 = b1 * deg;
    *a2 = b2 * deg;
}

bool load_dicom_file(char* path, int index)
{
    if (!path) return false;
    std::string name(path);
    if (name.size() >= path_buffer_size) {
        wxLogWarning("The file name is too long to open (%u bytes; at most %u).",
                     (unsigned)name.size(), (unsigned)(path_buffer_size - 1));
        return false;
    }
    frame_fields discovered;
    if (index == -1) {
        discovered = discover_frames(name);
    } else {
        name = frame_file_name(name, info.file_type, index);
        if (name.empty()) return false;
    }
    mapped_file file(name);
    if (!file.opened()) return false;
    if (!file.data()) return false;  // empty, or not a plain file
    std::vector<uint8_t> inflated;
    switch (inflate_data_set(file.data(), file.size(), inflated)) {
    case inflate_result::not_deflated: break;
    case inflate_result::inflated: {
        dicom_walk walk(inflated.data(), inflated.size(), name, index, true);
        return walk.run(discovered);
    }
    case inflate_result::failed:
        wxLogWarning("The DICOM file %s is deflated, but its data cannot be inflated: the file is "
                     "damaged or truncated.", path_text(name));
        return false;
    }
    dicom_walk walk(file.data(), file.size(), name, index, false);
    return walk.run(discovered);
}

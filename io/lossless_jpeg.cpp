#include "io/lossless_jpeg.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>
#include <wx/log.h>

namespace {

// Said when a scan needs a table the stream never defined (or only an AC table).
const char* const undefined_table_text = "Huffman table for lossless JPEG is not defined.";

// One Huffman table: the code-length counts and symbols of a DHT segment and the
// canonical decoding tables built from them, with an 8-bit lookahead.
struct HuffmanTable {
    bool defined = false;
    uint8_t bits[17] = {};
    uint8_t huffval[256] = {};
    int values = 0;
    int32_t mincode[17] = {};
    int32_t maxcode[18] = {};
    int32_t valptr[17] = {};
    uint8_t look_length[256] = {};  // 0: the code is longer than 8 bits
    uint8_t look_symbol[256] = {};
    // For the next `fast_bits` bits of input: the whole difference when its code and extra
    // bits fit, packed as (difference << 8) | bits used; 0 when they do not.
    int32_t fast[1 << 12] = {};
};

const int fast_bits = 12;

struct component_t {
    int id = 0;
    int h = 1, v = 1;
    int table = 0;
};

const int max_components = 4;

// State of one decode.
struct DecompressInfo {
    const uint8_t* data = nullptr;
    size_t length = 0;
    size_t pos = 0;

    int width = 0, height = 0, precision = 0;
    int frame_marker = 0;
    int frame_components = 0;  // Nf as read
    component_t comps[max_components];
    int recorded = 0;          // components recorded (at most four)
    int scan_count = 0;        // Ns
    int scan_comp[max_components] = {};  // index into comps, in scan order
    int Ss = 0, Pt = 0;
    int restart_interval = 0;
    int restart_rows = 0;
    int next_restart = 0;
    bool error = false;
    bool decoding = false;  // decoding (AC tables refused) rather than reading the frame header
    const char* fault = nullptr;  // the damage found in a table, for the caller's message
    HuffmanTable tables[4];

    // Bit reader: `bits` valid bits at the low end of `acc`. Past a marker or the end of the
    // stream zero bits are supplied; `end_zeros` and `marker_zeros` count them.
    uint64_t acc = 0;
    int bits = 0;
    bool at_marker = false;
    int end_zeros = 0;
    int marker_zeros = 0;
};

bool read_u8(DecompressInfo& d, int& v)
{
    if (d.pos >= d.length) return false;
    v = d.data[d.pos++];
    return true;
}

bool read_u16(DecompressInfo& d, int& v)
{
    if (d.pos > d.length || d.length - d.pos < 2) return false;
    v = (d.data[d.pos] << 8) | d.data[d.pos + 1];
    d.pos += 2;
    return true;
}

// Scans to the next marker, skipping non-marker bytes and fill bytes; -1 at the end.
int next_marker(DecompressInfo& d)
{
    for (;;) {
        while (d.pos < d.length && d.data[d.pos] != 0xFF) d.pos++;
        while (d.pos < d.length && d.data[d.pos] == 0xFF) d.pos++;
        if (d.pos >= d.length) return -1;
        const int c = d.data[d.pos++];
        if (c != 0) return c;
    }
}

// Skips a segment by its length field; false when the length is impossible.
bool skip_segment(DecompressInfo& d)
{
    int len;
    if (!read_u16(d, len) || len < 2 || (size_t)(len - 2) > d.length - d.pos) return false;
    d.pos += len - 2;
    return true;
}

bool GetDht(DecompressInfo& d)
{
    int len;
    if (!read_u16(d, len) || len < 2 || (size_t)(len - 2) > d.length - d.pos) return false;
    const size_t end = d.pos + len - 2;
    while (d.pos < end) {
        const int index = d.data[d.pos++];
        if (index == 0x10 || index == 0x11 || index == 0x12 || index == 0x13) {
            // An AC table: a DCT (baseline or extended) stream, not lossless.
            if (d.decoding) {
                wxLogWarning("%s", undefined_table_text);
                return false;
            }
            // Only reading the frame header: step over the AC table.
            if (end - d.pos < 16) return false;
            size_t count = 0;
            for (int i = 0; i < 16; i++) count += d.data[d.pos + i];
            if (count > 256 || count > end - d.pos - 16) return false;
            d.pos += 16 + count;
            continue;
        }
        if ((index & 0xF0) || (index & 0x0F) > 3) return false;
        if (end - d.pos < 16) return false;
        HuffmanTable& t = d.tables[index & 0x0F];
        t = HuffmanTable();
        int count = 0;
        t.bits[0] = 0;
        int32_t code_space = 0;
        for (int i = 1; i <= 16; i++) {
            t.bits[i] = d.data[d.pos++];
            count += t.bits[i];
            code_space = (code_space + t.bits[i]) << 1;
            if (code_space > (2 << i)) d.fault = "a Huffman table's code lengths cannot form a code";
        }
        // Counts that cannot form a code also misplace everything after them.
        if (d.decoding && d.fault) return false;
        if (count > 256 || (size_t)count > end - d.pos) return false;
        std::memcpy(t.huffval, d.data + d.pos, count);
        d.pos += count;
        t.values = count;
        t.defined = true;
    }
    return true;
}

// Scans tables and skips other segments until a frame marker, SOI, EOI or SOS; returns it,
// or -1 on a malformed segment.
int ProcessTables(DecompressInfo& d)
{
    for (;;) {
        const int c = next_marker(d);
        if (c < 0) return -1;
        switch (c) {
        case 0xC4:
            if (!GetDht(d)) return -1;
            break;
        case 0xDD: {
            int len, ri;
            if (!read_u16(d, len) || len != 4 || !read_u16(d, ri)) return -1;
            d.restart_interval = ri;
            break;
        }
        case 0xC0: case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7:
        case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
        case 0xD8: case 0xD9: case 0xDA:
            return c;
        case 0x01: case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5:
        case 0xD6: case 0xD7:
            break;  // bare markers
        default:
            if (!skip_segment(d)) return -1;  // APPn, COM, DQT and the rest carry a length
        }
    }
}

bool ReadFileHeader(DecompressInfo& d)
{
    if (d.length < 2 || d.data[0] != 0xFF || d.data[1] != 0xD8) return false;
    d.pos = 2;
    const int c = ProcessTables(d);
    if (c < 0xC0 || c > 0xCF) return false;  // SOI, EOI, SOS or nothing before a frame
    d.frame_marker = c;
    int len, p, h, w, n;
    if (!read_u16(d, len) || !read_u8(d, p) || !read_u16(d, h) || !read_u16(d, w) ||
        !read_u8(d, n))
        return false;
    if (h == 0 || w == 0 || n == 0 || p < 2 || p > 16 || len != 8 + 3 * n) return false;
    if ((size_t)(3 * n) > d.length - d.pos) return false;
    d.precision = p;
    d.height = h;
    d.width = w;
    d.frame_components = n;
    d.recorded = n < max_components ? n : max_components;
    for (int i = 0; i < n; i++) {
        const uint8_t* b = d.data + d.pos + 3 * i;
        if (i < max_components) {
            d.comps[i].id = b[0];
            d.comps[i].h = b[1] >> 4;
            d.comps[i].v = b[1] & 15;
        }
    }
    d.pos += 3 * n;
    return true;
}

bool ReadScanHeader(DecompressInfo& d)
{
    if (ProcessTables(d) != 0xDA) return false;
    int len, ns;
    if (!read_u16(d, len) || !read_u8(d, ns)) return false;
    if (ns < 1 || ns > max_components || len != 6 + 2 * ns) return false;
    if ((size_t)(2 * ns + 3) > d.length - d.pos) return false;
    d.scan_count = ns;
    for (int i = 0; i < ns; i++) {
        const int id = d.data[d.pos++];
        const int tables = d.data[d.pos++];
        int k = 0;
        while (k < d.recorded && d.comps[k].id != id) k++;
        if (k == d.recorded) return false;
        d.scan_comp[i] = k;
        d.comps[k].table = tables >> 4;
        if (d.comps[k].table > 3) return false;
    }
    d.Ss = d.data[d.pos++];
    d.pos++;  // Se
    d.Pt = d.data[d.pos++] & 15;
    return true;
}

// Canonical code assignment plus the lookahead tables; false for counts that cannot form
// a prefix code.
bool FixHuffTbl(HuffmanTable& t)
{
    int32_t code = 0;
    int k = 0;
    for (int l = 1; l <= 16; l++) {
        t.valptr[l] = k;
        t.mincode[l] = code;
        code += t.bits[l];
        k += t.bits[l];
        if (code > (1 << l)) return false;
        t.maxcode[l] = t.bits[l] ? code - 1 : -1;
        code <<= 1;
    }
    t.maxcode[17] = 0x7FFFFFFF;
    std::memset(t.look_length, 0, sizeof t.look_length);
    // Each code of at most fast_bits bits, with each value of its extra bits when those fit
    // too, fills the run of entries that start with it.
    std::memset(t.fast, 0, sizeof t.fast);
    for (int l = 1; l <= fast_bits; l++)
        for (int i = 0; i < t.bits[l]; i++) {
            const int code = t.mincode[l] + i;
            const int s = t.huffval[t.valptr[l] + i];
            if (s > 16) continue;  // left to the slow path, which refuses it
            const int extra_bits = (s == 0 || s == 16) ? 0 : s;
            const int used = l + extra_bits;
            if (used > fast_bits) continue;
            for (int e = 0; e < (1 << extra_bits); e++) {
                int diff = s == 16 ? 32768 : e;
                if (extra_bits && e < (1 << (s - 1))) diff += 1 - (1 << s);
                if (s == 0) diff = 0;
                const int first = ((code << extra_bits) | e) << (fast_bits - used);
                const int32_t entry = (int32_t)((uint32_t)diff << 8) | used;
                for (int j = 0; j < (1 << (fast_bits - used)); j++) t.fast[first + j] = entry;
            }
        }
    for (int l = 1; l <= 8; l++)
        for (int i = 0; i < t.bits[l]; i++) {
            const int c = t.mincode[l] + i;
            const int sym = t.huffval[t.valptr[l] + i];
            const int first = c << (8 - l), n = 1 << (8 - l);
            for (int j = 0; j < n; j++) {
                t.look_length[first + j] = (uint8_t)l;
                t.look_symbol[first + j] = (uint8_t)sym;
            }
        }
    return true;
}

// Tops the bit buffer up to at least 57 bits. A stuffed FF 00 is a data byte FF; at a
// marker or at the end zero bits are supplied and the position stays put.
inline void fill_bits(DecompressInfo& d)
{
    // Fast path: the next eight bytes hold no FF (no stuffing, no marker), so whole bytes
    // move into the buffer at once.
    if (!d.at_marker && d.pos + 8 <= d.length) {
        uint64_t word = 0;
        for (int i = 0; i < 8; i++) word = (word << 8) | d.data[d.pos + i];
        const uint64_t inverted = ~word;
        const bool has_ff = ((inverted - 0x0101010101010101ull) & ~inverted &
                             0x8080808080808080ull) != 0;
        if (!has_ff) {
            const int k = (63 - d.bits) >> 3;  // whole bytes that fit, 1 to 7
            d.acc = (d.acc << (8 * k)) | (word >> (64 - 8 * k));
            d.bits += 8 * k;
            d.pos += k;
            return;
        }
    }
    while (d.bits <= 56) {
        unsigned b = 0;
        if (d.at_marker) {
            // zeros until the restart logic moves past the marker
            d.marker_zeros += 8;
        } else if (d.pos >= d.length) {
            d.end_zeros += 8;
        } else {
            b = d.data[d.pos];
            if (b == 0xFF) {
                if (d.pos + 1 < d.length && d.data[d.pos + 1] == 0) {
                    d.pos += 2;
                } else {
                    d.at_marker = true;
                    d.marker_zeros += 8;
                    b = 0;
                }
            } else {
                d.pos++;
            }
        }
        d.acc = (d.acc << 8) | b;
        d.bits += 8;
    }
}

// One Huffman-coded difference; sets the error flag on a code that no table entry has.
inline int decode_difference(DecompressInfo& d, const HuffmanTable& t)
{
    if (d.bits < 32) fill_bits(d);
    const int32_t fast = t.fast[(d.acc >> (d.bits - fast_bits)) & ((1 << fast_bits) - 1)];
    if (fast) {
        d.bits -= fast & 0xFF;
        return fast >> 8;
    }
    const unsigned look = (unsigned)(d.acc >> (d.bits - 8)) & 0xFF;
    int s;
    if (t.look_length[look]) {
        d.bits -= t.look_length[look];
        s = t.look_symbol[look];
    } else {
        int l = 9;
        int32_t code = (int32_t)((d.acc >> (d.bits - 9)) & 0x1FF);
        while (code > t.maxcode[l]) {
            if (++l > 16) {
                d.error = true;
                return 0;
            }
            code = (int32_t)((d.acc >> (d.bits - l)) & ((1u << l) - 1));
        }
        d.bits -= l;
        const int index = t.valptr[l] + code - t.mincode[l];
        if (index < 0 || index >= t.values) {
            d.error = true;
            return 0;
        }
        s = t.huffval[index];
    }
    if (s == 0) return 0;
    if (s == 16) return 32768;
    if (s > 16) {
        d.error = true;
        return 0;
    }
    int v = (int)((d.acc >> (d.bits - s)) & ((1u << s) - 1));
    d.bits -= s;
    if (v < (1 << (s - 1))) v += 1 - (1 << s);
    return v;
}

// Moves past the restart marker that must follow a restart interval.
bool process_restart(DecompressInfo& d)
{
    d.acc = 0;
    d.bits = 0;
    d.at_marker = false;
    d.end_zeros = 0;
    d.marker_zeros = 0;
    const int c = next_marker(d);
    if (c != 0xD0 + d.next_restart) return false;
    d.next_restart = (d.next_restart + 1) & 7;
    return true;
}

// Decodes the frame row by row, handing each finished row to `put`.
template <int SS>
inline int predict(int ra, int rb, int rc)
{
    switch (SS) {
    case 1: return ra;
    case 2: return rb;
    case 3: return rc;
    case 4: return ra + rb - rc;
    case 5: return ra + ((rb - rc) >> 1);
    case 6: return rb + ((ra - rc) >> 1);
    default: return (ra + rb) >> 1;
    }
}

// Columns 1 .. w-1 of a row with predictor SS (1 for the first row of an interval) and NS
// interleaved components (0: the run-time count `ns`). Specialised so the hot loop has no
// per-sample choice of predictor.
template <int SS, int NS>
void decode_row_tail(DecompressInfo& d, uint16_t* cur, const uint16_t* prev, int w, int ns,
                     unsigned mask, const HuffmanTable* const* table)
{
    const int n = NS ? NS : ns;
    for (int x = 1; x < w; x++)
        for (int c = 0; c < n; c++) {
            const int i = x * n + c;
            const int p = predict<SS>(cur[i - n], SS == 1 ? 0 : prev[i], SS == 1 ? 0 : prev[i - n]);
            cur[i] = (uint16_t)((p + decode_difference(d, *table[c])) & mask);
        }
}

typedef void (*row_tail_fn)(DecompressInfo&, uint16_t*, const uint16_t*, int, int, unsigned,
                            const HuffmanTable* const*);

template <int NS>
row_tail_fn row_tail_for(int ss)
{
    switch (ss) {
    case 1: return decode_row_tail<1, NS>;
    case 2: return decode_row_tail<2, NS>;
    case 3: return decode_row_tail<3, NS>;
    case 4: return decode_row_tail<4, NS>;
    case 5: return decode_row_tail<5, NS>;
    case 6: return decode_row_tail<6, NS>;
    default: return decode_row_tail<7, NS>;
    }
}

row_tail_fn row_tail(int ss, int ns)
{
    if (ns == 1) return row_tail_for<1>(ss);
    if (ns == 3) return row_tail_for<3>(ss);
    return row_tail_for<0>(ss);
}

// Decodes the frame row by row, handing each finished row to `put`. `mask` keeps samples
// modulo 2^16, or 2^8 on the single-component 8-bit path.
template <typename PutRow>
bool DecodeImage(DecompressInfo& d, unsigned mask, PutRow put)
{
    const int w = d.width, ns = d.scan_count;
    std::vector<uint16_t> rows[2];
    rows[0].assign((size_t)w * ns, 0);
    rows[1].assign((size_t)w * ns, 0);
    const HuffmanTable* table[max_components];
    for (int c = 0; c < ns; c++) table[c] = &d.tables[d.comps[d.scan_comp[c]].table];
    const int first_prediction = 1 << (d.precision - d.Pt - 1);
    const row_tail_fn first_tail = row_tail(1, ns), tail = row_tail(d.Ss, ns);
    int rows_to_restart = d.restart_rows;
    bool first_row = true;
    for (int y = 0; y < d.height; y++) {
        if (d.restart_rows && rows_to_restart == 0) {
            if (!process_restart(d)) return false;
            rows_to_restart = d.restart_rows;
            first_row = true;
        }
        uint16_t* cur = rows[y & 1].data();
        const uint16_t* prev = rows[(y & 1) ^ 1].data();
        if (first_row) {
            // DecodeFirstRow: a fixed start value, then the left neighbour.
            for (int c = 0; c < ns; c++)
                cur[c] = (uint16_t)((first_prediction + decode_difference(d, *table[c])) & mask);
            first_tail(d, cur, prev, w, ns, mask, table);
            first_row = false;
        } else {
            // The first column is predicted from above.
            for (int c = 0; c < ns; c++)
                cur[c] = (uint16_t)((prev[c] + decode_difference(d, *table[c])) & mask);
            tail(d, cur, prev, w, ns, mask, table);
        }
        // Zero bits supplied at the true end mean the stream was cut short. Up to 64 bits
        // short of a marker are tolerated (a sloppy last byte); more means rows of invented
        // samples, a corrupt stream.
        if (d.error || d.bits < d.end_zeros || d.bits + 64 < d.marker_zeros) return false;
        put(y, cur);
        if (d.restart_rows) rows_to_restart--;
    }
    return true;
}

bool read_headers(DecompressInfo& d, const uint8_t* stream, size_t length)
{
    d.data = stream;
    d.length = length;
    return ReadFileHeader(d);
}

}  // namespace

bool lossless_jpeg_read_frame(const unsigned char* stream, size_t length,
                              lossless_jpeg_frame& frame)
{
    if (!stream) return false;
    std::unique_ptr<DecompressInfo> state(new DecompressInfo);
    DecompressInfo& d = *state;
    if (!read_headers(d, stream, length)) return false;
    frame.width = d.width;
    frame.height = d.height;
    frame.components = d.frame_components;
    frame.precision = d.precision;
    frame.marker = d.frame_marker;
    return true;
}

int JPEGLosslessDecodeImage(unsigned char* stream, unsigned char* out, int out_bits, int length,
                            size_t out_size, const char** why)
{
    const char* unused;
    const char*& reason = why ? *why : unused;
    reason = "its headers are malformed";
    auto fail = [&reason](const char* text) {
        reason = text;
        return -1;
    };
    if (!stream || !out || length <= 0) return -1;
    // The state holds some 70 kB of tables; keep it off the stack.
    std::unique_ptr<DecompressInfo> state(new DecompressInfo);
    DecompressInfo& d = *state;
    d.decoding = true;
    if (!read_headers(d, stream, (size_t)length)) return fail(d.fault ? d.fault : "its headers are malformed");
    if (d.frame_marker != 0xC0 && d.frame_marker != 0xC1 && d.frame_marker != 0xC3) return -1;
    if (!ReadScanHeader(d)) return fail(d.fault ? d.fault : "its scan header is missing or malformed");
    // Only the lossless process is decoded; SOF0 and SOF1 streams are DCT-coded.
    if (d.frame_marker != 0xC3) return -1;
    // DecoderStructInit: no subsampling.
    for (int i = 0; i < d.recorded; i++)
        if (d.comps[i].h != 1 || d.comps[i].v != 1) return fail("it claims subsampled components");
    if (d.Ss < 1 || d.Ss > 7 || d.Pt >= d.precision)
        return fail("its predictor or point transform is out of range");
    // HuffDecoderInit.
    for (int c = 0; c < d.scan_count; c++) {
        HuffmanTable& t = d.tables[d.comps[d.scan_comp[c]].table];
        if (!t.defined) {
            wxLogWarning("%s", undefined_table_text);
            return fail("a scan uses a Huffman table the stream does not define");
        }
        if (!FixHuffTbl(t)) return fail("a Huffman table's code lengths cannot form a code");
    }
    // Lossless restart intervals are whole rows; anything else cannot be decoded here.
    if (d.restart_interval) {
        if (d.restart_interval % d.width) return fail("its restart interval is not whole rows");
        d.restart_rows = d.restart_interval / d.width;
    }
    const size_t pixels = (size_t)d.width * d.height;
    const int ns = d.scan_count;
    // The headers are sound: a failure from here on is the coded data's (or a buffer of
    // the wrong size, which callers rule out).
    reason = "its coded data are corrupt or cut short";
    if (out_bits == 8) {
        if (pixels != out_size) return -1;
        const unsigned mask8 = ns == 1 && d.precision <= 8 ? 0xFF : 0xFFFF;
        if (!DecodeImage(d, mask8, [&](int y, const uint16_t* row) {  // PmPutRow8
                uint8_t* o = out + (size_t)y * d.width;
                for (int x = 0; x < d.width; x++) o[x] = (uint8_t)row[x * ns];
            }))
            return -1;
    } else if (out_bits == 16) {
        if (pixels * 2 != out_size) return -1;
        if (!DecodeImage(d, 0xFFFF, [&](int y, const uint16_t* row) {  // PmPutRow16
                uint8_t* o = out + (size_t)y * d.width * 2;
                for (int x = 0; x < d.width; x++) {
                    const uint16_t v = row[x * ns];
                    std::memcpy(o + 2 * x, &v, 2);
                }
            }))
            return -1;
    } else {
        if (ns < 3 || pixels * 3 != out_size) return -1;
        if (!DecodeImage(d, 0xFFFF, [&](int y, const uint16_t* row) {  // PmPutRow24
                uint8_t* o = out + (size_t)y * d.width * 3;
                for (int x = 0; x < d.width; x++) {
                    o[3 * x] = (uint8_t)row[x * ns];
                    o[3 * x + 1] = (uint8_t)row[x * ns + 1];
                    o[3 * x + 2] = (uint8_t)row[x * ns + 2];
                }
            }))
            return -1;
    }
    return 0;
}

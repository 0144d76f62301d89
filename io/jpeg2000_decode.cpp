#include "io/jpeg2000_decode.h"

#include <cstring>
#include <string>
#include <openjpeg.h>

namespace {

struct memory_source {
    const uint8_t* data;
    size_t length;
    size_t pos;
};

OPJ_SIZE_T read_memory(void* buffer, OPJ_SIZE_T bytes, void* user)
{
    memory_source* m = static_cast<memory_source*>(user);
    if (m->pos >= m->length) return (OPJ_SIZE_T)-1;
    const size_t n = bytes < m->length - m->pos ? bytes : m->length - m->pos;
    std::memcpy(buffer, m->data + m->pos, n);
    m->pos += n;
    return n;
}

OPJ_OFF_T skip_memory(OPJ_OFF_T bytes, void* user)
{
    memory_source* m = static_cast<memory_source*>(user);
    if (bytes < 0) {
        if ((size_t)-bytes > m->pos) return -1;
        m->pos -= (size_t)-bytes;
        return bytes;
    }
    const size_t n = (size_t)bytes < m->length - m->pos ? (size_t)bytes : m->length - m->pos;
    m->pos += n;
    return (OPJ_OFF_T)n;
}

OPJ_BOOL seek_memory(OPJ_OFF_T to, void* user)
{
    memory_source* m = static_cast<memory_source*>(user);
    if (to < 0 || (uint64_t)to > m->length) return OPJ_FALSE;
    m->pos = (size_t)to;
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

// Empty when the image agrees with the DICOM header, else what disagrees.
std::string disagreement(const opj_image_t* image, int rows, int columns, int components, bool is_signed,
                         int max_bits)
{
    if (!image || !image->comps) return "its JPEG 2000 header cannot be read";
    if (image->numcomps != (OPJ_UINT32)components)
        return components == 1 ? "its JPEG 2000 data have several components where the header says one"
                               : "its JPEG 2000 data do not have the three components the header says";
    if (image->x0 != 0 || image->y0 != 0 || image->x1 != (OPJ_UINT32)columns || image->y1 != (OPJ_UINT32)rows)
        return "its JPEG 2000 image is not the size the header gives";
    for (int k = 0; k < components; k++) {
        const opj_image_comp_t& c = image->comps[k];
        if (c.dx != 1 || c.dy != 1 || c.w != (OPJ_UINT32)columns || c.h != (OPJ_UINT32)rows)
            return "its JPEG 2000 image is not the size the header gives";
        if ((c.sgnd != 0) != is_signed) return "its JPEG 2000 samples are not signed as the header says";
        if (c.prec < 1 || (int)c.prec > max_bits) return "its JPEG 2000 samples are wider than the header allows";
    }
    return std::string();
}

const uint8_t jp2_signature[12] = {0, 0, 0, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};

}  // namespace

// A bare codestream, as DICOM asks, or one wrapped in a JP2 file, as some writers left it.
bool is_jpeg2000_stream(const uint8_t* data, size_t length)
{
    if (!data || length < 2) return false;
    if (data[0] == 0xFF && data[1] == 0x4F) return true;
    return length >= 12 && std::memcmp(data, jp2_signature, 12) == 0;
}

bool jpeg2000_decode(const uint8_t* data, size_t length, int rows, int columns, int components,
                     bool is_signed, int max_bits, std::vector<int32_t>& out, std::string* why,
                     bool* transformed)
{
    if (transformed) *transformed = false;
    if (!is_jpeg2000_stream(data, length)) return false;
    const bool jp2 = data[0] != 0xFF;
    if (rows <= 0 || columns <= 0 || (components != 1 && components != 3)) return false;
    memory_source source{data, length, 0};
    opj_stream_t* stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
    if (!stream) return false;
    opj_stream_set_user_data(stream, &source, nullptr);
    opj_stream_set_user_data_length(stream, length);
    opj_stream_set_read_function(stream, read_memory);
    opj_stream_set_skip_function(stream, skip_memory);
    opj_stream_set_seek_function(stream, seek_memory);

    opj_codec_t* codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_image_t* image = nullptr;
    bool ok = false;
    std::string problem;
    if (codec) {
        opj_set_info_handler(codec, quiet, nullptr);
        opj_set_warning_handler(codec, quiet, nullptr);
        opj_set_error_handler(codec, quiet, nullptr);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        if (opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &image)) {
            problem = disagreement(image, rows, columns, components, is_signed, max_bits);
            if (transformed && problem.empty()) {
                opj_codestream_info_v2_t* cs = opj_get_cstr_info(codec);
                if (cs) {
                    *transformed = cs->m_default_tile_info.mct != 0;
                    opj_destroy_cstr_info(&cs);
                }
            }
            ok = problem.empty() && opj_decode(codec, stream, image) && opj_end_decompress(codec, stream);
            if (ok) problem = disagreement(image, rows, columns, components, is_signed, max_bits);
            for (int k = 0; ok && k < components; k++) ok = problem.empty() && image->comps[k].data;
        }
    }
    if (ok) {
        const size_t n = (size_t)rows * columns;
        out.resize(n * components);
        for (int k = 0; k < components; k++) {
            const OPJ_INT32* c = image->comps[k].data;
            for (size_t i = 0; i < n; i++) out[i * components + k] = c[i];
        }
    }
    if (!ok && why) *why = problem;
    if (image) opj_image_destroy(image);
    if (codec) opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return ok;
}

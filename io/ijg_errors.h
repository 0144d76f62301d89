// What the two IJG-style JPEG adapters (8-bit libjpeg, 12-bit from GDCM) share: how errors
// leave the library and which warnings refuse a stream. Include it after the jpeglib.h and
// jerror.h of the library the file uses (their types and message codes differ).
#pragma once

#include <csetjmp>

namespace {

// Errors leave the library by longjmp (it is C: no exception may cross it); warnings that
// samples are missing or wrong are counted so a patched-over stream is refused. Harmless
// ones (extra bytes after a scan, unusual scan parameters, as DCMTK and GDCM also accept)
// are not.
struct ijg_errors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    int corrupt = 0;

    // Makes this the error manager of `cinfo`; call before jpeg_create_decompress.
    void install(jpeg_decompress_struct& cinfo)
    {
        cinfo.err = jpeg_std_error(&mgr);
        mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<ijg_errors*>(c->err)->jump, 1); };
        mgr.emit_message = [](j_common_ptr c, int level) {
            if (level >= 0) return;
            switch (c->err->msg_code) {
            case JWRN_HIT_MARKER:
            case JWRN_HUFF_BAD_CODE:
            case JWRN_JPEG_EOF:
            case JWRN_MUST_RESYNC:
            case JWRN_BOGUS_PROGRESSION:
                reinterpret_cast<ijg_errors*>(c->err)->corrupt++;
                break;
            default:
                break;
            }
        };
        mgr.output_message = [](j_common_ptr) {};
    }
};

}  // namespace

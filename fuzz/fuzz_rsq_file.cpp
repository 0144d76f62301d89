// Fuzzes the micro-CT raw-file loader on a whole file: the header checks, the sinogram,
// the X-ray projection and both reconstructions of the first and the last frame.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>
#include <wx/app.h>
#include <wx/log.h>

#include "core/record.h"
#include "ct/rsq_file.h"

static std::string scratch_path()
{
    static std::string path;
    if (path.empty()) path = "/dev/shm/voxmira_fuzz_rsq_" + std::to_string(getpid()) + ".rsq";
    return path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer wx_init;
    wxLog::EnableLogging(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = scratch_path();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    const int mode = size > 0 ? data[size - 1] % 6 : 0;  // 5: Parallel-FDK at x1
    reset_info();
    info.xtreme_load = mode == 5 ? 2 : mode;
    info.xtreme_recon = mode == 5 ? 1 : 0;
    if (load_rsq_file(buffer.data(), -1, true) && info.frames > 1) {
        load_rsq_file(buffer.data(), info.frames, true);
        load_rsq_file(buffer.data(), info.frames + 1, true);
    }
    return 0;
}

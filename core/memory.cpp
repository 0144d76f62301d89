// Allocator settings for the filters' work planes.
#include "core/memory.h"

// Any C library header defines __GLIBC__ under glibc; without one the test below is
// always false and the settings silently vanish.
#include <cstdint>
#include <cstdlib>
#include <wx/intl.h>
#include <wx/log.h>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

void keep_freed_memory()
{
#if defined(__GLIBC__)
    // Blocks up to 1 GiB come from the heap and stay there when freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // The heap grows once by a block that is handed straight back (and kept): the planes
    // later carved from it may then be backed by 2 MiB pages where the system allows, one
    // page fault for 512 small ones. Only what is touched is ever resident.
    const size_t reserve = (size_t)256 << 20, huge = (size_t)2 << 20;
    if (char* block = static_cast<char*>(std::malloc(reserve))) {
        const uintptr_t from = ((uintptr_t)block + huge - 1) & ~(uintptr_t)(huge - 1);
        const uintptr_t to = ((uintptr_t)block + reserve) & ~(uintptr_t)(huge - 1);
        if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
        std::free(block);
    }
#endif
}

void refuse_for_memory(const std::string& purpose)
{
    const std::string message = "not enough memory for " + purpose;
    wxLogWarning("%s", wxString::FromUTF8(message.c_str()));
    throw memory_refused(message);
}

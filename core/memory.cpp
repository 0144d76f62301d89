// Allocator settings for the filters' work planes.
#include "core/memory.h"

// Any C library header defines __GLIBC__ under glibc; without one the test below is
// always false and the settings silently vanish.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void keep_freed_memory()
{
#if defined(__GLIBC__)
    // Blocks up to 1 GiB come from the heap and stay there when freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

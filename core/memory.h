// Large work planes are allocated and freed on every filter run; handing them back to the
// system each time costs a page fault per 4 kB on the next run.
#pragma once

// Keeps freed memory in the process for reuse (glibc; nothing elsewhere).
void keep_freed_memory();

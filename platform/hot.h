// Placement of the code that runs for every row read. Reading a row is one
// system call, and where the kernel keeps its page tables apart from the
// process's, every system call empties the processor's cache of address
// translations: each code page the rest of the row's path touches costs a
// page-table walk again. Functions marked DERIDAR_ROW_PATH are kept together
// in a section of their own, so that a row's path spans a few pages instead
// of one or two per source file it passes through.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define DERIDAR_ROW_PATH __attribute__((hot))
#else
#define DERIDAR_ROW_PATH
#endif

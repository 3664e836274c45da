// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <malloc.h>

// Blocks of 1 MiB and more (a listing's tables and packed texts) are taken from the system and
// given back when freed. Left to itself, the C library raises that limit after the first large
// block is freed and keeps later ones in its heaps, one per thread: a listing of a million entries
// then holds the memory of its passing work (the enumeration's list, the sort's items) beside the
// rows that stay.
inline void ReturnLargeBlocksToTheSystem()
{
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

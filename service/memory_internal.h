// Memory manager internals for tests and diagnostics.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tqs {

// Replaces the system allocate/release entry points behind the memory
// manager (null restores the C runtime's). Blocks must be released by the
// entry that matches the one that allocated them.
void mm_set_system_allocator(void* (*allocate)(size_t), void (*release)(void*));
// Bytes and blocks of direct allocations currently held.
void mm_direct_totals(uint64_t* bytes, uint64_t* blocks);
// 1 when the per-thread cache is in use (reads the switches on first use).
int mm_cache_enabled();

}  // namespace tqs

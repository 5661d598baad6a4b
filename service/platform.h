// The operating-system seam of the service layer. Everything the services
// need from the system goes through these calls; porting the services to
// another system means replacing platform_<system>.cpp alone.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tqs::os {

// Reads environment variable `name` into `buffer` (capacity bytes).
// Returns the value's length when value and terminator fit; the size needed
// (length + 1) when they do not, leaving the buffer untouched; 0 when the
// variable is absent or empty. Callers decide per variable what an over-long
// value means.
uint32_t get_environment(const char* name, char* buffer, uint32_t capacity);

// One thread-local pointer slot per index; -1 when no slot is available.
int tls_allocate();
void* tls_get(int index);
void tls_set(int index, void* value);

// The operating system's id of the calling thread.
uint32_t current_thread_id();

// Affinity as 64-bit masks of processors 0..63. Returns false when the
// masks cannot be read.
bool affinity_masks(uint64_t* process_mask, uint64_t* system_mask);

// The calling thread's whole affinity, saved for a later restore.
struct SavedAffinity {
  alignas(8) unsigned char bytes[1024];
  bool valid;
};
bool save_thread_affinity(SavedAffinity* saved);
// Pins the calling thread to `processor` alone; false when refused.
bool pin_current_thread(unsigned processor);
void restore_thread_affinity(const SavedAffinity* saved);

// Gives up the rest of the time slice.
void yield();

// Tells the system that [block, block + size) is one large, long-lived
// working area (transform tables, temporaries of long transforms): where
// the system can, it backs the area with large pages, which saves most of
// the page faults of a first touch and the address-translation misses of
// strided passes. A hint only; nothing to undo.
void advise_large_block(void* block, uint64_t size);

// Message catalog. `catalog_load` opens the catalog for the current locale
// (null when there is none). `catalog_text` looks up `id` (the message number
// with bit 31 set) for `language`; it returns the text's length and a copy in
// *text that the caller hands to `catalog_free`, or 0 and null.
void* catalog_load();
uint32_t catalog_text(void* module, uint32_t id, uint32_t language, char** text);
void catalog_free(char* text);

}  // namespace tqs::os

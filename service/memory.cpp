// Memory manager: aligned blocks with a five-slot cache per operating-system
// thread, so that the allocate/free pair of every compute call stays away
// from the system heap, plus the process-wide spin lock of the services.
//
// A thread's record is written only by that thread, except for the in_use
// flag, which a foreign thread clears when it frees a block the owner lent
// out. The foreign thread also reads the owner's slot addresses under the
// lock. Those shared words are accessed atomically; the rest are plain.
#include <cstdlib>
#include <cstring>

#include "service/memory_internal.h"
#include "service/platform.h"
#include "service/tqs_service.h"

namespace {

constexpr uint64_t CACHE_LIMIT = uint64_t{1} << 27;
constexpr int SLOTS = 5;
constexpr int MAX_THREADS = 1024;
constexpr uint64_t HEADER = 16;

struct SystemAllocator {
  void* (*allocate)(size_t);
  void* (*allocate_zeroed)(size_t, size_t);
  void* (*reallocate)(void*, size_t);
  void (*release)(void*);
};
SystemAllocator system_allocator = {malloc, calloc, realloc, free};

int lock_word = 0;

int fast_mm_checked = -1;
int fast_mm_disabled = 0;
int tls_index = -1;

struct thread_buffer_cache {
  char* raw[SLOTS];
  char* aligned[SLOTS];
  uint64_t requested[SLOTS];
  uint64_t block_size[SLOTS];
  uint64_t in_use[SLOTS];
  int slot_count;
};

uint64_t thread_ids[MAX_THREADS + 1];
thread_buffer_cache* thread_records[MAX_THREADS + 1];
int thread_count = 0;

uint64_t direct_bytes = 0;
uint64_t direct_blocks = 0;

// From this size on a block is a transform's table or temporary, worth
// large pages (see advise_large_block).
constexpr uint64_t LARGE_BLOCK = uint64_t{4} << 20;

void* system_allocate(uint64_t size) {
  auto* fn = __atomic_load_n(&system_allocator.allocate, __ATOMIC_ACQUIRE);
  void* block = fn(static_cast<size_t>(size));
  if (block != nullptr && size >= LARGE_BLOCK) tqs::os::advise_large_block(block, size);
  return block;
}

void system_release(void* block) {
  __atomic_load_n(&system_allocator.release, __ATOMIC_ACQUIRE)(block);
}

uint64_t effective_alignment(int alignment) {
  if (alignment < 64 || (alignment & (alignment - 1)) != 0) return 64;
  return static_cast<uint64_t>(alignment);
}

void read_switches() {
  if (__atomic_load_n(&fast_mm_checked, __ATOMIC_ACQUIRE) != -1) return;
  tqs_global_lock();
  if (__atomic_load_n(&fast_mm_checked, __ATOMIC_ACQUIRE) == -1) {
    // Any non-empty value switches the cache off; the value is not examined.
    char area[17];
    uint32_t n = tqs::os::get_environment("TQS_DISABLE_FAST_MM", area, sizeof area);
    if (n == 0) n = tqs::os::get_environment("TQS_MM_DISABLE", area, sizeof area);
    __atomic_store_n(&fast_mm_disabled, n != 0 ? 1 : 0, __ATOMIC_RELAXED);
    __atomic_store_n(&fast_mm_checked, 1, __ATOMIC_RELEASE);
  }
  tqs_global_unlock();
}

bool cache_disabled() { return __atomic_load_n(&fast_mm_disabled, __ATOMIC_RELAXED) != 0; }

void ensure_tls() {
  if (__atomic_load_n(&tls_index, __ATOMIC_ACQUIRE) != -1) return;
  tqs_global_lock();
  if (__atomic_load_n(&tls_index, __ATOMIC_ACQUIRE) == -1) {
    __atomic_store_n(&tls_index, tqs::os::tls_allocate(), __ATOMIC_RELEASE);
  }
  tqs_global_unlock();
}

int tls_slot() { return __atomic_load_n(&tls_index, __ATOMIC_ACQUIRE); }

int tls_number() {
  int index = tls_slot();
  if (index < 0) return 0;
  return static_cast<int>(reinterpret_cast<uintptr_t>(tqs::os::tls_get(index)));
}

void set_tls_number(int number) {
  int index = tls_slot();
  if (index >= 0) tqs::os::tls_set(index, reinterpret_cast<void*>(static_cast<uintptr_t>(number)));
}

// The calling thread's record, or null when it has none yet.
thread_buffer_cache* find_record(uint64_t id) {
  int k = tls_number();
  if (k > 0 && k <= MAX_THREADS) {
    if (__atomic_load_n(&thread_ids[k], __ATOMIC_ACQUIRE) == id) {
      return __atomic_load_n(&thread_records[k], __ATOMIC_ACQUIRE);
    }
    set_tls_number(0);
  }
  for (int i = __atomic_load_n(&thread_count, __ATOMIC_ACQUIRE); i >= 1; --i) {
    if (__atomic_load_n(&thread_ids[i], __ATOMIC_ACQUIRE) == id) {
      set_tls_number(i);
      return __atomic_load_n(&thread_records[i], __ATOMIC_ACQUIRE);
    }
  }
  return nullptr;
}

thread_buffer_cache* register_thread(uint64_t id) {
  tqs_global_lock();
  if (__atomic_load_n(&thread_count, __ATOMIC_RELAXED) >= MAX_THREADS) {
    tqs_global_unlock();
    return nullptr;
  }
  auto* record = static_cast<thread_buffer_cache*>(system_allocate(sizeof(thread_buffer_cache)));
  if (record == nullptr) {
    tqs_global_unlock();
    return nullptr;
  }
  // Cleared before it is published, so a scanning thread never sees stale
  // slots in it.
  memset(record, 0, sizeof *record);
  int number = __atomic_load_n(&thread_count, __ATOMIC_RELAXED) + 1;
  __atomic_store_n(&thread_ids[number], id, __ATOMIC_RELAXED);
  __atomic_store_n(&thread_records[number], record, __ATOMIC_RELAXED);
  __atomic_store_n(&thread_count, number, __ATOMIC_RELEASE);
  set_tls_number(number);
  tqs_global_unlock();
  return record;
}

char* align_up(char* p, uint64_t a) {
  return reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(p) + a - 1) & ~(uintptr_t)(a - 1));
}

// Gives slot j a fresh system block of `need` bytes; false when the system
// refuses, leaving the slot empty (no block, size 0, free).
bool fill_slot(thread_buffer_cache* r, int j, uint64_t need) {
  char* block = static_cast<char*>(system_allocate(need));
  __atomic_store_n(&r->raw[j], block, __ATOMIC_RELAXED);
  r->block_size[j] = block != nullptr ? need : 0;
  return block != nullptr;
}

void* lend(thread_buffer_cache* r, int j, uint64_t size, uint64_t a) {
  __atomic_store_n(&r->aligned[j], align_up(r->raw[j], a), __ATOMIC_RELAXED);
  r->requested[j] = size;
  __atomic_store_n(&r->in_use[j], uint64_t{1}, __ATOMIC_RELAXED);
  return r->aligned[j];
}

void free_from_record(thread_buffer_cache* r, int j) {
  __atomic_store_n(&r->in_use[j], uint64_t{0}, __ATOMIC_RELEASE);
}

// Serves a request from the thread's record. Returns false when the request
// must go the direct way (every slot lent out); otherwise *block is the
// cached block, or null when the system refused a new cache block.
bool cached_allocate(thread_buffer_cache* r, uint64_t size, uint64_t a, void** block) {
  uint64_t need = size + a;
  int count = r->slot_count;
  int larger = -1, smaller = -1;
  for (int j = 0; j < count; ++j) {
    if (__atomic_load_n(&r->in_use[j], __ATOMIC_ACQUIRE) != 0) continue;
    if (r->block_size[j] == need) {
      *block = lend(r, j, size, a);
      return true;
    }
    if (r->block_size[j] > need) {
      if (larger < 0) larger = j;
    } else if (smaller < 0) {
      smaller = j;
    }
  }
  if (larger >= 0) {
    *block = lend(r, larger, size, a);
    return true;
  }
  int j;
  if (count == SLOTS) {
    if (smaller < 0) return false;
    j = smaller;
    // Forget the old address first: once released, its memory may be handed
    // out elsewhere and freed, and must not match this slot then.
    char* old = r->raw[j];
    __atomic_store_n(&r->aligned[j], static_cast<char*>(nullptr), __ATOMIC_RELAXED);
    __atomic_store_n(&r->raw[j], static_cast<char*>(nullptr), __ATOMIC_RELAXED);
    r->block_size[j] = 0;
    if (old != nullptr) system_release(old);
  } else {
    j = count;
    __atomic_store_n(&r->slot_count, count + 1, __ATOMIC_RELEASE);
  }
  *block = fill_slot(r, j, need) ? lend(r, j, size, a) : nullptr;
  return true;
}

bool release_in_record(thread_buffer_cache* r, const char* address, bool skip_empty) {
  int count = __atomic_load_n(&r->slot_count, __ATOMIC_ACQUIRE);
  for (int j = 0; j < count; ++j) {
    if (skip_empty && __atomic_load_n(&r->raw[j], __ATOMIC_RELAXED) == nullptr) continue;
    if (__atomic_load_n(&r->aligned[j], __ATOMIC_RELAXED) == address) {
      free_from_record(r, j);
      return true;
    }
  }
  return false;
}

}  // namespace

namespace tqs {

void mm_set_system_allocator(void* (*allocate)(size_t), void (*release)(void*)) {
  __atomic_store_n(&system_allocator.allocate, allocate != nullptr ? allocate : malloc,
                   __ATOMIC_RELEASE);
  __atomic_store_n(&system_allocator.release, release != nullptr ? release : free,
                   __ATOMIC_RELEASE);
}

void mm_direct_totals(uint64_t* bytes, uint64_t* blocks) {
  tqs_global_lock();
  *bytes = direct_bytes;
  *blocks = direct_blocks;
  tqs_global_unlock();
}

int mm_cache_enabled() {
  read_switches();
  return cache_disabled() ? 0 : 1;
}

}  // namespace tqs

extern "C" {

void tqs_global_lock(void) {
  int expected = 0;
  while (!__atomic_compare_exchange_n(&lock_word, &expected, 1, false, __ATOMIC_ACQUIRE,
                                      __ATOMIC_RELAXED)) {
    expected = 0;
  }
}

void tqs_global_unlock(void) { __atomic_store_n(&lock_word, 0, __ATOMIC_RELEASE); }

void* tqs_mm_allocate_direct(uint64_t size, int alignment) {
  uint64_t a = effective_alignment(alignment);
  if (size == 0 || size > UINT64_MAX - HEADER - a) return nullptr;
  uint64_t total = size + HEADER + a;
  char* raw = static_cast<char*>(system_allocate(total));
  if (raw == nullptr) return nullptr;
  auto address = (reinterpret_cast<uintptr_t>(raw) + HEADER + a) & ~(uintptr_t)(a - 1);
  auto* header = reinterpret_cast<uint64_t*>(address - HEADER);
  header[0] = reinterpret_cast<uintptr_t>(raw);
  header[1] = total;
  tqs_global_lock();
  direct_bytes += total;
  direct_blocks += 1;
  tqs_global_unlock();
  return reinterpret_cast<void*>(address);
}

void tqs_mm_free_direct(void* address) {
  if (address == nullptr) return;
  auto* header = reinterpret_cast<uint64_t*>(static_cast<char*>(address) - HEADER);
  if (header[0] == 0) return;
  void* raw = reinterpret_cast<void*>(static_cast<uintptr_t>(header[0]));
  uint64_t total = header[1];
  tqs_global_lock();
  direct_bytes -= total;
  direct_blocks -= 1;
  tqs_global_unlock();
  system_release(raw);
}

void* tqs_mm_calloc(uint64_t count, uint64_t element_size, int alignment) {
  uint64_t size;
  // A product that does not fit is refused rather than wrapped.
  if (__builtin_mul_overflow(count, element_size, &size) || size == 0) return nullptr;
  void* block = tqs_mm_allocate_direct(size, alignment);
  if (block != nullptr) memset(block, 0, size);
  return block;
}

void* tqs_mm_allocate(uint64_t size, int alignment) {
  ensure_tls();
  if (size == 0) return nullptr;
  read_switches();
  if (cache_disabled() || size > CACHE_LIMIT) return tqs_mm_allocate_direct(size, alignment);
  uint64_t a = effective_alignment(alignment);
  uint64_t id = tqs::os::current_thread_id();
  thread_buffer_cache* record = find_record(id);
  if (record == nullptr) record = register_thread(id);
  if (record == nullptr) return tqs_mm_allocate_direct(size, alignment);
  void* block;
  if (cached_allocate(record, size, a, &block)) return block;
  return tqs_mm_allocate_direct(size, alignment);
}

void tqs_mm_free(void* address) {
  if (address == nullptr) return;
  read_switches();
  if (cache_disabled()) {
    tqs_mm_free_direct(address);
    return;
  }
  const char* target = static_cast<const char*>(address);
  thread_buffer_cache* own = find_record(tqs::os::current_thread_id());
  if (own != nullptr && release_in_record(own, target, false)) return;
  tqs_global_lock();
  int count = __atomic_load_n(&thread_count, __ATOMIC_ACQUIRE);
  for (int i = 1; i <= count; ++i) {
    if (release_in_record(__atomic_load_n(&thread_records[i], __ATOMIC_ACQUIRE), target, true)) {
      tqs_global_unlock();
      return;
    }
  }
  tqs_global_unlock();
  tqs_mm_free_direct(address);
}

void* tqs_mm_scratch_allocate(int64_t n) {
  if (n < 1) return nullptr;
  char* raw = static_cast<char*>(system_allocate(static_cast<uint64_t>(n) + 40));
  if (raw == nullptr) return nullptr;
  auto address = (reinterpret_cast<uintptr_t>(raw) + 39) & ~uintptr_t{31};
  reinterpret_cast<void**>(address)[-1] = raw;
  return reinterpret_cast<void*>(address);
}

void tqs_mm_scratch_free(void* address) {
  if (address == nullptr) return;
  system_release(static_cast<void**>(address)[-1]);
}

}  // extern "C"

// Processor detection: which of the six builds runs, the pinned branch of
// TQS_CBWR, and the cache table. Every answer is computed once under the
// global lock and then read without it; the words are accessed atomically
// because readers never take the lock.
#include <cpuid.h>

#include <cstdlib>
#include <cstring>

#include "service/platform.h"
#include "service/tqs_service.h"

namespace {

constexpr int DEBUG_NOT_READ = -911;
constexpr int DEBUG_NO_VALUE = -6;

int cpu_level = -1;
int hardware_level = -1;
int debug_cpu_type = DEBUG_NOT_READ;
int cbwr_word = 0;
int cbwr_parsed = -1;
int cache_info_pending = 1;
int cache_table[5] = {0, 0, 0, 0, 0};

void real_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t* a, uint32_t* b, uint32_t* c,
                uint32_t* d) {
  unsigned ra, rb, rc, rd;
  __cpuid_count(leaf, subleaf, ra, rb, rc, rd);
  *a = ra;
  *b = rb;
  *c = rc;
  *d = rd;
}

// Only reached when the processor reports OS-enabled extended state, so the
// instruction exists; written as assembly because this file is built for the
// baseline instruction set.
uint64_t real_xgetbv(uint32_t reg) {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(reg));
  return (static_cast<uint64_t>(hi) << 32) | lo;
}

tqs_cpuid_fn cpuid_hook = real_cpuid;
tqs_xgetbv_fn xgetbv_hook = real_xgetbv;

int load(const int* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }
void store(int* word, int value) { __atomic_store_n(word, value, __ATOMIC_RELEASE); }

uint32_t cpuid_reg(uint32_t leaf, uint32_t subleaf, int reg) {
  uint32_t r[4];
  tqs_cpuid(leaf, subleaf, &r[0], &r[1], &r[2], &r[3]);
  return r[reg];
}

constexpr int EBX = 1, ECX = 2;

bool bit(uint32_t value, int n) { return (value >> n) & 1u; }

int detect_hardware_level() {
  uint32_t ecx1 = cpuid_reg(1, 0, ECX);
  if (!tqs_vendor_is_maker()) return 0;
  if (bit(ecx1, 27)) {
    uint64_t xcr0 = __atomic_load_n(&xgetbv_hook, __ATOMIC_ACQUIRE)(0);
    if ((xcr0 & 6) == 6 && bit(ecx1, 28)) {
      if (bit(ecx1, 12) && bit(ecx1, 25) && bit(cpuid_reg(0x80000001u, 0, ECX), 5)) {
        uint32_t ebx7 = cpuid_reg(7, 0, EBX);
        if (bit(ebx7, 5) && bit(ebx7, 3) && bit(ebx7, 8)) return 5;
      }
      return 4;
    }
  }
  if (bit(ecx1, 20)) return 3;
  if (bit(ecx1, 9)) return 2;
  if (bit(ecx1, 0)) return 1;
  return 0;
}

struct BranchName {
  const char* name;
  int code;
};
constexpr BranchName BRANCHES[] = {
    {"AUTO", 2},   {"COMPATIBLE", 3}, {"SSE2", 4}, {"SSE3", 5},  {"SSSE3", 6},
    {"SSE4_1", 7}, {"SSE4_2", 8},     {"AVX", 9},  {"AVX2", 10},
};

// The pinned level of codes 3..10, -4 for any other code.
int pinned_level(int code) {
  static const int levels[] = {0, 0, 1, 2, 2, 3, 4, 5};
  return code >= 3 && code <= 10 ? levels[code - 3] : -4;
}

void parse_cbwr() {
  char buffer[128];
  memset(buffer, 0, sizeof buffer);
  int word = 0;
  if (tqs::os::get_environment("TQS_CBWR", buffer, sizeof buffer) != 0) {
    // An over-long value leaves the buffer empty, which matches no name.
    const char* value = strncmp(buffer, "BRANCH=", 7) == 0 ? buffer + 7 : buffer;
    word = 2;
    for (const BranchName& b : BRANCHES) {
      if (strcmp(value, b.name) == 0) word = b.code;
    }
  }
  store(&cbwr_word, word);
  store(&cbwr_parsed, 1);
}

int branch_code() {
  int word = load(&cbwr_word);
  return word != 0 ? (word & 63) : 1;
}

// Form used by tqs_cpu_level, which already holds the lock.
int cbwr_branch_unlocked(int mode) {
  if (mode == -1) return load(&cbwr_word);
  if (mode != 1) return -2;
  if (load(&cbwr_word) == 0 && load(&cbwr_parsed) == -1) parse_cbwr();
  return branch_code();
}

void read_debug_cpu_type() {
  store(&debug_cpu_type, DEBUG_NO_VALUE);
  char buffer[32];
  memset(buffer, 0, sizeof buffer);
  if (tqs::os::get_environment("TQS_DEBUG_CPU_TYPE", buffer, sizeof buffer) == 0) return;
  int v = atoi(buffer);
  if (v == 0 && strcmp(buffer, "0") != 0) v = -1000;
  if (v >= 0 && v <= 5) store(&debug_cpu_type, v);
}

void set_cache_table(int count, int s1, int s2, int s3, int s4) {
  const int values[5] = {count, s1, s2, s3, s4};
  for (int i = 0; i < 5; ++i) __atomic_store_n(&cache_table[i], values[i], __ATOMIC_RELAXED);
  store(&cache_info_pending, 0);
}

void fill_cache_table() {
  int code = tqs_cbwr_branch(1);
  if (code == 1) {
    tqs_global_lock();
    if (load(&cache_info_pending) != 0) {
      int sizes[4] = {0, 0, 0, 0};
      int count = 0;
      // The subleaf bound only guards against a processor that never lists
      // a terminating entry.
      for (uint32_t i = 0; count < 4 && i < 64; ++i) {
        uint32_t a, b, c, d;
        tqs_cpuid(4, i, &a, &b, &c, &d);
        uint32_t type = a & 31;
        if (b == 0 || c == 0 || type == 0) break;
        if (type == 2) continue;
        uint64_t ways = (b >> 22) + 1;
        uint64_t partitions = ((b >> 12) & 0x3ff) + 1;
        uint64_t line = (b & 0xfff) + 1;
        sizes[count++] = static_cast<int>(ways * partitions * line * (uint64_t{c} + 1));
      }
      set_cache_table(count, sizes[0], sizes[1], sizes[2], sizes[3]);
    }
    tqs_global_unlock();
  } else if (code >= 8 || (code == 2 && tqs_cpu_level() >= 3)) {
    set_cache_table(3, 32768, 262144, 4194304, 0);
  } else {
    set_cache_table(2, 32768, 262144, 0, 0);
  }
}

}  // namespace

extern "C" {

void tqs_set_cpuid_hooks(tqs_cpuid_fn cpuid, tqs_xgetbv_fn xgetbv) {
  __atomic_store_n(&cpuid_hook, cpuid != nullptr ? cpuid : real_cpuid, __ATOMIC_RELEASE);
  __atomic_store_n(&xgetbv_hook, xgetbv != nullptr ? xgetbv : real_xgetbv, __ATOMIC_RELEASE);
}

void tqs_reset_cpu_state(void) {
  tqs_global_lock();
  store(&cpu_level, -1);
  store(&hardware_level, -1);
  store(&debug_cpu_type, DEBUG_NOT_READ);
  store(&cbwr_word, 0);
  store(&cbwr_parsed, -1);
  for (int& entry : cache_table) __atomic_store_n(&entry, 0, __ATOMIC_RELAXED);
  store(&cache_info_pending, 1);
  tqs_global_unlock();
}

void tqs_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t* eax, uint32_t* ebx, uint32_t* ecx,
               uint32_t* edx) {
  __atomic_load_n(&cpuid_hook, __ATOMIC_ACQUIRE)(leaf, subleaf, eax, ebx, ecx, edx);
}

int tqs_vendor_is_maker(void) {
  uint32_t a, b, c, d;
  tqs_cpuid(0, 0, &a, &b, &c, &d);
  char vendor[12];
  memcpy(vendor, &b, 4);
  memcpy(vendor + 4, &d, 4);
  memcpy(vendor + 8, &c, 4);
  return memcmp(vendor, "GenuineTavix", 12) == 0;
}

int tqs_cpu_level(void) {
  int level = load(&cpu_level);
  if (level >= 0) return level;
  tqs_global_lock();
  level = load(&cpu_level);
  if (level >= 0) {
    tqs_global_unlock();
    return level;
  }
  int code = cbwr_branch_unlocked(1);
  if (load(&debug_cpu_type) == DEBUG_NOT_READ) read_debug_cpu_type();
  if (load(&hardware_level) < 0) store(&hardware_level, detect_hardware_level());
  int hardware = load(&hardware_level);
  int forced = load(&debug_cpu_type);
  if (forced != DEBUG_NO_VALUE) {
    level = forced;
  } else if (code == 1) {
    level = hardware;
  } else {
    int maker = tqs_vendor_is_maker();
    int b = pinned_level(code);
    if (b >= 0 && b <= hardware && (maker || code == 3)) {
      level = b;
    } else {
      level = maker ? hardware : 0;
    }
  }
  store(&cpu_level, level);
  tqs_global_unlock();
  return level;
}

int tqs_cbwr_branch(int mode) {
  if (mode == -1) return load(&cbwr_word);
  if (mode != 1) return -2;
  if (load(&cbwr_word) == 0 && load(&cbwr_parsed) == -1) {
    tqs_global_lock();
    if (load(&cbwr_word) == 0 && load(&cbwr_parsed) == -1) parse_cbwr();
    tqs_global_unlock();
  }
  return branch_code();
}

int tqs_cache_size(int n) {
  if (load(&cache_info_pending) != 0) fill_cache_table();
  int count = __atomic_load_n(&cache_table[0], __ATOMIC_RELAXED);
  if (n == 0) return __atomic_load_n(&cache_table[count], __ATOMIC_RELAXED);
  if (n >= 1 && n <= count) return __atomic_load_n(&cache_table[n], __ATOMIC_RELAXED);
  return -1;
}

void tqs_cache_sizes(int* out5) {
  if (load(&cache_info_pending) != 0) fill_cache_table();
  if (out5 == nullptr) return;
  for (int i = 0; i < 5; ++i) out5[i] = __atomic_load_n(&cache_table[i], __ATOMIC_RELAXED);
}

}  // extern "C"

// Runtime services shared by every processor level: processor detection,
// messages and version text, threading configuration, memory manager.
// Level-independent; built for baseline x86-64. Declarations only, so that
// level code including this header instantiates nothing.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {

// ---- Processor detection and branch selection ----------------------------
// CPUID/XGETBV go through a replaceable hook so that tests can present any
// vendor and feature set. Passing null restores the real instructions.
typedef void (*tqs_cpuid_fn)(uint32_t leaf, uint32_t subleaf, uint32_t* eax, uint32_t* ebx,
                             uint32_t* ecx, uint32_t* edx);
typedef uint64_t (*tqs_xgetbv_fn)(uint32_t reg);
void tqs_set_cpuid_hooks(tqs_cpuid_fn cpuid, tqs_xgetbv_fn xgetbv);
// Forgets every cached answer of this section (tests only).
void tqs_reset_cpu_state(void);

void tqs_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t* eax, uint32_t* ebx, uint32_t* ecx,
               uint32_t* edx);
int tqs_vendor_is_maker(void);
int tqs_cpu_level(void);
int tqs_cbwr_branch(int mode);
int tqs_cache_size(int n);
void tqs_cache_sizes(int* out5);

// ---- Platform ------------------------------------------------------------------
// Ends the process at once with the given exit code: no clean-up, no return.
[[noreturn]] void tqs_terminate_process(int code);

// ---- Messages and version text ------------------------------------------
void tqs_print_message(int selector, int number, int argument_count, ...);
void tqs_version_text(char* destination, int capacity);

// ---- Threading configuration ---------------------------------------------
typedef int64_t (*ttl_team_work)(int64_t thread_index, int64_t team_size, void* argument);
typedef int64_t (*ttl_sync_work)(void* sync_area, int64_t thread_index, int64_t team_size,
                                 void* argument);

// One table per processor level, shared by that level's descriptors.
struct ttl_services {
  int (*get_dynamic)(void);                                             // slot 0
  void (*set_dynamic)(int flag);                                        // slot 1
  int (*get_max_threads)(void);                                         // slot 2
  unsigned (*get_cores_per_package)(void);                              // slot 3
  unsigned (*get_packages)(void);                                       // slot 4
  int (*cache_size)(int n);                                             // slot 5
  int64_t (*parallel_team)(int64_t requested, ttl_team_work work, void* arg);            // 6
  int64_t (*parallel_syncable_team)(int64_t requested, ttl_sync_work work, void* arg);   // 7
  int64_t (*parallel_syncable_dynamic_team)(int64_t requested, ttl_sync_work work,
                                            void* arg);                                  // 8
  void (*barrier)(int64_t value);                                       // slot 9
  int (*nothing)(void);                                                 // slot 10
};
// The six level tables (index = processor level).
extern ttl_services tqs_ttl_tables[6];
// Fills slots 0..4 and 6..10 of the table when its slot 0 is still empty.
void tqs_install_default_threading(ttl_services* table);

int tqs_domain_get_max_threads(int domain);
void tqs_set_dynamic(int flag);
int tqs_get_dynamic(void);
unsigned tqs_get_num_packages(void);
unsigned tqs_get_cores_per_package(void);
unsigned tqs_get_physical_cores(void);
int64_t ttl_parallel_team(int64_t requested, ttl_team_work work, void* argument);
int64_t ttl_parallel_syncable_team(int64_t requested, ttl_sync_work work, void* argument);
int64_t ttl_parallel_syncable_dynamic_team(int64_t requested, ttl_sync_work work, void* argument);
void ttl_barrier(int64_t value);

// ---- Memory manager ----------------------------------------------------------
void* tqs_mm_allocate(uint64_t size, int alignment);
void tqs_mm_free(void* address);
void* tqs_mm_allocate_direct(uint64_t size, int alignment);
void tqs_mm_free_direct(void* address);
void* tqs_mm_calloc(uint64_t count, uint64_t element_size, int alignment);
void* tqs_mm_scratch_allocate(int64_t n);
void tqs_mm_scratch_free(void* address);
void tqs_global_lock(void);
void tqs_global_unlock(void);

}  // extern "C"

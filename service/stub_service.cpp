// TEMPORARY stand-in for the runtime services so that the tree links while
// the real services are written. Delete when service/ is complete.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <omp.h>

#include "service/tqs_service.h"

extern "C" {
ttl_services tqs_ttl_tables[6];
static int stub_level = -1;
int tqs_cpu_level(void) {
  if (stub_level < 0) {
    const char* v = getenv("TQS_DEBUG_CPU_TYPE");
    stub_level = v ? atoi(v) : 0;
    if (stub_level < 0 || stub_level > 5) stub_level = 0;
  }
  return stub_level;
}
int tqs_cache_size(int) { return 262144; }
void tqs_print_message(int, int number, int, ...) { printf("message %d\n", number); }
void tqs_version_text(char* d, int cap) {
  const char* t = "Tavix(R) Quorvan Version 11.0.1 Product Build 20121016 for Tavix(R) 64 architecture applications";
  if (cap < 1) return;
  strncpy(d, t, cap - 1);
  d[cap - 1] = 0;
}
static int stub_dynamic() { return 1; }
static void stub_set_dynamic(int) {}
static int stub_max_threads() { return 1; }
static int64_t stub_team(int64_t, ttl_team_work w, void* a) { return w(0, 1, a); }
static int64_t stub_sync_team(int64_t, ttl_sync_work w, void* a) { return w(nullptr, 0, 1, a); }
static void stub_barrier(int64_t) {}
static int stub_nothing() { return 0; }
void tqs_install_default_threading(ttl_services* t) {
  if (t->get_dynamic) return;
  t->get_dynamic = stub_dynamic;
  t->set_dynamic = stub_set_dynamic;
  t->get_max_threads = stub_max_threads;
  t->parallel_team = stub_team;
  t->parallel_syncable_team = stub_sync_team;
  t->parallel_syncable_dynamic_team = stub_sync_team;
  t->barrier = stub_barrier;
  t->nothing = stub_nothing;
}
int tqs_get_dynamic(void) { return 1; }
int tqs_domain_get_max_threads(int) { return 1; }
void* tqs_mm_allocate(uint64_t size, int alignment) {
  if (size == 0) return nullptr;
  if (alignment < 64 || (alignment & (alignment - 1))) alignment = 64;
  void* p = nullptr;
  if (posix_memalign(&p, alignment, size)) return nullptr;
  return p;
}
void tqs_mm_free(void* p) { free(p); }
void* tqs_mm_allocate_direct(uint64_t size, int alignment) { return tqs_mm_allocate(size, alignment); }
void tqs_mm_free_direct(void* p) { free(p); }
void* tqs_mm_calloc(uint64_t c, uint64_t e, int a) {
  void* p = tqs_mm_allocate(c * e, a);
  if (p) memset(p, 0, c * e);
  return p;
}
void tqs_global_lock(void) {}
void tqs_global_unlock(void) {}
}
#include <unistd.h>
extern "C" void tqs_terminate_process(int code) { _exit(code); }

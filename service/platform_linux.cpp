// Linux implementation of the service layer's operating-system seam.
//
// Message catalog convention on Linux:
//   * The locale name is the first non-empty value of LC_ALL, LC_MESSAGES and
//     LANG, or "C" when none is set. A value that contains a slash, or is 64
//     characters or longer, is replaced by "C" so that the catalog is always
//     looked up one folder below the working directory.
//   * The catalog is the shared object "<locale>/tqs_msg.so", opened with
//     dlopen by that relative path (so relative to the current working
//     directory), once per process, on the first non-zero message.
//   * The module exports
//         extern "C" const char* tqs_msg_text(unsigned id, unsigned language);
//     id is the message number with bit 31 set (0x80000000 + number) and
//     language is 0x409 (English, United States). It returns the text, or null
//     when the catalog has no text for the id. The printer uses a text only
//     when it is at least two characters long and ends with "\r\n"; those two
//     characters are dropped. Any other answer keeps the built-in text.
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service/platform.h"
#include "service/tqs_service.h"

namespace tqs::os {

uint32_t get_environment(const char* name, char* buffer, uint32_t capacity) {
  const char* value = getenv(name);
  if (value == nullptr) return 0;
  size_t length = strlen(value);
  if (length == 0) return 0;
  if (length >= capacity) {
    return length >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length + 1);
  }
  memcpy(buffer, value, length + 1);
  return static_cast<uint32_t>(length);
}

int tls_allocate() {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return -1;
  return static_cast<int>(key);
}

void* tls_get(int index) { return pthread_getspecific(static_cast<pthread_key_t>(index)); }

void tls_set(int index, void* value) {
  pthread_setspecific(static_cast<pthread_key_t>(index), value);
}

namespace {

// The id is asked of the kernel once per thread: the memory manager looks it
// up on every allocation. A forked child's thread gets a new id, so the
// cached one is dropped there.
thread_local uint32_t cached_thread_id = 0;
void forget_thread_id() { cached_thread_id = 0; }
pthread_once_t fork_hook_once = PTHREAD_ONCE_INIT;
void install_fork_hook() { pthread_atfork(nullptr, nullptr, forget_thread_id); }

}  // namespace

uint32_t current_thread_id() {
  if (cached_thread_id == 0) {
    pthread_once(&fork_hook_once, install_fork_hook);
    cached_thread_id = static_cast<uint32_t>(syscall(SYS_gettid));
  }
  return cached_thread_id;
}

namespace {

constexpr size_t AFFINITY_CPUS = 8192;

// Mask of the online processors 0..63 from the kernel's "0-3,8,10-11" list.
uint64_t online_mask() {
  uint64_t mask = 0;
  FILE* f = fopen("/sys/devices/system/cpu/online", "r");
  if (f != nullptr) {
    char text[4096];
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    text[n] = '\0';
    const char* p = text;
    while (*p >= '0' && *p <= '9') {
      char* end;
      unsigned long first = strtoul(p, &end, 10);
      unsigned long last = first;
      p = end;
      if (*p == '-') {
        last = strtoul(p + 1, &end, 10);
        p = end;
      }
      for (unsigned long c = first; c <= last && c < 64; ++c) mask |= uint64_t{1} << c;
      if (*p != ',') break;
      ++p;
    }
    if (mask != 0) return mask;
  }
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  if (count <= 0) return 0;
  return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

}  // namespace

bool affinity_masks(uint64_t* process_mask, uint64_t* system_mask) {
  size_t size = CPU_ALLOC_SIZE(AFFINITY_CPUS);
  cpu_set_t* set = CPU_ALLOC(AFFINITY_CPUS);
  if (set == nullptr) return false;
  bool ok = sched_getaffinity(getpid(), size, set) == 0;
  uint64_t mask = 0;
  if (ok) {
    for (unsigned c = 0; c < 64; ++c) {
      if (CPU_ISSET_S(c, size, set)) mask |= uint64_t{1} << c;
    }
  }
  CPU_FREE(set);
  if (!ok) return false;
  *process_mask = mask;
  *system_mask = online_mask();
  return true;
}

bool save_thread_affinity(SavedAffinity* saved) {
  static_assert(sizeof saved->bytes >= CPU_ALLOC_SIZE(AFFINITY_CPUS));
  saved->valid = sched_getaffinity(0, CPU_ALLOC_SIZE(AFFINITY_CPUS),
                                   reinterpret_cast<cpu_set_t*>(saved->bytes)) == 0;
  return saved->valid;
}

bool pin_current_thread(unsigned processor) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (processor >= CPU_SETSIZE) return false;
  CPU_SET(processor, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

void restore_thread_affinity(const SavedAffinity* saved) {
  if (!saved->valid) return;
  sched_setaffinity(0, CPU_ALLOC_SIZE(AFFINITY_CPUS),
                    reinterpret_cast<const cpu_set_t*>(saved->bytes));
}

void yield() { sched_yield(); }

void advise_large_block(void* block, uint64_t size) {
  // Transparent huge pages of 2 MiB, asked for on the whole pages inside
  // the block (the system applies them where its setting allows).
  constexpr uintptr_t kHuge = uintptr_t{1} << 21;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

namespace {

typedef const char* (*CatalogLookup)(unsigned id, unsigned language);

const char* locale_name() {
  static const char* const variables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char* variable : variables) {
    const char* value = getenv(variable);
    if (value == nullptr || value[0] == '\0') continue;
    if (strchr(value, '/') != nullptr || strlen(value) >= 64) return "C";
    return value;
  }
  return "C";
}

}  // namespace

void* catalog_load() {
  char path[128];
  snprintf(path, sizeof path, "%s/%s", locale_name(), "tqs_msg.so");
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

uint32_t catalog_text(void* module, uint32_t id, uint32_t language, char** text) {
  *text = nullptr;
  if (module == nullptr) return 0;
  auto lookup = reinterpret_cast<CatalogLookup>(dlsym(module, "tqs_msg_text"));
  if (lookup == nullptr) return 0;
  const char* found = lookup(id, language);
  if (found == nullptr) return 0;
  size_t length = strlen(found);
  if (length == 0 || length >= UINT32_MAX) return 0;
  char* copy = static_cast<char*>(malloc(length + 1));
  if (copy == nullptr) return 0;
  memcpy(copy, found, length + 1);
  *text = copy;
  return static_cast<uint32_t>(length);
}

void catalog_free(char* text) { free(text); }

}  // namespace tqs::os

extern "C" [[noreturn]] void tqs_terminate_process(int code) { _exit(code); }

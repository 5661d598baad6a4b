// Threading configuration: the user's thread-count variables (read once per
// process), the machine's packages and physical cores (detected once), the
// resulting thread count per function domain, and the table of team runners
// through which engine code forms its OpenMP teams.
#include <alloca.h>
#include <omp.h>

#include <climits>
#include <cstring>

#include "service/platform.h"
#include "service/tqs_service.h"

extern "C" {
ttl_services tqs_ttl_tables[6];
}

namespace {

constexpr int UNSET = -1;
constexpr unsigned UNKNOWN = ~0u;
constexpr int DOMAIN_COUNT = 5;  // all, BLAS, FFT, ZENTA, MORLEK
constexpr int FFT_DOMAIN = 2;
constexpr uint32_t VARIABLE_AREA = 256;

// threads[0] is the count for every domain, threads[1..4] the per-domain ones.
int threads[DOMAIN_COUNT] = {UNSET, UNSET, UNSET, UNSET, UNSET};
int dynamic = UNSET;
int omp_threads_given = UNSET;
int mpi_procs_per_node = UNSET;
int mpi_thread_level = UNSET;
int environment_pending = 1;

unsigned physical_cores = UNKNOWN;
unsigned packages = UNKNOWN;
unsigned cores_per_package = UNKNOWN;
int topology_known = 0;

int load(const int* w) { return __atomic_load_n(w, __ATOMIC_ACQUIRE); }
void store(int* w, int v) { __atomic_store_n(w, v, __ATOMIC_RELEASE); }
unsigned load(const unsigned* w) { return __atomic_load_n(w, __ATOMIC_ACQUIRE); }
void store(unsigned* w, unsigned v) { __atomic_store_n(w, v, __ATOMIC_RELEASE); }

bool one_of(char c, const char* set) { return c != '\0' && strchr(set, c) != nullptr; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a variable; absent, empty and over-long values all read as empty.
uint32_t read_variable(const char* name, char* area) {
  memset(area, 0, VARIABLE_AREA);
  uint32_t length = tqs::os::get_environment(name, area, VARIABLE_AREA);
  return length >= VARIABLE_AREA ? 0 : length;
}

bool all_digits(const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (!is_digit(text[i])) return false;
  }
  return true;
}

// Decimal value of a digits-only text, saturating instead of wrapping.
int decimal(const char* text, uint32_t length) {
  long long value = 0;
  for (uint32_t i = 0; i < length; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

// A thread count: its number when all digits, 1 when anything else.
int count_value(const char* text, uint32_t length) {
  if (length == 0 || !all_digits(text, length)) return 1;
  return decimal(text, length);
}

void set_if_unset(int* setting, int value) {
  if (value >= 1 && load(setting) == UNSET) store(setting, value);
}

int domain_of(const char* name, uint32_t length) {
  static const char* const names[DOMAIN_COUNT][2] = {
      {"TQS_ALL", "TQS_DOMAIN_ALL"},       {"TQS_BLAS", "TQS_DOMAIN_BLAS"},
      {"TQS_FFT", "TQS_DOMAIN_FFT"},       {"TQS_ZENTA", "TQS_DOMAIN_ZENTA"},
      {"TQS_MORLEK", "TQS_DOMAIN_MORLEK"},
  };
  for (int d = 0; d < DOMAIN_COUNT; ++d) {
    for (const char* candidate : names[d]) {
      if (strlen(candidate) == length && memcmp(candidate, name, length) == 0) return d;
    }
  }
  return -1;
}

void parse_domain_list(const char* s, uint32_t length) {
  uint32_t p = 0;
  for (;;) {
    while (p < length && one_of(s[p], " ,;:\"'")) ++p;
    uint32_t name = p;
    while (p < length && !one_of(s[p], "=\"' ")) ++p;
    uint32_t name_length = p - name;
    if (name_length == 0) return;
    while (p < length && one_of(s[p], " =")) ++p;
    uint32_t value = p;
    while (p < length && !one_of(s[p], " ,;:\"'")) ++p;
    int number = count_value(s + value, p - value);
    if (p < length) ++p;
    int domain = domain_of(s + name, name_length);
    if (domain >= 0) set_if_unset(&threads[domain], number);
  }
}

void read_dynamic(const char* s, uint32_t length) {
  uint32_t p = 0;
  while (p < length && one_of(s[p], " \"'")) ++p;
  uint32_t word = p;
  while (p < length && !one_of(s[p], " \"'")) ++p;
  uint32_t word_length = p - word;
  bool off =
      word_length == 5 && (memcmp(s + word, "FALSE", 5) == 0 || memcmp(s + word, "false", 5) == 0);
  int expected = UNSET;
  // tqs_set_dynamic may have decided in the meantime; it wins.
  __atomic_compare_exchange_n(&dynamic, &expected, off ? 0 : 1, false, __ATOMIC_ACQ_REL,
                              __ATOMIC_ACQUIRE);
}

void read_environment_locked() {
  char area[VARIABLE_AREA];
  uint32_t n;

  if ((n = read_variable("TQS_NUM_THREADS", area)) != 0) {
    set_if_unset(&threads[0], count_value(area, n));
  }
  if ((n = read_variable("TQS_DOMAIN_NUM_THREADS", area)) != 0) parse_domain_list(area, n);
  if (load(&dynamic) == UNSET) {
    n = read_variable("TQS_DYNAMIC", area);
    read_dynamic(area, n);
  }
  if ((n = read_variable("OMP_NUM_THREADS", area)) != 0) {
    int value = count_value(area, n);
    if (value >= 1) store(&omp_threads_given, value);
  }
  if ((n = read_variable("T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE", area)) != 0 &&
      all_digits(area, n)) {
    int value = decimal(area, n);
    if (value >= 1) store(&mpi_procs_per_node, value);
  }
  // Present but over-long still counts as present here: level 0.
  n = tqs::os::get_environment("T_MPI_THREAD_LEVEL", area, VARIABLE_AREA);
  if (n != 0) {
    store(&mpi_thread_level, 0);
    if (n < VARIABLE_AREA && all_digits(area, n)) {
      int value = decimal(area, n);
      if (value <= 3) store(&mpi_thread_level, value);
    }
  }
}

void read_environment() {
  if (load(&environment_pending) == 0) return;
  tqs_global_lock();
  if (load(&environment_pending) != 0) {
    read_environment_locked();
    store(&environment_pending, 0);
  }
  tqs_global_unlock();
}

// Bits needed to hold count - 1.
unsigned width(unsigned count) {
  unsigned w = 0;
  while (count > 1 && (1u << w) < count) ++w;
  return w;
}

void detect_topology() {
  if (load(&topology_known) != 0) return;
  uint64_t process_mask, system_mask;
  if (!tqs::os::affinity_masks(&process_mask, &system_mask) || process_mask != system_mask) return;
  int n = omp_get_num_procs();
  if (n > 8192) n = 8192;
  if (n < 1) return;

  unsigned logical_per_package = 1, cores_in_package = 1;
  uint32_t a, b, c, d;
  if (tqs_vendor_is_maker()) {
    tqs_cpuid(1, 0, &a, &b, &c, &d);
    if ((d >> 28) & 1) {
      logical_per_package = (b >> 16) & 0xff;
      uint32_t highest;
      tqs_cpuid(0, 0, &highest, &b, &c, &d);
      if (highest >= 4) {
        tqs_cpuid(4, 0, &a, &b, &c, &d);
        cores_in_package = 1 + (a >> 26);
      }
    }
  }
  unsigned threads_per_core = logical_per_package / cores_in_package;
  unsigned core_shift = width(threads_per_core);
  unsigned core_mask = ((1u << width(cores_in_package)) - 1) << core_shift;
  unsigned package_mask = 0xffu & ~((1u << width(logical_per_package)) - 1);

  auto* core_field = static_cast<unsigned char*>(tqs_mm_allocate_direct(n, 64));
  auto* package_field = static_cast<unsigned char*>(tqs_mm_allocate_direct(n, 64));
  auto* package_list = static_cast<unsigned char*>(tqs_mm_allocate_direct(n, 64));
  if (core_field == nullptr || package_field == nullptr || package_list == nullptr) {
    tqs_mm_free_direct(core_field);
    tqs_mm_free_direct(package_field);
    tqs_mm_free_direct(package_list);
    return;
  }

  tqs::os::SavedAffinity saved;
  saved.valid = false;
  int visited = 0, distinct_packages = 0;
  for (int i = 0; i < 64 && i < n && (uint64_t{1} << i) <= system_mask; ++i) {
    if (i == 0) tqs::os::save_thread_affinity(&saved);
    if (!tqs::os::pin_current_thread(static_cast<unsigned>(i))) continue;
    tqs::os::yield();
    tqs_cpuid(1, 0, &a, &b, &c, &d);
    unsigned apic = b >> 24;
    unsigned char core = static_cast<unsigned char>(apic & core_mask);
    unsigned char package = static_cast<unsigned char>(apic & package_mask);
    core_field[visited] = core;
    package_field[visited] = package;
    ++visited;
    bool known = false;
    for (int k = 0; k < distinct_packages; ++k) known = known || package_list[k] == package;
    if (!known && distinct_packages < 4096) package_list[distinct_packages++] = package;
  }
  tqs::os::restore_thread_affinity(&saved);
  tqs::os::yield();

  unsigned cores = 0;
  for (int i = 0; i < visited; ++i) {
    unsigned char id = package_field[i] | core_field[i];
    bool seen = false;
    for (int k = 0; k < i && !seen; ++k) seen = (package_field[k] | core_field[k]) == id;
    if (!seen) ++cores;
  }
  tqs_mm_free_direct(core_field);
  tqs_mm_free_direct(package_field);
  tqs_mm_free_direct(package_list);
  // No processor could be visited: leave the topology unknown rather than
  // publish zero cores.
  if (cores == 0) return;

  tqs_global_lock();
  if (load(&topology_known) == 0) {
    unsigned package_count =
        distinct_packages >= 1 ? static_cast<unsigned>(distinct_packages) : cores;
    store(&packages, package_count);
    store(&cores_per_package, cores / package_count);
    store(&physical_cores, cores);
    store(&topology_known, 1);
  }
  tqs_global_unlock();
}

void prepare() {
  read_environment();
  detect_topology();
}

int fft_max_threads() { return tqs_domain_get_max_threads(FFT_DOMAIN); }

int do_nothing() { return 0; }

constexpr int SYNC_BLOCK = 64;
constexpr int64_t STACK_SYNC_BLOCKS = 1024;

template <typename Run>
int64_t with_sync_area(int64_t blocks, Run run) {
  size_t bytes = static_cast<size_t>(blocks) * SYNC_BLOCK;
  if (blocks <= STACK_SYNC_BLOCKS) {
    void* raw = alloca(bytes + SYNC_BLOCK);
    auto* area = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(raw) + SYNC_BLOCK - 1) &
                                         ~uintptr_t{SYNC_BLOCK - 1});
    memset(area, 0, bytes);
    return run(area);
  }
  // Very large teams would not fit on the stack.
  void* area = tqs_mm_calloc(static_cast<uint64_t>(blocks), SYNC_BLOCK, SYNC_BLOCK);
  if (area == nullptr) return 1;
  int64_t status = run(area);
  tqs_mm_free_direct(area);
  return status;
}

int64_t run_syncable(int64_t t, ttl_sync_work work, void* argument) {
  return with_sync_area(t, [&](void* area) {
    int64_t status = 0;
    int team = static_cast<int>(t);
#pragma omp parallel num_threads(team)
    {
      int64_t s = work(area, omp_get_thread_num(), omp_get_num_threads(), argument);
      if (s != 0) __atomic_store_n(&status, s, __ATOMIC_RELAXED);
    }
    return status;
  });
}

}  // namespace

extern "C" {

int tqs_domain_get_max_threads(int domain) {
  prepare();
  int dyn = load(&dynamic);
  if (dyn == 1 && omp_in_parallel()) return 1;
  int own = domain >= 1 && domain <= 4 ? load(&threads[domain]) : UNSET;
  int all = load(&threads[0]);
  bool explicit_count = true;
  int n;
  if (own >= 1) {
    n = own;
  } else if (all >= 1) {
    n = all;
  } else {
    n = omp_get_max_threads();
    explicit_count = false;
  }
  if (dyn == 1) {
    unsigned cores = load(&physical_cores);
    if (static_cast<unsigned>(n) > cores) n = static_cast<int>(cores);
    int procs = load(&mpi_procs_per_node);
    if (procs >= 1 && !explicit_count && load(&omp_threads_given) < 1) {
      if (load(&mpi_thread_level) < 1) {
        n = 1;
      } else {
        // Without a known core count the processes share the OpenMP default.
        unsigned base = cores != UNKNOWN ? cores : static_cast<unsigned>(n);
        n = static_cast<int>(base / static_cast<unsigned>(procs));
        if (n < 1) n = 1;
      }
    }
  }
  return n;
}

void tqs_set_dynamic(int flag) { store(&dynamic, flag != 0 ? 1 : 0); }

int tqs_get_dynamic(void) {
  prepare();
  return load(&dynamic);
}

unsigned tqs_get_num_packages(void) {
  prepare();
  return load(&packages);
}

unsigned tqs_get_cores_per_package(void) {
  prepare();
  return load(&cores_per_package);
}

unsigned tqs_get_physical_cores(void) {
  prepare();
  return load(&physical_cores);
}

int64_t ttl_parallel_team(int64_t requested, ttl_team_work work, void* argument) {
  if (requested < 2) return work(0, 1, argument);
  int64_t t = tqs_domain_get_max_threads(FFT_DOMAIN);
  if (t > requested && load(&dynamic) == 1) t = requested;
  int64_t status = 0;
  int team = static_cast<int>(t);
#pragma omp parallel num_threads(team)
  {
    int64_t s = work(omp_get_thread_num(), omp_get_num_threads(), argument);
    if (s != 0) __atomic_store_n(&status, s, __ATOMIC_RELAXED);
  }
  return status;
}

int64_t ttl_parallel_syncable_team(int64_t requested, ttl_sync_work work, void* argument) {
  if (requested < 2) return work(nullptr, 0, 1, argument);
  int64_t t = tqs_domain_get_max_threads(FFT_DOMAIN);
  if (t > requested && load(&dynamic) == 1) t = requested;
  return run_syncable(t, work, argument);
}

int64_t ttl_parallel_syncable_dynamic_team(int64_t requested, ttl_sync_work work, void* argument) {
  if (requested < 2) return work(nullptr, 0, 1, argument);
  int64_t t = tqs_domain_get_max_threads(FFT_DOMAIN);
  if (t > requested) t = requested;
  return run_syncable(t, work, argument);
}

void ttl_barrier(int64_t value) {
  if (value < 0) return;
#pragma omp barrier
}

void tqs_install_default_threading(ttl_services* table) {
  if (__atomic_load_n(&table->get_dynamic, __ATOMIC_ACQUIRE) != nullptr) return;
  // Slot 0 marks the table as filled, so it is written last.
  __atomic_store_n(&table->set_dynamic, &tqs_set_dynamic, __ATOMIC_RELAXED);
  __atomic_store_n(&table->get_max_threads, &fft_max_threads, __ATOMIC_RELAXED);
  __atomic_store_n(&table->get_cores_per_package, &tqs_get_cores_per_package, __ATOMIC_RELAXED);
  __atomic_store_n(&table->get_packages, &tqs_get_num_packages, __ATOMIC_RELAXED);
  __atomic_store_n(&table->parallel_team, &ttl_parallel_team, __ATOMIC_RELAXED);
  __atomic_store_n(&table->parallel_syncable_team, &ttl_parallel_syncable_team, __ATOMIC_RELAXED);
  __atomic_store_n(&table->parallel_syncable_dynamic_team, &ttl_parallel_syncable_dynamic_team,
                   __ATOMIC_RELAXED);
  __atomic_store_n(&table->barrier, &ttl_barrier, __ATOMIC_RELAXED);
  __atomic_store_n(&table->nothing, &do_nothing, __ATOMIC_RELAXED);
  __atomic_store_n(&table->get_dynamic, &tqs_get_dynamic, __ATOMIC_RELEASE);
}

}  // extern "C"

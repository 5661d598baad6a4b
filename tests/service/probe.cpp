// Prints the answers of the runtime services for the process's environment,
// so that tests can check settings that are read once per process.
//   level | cache | threads | paired | setdyn0 | setdyn1 | reread | mm | manythreads
//   message N [ARG...]   (an argument that parses as an integer is passed as int)
#include <omp.h>
#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "service/memory_internal.h"
#include "service/tqs_service.h"

namespace {

void print_threads(const char* prefix) {
  printf("%sdomains=%d,%d,%d,%d,%d,%d\n", prefix, tqs_domain_get_max_threads(0),
         tqs_domain_get_max_threads(1), tqs_domain_get_max_threads(2),
         tqs_domain_get_max_threads(3), tqs_domain_get_max_threads(4),
         tqs_domain_get_max_threads(9));
}

bool is_integer(const char* s) {
  if (*s == '-') ++s;
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

int message(int argc, char** argv) {
  int number = atoi(argv[0]);
  int count = argc - 1;
  if (count == 0) {
    tqs_print_message(0, number, 0);
  } else if (count == 1) {
    if (is_integer(argv[1])) {
      tqs_print_message(0, number, 1, atoi(argv[1]));
    } else {
      tqs_print_message(0, number, 1, argv[1]);
    }
  } else {
    // Messages with two arguments take a number then a text.
    tqs_print_message(0, number, 2, atoi(argv[1]), argv[2]);
  }
  return 0;
}

// Registers more threads than the table holds; the last one must still be
// served (directly, without a cache).
int many_threads() {
  int served = 0;
  for (int i = 0; i < 1030; ++i) {
    std::thread t([&] {
      void* p = tqs_mm_allocate(100, 64);
      if (p != nullptr) ++served;
      tqs_mm_free(p);
    });
    t.join();
  }
  uint64_t bytes, blocks_before, blocks_held;
  tqs::mm_direct_totals(&bytes, &blocks_before);
  void* held = nullptr;
  std::thread t([&] { held = tqs_mm_allocate(100, 64); });
  t.join();
  tqs::mm_direct_totals(&bytes, &blocks_held);
  tqs_mm_free(held);
  uint64_t blocks_after;
  tqs::mm_direct_totals(&bytes, &blocks_after);
  printf("served=%d late_direct=%d released=%d\n", served, blocks_held == blocks_before + 1 ? 1 : 0,
         blocks_after == blocks_before ? 1 : 0);
  return 0;
}

// A maker processor with two hardware threads per core and two cores per
// package, whose APIC id is the number of the processor it runs on.
void paired_threads_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t* a, uint32_t* b, uint32_t* c,
                          uint32_t* d) {
  (void)subleaf;
  *a = *b = *c = *d = 0;
  if (leaf == 0) {
    *a = 4;
    memcpy(b, "Genu", 4);
    memcpy(d, "ineT", 4);
    memcpy(c, "avix", 4);
  } else if (leaf == 1) {
    *d = 1u << 28;
    *b = (4u << 16) | (static_cast<uint32_t>(sched_getcpu()) << 24);
  } else if (leaf == 4) {
    *a = 1u << 26;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* command = argv[1];
  if (strcmp(command, "level") == 0) {
    int level = tqs_cpu_level();
    int branch = tqs_cbwr_branch(1);
    printf("level=%d branch=%d word=%d\n", level, branch, tqs_cbwr_branch(-1));
  } else if (strcmp(command, "cache") == 0) {
    int table[5];
    tqs_cache_sizes(table);
    printf("cache=%d,%d,%d,%d,%d size0=%d\n", table[0], table[1], table[2], table[3], table[4],
           tqs_cache_size(0));
  } else if (strcmp(command, "threads") == 0) {
    print_threads("");
    int inside = 0;
#pragma omp parallel num_threads(2)
    {
#pragma omp master
      inside = tqs_domain_get_max_threads(2);
    }
    printf("dynamic=%d inside=%d cores=%u packages=%u per_package=%u omp=%d\n", tqs_get_dynamic(),
           inside, tqs_get_physical_cores(), tqs_get_num_packages(), tqs_get_cores_per_package(),
           omp_get_max_threads());
  } else if (strcmp(command, "paired") == 0) {
    tqs_set_cpuid_hooks(paired_threads_cpuid, nullptr);
    printf("cores=%u packages=%u per_package=%u procs=%d max=%d\n", tqs_get_physical_cores(),
           tqs_get_num_packages(), tqs_get_cores_per_package(), omp_get_num_procs(),
           tqs_domain_get_max_threads(2));
  } else if (strcmp(command, "setdyn0") == 0 || strcmp(command, "setdyn1") == 0) {
    tqs_set_dynamic(command[6] == '1');
    print_threads("");
    printf("dynamic=%d\n", tqs_get_dynamic());
  } else if (strcmp(command, "reread") == 0) {
    print_threads("");
    setenv("TQS_NUM_THREADS", "7", 1);
    setenv("TQS_DYNAMIC", "false", 1);
    print_threads("again_");
  } else if (strcmp(command, "mm") == 0) {
    uint64_t bytes, before, held, after;
    tqs::mm_direct_totals(&bytes, &before);
    void* p = tqs_mm_allocate(1000, 64);
    tqs::mm_direct_totals(&bytes, &held);
    tqs_mm_free(p);
    tqs::mm_direct_totals(&bytes, &after);
    printf("mm_cache=%d direct_held=%d direct_released=%d\n", tqs::mm_cache_enabled(),
           static_cast<int>(held - before), static_cast<int>(held - after));
  } else if (strcmp(command, "manythreads") == 0) {
    return many_threads();
  } else if (strcmp(command, "message") == 0 && argc >= 3) {
    return message(argc - 2, argv + 2);
  } else {
    return 2;
  }
  return 0;
}

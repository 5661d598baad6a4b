// Dispatched entries: each keeps one process-wide target pointer, null until
// the first call, which asks the processor detection for the level and keeps
// that level's target. Two racing first calls store the same value, so the
// pointer needs no lock, only whole-pointer stores.
#include "interface/dispatch.h"

#include <cstring>

#include "engine/level_api.h"
#include "service/tqs_service.h"

namespace tqs {
namespace {

typedef long (*CreateEntry)(EngineDescriptor**, int64_t);
typedef long (*VersionEntry)(char*, int);

CreateEntry complex_create_target = nullptr;
CreateEntry real_create_target = nullptr;
VersionEntry version_target = nullptr;
ComplexMatrixCopy complex_matrix_copy_target = nullptr;

constexpr int VERSION_AREA = 198;

long version_body(char* buffer, int capacity) {
  char area[VERSION_AREA];
  tqs_version_text(area, VERSION_AREA);
  int limit = capacity < VERSION_AREA ? capacity : VERSION_AREA;
  for (int i = 0; i < limit && area[i] != '\0'; ++i) buffer[i] = area[i];
  return 0;
}

// The level every entry resolves to; an unsupported level ends the process.
int checked_level() {
  int level = tqs_cpu_level();
  if (level >= 0 && level <= 5) return level;
  tqs_print_message(0, 1213, 1, tqs_cpu_level());
  tqs_terminate_process(1);
}

template <typename Entry>
Entry resolve(Entry* target, Entry (*pick)(int level)) {
  Entry entry = __atomic_load_n(target, __ATOMIC_ACQUIRE);
  if (entry == nullptr) {
    entry = pick(checked_level());
    __atomic_store_n(target, entry, __ATOMIC_RELEASE);
  }
  return entry;
}

CreateEntry pick_complex(int level) { return level_apis[level]->create_complex; }
CreateEntry pick_real(int level) { return level_apis[level]->create_real; }
VersionEntry pick_version(int) { return version_body; }
ComplexMatrixCopy pick_complex_matrix_copy(int level) {
  return level_apis[level]->complex_matrix_copy;
}

}  // namespace

long dispatch_create_complex(EngineDescriptor** handle, int64_t length) {
  return resolve(&complex_create_target, pick_complex)(handle, length);
}

long dispatch_create_real(EngineDescriptor** handle, int64_t length) {
  return resolve(&real_create_target, pick_real)(handle, length);
}

long dispatch_version_text(char* buffer, int capacity) {
  return resolve(&version_target, pick_version)(buffer, capacity);
}

void dispatch_complex_matrix_copy(char ordering, char trans, uint64_t rows, uint64_t cols,
                                  double alpha_re, double alpha_im, const double* a,
                                  uint64_t lda, double* b, uint64_t ldb) {
  resolve(&complex_matrix_copy_target, pick_complex_matrix_copy)(ordering, trans, rows, cols,
                                                                 alpha_re, alpha_im, a, lda, b,
                                                                 ldb);
}

}  // namespace tqs

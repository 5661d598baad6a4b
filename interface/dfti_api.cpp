// The public calls: argument checks, the parameter table, and translation of
// the user's conventions (outermost-first arrays) into the descriptor's
// method table (innermost first). No state, no locks.
#include <cstdarg>
#include <cstring>

#include "engine/descriptor.h"
#include "interface/dispatch.h"
#include "service/tqs_service.h"
#include "tqs_dfti.h"

#define TQS_PUBLIC extern "C" __attribute__((visibility("default")))

namespace tqs {
namespace {

constexpr int MAX_ARRAY = 8;  // lengths and strides pass through 8 words: d <= 7
constexpr int LAST_PARAMETER = 27;
constexpr long OK = DFTI_STATUS_SUCCESS;
constexpr long INCONSISTENT = DFTI_STATUS_INCONSISTENT_CONFIGURATION;
constexpr long NOT_IMPLEMENTED = DFTI_STATUS_NOT_IMPLEMENTED;
constexpr long BAD_DESCRIPTOR = DFTI_STATUS_BAD_DESCRIPTOR;

EngineDescriptor* live(DftiHandle handle) {
  auto* d = reinterpret_cast<EngineDescriptor*>(handle);
  if (d == nullptr || d->magic != DESCRIPTOR_MAGIC) return nullptr;
  return d;
}

bool reserved(int parameter) {
  return parameter == 6 || parameter == 16 || parameter == 24 || parameter == 25;
}

bool dimension_fits(const EngineDescriptor* d) {
  return d->dimension >= 1 && d->dimension + 1 <= MAX_ARRAY;
}

void uncommit(EngineDescriptor* d) {
  d->plan_flags &= ~FLAG_SINGLE_THREAD;
  d->commit_status = DFTI_STATE_UNCOMMITTED;
  d->compute_forward = nullptr;
  d->compute_backward = nullptr;
}

// Values that every member of an axis chain shares.
void store_in_chain(EngineDescriptor* d, int32_t EngineDescriptor::*field, int32_t value) {
  for (EngineDescriptor* p = d; p != nullptr; p = p->next) p->*field = value;
}

long validate_and_store(EngineDescriptor* d, int parameter, int64_t value) {
  switch (parameter) {
    case DFTI_COMPLEX_LAYOUT:
      if (value == DFTI_COMPLEX_COMPLEX || value == DFTI_REAL_REAL) {
        store_in_chain(d, &EngineDescriptor::complex_storage, static_cast<int32_t>(value));
        return OK;
      }
      return (value == DFTI_COMPLEX_REAL || value == DFTI_REAL_COMPLEX) ? NOT_IMPLEMENTED
                                                                          : INCONSISTENT;
    case DFTI_REAL_LAYOUT:
      if (value == DFTI_REAL_REAL) {
        store_in_chain(d, &EngineDescriptor::real_storage, static_cast<int32_t>(value));
        return OK;
      }
      return value == DFTI_REAL_COMPLEX ? NOT_IMPLEMENTED : INCONSISTENT;
    case DFTI_CONJUGATE_EVEN_STORAGE:
      if (value == DFTI_COMPLEX_COMPLEX || value == DFTI_COMPLEX_REAL) {
        store_in_chain(d, &EngineDescriptor::conjugate_even_storage, static_cast<int32_t>(value));
        if (value == DFTI_COMPLEX_COMPLEX) {
          store_in_chain(d, &EngineDescriptor::packed_format, DFTI_PACKING_CCE);
        }
        return OK;
      }
      return (value == DFTI_REAL_COMPLEX || value == DFTI_REAL_REAL) ? NOT_IMPLEMENTED
                                                                      : INCONSISTENT;
    case DFTI_PLACEMENT:
      if (value == DFTI_INPLACE || value == DFTI_NOT_INPLACE) {
        store_in_chain(d, &EngineDescriptor::placement, static_cast<int32_t>(value));
        return OK;
      }
      return INCONSISTENT;
    case DFTI_SCRATCH_POLICY:
      if (value == DFTI_SCRATCH_ALLOWED || value == DFTI_SCRATCH_AVOIDED) {
        d->workspace = static_cast<int32_t>(value);
        return OK;
      }
      return INCONSISTENT;
    case DFTI_OUTPUT_ORDER:
      if (value == DFTI_ORDER_NATURAL ||
          (value == DFTI_ORDER_PERMUTED_BACKWARD && d->forward_domain != DFTI_REAL)) {
        store_in_chain(d, &EngineDescriptor::ordering, static_cast<int32_t>(value));
        return OK;
      }
      return (value == DFTI_ORDER_PERMUTED_BACKWARD || value == 50) ? NOT_IMPLEMENTED
                                                                     : INCONSISTENT;
    case DFTI_PACKING:
      if (value >= DFTI_PACKING_HALF_SPECTRUM && value <= DFTI_PACKING_CCE) {
        store_in_chain(d, &EngineDescriptor::packed_format, static_cast<int32_t>(value));
        return OK;
      }
      return INCONSISTENT;
    case DFTI_NUMBER_OF_USER_THREADS:
      if (value < INT32_MIN || value > INT32_MAX) return INCONSISTENT;
      store_in_chain(d, &EngineDescriptor::number_of_user_threads, static_cast<int32_t>(value));
      return OK;
    case DFTI_TRANSFORM_COUNT:
      return d->methods->set_number_of_transforms(d, value);
    case DFTI_IN_DISTANCE:
      return d->methods->set_input_distance(d, value);
    case DFTI_OUT_DISTANCE:
      return d->methods->set_output_distance(d, value);
    case DFTI_MAX_THREADS:
      return d->methods->set_thread_limit(d, value);
    default:
      return reserved(parameter) ? NOT_IMPLEMENTED : INCONSISTENT;
  }
}

// Every parameter that is not served by its own method slot comes here: the
// descriptor is uncommitted before the value is even looked at.
long descriptor_level_set(EngineDescriptor* d, int parameter, int64_t value) {
  uncommit(d);
  return validate_and_store(d, parameter, value);
}

void reverse(int64_t* values, int first, int last) {
  for (; first < last; ++first, --last) {
    int64_t t = values[first];
    values[first] = values[last];
    values[last] = t;
  }
}

long set_strides(EngineDescriptor* d, int parameter, const int64_t* user) {
  if (user == nullptr || !dimension_fits(d)) return INCONSISTENT;
  int64_t copy[MAX_ARRAY];
  std::memcpy(copy, user, sizeof(int64_t) * static_cast<size_t>(d->dimension + 1));
  reverse(copy, 1, d->dimension);
  return parameter == DFTI_IN_STRIDES ? d->methods->set_input_strides(d, copy)
                                      : d->methods->set_output_strides(d, copy);
}

long get_strides(EngineDescriptor* d, int parameter, int64_t* user) {
  if (!dimension_fits(d)) return INCONSISTENT;
  int64_t copy[MAX_ARRAY];
  long status = parameter == DFTI_IN_STRIDES ? d->methods->get_input_strides(d, copy)
                                             : d->methods->get_output_strides(d, copy);
  if (status != OK) return status;
  reverse(copy, 1, d->dimension);
  std::memcpy(user, copy, sizeof(int64_t) * static_cast<size_t>(d->dimension + 1));
  return OK;
}

long get_value(EngineDescriptor* d, int parameter, void* out) {
  auto put32 = [out](int32_t v) { std::memcpy(out, &v, sizeof v); return OK; };
  auto put64 = [out](int64_t v) { std::memcpy(out, &v, sizeof v); return OK; };
  int64_t value = 0;
  long status;
  switch (parameter) {
    case DFTI_FORWARD_DOMAIN: return put32(d->forward_domain);
    case DFTI_DIMENSION: return put64(d->dimension);
    case DFTI_LENGTHS: {
      if (!dimension_fits(d)) return INCONSISTENT;
      int64_t copy[MAX_ARRAY];
      status = d->methods->get_lengths(d, copy);
      if (status != OK) return status;
      reverse(copy, 0, d->dimension - 1);
      std::memcpy(out, copy, sizeof(int64_t) * static_cast<size_t>(d->dimension));
      return OK;
    }
    case DFTI_PRECISION: return put32(d->precision);
    case DFTI_FWD_SCALE:
    case DFTI_BWD_SCALE: {
      double scale = 0.0;
      d->methods->get_scale(d, parameter, &scale);
      if (d->precision == DFTI_SINGLE) {
        float f = static_cast<float>(scale);
        std::memcpy(out, &f, sizeof f);
      } else {
        std::memcpy(out, &scale, sizeof scale);
      }
      return OK;
    }
    case DFTI_TRANSFORM_COUNT: status = d->methods->get_number_of_transforms(d, &value); break;
    case DFTI_COMPLEX_LAYOUT: return put32(d->complex_storage);
    case DFTI_REAL_LAYOUT: return put32(d->real_storage);
    case DFTI_CONJUGATE_EVEN_STORAGE: return put32(d->conjugate_even_storage);
    case DFTI_PLACEMENT: return put32(d->placement);
    case DFTI_IN_STRIDES:
    case DFTI_OUT_STRIDES: return get_strides(d, parameter, static_cast<int64_t*>(out));
    case DFTI_IN_DISTANCE: status = d->methods->get_input_distance(d, &value); break;
    case DFTI_OUT_DISTANCE: status = d->methods->get_output_distance(d, &value); break;
    case DFTI_SCRATCH_POLICY: return put32(d->workspace);
    case DFTI_OUTPUT_ORDER: return put32(d->ordering);
    case DFTI_TRANSPOSITION: return put32(d->transpose);
    case DFTI_LABEL: {
      char* text = static_cast<char*>(out);
      status = d->methods->get_name(d, text, 10);
      text[9] = '\0';
      return status;
    }
    case DFTI_PACKING: return put32(d->packed_format);
    case DFTI_COMMIT_STATE: return put32(d->commit_status);
    case DFTI_NUMBER_OF_USER_THREADS: return put64(d->number_of_user_threads);
    case DFTI_MAX_THREADS: status = d->methods->get_thread_limit(d, &value); break;
    default: return reserved(parameter) ? NOT_IMPLEMENTED : INCONSISTENT;
  }
  put64(value);
  return status;
}

// Inlined into both entries: a tiny transform costs little more than its
// kernel, so the arrays are taken from the argument list without a copy.
[[gnu::always_inline]] inline long compute(DftiHandle handle, bool forward, va_list args) {
  EngineDescriptor* d = live(handle);
  if (d == nullptr) return BAD_DESCRIPTOR;
  const int n = d->array_argument_count;
  const ComputeEntry entry = forward ? d->compute_forward : d->compute_backward;
  void* a1 = va_arg(args, void*);
  void* a2 = n > 1 ? va_arg(args, void*) : nullptr;
  void* a3 = n > 2 ? va_arg(args, void*) : nullptr;
  void* a4 = n > 3 ? va_arg(args, void*) : nullptr;
  if (entry == nullptr) return DFTI_STATUS_INVALID_CONFIGURATION;
  // A missing data array is a bad argument, never a crash inside a kernel.
  if (a1 == nullptr || (n > 1 && a2 == nullptr) || (n > 2 && a3 == nullptr) ||
      (n > 3 && a4 == nullptr))
    return DFTI_STATUS_INVALID_CONFIGURATION;
  return entry(d, a1, a2, a3, a4);
}

}  // namespace
}  // namespace tqs

using tqs::EngineDescriptor;

TQS_PUBLIC long DftiCreateDouble1D(DftiHandle* handle, int domain, ...) {
  if (handle == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  *handle = nullptr;
  va_list args;
  va_start(args, domain);
  int64_t length = va_arg(args, int64_t);
  va_end(args);
  if (length <= 0) return DFTI_STATUS_INVALID_CONFIGURATION;
  EngineDescriptor* d = nullptr;
  long status;
  if (domain == DFTI_COMPLEX) {
    status = tqs::dispatch_create_complex(&d, length);
  } else if (domain == DFTI_REAL) {
    status = tqs::dispatch_create_real(&d, length);
  } else {
    return DFTI_STATUS_INVALID_CONFIGURATION;
  }
  if (status == 0) {
    tqs_install_default_threading(d->threading);
    *handle = reinterpret_cast<DftiHandle>(d);
  }
  return status;
}

TQS_PUBLIC long DftiSet(DftiHandle handle, int parameter, ...) {
  EngineDescriptor* d = tqs::live(handle);
  if (d == nullptr) return DFTI_STATUS_BAD_DESCRIPTOR;
  if (static_cast<unsigned>(parameter) > tqs::LAST_PARAMETER) {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  va_list args;
  va_start(args, parameter);
  long status;
  switch (parameter) {
    case DFTI_DIMENSION:
    case DFTI_LENGTHS:
    case DFTI_VERSION_TEXT:
      status = DFTI_STATUS_INCONSISTENT_CONFIGURATION;
      break;
    case DFTI_FWD_SCALE:
    case DFTI_BWD_SCALE:
      status = d->methods->set_scale(d, va_arg(args, double), parameter);
      break;
    case DFTI_IN_STRIDES:
    case DFTI_OUT_STRIDES:
      status = tqs::set_strides(d, parameter, va_arg(args, const int64_t*));
      break;
    case DFTI_LABEL: {
      const char* text = va_arg(args, const char*);
      if (text == nullptr) {
        status = DFTI_STATUS_INCONSISTENT_CONFIGURATION;
      } else {
        status = d->methods->set_name(d, text, static_cast<int64_t>(std::strlen(text)), 0);
      }
      break;
    }
    case DFTI_TRANSFORM_COUNT:
    case DFTI_IN_DISTANCE:
    case DFTI_OUT_DISTANCE:
    case DFTI_NUMBER_OF_USER_THREADS:
    case DFTI_MAX_THREADS:
      status = tqs::descriptor_level_set(d, parameter, va_arg(args, int64_t));
      break;
    default:
      status = tqs::descriptor_level_set(d, parameter, static_cast<int64_t>(va_arg(args, int)));
      break;
  }
  va_end(args);
  return status;
}

TQS_PUBLIC long DftiGet(DftiHandle handle, int parameter, ...) {
  va_list args;
  va_start(args, parameter);
  void* out = va_arg(args, void*);
  va_end(args);
  if (parameter == DFTI_VERSION_TEXT) {
    if (out == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
    char* text = static_cast<char*>(out);
    std::memset(text, 0, DFTI_VERSION_TEXT_LENGTH);
    tqs::dispatch_version_text(text, DFTI_VERSION_TEXT_LENGTH);
    text[DFTI_VERSION_TEXT_LENGTH - 1] = '\0';
    return DFTI_STATUS_SUCCESS;
  }
  EngineDescriptor* d = tqs::live(handle);
  if (d == nullptr) return DFTI_STATUS_BAD_DESCRIPTOR;
  if (static_cast<unsigned>(parameter) > tqs::LAST_PARAMETER) {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  if (tqs::reserved(parameter)) return DFTI_STATUS_NOT_IMPLEMENTED;
  if (out == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  return tqs::get_value(d, parameter, out);
}

TQS_PUBLIC long DftiCommit(DftiHandle handle) {
  EngineDescriptor* d = tqs::live(handle);
  if (d == nullptr) return DFTI_STATUS_BAD_DESCRIPTOR;
  if (d->methods == nullptr || d->methods->commit == nullptr) return DFTI_STATUS_INTERNAL;
  return d->methods->commit(d);
}

TQS_PUBLIC long DftiForward(DftiHandle handle, ...) {
  va_list args;
  va_start(args, handle);
  long status = tqs::compute(handle, true, args);
  va_end(args);
  return status;
}

TQS_PUBLIC long DftiBackward(DftiHandle handle, ...) {
  va_list args;
  va_start(args, handle);
  long status = tqs::compute(handle, false, args);
  va_end(args);
  return status;
}

TQS_PUBLIC long DftiRelease(DftiHandle* handle) {
  if (handle == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  EngineDescriptor* d = tqs::live(*handle);
  if (d == nullptr) return DFTI_STATUS_BAD_DESCRIPTOR;
  if (d->destroy != nullptr) d->destroy(d);
  *handle = nullptr;
  return DFTI_STATUS_SUCCESS;
}

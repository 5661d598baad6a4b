// General strategy, complex side: the axis chain, the whole-transform
// paths for one long transform on a team, the thread count, one plan per
// axis, the work buffer and the complex compute entries.
#include "engine/general.h"
#include "engine/strategies.h"
#include "kernels/complex_compute.h"
#include "kernels/real_compute.h"
#include "parallel/whole_transform.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int MAX_COMPLEX_AXES = 7;
constexpr int64_t USER_THREAD_LIMIT = int64_t(1) << 27;

long choose_complex_thread_count(EngineDescriptor* d, int dynamic_threads) {
  if (d->number_of_transforms == 1 && d->large_forward == nullptr && d->large_kernels[0] == nullptr) {
    d->thread_count = 1;
  }
  if (d->number_of_user_threads >= 2) {
    if (d->number_of_user_threads >= USER_THREAD_LIMIT) return DFTI_STATUS_MEMORY;
    if (allocate_user_thread_slots(d) != 0) return DFTI_STATUS_MEMORY;
    d->thread_count = 1;
  }
  if (d->thread_count < 1) d->thread_count = 1;
  if (dynamic_threads != 0) apply_thread_suggestions(d, 16);

  // One vector with unit strides on one thread goes straight to the axis
  // routine. With several user threads that happens per slot (bit 0), never
  // through bit 2, which would share slot 0's work area.
  const bool single = d->normalised_rank == 1 && d->first_input_stride == 1 &&
                      d->first_output_stride == 1 && d->number_of_transforms == 1 &&
                      d->thread_count == 1;
  d->plan_flags &= ~(FLAG_SINGLE_THREAD | FLAG_MULTI_AXIS | FLAG_DIRECT_AXIS);
  if (single) {
    d->plan_flags |= FLAG_SINGLE_THREAD;
    if (d->number_of_user_threads <= 1) d->plan_flags |= FLAG_DIRECT_AXIS;
  }
  return 0;
}

long plan_axes(EngineDescriptor* head) {
  int64_t k = 0;
  for (EngineDescriptor* m = head; m != nullptr; m = m->next, ++k) {
    if (m != head) {
      m->precision = head->precision;
      m->forward_domain = head->forward_domain;
      m->complex_storage = head->complex_storage;
      m->real_storage = head->real_storage;
      m->conjugate_even_storage = head->conjugate_even_storage;
      m->placement = head->placement;
      m->packed_format = head->packed_format;
      m->ordering = head->ordering;
      m->transpose = head->transpose;
      m->workspace = head->workspace;
      m->number_of_transforms = head->number_of_transforms;
      m->input_offset = head->input_offset;
      m->output_offset = head->output_offset;
      m->input_distance = head->input_distance;
      m->output_distance = head->output_distance;
      m->forward_scale = head->forward_scale;
      m->backward_scale = head->backward_scale;
      m->axis_index = k;
      m->large_forward = nullptr;
      m->large_backward = nullptr;
    }
    const long status = plan_complex_axis(m);
    if (status != 0) return status;
    head->max_work_size = larger(head->max_work_size, m->axis_work_size);
    m->commit_status = DFTI_STATE_COMMITTED;
  }
  return 0;
}

long plan_complex_descriptor(EngineDescriptor* head) {
  long status = choose_complex_thread_count(head, head->dynamic_threads);
  if (status != 0) return status;
  // A single transform with a whole-transform entry and a team needs no
  // per-axis plans: the entry does all of it.
  if (head->number_of_transforms > 1 || head->thread_count == 1) {
    status = plan_axes(head);
    if (status != 0) return status;
  }
  status = reserve_work_buffer(head);
  if (status != 0) return status;
  if (head->placement == DFTI_INPLACE) {
    head->compute_forward = complex_compute_forward_inplace;
    head->compute_backward = complex_compute_backward_inplace;
  } else {
    head->compute_forward = complex_compute_forward_out;
    head->compute_backward = complex_compute_backward_out;
  }
  const bool split = head->complex_storage == DFTI_REAL_REAL;
  head->array_argument_count = (head->placement == DFTI_INPLACE ? 1 : 2) * (split ? 2 : 1);
  head->commit_status = DFTI_STATE_COMMITTED;
  return 0;
}

long try_commit(EngineDescriptor* d) {
  d->release_committed_state(d);
  if (d->number_of_transforms < 1) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  long status = setup_axis_chain(d, MAX_COMPLEX_AXES);
  if (status != 0) return status;
  if (d->number_of_user_threads > 1) d->thread_count = 1;
  clear_whole_transform(d);
  if (d->thread_count >= 2 && d->number_of_user_threads == 1) try_whole_transform_paths(d);
  status = plan_complex_descriptor(d);
  if (status != 0) return status;
  set_large_flag(d, 16);
  return 0;
}

}  // namespace

long general_complex_try_commit(const Strategy*, EngineDescriptor* d) {
  const long status = try_commit(d);
  // A refused or failed commit keeps nothing: no chain, plans or buffers.
  if (status != 0) d->release_committed_state(d);
  return status;
}

bool general_owns(const EngineDescriptor* d) {
  const ComputeEntry f = d->compute_forward;
  return f == real_compute_forward_inplace || f == real_compute_forward_out ||
         f == real_compute_short_forward_out || f == real_compute_short_cce_forward_out ||
         real_short_cce_kernel_entry(f) || real_whole_cce_entry(f) ||
         f == complex_compute_forward_inplace ||
         f == complex_compute_forward_out;
}

TQS_LEVEL_END

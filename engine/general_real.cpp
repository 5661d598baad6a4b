// General strategy, real side: splits the transform into a chain of one-axis
// descriptors, places the scale on one axis, fixes the thread count, makes
// one real plan per axis, reserves the shared work buffer and installs the
// real compute entries.
#include "engine/general.h"
#include "engine/plan.h"
#include "kernels/complex_compute.h"
#include "kernels/real_compute.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int MAX_REAL_AXES = 7;
constexpr int64_t MAX_USER_THREADS = 0x7FFFFFF;

long choose_thread_count(EngineDescriptor* d, int dynamic_threads) {
  if (d->number_of_transforms == 1) d->thread_count = 1;
  if (d->number_of_user_threads > 1) {
    if (d->number_of_user_threads > MAX_USER_THREADS) return DFTI_STATUS_MEMORY;
    if (allocate_user_thread_slots(d) != 0) return DFTI_STATUS_MEMORY;
    d->thread_count = 1;
  }
  if (d->thread_count < 1) d->thread_count = 1;
  if (dynamic_threads != 0) apply_thread_suggestions(d, 8);

  // A single vector with unit strides goes straight to the axis routine.
  // With several user threads that path is taken per slot (bit 0), never
  // through bit 2, which would share slot 0's work area.
  const bool single = d->first_input_stride == 1 && d->first_output_stride == 1 &&
                      d->number_of_transforms == 1 && d->normalised_rank == 1;
  d->plan_flags &= ~(FLAG_SINGLE_THREAD | FLAG_MULTI_AXIS | FLAG_DIRECT_AXIS);
  if (single && d->thread_count == 1) {
    d->plan_flags |= FLAG_SINGLE_THREAD;
    if (d->number_of_user_threads <= 1) d->plan_flags |= FLAG_DIRECT_AXIS;
  }
  return 0;
}

long plan_real_axis(EngineDescriptor* member, EngineDescriptor* head) {
  const int64_t n = member->length;
  if (!axis_within_limits(n)) return DFTI_STATUS_DIMENSION_TOO_LARGE;
  PlanRecord* plan = nullptr;
  int code = real_plan_create(&plan, n, SCALE_NONE, 0);
  if (code != PLAN_OK) return translate_plan_status(code);
  member->real_plan = plan;
  int64_t work = 0;
  code = real_plan_work_size(plan, &work);
  if (code != PLAN_OK) return translate_plan_status(code);
  member->axis_work_size = work;
  (void)head;
  return 0;
}

long plan_axes(EngineDescriptor* head) {
  int64_t k = 0;
  for (EngineDescriptor* m = head; m != nullptr; m = m->next, ++k) {
    if (m != head) {
      m->input_offset = head->input_offset;
      m->output_offset = head->output_offset;
      m->input_distance = head->input_distance;
      m->output_distance = head->output_distance;
      m->axis_index = k;
      m->precision = head->precision;
      m->forward_domain = head->forward_domain;
      m->ordering = head->ordering;
      m->complex_storage = head->complex_storage;
      m->real_storage = head->real_storage;
      m->conjugate_even_storage = head->conjugate_even_storage;
      m->packed_format = head->packed_format;
      m->number_of_transforms = head->number_of_transforms;
      m->placement = head->placement;
      m->workspace = head->workspace;
      m->transpose = head->transpose;

      // Outer axes transform the half spectrum as complex data.
      if (!axis_within_limits(m->length)) return DFTI_STATUS_DIMENSION_TOO_LARGE;
      PlanRecord* outer = nullptr;
      int code = complex_plan_create(&outer, m->length, SCALE_NONE, 0);
      if (code != PLAN_OK) return translate_plan_status(code);
      m->complex_plan = outer;
      int64_t work = 0;
      code = complex_plan_work_size(outer, &work);
      if (code != PLAN_OK) return translate_plan_status(code);
      m->axis_work_size = work;
      m->axis_plan_forward = complex_axis_ordered_forward;
      m->axis_plan_backward = complex_axis_ordered_backward;
      m->commit_status = DFTI_STATE_COMMITTED;
      head->max_work_size = larger(head->max_work_size, work);
      continue;
    }

    m->axis_plan_forward = axis_plan_forward;
    m->axis_plan_backward = axis_plan_backward;
    if (cce_layout(m)) {
      m->storage_forward = storage_cce_forward;
      m->storage_backward = storage_cce_backward;
    } else if (m->packed_format == DFTI_PACKING_SEQUENTIAL) {
      m->storage_forward = storage_sequential_forward;
      m->storage_backward = storage_sequential_backward;
    } else if (m->packed_format == DFTI_PACKING_PERMUTED) {
      m->storage_forward = storage_permuted_forward;
      m->storage_backward = storage_permuted_backward;
    } else {
      return DFTI_STATUS_NOT_IMPLEMENTED;
    }

    AxisRoutine whole_forward = nullptr;
    AxisRoutine whole_backward = nullptr;
    if (head->first_input_stride == 1 && head->first_output_stride == 1) {
      whole_forward = real_whole_vector_forward(m->length, cce_layout(m));
      whole_backward = real_whole_vector_backward(m->length, cce_layout(m));
    }
    if (whole_forward != nullptr && whole_backward != nullptr) {
      m->axis_plan_forward = whole_forward;
      m->axis_plan_backward = whole_backward;
    } else {
      long status = plan_real_axis(m, head);
      if (status != 0) return status;
      if (m->length <= 16 && head->normalised_rank == 1) {
        m->axis_plan_forward = axis_short_forward;
        m->axis_plan_backward = axis_short_backward;
      }
    }
    m->commit_status = DFTI_STATE_COMMITTED;
    head->max_work_size = larger(head->max_work_size, m->axis_work_size);
  }
  return 0;
}

long plan_real_descriptor(EngineDescriptor* head) {
  if (!inplace_cce_consistent(head)) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  // Several axes keep the half spectrum as complex values; the packed
  // layouts of one row have no such form to carry the outer axes.
  if (head->normalised_rank >= 2 && !cce_layout(head)) return DFTI_STATUS_NOT_IMPLEMENTED;
  long status = choose_thread_count(head, head->dynamic_threads);
  if (status != 0) return status;
  status = plan_axes(head);
  if (status != 0) return status;
  status = reserve_work_buffer(head);
  if (status != 0) return status;

  head->multi_axis_driver = real_multi_axis_driver;
  if (head->placement == DFTI_INPLACE) {
    head->compute_forward = real_compute_forward_inplace;
    head->compute_backward = real_compute_backward_inplace;
    head->array_argument_count = 1;
  } else {
    head->compute_forward = real_compute_forward_out;
    head->compute_backward = real_compute_backward_out;
    if ((head->plan_flags & FLAG_DIRECT_AXIS) && head->number_of_user_threads <= 1 &&
        head->axis_plan_forward == axis_short_forward) {
      head->compute_forward = real_compute_short_forward_out;
      head->compute_backward = real_compute_short_backward_out;
      if (head->conjugate_even_storage == DFTI_COMPLEX_COMPLEX &&
          head->storage_forward == storage_cce_forward &&
          head->storage_backward == storage_cce_backward && head->length >= 2 &&
          head->active_forward_scale == 1.0 && head->active_backward_scale == 1.0) {
        head->compute_forward = real_compute_short_cce_forward_out;
        head->compute_backward = real_compute_short_cce_backward_out;
        if (head->input_offset == 0 && head->output_offset == 0) {
          real_short_cce_kernel_entries(head->length, &head->compute_forward,
                                        &head->compute_backward);
        }
      }
    }
    if ((head->plan_flags & FLAG_DIRECT_AXIS) && head->number_of_user_threads <= 1 &&
        head->axis_plan_forward == axis_plan_forward && head->real_plan != nullptr &&
        head->conjugate_even_storage == DFTI_COMPLEX_COMPLEX &&
        head->storage_forward == storage_cce_forward &&
        head->storage_backward == storage_cce_backward && head->active_forward_scale == 1.0 &&
        head->active_backward_scale == 1.0 && head->input_offset == 0 &&
        head->output_offset == 0) {
      real_whole_cce_entries(head->real_plan, &head->compute_forward, &head->compute_backward);
    }
    head->array_argument_count = 2;
  }
  head->commit_status = DFTI_STATE_COMMITTED;
  return 0;
}

long try_commit(EngineDescriptor* d) {
  d->release_committed_state(d);
  if (d->number_of_transforms < 1) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  long status = setup_axis_chain(d, MAX_REAL_AXES);
  if (status != 0) return status;
  if (d->number_of_user_threads > 1) d->thread_count = 1;

  clear_whole_transform(d);

  status = plan_real_descriptor(d);
  if (status != 0) return status;

  set_large_flag(d, 8);
  return 0;
}

}  // namespace

long general_real_try_commit(const Strategy*, EngineDescriptor* d) {
  long status = try_commit(d);
  // A refused or failed commit keeps nothing: no chain, plans or buffers.
  if (status != 0) d->release_committed_state(d);
  return status;
}

TQS_LEVEL_END

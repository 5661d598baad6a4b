// The record behind every handle, and the tables that reach level code.
// Level-independent layout: plain data and function pointer types only, so
// that both the baseline front end and every level copy can include it.
#pragma once
#include <cstdint>

#include "service/tqs_service.h"

namespace tqs {

constexpr int64_t NOT_SET = INT64_MIN;     // a stride the caller has not given
constexpr uint32_t DESCRIPTOR_MAGIC = 0x544644u;  // "DFT\0" little-endian

// Plan flag bits.
constexpr uint32_t FLAG_SINGLE_THREAD = 1u;  // committed plan runs on one thread
constexpr uint32_t FLAG_MULTI_AXIS = 2u;     // compute runs the multi-axis driver
constexpr uint32_t FLAG_DIRECT_AXIS = 4u;    // one axis, unit strides, one transform
constexpr uint32_t FLAG_NESTED = 8u;         // created by the engine for a sub-problem
constexpr uint32_t FLAG_LARGE = 16u;         // N*N elements exceed the cache

// Status values returned by try_commit besides the public statuses.
constexpr long STRATEGY_DECLINED = 100;
constexpr long STRATEGY_DECLINED_SMALL = 101;

struct EngineDescriptor;
struct PlanRecord;

struct DimensionRecord {
  int64_t length;
  int64_t input_stride;
  int64_t output_stride;
};

struct DimensionList {
  int32_t count;
  DimensionRecord* records;  // innermost axis first
};

typedef long (*ComputeEntry)(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
// One vector through the axis's plan, with the descriptor's scale.
typedef long (*AxisRoutine)(const double* input, double* output, EngineDescriptor* d, void* work);
// The same for split complex storage: real and imaginary parts apart.
typedef long (*SplitAxisRoutine)(const double* in_re, const double* in_im, double* out_re,
                                 double* out_im, EngineDescriptor* d, void* work);
// Whole-transform entry of one long complex transform (four-step transform
// or a large power-of-two kernel); the last argument is the work buffer or
// the kernel's table area.
typedef long (*LargeEntry)(const double* input, double* output, EngineDescriptor* d, void* area);
// One vector through a real plan, converted to/from a conjugate-even layout;
// answers a plan-level code.
typedef int (*StorageRoutine)(const double* input, double* output, const PlanRecord* plan,
                              void* work);

struct Strategy {
  long (*try_commit)(const Strategy* self, EngineDescriptor* d);
  long (*release)(const Strategy* self, EngineDescriptor* d);  // may be null
};
typedef const Strategy* const* StrategyList;  // null-terminated

struct MethodTable {
  long (*commit)(EngineDescriptor* d);                                        // 0
  long (*commit_prepared)(EngineDescriptor* d);                               // 1
  long (*get_input_strides)(EngineDescriptor* d, int64_t* out);               // 2
  long (*get_output_strides)(EngineDescriptor* d, int64_t* out);              // 3
  long (*set_input_strides)(EngineDescriptor* d, const int64_t* in);          // 4
  long (*set_output_strides)(EngineDescriptor* d, const int64_t* in);         // 5
  long (*get_lengths)(EngineDescriptor* d, int64_t* out);                     // 6
  long (*get_name)(EngineDescriptor* d, char* out, int64_t requested);        // 7
  long (*set_name)(EngineDescriptor* d, const char* in, int64_t given, int pad);  // 8
  long (*get_scale)(EngineDescriptor* d, int parameter, double* out);         // 9
  long (*set_scale)(EngineDescriptor* d, double value, int parameter);        // 10
  long (*copy)(EngineDescriptor* d, EngineDescriptor** out);                  // 11
  long (*get_input_distance)(EngineDescriptor* d, int64_t* out);              // 12
  long (*get_output_distance)(EngineDescriptor* d, int64_t* out);             // 13
  long (*get_number_of_transforms)(EngineDescriptor* d, int64_t* out);        // 14
  long (*set_input_distance)(EngineDescriptor* d, int64_t value);             // 15
  long (*set_output_distance)(EngineDescriptor* d, int64_t value);            // 16
  long (*set_number_of_transforms)(EngineDescriptor* d, int64_t value);       // 17
  long (*get_thread_limit)(EngineDescriptor* d, int64_t* out);                // 18
  long (*set_thread_limit)(EngineDescriptor* d, int64_t value);               // 19
};

// Multi-axis driver: displaced arrays, first strides of this axis and of the
// next one, descriptor, work.
typedef long (*MultiAxisDriver)(const double* input, double* output, int64_t in_stride,
                                int64_t out_stride, int64_t next_in_stride,
                                int64_t next_out_stride, EngineDescriptor* d, void* work);

struct EngineDescriptor {
  ComputeEntry compute_forward;
  ComputeEntry compute_backward;
  const Strategy* committed_strategy;
  void* strategy_plan;
  StrategyList strategy_list;
  int32_t array_argument_count;
  uint32_t plan_flags;
  uint32_t magic;
  int32_t commit_status;
  DimensionList dims;
  DimensionList transforms;
  int32_t dimension;
  int32_t normalised_rank;
  DimensionList normalised_dims;
  DimensionList normalised_transforms;
  void (*release_committed_state)(EngineDescriptor* d);
  void (*destroy)(EngineDescriptor* d);
  const MethodTable* methods;
  ttl_services* threading;
  char name[10];
  int32_t forward_domain;
  int32_t precision;
  int64_t number_of_transforms;
  int32_t complex_storage;
  int32_t real_storage;
  int32_t conjugate_even_storage;
  int32_t placement;
  int32_t packed_format;
  int64_t first_input_stride;
  int64_t first_output_stride;
  int32_t workspace;
  int32_t ordering;
  int32_t transpose;
  int64_t axis_index;
  int64_t length;
  int64_t half_length;
  void* plan_buffers[4];
  double active_forward_scale;
  double active_backward_scale;
  float active_forward_scale_f32;
  float active_backward_scale_f32;
  double forward_scale;
  double backward_scale;
  int32_t log2_length;
  int64_t input_offset;
  int64_t output_offset;
  int64_t input_distance;
  int64_t output_distance;

  // ---- strategy working area: owned by the committing strategy, released by
  // release_committed_state ----
  int64_t total_points;
  int64_t total_half_points;
  EngineDescriptor* parent;
  EngineDescriptor* next;
  AxisRoutine axis_plan_backward;
  AxisRoutine axis_plan_forward;
  StorageRoutine storage_backward;
  StorageRoutine storage_forward;
  MultiAxisDriver multi_axis_driver;
  int64_t max_axis_length;
  PlanRecord* real_plan;
  PlanRecord* complex_plan;
  PlanRecord* split_plan;          // split-storage axes (complex side)
  SplitAxisRoutine split_axis_backward;
  SplitAxisRoutine split_axis_forward;
  int32_t axis_needs_plan;         // the axis routine runs a one-dimensional plan
  // Whole-transform slots of a single long complex transform.
  LargeEntry large_forward;
  LargeEntry large_backward;
  void* large_kernels[2];
  void* large_kernel_table;
  int64_t axis_work_size;
  int64_t max_work_size;
  void* work_buffer;
  void* aux_buffer;
  int64_t thread_bookkeeping;
  uint32_t driver_flags;           // private switches of the compute drivers

  int32_t number_of_user_threads;
  int32_t thread_count;
  int32_t thread_limit;
  int64_t* user_thread_slots;
  void* commit_hook_armed;
  void (*commit_hook)(EngineDescriptor* d);
  int32_t dynamic_threads;
};

}  // namespace tqs

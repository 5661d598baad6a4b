// Per-level engine core: descriptor creation, release, commit, strategies.
#pragma once
#include "engine/level.h"
#include "engine/descriptor.h"
#include "engine/level_api.h"

TQS_LEVEL_BEGIN

// Work buffers are aligned to 4096 bytes at level 4 and 256 bytes elsewhere.
constexpr int WORK_ALIGNMENT = TQS_LEVEL == 4 ? 4096 : 256;

long create_engine_descriptor(EngineDescriptor** handle, int precision, int domain,
                              int dimension, const int64_t* lengths);
void release_committed_state(EngineDescriptor* d);
void destroy_descriptor(EngineDescriptor* d);
long commit(EngineDescriptor* d);
long commit_prepared(EngineDescriptor* d);
long normalise_dimension_list(DimensionList* destination, const DimensionList* source, int flags);
// The reductions commit applies to complex-domain lists; strategies that
// arrange the lists of inner descriptors apply them too.
void sort_by_input_stride(DimensionList* list);
void drop_unit_axes(DimensionList* list);
void merge_contiguous_axes(DimensionList* list);
long dimension_list_init(DimensionList* list, int32_t count);
void dimension_list_free(DimensionList* list);

// The two sides of the general strategy (engine/strategies.h lists every
// strategy object).
long general_real_try_commit(const Strategy* self, EngineDescriptor* d);
long general_complex_try_commit(const Strategy* self, EngineDescriptor* d);

// Translation of plan-level codes for the descriptor: 0 -> 0, -9 -> 1, else 7.
long translate_plan_status(int code);

extern const Strategy* const complex_strategy_list[];
extern const Strategy* const real_strategy_list[];
extern const LevelApi level_api;

TQS_LEVEL_END

// Per-level engine core: descriptor creation, release, commit, strategies.
#pragma once
#include "engine/level.h"
#include "engine/descriptor.h"
#include "engine/level_api.h"

TQS_LEVEL_BEGIN

// Work buffers are aligned to 4096 bytes at level 4 and 256 bytes elsewhere.
constexpr int WORK_ALIGNMENT = TQS_LEVEL == 4 ? 4096 : 256;

// Room left behind each thread's private area where a team's areas share
// one block (the work buffer's slices, the members' areas of the real team
// transform). Threads whose areas lie close together slow each other down,
// though no two of them touch the same line. Level 5, two threads,
// interleaved runs of one binary: on a batch of 4096-point transforms
// (64 KB slices) the transforms in the second slice took 3.5 times as long
// as those in the first with the slices adjacent, 2.3 times with 64 KB
// between them, and ran at one thread's speed from 128 KB apart or in a
// block of their own, whichever thread worked there; with 1 MB slices
// (65536 points) 128 KB apart still lost, 1.5 to 3 MB did not. Gains
// against adjacent areas, two threads: complex batches 1000 x 256
// 11-18 %, 64 x 1024 33-36 %, 100 x 4096 31-41 %, 16 x 65536 37 %; real
// forward 64 x 1024 23-26 %, 100 x 4096 9-11 %; the real team transform
// 5-13 % from 20000 to 2^17 points and 12-25 % from 2^18 (but backward
// 16384 14 % slower, where one thread is 2.5 times faster anyway). The
// size of the effect moves with the machine's state: half an hour later
// 100 x 4096 gained 10-17 % and the other batches nothing. Nothing writes
// the room, so it costs address space rather than memory; it is kept to
// twice the area, within 128 KB and 2 MB, so that many user threads'
// slots of a short transform do not reserve megabytes each.
constexpr int64_t SLICE_ROOM_MIN = int64_t(128) << 10;
constexpr int64_t SLICE_ROOM_MAX = int64_t(2) << 20;
static_assert(SLICE_ROOM_MIN % WORK_ALIGNMENT == 0 && SLICE_ROOM_MAX % WORK_ALIGNMENT == 0);
// The room behind an area of the given bytes (a multiple of the area's own
// alignment keeps the next area aligned alike).
inline int64_t slice_room(int64_t area_bytes) {
  const int64_t room = 2 * area_bytes;
  return room < SLICE_ROOM_MIN ? SLICE_ROOM_MIN : room > SLICE_ROOM_MAX ? SLICE_ROOM_MAX : room;
}

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

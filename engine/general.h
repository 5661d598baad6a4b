// What the real and complex sides of the general strategy share: the axis
// chain, the thread-count rules, the work buffer and the whole-transform
// slots. Each side has its own planner (general_real.cpp, general_complex.cpp).
#pragma once
#include "engine/engine.h"

TQS_LEVEL_BEGIN

constexpr int64_t POW2_AXIS_LIMIT = int64_t(1) << 26;
constexpr int64_t OTHER_AXIS_LIMIT = int64_t(1) << 24;
constexpr int64_t LARGE_FLOOR_BYTES = 1048576;

inline int floor_log2(int64_t n) {
  return n <= 0 ? -1 : 63 - __builtin_clzll(static_cast<uint64_t>(n));
}
inline bool is_power_of_two(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }
inline int64_t larger(int64_t a, int64_t b) { return a > b ? a : b; }
// The plan limit of one axis: 2^26 for powers of two, 2^24 otherwise.
inline bool axis_within_limits(int64_t n) {
  return n <= (is_power_of_two(n) ? POW2_AXIS_LIMIT : OTHER_AXIS_LIMIT);
}

// Cache size of level n (0 = last level) as the descriptor's services see it.
int descriptor_cache_size(const EngineDescriptor* d, int level);

// Builds the chain of one-axis descriptors behind the head, fills the shape
// fields of every member and places the scale on one axis. max_axes is the
// largest rank the side supports (more answers 6).
long setup_axis_chain(EngineDescriptor* head, int max_axes);

// An in-place real transform with DFTI_COMPLEX_COMPLEX storage reads and
// writes one array through two views; they must describe the same places.
bool inplace_cce_consistent(const EngineDescriptor* d);

// Empties the whole-transform slots and runs the armed four-step release.
void clear_whole_transform(EngineDescriptor* d);

// The thread-suggestion rules, asked in order while the count exceeds 1;
// element_bytes is 8 for real data and 16 for complex data, which asks the
// complex list: the same rules and one for whole-transform paths.
void apply_thread_suggestions(EngineDescriptor* d, int element_bytes);

// Allocates the user-thread slots (2 * users + 1 words); 1 when that fails.
long allocate_user_thread_slots(EngineDescriptor* d);

// Rounds max_work_size up to the level's alignment (and, with more than one
// slice, adds the room that keeps the slices apart) and allocates one slice
// per thread (or per user thread).
long reserve_work_buffer(EngineDescriptor* head);

// Sets or clears FLAG_LARGE: length^2 elements of element_bytes beyond the
// larger of the last-level cache and 1 MiB.
void set_large_flag(EngineDescriptor* d, int element_bytes);

TQS_LEVEL_END

// Layout of the one-dimensional plan records. Level-independent plain data.
#pragma once
#include <cstdint>

namespace tqs {

constexpr int32_t TAG_COMPLEX_PLAN = 16;
constexpr int32_t TAG_SPLIT_PLAN = 17;
constexpr int32_t TAG_REAL_PLAN = 18;
constexpr int32_t TAG_POW2_COMPLEX = 7;
constexpr int32_t TAG_POW2_REAL = 9;

// Plan-level status codes.
constexpr int PLAN_OK = 0;
constexpr int PLAN_BAD_LENGTH = -6;
constexpr int PLAN_NULL_POINTER = -8;
constexpr int PLAN_NO_MEMORY = -9;
constexpr int PLAN_BAD_EXPONENT = -15;
constexpr int PLAN_BAD_MODE = -16;
constexpr int PLAN_WRONG_KIND = -17;

// Scaling modes.
constexpr int SCALE_FORWARD = 1;
constexpr int SCALE_BACKWARD = 2;
constexpr int SCALE_BOTH_SQRT = 4;
constexpr int SCALE_NONE = 8;

struct FactorRecord {
  uint32_t radix;
  uint32_t m;        // sub-length
  uint32_t s;        // stride
  uint32_t blocks;   // block count within the stage's group
  void* generic_table;
  void* twiddles;
};

constexpr int MAX_FACTORS = 20;

struct PlanRecord {
  int32_t tag;
  int32_t length;
  int32_t forward_scaled;
  int32_t backward_scaled;
  double scale;
  int32_t hint;
  int32_t work_size;
  int32_t power_of_two;
  int32_t odd_factored;
  int32_t chirp_length;
  void* direct_table;
  void* split_twiddles;
  void* split_twiddle_pairs;
  void* chirp;
  void* chirp_spectrum;
  // Primes through a convolution of n - 1 points: g^q mod n, q < n - 1.
  void* rader_order;
  void* power_of_two_plan;
  PlanRecord* inner_plan;
  int32_t factored;
  int32_t last_factor_index;
  void* scratch;
  FactorRecord factors[MAX_FACTORS];
  // First stage of the deepest (breadth-first) stage group.
  int32_t group_start;
  // Complex length the factor records describe (n, or n/2 for even real).
  int32_t core_length;
  // Leading stages whose twiddles are the product of a fine and a coarse
  // table (complex plans only).
  int32_t split_stages;
};

}  // namespace tqs

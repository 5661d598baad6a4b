// The head of a large power-of-two kernel's table area (the descriptor's
// large_kernel_table): which kernel the area belongs to and where its parts
// lie. Level-independent layout, so that tests can read which kernel a
// commit chose.
#pragma once
#include <cstdint>

namespace tqs {

constexpr int LARGE_MAX_SUB_LOG2 = 13;  // the longer factor of 2^26

struct LargeTableHead {
  int64_t length;       // N = 2^log2_length
  int32_t chunks;       // P: static chunks of each pass
  int32_t log2_length;
  int32_t log2_rows;    // pass 1 transforms 2^log2_rows points per input column
  int32_t log2_cols;    // pass 2 transforms 2^log2_cols points per output column
  int32_t low_bits;     // w_N^j = low[j mod 2^low_bits] * high[j >> low_bits]
  int32_t group;        // neighbouring columns a pass takes at once
  // Offsets in doubles from the start of the area; -1 where absent.
  int64_t pass_offset[LARGE_MAX_SUB_LOG2 + 1];  // radix pass closing 2^L points
  int64_t low_offset;
  int64_t high_offset;
  int64_t scratch_offset;   // chunks blocks, one per thread number
  int64_t scratch_doubles;  // per block
  int64_t bytes;            // the whole area
};

}  // namespace tqs

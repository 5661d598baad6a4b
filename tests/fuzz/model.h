// The fuzzer's model of a descriptor: what each call must answer, where a
// compute call's elements lie, and the direct transform its results are
// compared with.
#pragma once

#include <cstdint>
#include <vector>

#include "tqs_dfti.h"

namespace tqs_fuzz {

// Lengths above this are never committed: a long transform may be taken
// by a decomposition into shorter ones at any length, 64-bit ones included,
// and its commit may build tables of gigabytes or factor the length by
// trial division for minutes before it answers.
constexpr int64_t kCommitLength = 1 << 16;
constexpr int64_t kMaxDoubles = 1 << 17;        // per array of a compute call
constexpr int64_t kMaxReferenceWork = 1 << 17;  // n * n * count of the direct sum

// ---- the model of one descriptor ----------------------------------------------

struct Model {
  DftiHandle h = nullptr;
  int32_t domain = DFTI_COMPLEX;
  int64_t n = 1;
  bool committed = false;
  int arrays = 0;  // data arrays a compute call takes (set at commit)
  double fscale = 1.0, bscale = 1.0;
  int64_t count = 1, in_dist = 0, out_dist = 0;
  int64_t in_off = 0, in_stride = 1, out_off = 0, out_stride = 1;
  int32_t complex_layout = DFTI_COMPLEX_COMPLEX, real_layout = DFTI_REAL_REAL;
  int32_t ces = DFTI_COMPLEX_REAL, placement = DFTI_INPLACE, packing = DFTI_PACKING_HALF_SPECTRUM;
  int32_t scratch = DFTI_SCRATCH_ALLOWED, ordering = DFTI_ORDER_NATURAL;
  int64_t user_threads = 1, max_threads = 0;
  char label[10] = {};

  bool real() const { return domain == DFTI_REAL; }
  bool inplace() const { return placement == DFTI_INPLACE; }
  bool split() const { return !real() && complex_layout == DFTI_REAL_REAL; }
};

// MayDecline: taken (0) or, when the strategy that would take it cannot and
// the last of the list declines, refused with 3.
enum class Commit { Skip, MustSucceed, MayDecline, MustFail };

// What the commit of the model's configuration must answer.
Commit commit_expectation(const Model& m);

// Applies an enumerated value to the model where the descriptor takes it;
// the status the set must answer.
long set_enumerated(Model& m, int parameter, int32_t v);

// ---- compute layouts ---------------------------------------------------------

struct SideShape {
  int64_t offset, stride, distance;
  int64_t slots;  // elements per vector
  int unit;       // doubles per element
};

enum class Spectrum { Cce, Permuted, Sequential, Unknown };

Spectrum spectrum_layout(const Model& m);

// The input and output elements of a compute call; false when the layout
// is not known.
bool call_shapes(const Model& m, bool forward, SideShape* in, SideShape* out);

// Lowest and highest double of a side; false when it cannot be addressed
// in a buffer of kMaxDoubles.
bool extent(const SideShape& s, int64_t count, int64_t* lo, int64_t* hi);

// The doubles of every element of a side, transform by transform.
void positions(const SideShape& s, int64_t count, std::vector<int64_t>* p);

// ---- the direct transform ----------------------------------------------------

// Complex x (2n doubles) to y with exp(sign 2 pi i jk / n), in long double.
void direct(const std::vector<double>& x, int64_t n, int sign, std::vector<double>* y);

// The layout's doubles of a half spectrum h (2(n/2+1) doubles).
std::vector<double> to_layout(Spectrum s, int64_t n, const std::vector<double>& h);

}  // namespace tqs_fuzz

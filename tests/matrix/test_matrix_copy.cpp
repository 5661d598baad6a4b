// Out-of-place copy and transposition of the running level against a plain
// loop written from the other side (column-major handled by index, not by
// exchanging the dimensions): every ordering and trans character over shapes
// from 1 x 1 to ones deep in the recursion, leading dimensions with gaps that
// must stay untouched, unit scales that must move bits exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/level_api.h"
#include "interface/dispatch.h"
#include "matrix_harness.h"
#include "service/tqs_service.h"

namespace {

using matrix_test::bits;
using matrix_test::Buffer;
using matrix_test::from_bits;
using matrix_test::kSentinel;

const tqs::LevelApi* api() { return tqs::level_apis[tqs_cpu_level()]; }

struct Shape {
  uint64_t rows, cols;
};

// Thin and square leaves, odd and prime sizes, and shapes big enough for
// several levels of halving on either side.
const Shape kShapes[] = {{1, 1},   {1, 2},   {1, 9},    {9, 1},     {2, 2},   {3, 5},   {5, 3},
                         {4, 4},   {4, 5},   {8, 8},    {13, 17},   {17, 13}, {1, 100}, {100, 1},
                         {31, 64}, {64, 31}, {97, 101}, {128, 128}, {259, 67}};

// Where A(i, j) lives and where its image goes, for `width` doubles per element.
struct Layout {
  char ordering, trans;
  uint64_t rows, cols, pad_a, pad_b;

  bool column_major() const { return (ordering | 0x20) == 'c'; }
  bool transposed() const { return (trans | 0x20) == 't' || (trans | 0x20) == 'c'; }
  bool conjugated() const { return (trans | 0x20) == 'r' || (trans | 0x20) == 'c'; }
  uint64_t a_lines() const { return column_major() ? cols : rows; }
  uint64_t b_lines() const { return column_major() != transposed() ? cols : rows; }
  uint64_t lda() const { return (column_major() ? rows : cols) + pad_a; }
  uint64_t ldb() const { return (column_major() != transposed() ? rows : cols) + pad_b; }
  uint64_t a_at(uint64_t i, uint64_t j) const {
    return column_major() ? j * lda() + i : i * lda() + j;
  }
  // B(i, j), or B(j, i) of the cols x rows result when transposed.
  uint64_t b_at(uint64_t i, uint64_t j) const {
    if (!transposed()) return column_major() ? j * ldb() + i : i * ldb() + j;
    return column_major() ? i * ldb() + j : j * ldb() + i;
  }
  std::string name() const {
    return std::string("ordering ") + ordering + " trans " + trans + " " + std::to_string(rows) +
           " x " + std::to_string(cols) + " pads " + std::to_string(pad_a) + "," +
           std::to_string(pad_b);
  }
};

// Runs the level's routine on A (`width` 2: complex, 1: real) and checks B
// against the plain loop. A unit scale must reproduce bits (a conjugation
// flips the sign bit of the imaginary part and nothing else); another scale
// the product within a few roundings, since the fused form rounds once less.
void check(const Layout& l, int width, double ar, double ai, const std::vector<double>& values) {
  SCOPED_TRACE(l.name() + " alpha " + std::to_string(ar) + "," + std::to_string(ai));
  const size_t a_size = width * l.lda() * l.a_lines(), b_size = width * l.ldb() * l.b_lines() + 5;
  Buffer a(a_size), b(b_size, 3);
  for (uint64_t i = 0; i < l.rows; ++i) {
    for (uint64_t j = 0; j < l.cols; ++j) {
      for (int k = 0; k < width; ++k) {
        a.data[width * l.a_at(i, j) + k] = values[(width * (i * l.cols + j) + k) % values.size()];
      }
    }
  }
  const std::vector<double> a_before(a.data, a.data + a_size);
  if (width == 2) {
    api()->complex_matrix_copy(l.ordering, l.trans, l.rows, l.cols, ar, ai, a.data, l.lda(), b.data,
                               l.ldb());
  } else {
    api()->real_matrix_copy(l.ordering, l.trans, l.rows, l.cols, ar, a.data, l.lda(), b.data,
                            l.ldb());
  }

  std::vector<double> want(b_size, from_bits(kSentinel)), tol(b_size, -1.0);
  const bool unit = ar == 1.0 && ai == 0.0;
  const double eps = 0x1p-52;
  for (uint64_t i = 0; i < l.rows; ++i) {
    for (uint64_t j = 0; j < l.cols; ++j) {
      const double* x = a.data + width * l.a_at(i, j);
      const uint64_t at = width * l.b_at(i, j);
      if (width == 1) {
        want[at] = unit ? x[0] : ar * x[0];
        continue;
      }
      const double xr = x[0], xi = l.conjugated() ? -x[1] : x[1];
      if (unit) {
        want[at] = xr;
        want[at + 1] = xi;
      } else {
        want[at] = ar * xr - ai * xi;
        want[at + 1] = ar * xi + ai * xr;
        tol[at] = 4 * eps * (std::fabs(ar * xr) + std::fabs(ai * xi));
        tol[at + 1] = 4 * eps * (std::fabs(ar * xi) + std::fabs(ai * xr));
      }
    }
  }
  int bad = 0;
  for (size_t k = 0; k < b_size; ++k) {
    const double got = b.data[k];
    const bool same = tol[k] < 0 ? bits(got) == bits(want[k]) : std::fabs(got - want[k]) <= tol[k];
    if (!same && bad++ < 3) {
      ADD_FAILURE() << "double " << k << " of B is " << got << " (bits " << std::hex << bits(got)
                    << std::dec << "), want " << want[k];
    }
  }
  EXPECT_EQ(0, bad);
  for (size_t k = 0; k < a_size; ++k) ASSERT_EQ(bits(a_before[k]), bits(a.data[k])) << k;
}

std::vector<double> random_values(size_t count, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  std::vector<double> v(count);
  for (double& x : v) x = u(gen);
  return v;
}

// Values whose bits a careless move would change: NaNs with payloads (quiet
// and signalling), both zeros, infinities, subnormals.
std::vector<double> awkward_values() {
  const uint64_t patterns[] = {0x7ff8000000012345ull, 0xfff4000000000abcull, 0x7ff0000000000001ull,
                               0x8000000000000000ull, 0x0000000000000000ull, 0xfff0000000000000ull,
                               0x7ff0000000000000ull, 0x0000000000000001ull, 0x800fffffffffffffull,
                               0x3ff0000000000000ull, 0xc00c000000000000ull, 0x8000000000000001ull,
                               0x7fffffffffffffffull};
  std::vector<double> v;
  for (uint64_t p : patterns) v.push_back(from_bits(p));
  return v;
}

const char kOrderings[] = {'R', 'C'};
const char kTrans[] = {'N', 'T', 'R', 'C'};

// Complex and real, unit and general scales; every other shape spells the
// characters in lower case.
TEST(MatrixCopy, MatchesPlainLoopForEveryShapeOrderingAndTrans) {
  const std::vector<double> values = random_values(2 * 259 * 67, 7);
  std::vector<Shape> shapes(std::begin(kShapes), std::end(kShapes));
  // Around the tile edge of the unit real transposition and well past it.
  for (Shape s : {Shape{16, 16}, Shape{17, 15}, Shape{15, 33}, Shape{250, 130}}) {
    shapes.push_back(s);
  }
  for (size_t index = 0; index < shapes.size(); ++index) {
    const Shape s = shapes[index];
    const uint64_t pad_a = index % 4, pad_b = (index / 2) % 3;
    const char lower = index % 2 == 1 ? 0x20 : 0;
    for (char o : kOrderings) {
      for (char t : kTrans) {
        const Layout l{char(o | lower), char(t | lower), s.rows, s.cols, pad_a, pad_b};
        check(l, 2, 1.0, 0.0, values);
        check(l, 2, 0.75, -1.25, values);
        check(l, 1, 1.0, 0.0, values);
        check(l, 1, -2.5, 0.0, values);
        if (HasFailure()) return;
      }
    }
  }
}

// Any character other than R or C (ordering) or N, T, R, C (trans), in
// either case, and an empty matrix: nothing at all is written.
TEST(MatrixCopy, CallsThatMustWriteNothing) {
  const char bad_ordering[] = {'N', 'T', 'X', ' ', '\0', '2', char('R' | 0x80), char('c' ^ 0x40)};
  const char bad_trans[] = {'H', 'A', 'X', ' ', '\0', '4', char('T' | 0x80), char('n' ^ 0x40)};
  const uint64_t rows = 6, cols = 5;
  Buffer a(2 * rows * cols), b(2 * rows * cols + 4);
  for (size_t k = 0; k < a.size; ++k) a.data[k] = double(k + 1);
  auto run_all = [&](char o, char t, uint64_t r, uint64_t c) {
    api()->complex_matrix_copy(o, t, r, c, 1.0, 0.0, a.data, cols, b.data, rows);
    api()->complex_matrix_copy(o, t, r, c, 2.0, 1.0, a.data, cols, b.data, rows);
    api()->real_matrix_copy(o, t, r, c, 1.0, a.data, cols, b.data, rows);
    api()->real_matrix_copy(o, t, r, c, 2.0, a.data, cols, b.data, rows);
  };
  for (char o : bad_ordering) {
    for (char t : kTrans) run_all(o, t, rows, cols);
  }
  for (char t : bad_trans) {
    for (char o : kOrderings) run_all(o, t, rows, cols);
  }
  for (char o : kOrderings) {
    for (char t : kTrans) {
      run_all(o, t, 0, cols);
      run_all(o, t, rows, 0);
    }
  }
  for (size_t k = 0; k < b.size; ++k) ASSERT_EQ(kSentinel, bits(b.data[k])) << k;
}

TEST(MatrixCopy, UnitScaleMovesBitsExactly) {
  const std::vector<double> values = awkward_values();
  for (const Shape& s : {Shape{1, 13}, Shape{13, 1}, Shape{7, 5}, Shape{33, 18}, Shape{64, 64}}) {
    for (char o : kOrderings) {
      for (char t : kTrans) {
        check({o, t, s.rows, s.cols, 1, 3}, 2, 1.0, 0.0, values);
        check({o, t, s.rows, s.cols, 2, 0}, 1, 1.0, 0.0, values);
      }
    }
  }
}

// The dispatched entry resolves to the running level: at level 5 its fused
// products differ in the last bit from the other levels', so any other
// level's copy would show.
TEST(MatrixCopy, DispatchedEntryRunsTheLevelsCopy) {
  const uint64_t rows = 19, cols = 23;
  const std::vector<double> values = random_values(2 * rows * cols, 3);
  for (char t : kTrans) {
    std::vector<double> direct(2 * rows * cols), dispatched(2 * rows * cols);
    api()->complex_matrix_copy('R', t, rows, cols, 0.3, -0.7, values.data(), cols, direct.data(),
                               t == 'N' || t == 'R' ? cols : rows);
    tqs::dispatch_complex_matrix_copy('R', t, rows, cols, 0.3, -0.7, values.data(), cols,
                                      dispatched.data(), t == 'N' || t == 'R' ? cols : rows);
    for (size_t k = 0; k < direct.size(); ++k) ASSERT_EQ(bits(direct[k]), bits(dispatched[k])) << k;
  }
}

}  // namespace

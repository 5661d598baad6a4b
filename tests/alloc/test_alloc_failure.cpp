// Allocation failures. With the per-thread block cache off
// (TQS_DISABLE_FAST_MM, set for this binary by its CMake entry) every block
// reaches the system allocator, which here counts the requests and refuses
// the k-th one. For every k that a descriptor's life reaches (creation,
// configuration, commit, both computes), each call must answer a memory
// failure or the answer the strategy walk gives, leave nothing written
// outside the caller's elements, keep nothing it allocated, and the
// descriptor must still commit and compute the right result afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "service/memory_internal.h"
#include "support/reference.h"
#include "tqs_dfti.h"

namespace {

std::atomic<int64_t> requests{0};
std::atomic<int64_t> refuse_at{-1};
std::atomic<int64_t> live_blocks{0};
std::atomic<bool> refusal_made{false};

void* counting_allocate(size_t n) {
  if (requests.fetch_add(1) == refuse_at.load()) {
    refusal_made = true;
    return nullptr;
  }
  void* p = std::malloc(n);
  if (p != nullptr) live_blocks.fetch_add(1);
  return p;
}

void counting_release(void* p) {
  if (p != nullptr) live_blocks.fetch_sub(1);
  std::free(p);
}

// Refuses the k-th request from now on (k < 0: none).
void arm(int64_t k) {
  refuse_at = -1;
  requests = 0;
  refusal_made = false;
  refuse_at = k;
}

// Stops refusing; whether the armed refusal was made.
bool disarm() {
  refuse_at = -1;
  return refusal_made.load();
}

enum Layout { INTERLEAVED, SPLIT, CCE, HALF, PERMUTED, SEQUENTIAL };

struct Side {
  int64_t offset = 0, stride = 1, distance = 0;
};

struct Scenario {
  const char* name;
  Layout layout;
  int64_t n;
  bool inplace;
  int64_t count = 1;
  Side in, out;  // the descriptor's input and output sides
  int64_t threads = 1;
  double backward_scale = 1.0;

  bool real() const { return layout >= CCE; }
  bool power_of_two() const { return (n & (n - 1)) == 0; }
  // The convolution strategy, last in every list, can take the descriptor
  // when an earlier strategy failed.
  bool convolution_fallback() const {
    return layout != SPLIT && count == 1 && in.stride == 1 && out.stride == 1 &&
           backward_scale == 1.0 && !power_of_two();
  }
};

// Elements of one vector on the spectrum side, and doubles per element.
int64_t spectrum_slots(const Scenario& s) {
  if (s.layout == CCE) return s.n / 2 + 1;
  if (s.layout == HALF) return 2 * (s.n / 2 + 1);
  return s.n;
}

struct Call {
  std::vector<int64_t> in, out;  // doubles of every element, transform by transform
  int per_role = 1;              // arrays per side (split storage: two)
};

std::vector<int64_t> positions(const Side& side, int64_t slots, int unit, int64_t count) {
  std::vector<int64_t> p;
  for (int64_t t = 0; t < count; ++t)
    for (int64_t j = 0; j < slots; ++j)
      for (int u = 0; u < unit; ++u) p.push_back(unit * (side.offset + t * side.distance + j * side.stride) + u);
  return p;
}

Call geometry(const Scenario& s, bool forward) {
  Side out = s.out;
  if (s.inplace) {
    if (!s.real()) out = s.in;
    else if (s.layout != CCE) out.offset = s.in.offset;
  }
  const int64_t time = s.n, spectrum = spectrum_slots(s);
  const int time_unit = s.layout == INTERLEAVED ? 2 : 1;
  const int spectrum_unit = s.layout == INTERLEAVED || s.layout == CCE ? 2 : 1;
  Call c;
  c.per_role = s.layout == SPLIT ? 2 : 1;
  c.in = positions(s.in, forward ? time : spectrum, forward ? time_unit : spectrum_unit, s.count);
  c.out = positions(out, forward ? spectrum : time, forward ? spectrum_unit : time_unit, s.count);
  return c;
}

// Layout doubles of a real spectrum from the permuted order, and back.
std::vector<double> from_permuted(Layout l, int64_t n, const double* p) {
  const int64_t m = n / 2;
  const bool even = n % 2 == 0 && n > 1;
  std::vector<double> half(static_cast<size_t>(2 * (m + 1)), 0.0);
  half[0] = p[0];
  int64_t at = 1;
  if (even) half[2 * m] = p[at++];
  for (int64_t k = 1; k < (even ? m : m + 1); ++k, at += 2) {
    half[2 * k] = p[at];
    half[2 * k + 1] = p[at + 1];
  }
  if (l == CCE || l == HALF) return half;
  std::vector<double> v(p, p + n);
  if (l == SEQUENTIAL && even) {
    v.erase(v.begin() + 1);
    v.push_back(p[1]);
  }
  return v;
}

// One call's arrays: sentinels everywhere, the inputs at their places.
struct Arrays {
  std::vector<double> a[4], pristine[4];
  double* p(int i) { return a[i].data(); }
};

double sentinel(int array, size_t i) { return (array + 1) * 1.0e300 - static_cast<double>(i) * 1.0e285; }

class Case {
 public:
  explicit Case(const Scenario& s) : s_(s) {
    for (bool forward : {true, false}) {
      const Call c = geometry(s, forward);
      int64_t hi = 0;
      for (int64_t q : c.in) hi = std::max(hi, q);
      for (int64_t q : c.out) hi = std::max(hi, q);
      size_[forward] = static_cast<size_t>(hi + 9);
      input_[forward] = tqs_test::random_doubles(static_cast<int64_t>(c.in.size()) * c.per_role,
                                                 s.n + (forward ? 1 : 2));
      if (s.real() && !forward) hermitian(&input_[forward]);
    }
  }

  // The spectra a real backward transform reads are made Hermitian: the
  // parts that must vanish (or do not exist in the layout) are zero.
  void hermitian(std::vector<double>* v) const {
    const int64_t slots = static_cast<int64_t>(v->size()) / s_.count;
    for (int64_t t = 0; t < s_.count; ++t) {
      double* x = v->data() + t * slots;
      if (s_.layout == CCE || s_.layout == HALF) {
        x[1] = 0.0;
        if (s_.n % 2 == 0) x[s_.n + 1] = 0.0;
      }
    }
  }

  long create_and_configure(DftiHandle* h, std::string* where) {
    long st = DftiCreateDouble1D(h, s_.real() ? DFTI_REAL : DFTI_COMPLEX, s_.n);
    if (st != 0) return *where = "create", st;
    auto set = [&](const char* what, long status) {
      if (st == 0 && status != 0) *where = what, st = status;
    };
    if (s_.layout == SPLIT) set("layout", DftiSet(*h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL));
    if (s_.layout == CCE) set("storage", DftiSet(*h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
    if (s_.layout == PERMUTED) set("packing", DftiSet(*h, DFTI_PACKING, DFTI_PACKING_PERMUTED));
    if (s_.layout == SEQUENTIAL) set("packing", DftiSet(*h, DFTI_PACKING, DFTI_PACKING_SEQUENTIAL));
    if (!s_.inplace) set("placement", DftiSet(*h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
    const int64_t is[2] = {s_.in.offset, s_.in.stride}, os[2] = {s_.out.offset, s_.out.stride};
    set("input strides", DftiSet(*h, DFTI_IN_STRIDES, is));
    set("output strides", DftiSet(*h, DFTI_OUT_STRIDES, os));
    if (s_.count != 1) {
      set("count", DftiSet(*h, DFTI_TRANSFORM_COUNT, s_.count));
      set("input distance", DftiSet(*h, DFTI_IN_DISTANCE, s_.in.distance));
      set("output distance", DftiSet(*h, DFTI_OUT_DISTANCE, s_.out.distance));
    }
    if (s_.backward_scale != 1.0) set("scale", DftiSet(*h, DFTI_BWD_SCALE, s_.backward_scale));
    set("threads", DftiSet(*h, DFTI_MAX_THREADS, s_.threads));
    return st;
  }

  // Runs one direction; the status, and in *out the output elements when
  // the guards held (else the reason in *why).
  long compute(DftiHandle h, bool forward, std::vector<double>* out, std::string* why) {
    const Call c = geometry(s_, forward);
    const size_t size = size_[forward];
    const int arrays = s_.inplace ? c.per_role : 2 * c.per_role;
    Arrays arr;
    for (int a = 0; a < arrays; ++a) {
      arr.a[a].resize(size);
      for (size_t i = 0; i < size; ++i) arr.a[a][i] = sentinel(a, i);
    }
    const std::vector<double>& x = input_[forward];
    for (size_t j = 0; j < c.in.size(); ++j) {
      for (int r = 0; r < c.per_role; ++r) arr.a[r][c.in[j]] = x[j * c.per_role + r];
    }
    for (int a = 0; a < arrays; ++a) arr.pristine[a] = arr.a[a];
    double* p[4] = {arr.p(0), arr.p(1), arr.p(2), arr.p(3)};
    const long st = forward ? DftiForward(h, p[0], p[1], p[2], p[3]) : DftiBackward(h, p[0], p[1], p[2], p[3]);
    // Whatever the answer: inputs untouched out of place, nothing written
    // outside the elements.
    std::vector<char> mine(size, 0);
    for (int64_t q : c.out) mine[static_cast<size_t>(q)] = 1;
    if (s_.inplace) {
      for (int64_t q : c.in) mine[static_cast<size_t>(q)] = 1;
    }
    const int out_base = s_.inplace ? 0 : c.per_role;
    for (int a = 0; a < arrays; ++a) {
      const bool output = a >= out_base;
      for (size_t i = 0; i < size; ++i) {
        if ((output && mine[i]) || arr.a[a][i] == arr.pristine[a][i]) continue;
        *why = std::string(output ? "wrote outside its elements" : "wrote into its input") + " at " +
               std::to_string(i);
        return st == 0 ? -1 : st;
      }
    }
    out->clear();
    for (int64_t q : c.out) {
      for (int r = 0; r < c.per_role; ++r) out->push_back(arr.a[out_base + r][q]);
    }
    return st;
  }

  // The expected outputs of both directions from the reference transforms.
  std::vector<double> expected(bool forward) const {
    const std::vector<double>& x = input_[forward];
    const int64_t n = s_.n;
    std::vector<double> want;
    const size_t per = x.size() / static_cast<size_t>(s_.count);
    for (int64_t t = 0; t < s_.count; ++t) {
      const double* v = x.data() + t * per;
      std::vector<double> y;
      if (!s_.real()) {
        y.resize(static_cast<size_t>(2 * n));
        tqs_test::reference_complex(v, y.data(), n, forward ? -1 : 1);
      } else if (forward) {
        std::vector<double> permuted(static_cast<size_t>(n));
        tqs_test::reference_real_forward(v, permuted.data(), n);
        y = from_permuted(s_.layout, n, permuted.data());
      } else {
        // Back to the permuted order the reference reads.
        std::vector<double> half(static_cast<size_t>(2 * (n / 2 + 1)), 0.0), permuted;
        if (s_.layout == CCE || s_.layout == HALF) {
          half.assign(v, v + half.size());
        } else {
          std::vector<double> p(v, v + n);
          if (s_.layout == SEQUENTIAL && n % 2 == 0 && n > 1) {
            const double last = p.back();
            p.pop_back();
            p.insert(p.begin() + 1, last);
          }
          half = from_permuted(CCE, n, p.data());
        }
        permuted.push_back(half[0]);
        if (n % 2 == 0 && n > 1) permuted.push_back(half[n]);
        for (int64_t k = 1; 2 * k < n; ++k) {
          permuted.push_back(half[2 * k]);
          permuted.push_back(half[2 * k + 1]);
        }
        y.resize(static_cast<size_t>(n));
        tqs_test::reference_real_backward(permuted.data(), y.data(), n);
      }
      if (!forward) {
        for (double& e : y) e *= s_.backward_scale;
      }
      // Split storage too: compute lists each element's two parts in turn.
      want.insert(want.end(), y.begin(), y.end());
    }
    return want;
  }

  const Scenario& s_;
  size_t size_[2];
  std::vector<double> input_[2];
};

::testing::AssertionResult close(const std::vector<double>& got, const std::vector<double>& want, int64_t n) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "sizes differ";
  const double err = tqs_test::relative_rms_error(got.data(), want.data(), static_cast<int64_t>(got.size()));
  if (err <= 4 * tqs_test::accuracy_bound(n)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "relative error " << err;
}

class AllocationFailure : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tqs::mm_set_system_allocator(counting_allocate, counting_release); }
  static void TearDownTestSuite() {
    disarm();
    tqs::mm_set_system_allocator(nullptr, nullptr);
  }
  void SetUp() override {
    ASSERT_EQ(0, tqs::mm_cache_enabled()) << "run with TQS_DISABLE_FAST_MM=1 (the test entry sets it)";
  }

  // The whole life of the descriptor with the k-th request refused; false
  // once k lies beyond the last request.
  bool life(const Scenario& s, Case& c, int64_t k) {
    const std::string at = std::string(s.name) + ", request " + std::to_string(k) + ": ";
    const int64_t live_before = live_blocks.load();
    arm(k);
    DftiHandle h = nullptr;
    std::string where;
    long st = c.create_and_configure(&h, &where);
    if (st != 0) {
      EXPECT_EQ(DFTI_STATUS_MEMORY, st) << at << where;
      if (where == "create") {
        EXPECT_EQ(nullptr, h) << at << "a failed create hands out a handle";
      }
      disarm();
      if (h != nullptr) {
        DftiRelease(&h);
      }
      EXPECT_EQ(live_before, live_blocks.load()) << at << "blocks kept after a failed " << where;
      // Done with this k: a later k reaches the calls after it.
      return true;
    }
    st = DftiCommit(h);
    const bool commit_refused = refusal_made.load();
    if (st != 0) {
      // A failure in an earlier strategy is not reported when a later one
      // is tried: the convolution strategy, last in every list, takes the
      // descriptor (0) or declines it, and a decline last means 3.
      if (s.convolution_fallback()) {
        EXPECT_EQ(DFTI_STATUS_MEMORY, st) << at << "commit";
      } else {
        EXPECT_TRUE(st == DFTI_STATUS_MEMORY || st == DFTI_STATUS_INCONSISTENT_CONFIGURATION)
            << at << "commit answered " << st;
      }
      EXPECT_TRUE(commit_refused) << at << "commit failed without a refused request";
      int32_t state = 0;
      EXPECT_EQ(0, DftiGet(h, DFTI_COMMIT_STATE, &state));
      EXPECT_EQ(DFTI_STATE_UNCOMMITTED, state) << at;
      std::vector<double> a(64, 0.0);
      EXPECT_EQ(DFTI_STATUS_INVALID_CONFIGURATION, DftiForward(h, a.data(), a.data(), a.data(), a.data())) << at;
      disarm();
      EXPECT_EQ(0, DftiCommit(h)) << at << "recommit";
    }
    for (bool forward : {true, false}) {
      std::vector<double> out;
      std::string why;
      st = c.compute(h, forward, &out, &why);
      const char* dir = forward ? "forward" : "backward";
      EXPECT_TRUE(why.empty()) << at << dir << " " << why;
      if (st != 0) {
        EXPECT_EQ(DFTI_STATUS_MEMORY, st) << at << dir;
        disarm();
        st = c.compute(h, forward, &out, &why);
        EXPECT_EQ(0, st) << at << dir << " again";
      }
      if (st == 0) {
        EXPECT_TRUE(close(out, c.expected(forward), s.n)) << at << dir;
      }
    }
    const bool reached = disarm();
    EXPECT_EQ(0, DftiRelease(&h)) << at;
    EXPECT_EQ(live_before, live_blocks.load()) << at << "blocks kept";
    return reached;
  }

  void run(const Scenario& s) {
    Case c(s);
    disarm();
    // One report per scenario: the first k that goes wrong ends it.
    const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    const int reports = result->total_part_count();
    int64_t k = 0;
    while (life(s, c, k) && result->total_part_count() == reports) ++k;
    EXPECT_GT(k, 0) << s.name << ": no request reached the system allocator";
    std::printf("%s: %lld requests refused in turn\n", s.name, static_cast<long long>(k));
  }
};

Side side(int64_t offset, int64_t stride, int64_t distance = 0) { return {offset, stride, distance}; }

Scenario make(const char* name, Layout layout, int64_t n, bool inplace, int64_t count = 1,
              Side in = {}, Side out = {}, int64_t threads = 1, double backward_scale = 1.0) {
  Scenario s{name, layout, n, inplace, 1, {}, {}, 1, 1.0};
  s.count = count;
  s.in = in;
  s.out = out;
  s.threads = threads;
  s.backward_scale = backward_scale;
  return s;
}

TEST_F(AllocationFailure, Complex) {
  const Scenario scenarios[] = {
      make("codelet length", INTERLEAVED, 16, false),
      make("general plan in place", INTERLEAVED, 1000, true),
      make("chirp-z length", INTERLEAVED, 4099, false),
      make("prime through n - 1 points", INTERLEAVED, 1153, true),
      make("strided with offsets", INTERLEAVED, 60, false, 1, side(1, 2), side(3, 3)),
      make("scaled", INTERLEAVED, 48, false, 1, {}, {}, 1, 1.0 / 48),
      make("split out of place", SPLIT, 100, false),
      make("split batch in place", SPLIT, 30, true, 4, side(0, 1, 30), side(0, 1, 30)),
  };
  for (const Scenario& s : scenarios) run(s);
}

TEST_F(AllocationFailure, Real) {
  const Scenario scenarios[] = {
      make("cce out of place", CCE, 1000, false),
      make("cce in place, odd", CCE, 97, true),
      make("odd prime through n - 1 points", CCE, 1201, false),
      make("half spectrum in place", HALF, 64, true),
      make("permuted strided", PERMUTED, 50, false, 1, side(2, 3), side(1, 2)),
      make("sequential", SEQUENTIAL, 128, false),
      make("interleaved batch", CCE, 30, false, 5, side(0, 5, 1), side(0, 5, 1)),
  };
  for (const Scenario& s : scenarios) run(s);
}

// Teams: every member's work area comes from the allocator too.
TEST_F(AllocationFailure, Teams) {
  const Scenario scenarios[] = {
      make("complex batch", INTERLEAVED, 64, true, 6, side(0, 1, 64), side(0, 1, 64), 2),
      make("complex long", INTERLEAVED, 16384, false, 1, {}, {}, 2),
      make("real batch", SEQUENTIAL, 128, false, 6, side(0, 1, 128), side(0, 1, 128), 2),
  };
  for (const Scenario& s : scenarios) run(s);
}

}  // namespace

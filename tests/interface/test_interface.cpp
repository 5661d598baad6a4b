// The public calls: argument checks, the parameter table, refusals and the
// uncommit rule. Commit behaviour is exercised with test strategies installed
// in the descriptor, so these tests do not depend on any transform kind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/descriptor.h"
#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "tqs_dfti.h"

namespace {

using tqs::EngineDescriptor;

EngineDescriptor* raw(DftiHandle h) { return reinterpret_cast<EngineDescriptor*>(h); }
const tqs::LevelApi& api() { return *tqs::level_apis[tqs_cpu_level()]; }

// ---- test strategies: record the calls, answer what the test asks ----------
long fake_compute(EngineDescriptor*, void* a, void* b, void* c, void* d) {
  // Encodes which pointers arrived so a test can check how many were taken.
  return (a ? 1000 : 0) + (b ? 100 : 0) + (c ? 10 : 0) + (d ? 1 : 0);
}

int calls[4];
long answers[4];

template <int I>
long scripted(const tqs::Strategy*, EngineDescriptor* d) {
  ++calls[I];
  if (answers[I] == 0) {
    d->compute_forward = fake_compute;
    d->compute_backward = fake_compute;
    d->array_argument_count = d->placement == DFTI_INPLACE ? 1 : 2;
    d->commit_status = DFTI_STATE_COMMITTED;
  }
  return answers[I];
}

const tqs::Strategy s0 = {scripted<0>, nullptr};
const tqs::Strategy s1 = {scripted<1>, nullptr};
const tqs::Strategy* const two_strategies[] = {&s0, &s1, nullptr};

void script(long a0, long a1) {
  std::memset(calls, 0, sizeof calls);
  answers[0] = a0;
  answers[1] = a1;
}

// A descriptor whose commit runs the two scripted strategies.
DftiHandle scripted_descriptor(int domain, int64_t n) {
  DftiHandle h = nullptr;
  EXPECT_EQ(DftiCreateDouble1D(&h, domain, n), 0);
  raw(h)->strategy_list = two_strategies;
  return h;
}

int32_t get32(DftiHandle h, int parameter) {
  int32_t v = -12345;
  EXPECT_EQ(DftiGet(h, parameter, &v), 0) << "parameter " << parameter;
  return v;
}

int64_t get64(DftiHandle h, int parameter) {
  int64_t v = -12345;
  EXPECT_EQ(DftiGet(h, parameter, &v), 0) << "parameter " << parameter;
  return v;
}

bool committed(DftiHandle h) { return get32(h, DFTI_COMMIT_STATE) == DFTI_STATE_COMMITTED; }

void commit_ok(DftiHandle h) {
  script(0, 0);
  ASSERT_EQ(DftiCommit(h), 0);
  ASSERT_TRUE(committed(h));
}

TEST(Create, ArgumentChecks) {
  EXPECT_EQ(DftiCreateDouble1D(nullptr, DFTI_REAL, int64_t{6}), 3);
  DftiHandle h = reinterpret_cast<DftiHandle>(0x1234);
  EXPECT_EQ(DftiCreateDouble1D(&h, DFTI_REAL, int64_t{0}), 2);
  EXPECT_EQ(h, nullptr);
  h = reinterpret_cast<DftiHandle>(0x1234);
  EXPECT_EQ(DftiCreateDouble1D(&h, DFTI_COMPLEX, int64_t{-1}), 2);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(DftiCreateDouble1D(&h, 34, int64_t{6}), 2);
  EXPECT_EQ(h, nullptr);
  // A length beyond 32 bits is a configuration matter for commit, not create.
  EXPECT_EQ(DftiCreateDouble1D(&h, DFTI_REAL, int64_t{1} << 40), 0);
  EXPECT_EQ(DftiRelease(&h), 0);
}

TEST(Create, DefaultsAndLevelTables) {
  for (int domain : {DFTI_REAL, DFTI_COMPLEX}) {
    DftiHandle h = nullptr;
    ASSERT_EQ(DftiCreateDouble1D(&h, domain, int64_t{6}), 0);
    EngineDescriptor* d = raw(h);
    EXPECT_EQ(d->magic, 0x544644u);
    EXPECT_EQ(d->dims.count, 1);
    EXPECT_EQ(d->dims.records[0].length, 6);
    EXPECT_EQ(d->dims.records[0].input_stride, 1);
    EXPECT_EQ(d->dims.records[0].output_stride, 1);
    EXPECT_EQ(d->transforms.records[0].length, 1);
    EXPECT_EQ(d->transforms.records[0].input_stride, 0);
    EXPECT_EQ(d->strategy_list,
              domain == DFTI_REAL ? api().real_strategies : api().complex_strategies);
    EXPECT_EQ(d->threading, &tqs_ttl_tables[tqs_cpu_level()]);
    EXPECT_NE(d->threading->get_dynamic, nullptr);
    EXPECT_NE(d->threading->cache_size, nullptr);

    EXPECT_EQ(get32(h, DFTI_FORWARD_DOMAIN), domain);
    EXPECT_EQ(get64(h, DFTI_DIMENSION), 1);
    EXPECT_EQ(get64(h, DFTI_LENGTHS), 6);
    EXPECT_EQ(get32(h, DFTI_PRECISION), DFTI_DOUBLE);
    EXPECT_EQ(get64(h, DFTI_TRANSFORM_COUNT), 1);
    EXPECT_EQ(get32(h, DFTI_COMPLEX_LAYOUT), DFTI_COMPLEX_COMPLEX);
    EXPECT_EQ(get32(h, DFTI_REAL_LAYOUT), DFTI_REAL_REAL);
    EXPECT_EQ(get32(h, DFTI_CONJUGATE_EVEN_STORAGE), DFTI_COMPLEX_REAL);
    EXPECT_EQ(get32(h, DFTI_PLACEMENT), DFTI_INPLACE);
    EXPECT_EQ(get64(h, DFTI_IN_DISTANCE), 0);
    EXPECT_EQ(get64(h, DFTI_OUT_DISTANCE), 0);
    EXPECT_EQ(get32(h, DFTI_SCRATCH_POLICY), DFTI_SCRATCH_ALLOWED);
    EXPECT_EQ(get32(h, DFTI_OUTPUT_ORDER), DFTI_ORDER_NATURAL);
    EXPECT_EQ(get32(h, DFTI_TRANSPOSITION), DFTI_NO_TRANSPOSITION);
    EXPECT_EQ(get32(h, DFTI_PACKING), DFTI_PACKING_HALF_SPECTRUM);
    EXPECT_EQ(get32(h, DFTI_COMMIT_STATE), DFTI_STATE_UNCOMMITTED);
    EXPECT_EQ(get64(h, DFTI_NUMBER_OF_USER_THREADS), 1);
    EXPECT_EQ(get64(h, DFTI_MAX_THREADS), 0);
    int64_t strides[2] = {-1, -1};
    EXPECT_EQ(DftiGet(h, DFTI_IN_STRIDES, strides), 0);
    EXPECT_EQ(strides[0], 0);
    EXPECT_EQ(strides[1], 1);
    EXPECT_EQ(DftiRelease(&h), 0);
    EXPECT_EQ(h, nullptr);
  }
}

TEST(Get, WidthsOfResults) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  // The dimension is a 64-bit value; a 32-bit read would leave the guard.
  unsigned char buffer[16];
  std::memset(buffer, 0xAB, sizeof buffer);
  ASSERT_EQ(DftiGet(h, DFTI_DIMENSION, buffer), 0);
  int64_t dim;
  std::memcpy(&dim, buffer, 8);
  EXPECT_EQ(dim, 1);
  EXPECT_EQ(buffer[8], 0xAB);
  // The forward scale of a double descriptor is 8 bytes.
  std::memset(buffer, 0xAB, sizeof buffer);
  ASSERT_EQ(DftiGet(h, DFTI_FWD_SCALE, buffer), 0);
  double scale;
  std::memcpy(&scale, buffer, 8);
  EXPECT_EQ(scale, 1.0);
  EXPECT_EQ(buffer[8], 0xAB);
  // Enumerated values are 32 bits.
  std::memset(buffer, 0xAB, sizeof buffer);
  ASSERT_EQ(DftiGet(h, DFTI_PLACEMENT, buffer), 0);
  EXPECT_EQ(buffer[4], 0xAB);
  DftiRelease(&h);
}

TEST(Handles, NullAndCorrupted) {
  EXPECT_EQ(DftiCommit(nullptr), 5);
  EXPECT_EQ(DftiForward(nullptr, nullptr), 5);
  EXPECT_EQ(DftiBackward(nullptr, nullptr), 5);
  EXPECT_EQ(DftiSet(nullptr, DFTI_PLACEMENT, DFTI_INPLACE), 5);
  int32_t v = 0;
  EXPECT_EQ(DftiGet(nullptr, DFTI_FORWARD_DOMAIN, &v), 5);
  EXPECT_EQ(DftiRelease(nullptr), 3);
  DftiHandle h = nullptr;
  EXPECT_EQ(DftiRelease(&h), 5);

  // A record with the wrong magic is refused everywhere and left alone.
  alignas(16) unsigned char fake[sizeof(EngineDescriptor)];
  std::memset(fake, 0x5A, sizeof fake);
  DftiHandle bad = reinterpret_cast<DftiHandle>(fake);
  EXPECT_EQ(DftiSet(bad, DFTI_PLACEMENT, DFTI_INPLACE), 5);
  EXPECT_EQ(DftiGet(bad, DFTI_PLACEMENT, &v), 5);
  EXPECT_EQ(DftiCommit(bad), 5);
  EXPECT_EQ(DftiForward(bad, nullptr), 5);
  EXPECT_EQ(DftiRelease(&bad), 5);
  EXPECT_EQ(bad, reinterpret_cast<DftiHandle>(fake));
  for (unsigned char c : fake) ASSERT_EQ(c, 0x5A);
}

TEST(VersionText, ServedWithoutHandle) {
  char text[DFTI_VERSION_TEXT_LENGTH];
  std::memset(text, 'x', sizeof text);
  ASSERT_EQ(DftiGet(nullptr, DFTI_VERSION_TEXT, text), 0);
  const std::string expected =
      "Tavix(R) Quorvan Version 11.0.1 Product Build 20121016 for Tavix(R) 64 architecture "
      "applications";
  EXPECT_EQ(std::string(text), expected);
  EXPECT_EQ(expected.size(), 96u);
  for (size_t i = expected.size(); i < sizeof text; ++i) ASSERT_EQ(text[i], '\0') << i;
  // Any handle, even a bad one, gets the same text.
  DftiHandle h = scripted_descriptor(DFTI_COMPLEX, 8);
  char again[DFTI_VERSION_TEXT_LENGTH];
  ASSERT_EQ(DftiGet(h, DFTI_VERSION_TEXT, again), 0);
  EXPECT_EQ(std::string(again), expected);
  EXPECT_EQ(DftiSet(h, DFTI_VERSION_TEXT, again), 3);
  DftiRelease(&h);
}

TEST(Parameters, IdsOutOfRangeAndReserved) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  int64_t v = 0;
  for (int id : {28, 29, 100, -1, -1000}) {
    EXPECT_EQ(DftiSet(h, id, 0), 3) << id;
    EXPECT_EQ(DftiGet(h, id, &v), 3) << id;
  }
  for (int id : {6, 16, 24, 25}) {
    commit_ok(h);
    EXPECT_EQ(DftiSet(h, id, 0), 6) << id;
    EXPECT_FALSE(committed(h)) << "a reserved id still reaches the uncommitting setter";
    EXPECT_EQ(DftiGet(h, id, &v), 6) << id;
  }
  DftiRelease(&h);
}

struct Refusal {
  int parameter;
  int value;
  long status;
};

TEST(Parameters, EnumeratedValuesAcceptedAndRefused) {
  const Refusal table[] = {
      {DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL, 0},   {DFTI_COMPLEX_LAYOUT, DFTI_COMPLEX_COMPLEX, 0},
      {DFTI_COMPLEX_LAYOUT, DFTI_COMPLEX_REAL, 6}, {DFTI_COMPLEX_LAYOUT, DFTI_REAL_COMPLEX, 6},
      {DFTI_COMPLEX_LAYOUT, 77, 3},               {DFTI_REAL_LAYOUT, DFTI_REAL_REAL, 0},
      {DFTI_REAL_LAYOUT, DFTI_REAL_COMPLEX, 6},   {DFTI_REAL_LAYOUT, DFTI_COMPLEX_COMPLEX, 3},
      {DFTI_REAL_LAYOUT, DFTI_COMPLEX_REAL, 3},   {DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_REAL, 0},
      {DFTI_CONJUGATE_EVEN_STORAGE, DFTI_REAL_COMPLEX, 6},
      {DFTI_CONJUGATE_EVEN_STORAGE, DFTI_REAL_REAL, 6},
      {DFTI_CONJUGATE_EVEN_STORAGE, 44, 3},      {DFTI_PLACEMENT, DFTI_NOT_INPLACE, 0},
      {DFTI_PLACEMENT, 45, 3},                    {DFTI_SCRATCH_POLICY, DFTI_SCRATCH_AVOIDED, 0},
      {DFTI_SCRATCH_POLICY, 50, 3},               {DFTI_OUTPUT_ORDER, DFTI_ORDER_NATURAL, 0},
      {DFTI_OUTPUT_ORDER, DFTI_ORDER_PERMUTED_BACKWARD, 6},
      {DFTI_OUTPUT_ORDER, 50, 6},                 {DFTI_OUTPUT_ORDER, 47, 3},
      {DFTI_PACKING, DFTI_PACKING_SEQUENTIAL, 0}, {DFTI_PACKING, DFTI_PACKING_PERMUTED, 0},
      {DFTI_PACKING, 53, 3},                      {DFTI_PACKING, 58, 3},
      {DFTI_FORWARD_DOMAIN, DFTI_COMPLEX, 3},     {DFTI_PRECISION, DFTI_DOUBLE, 3},
      {DFTI_TRANSPOSITION, DFTI_NO_TRANSPOSITION, 3},
      {DFTI_COMMIT_STATE, DFTI_STATE_COMMITTED, 3},
  };
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  for (const Refusal& r : table) {
    commit_ok(h);
    int32_t before = get32(h, r.parameter);
    EXPECT_EQ(DftiSet(h, r.parameter, r.value), r.status)
        << "parameter " << r.parameter << " value " << r.value;
    EXPECT_FALSE(committed(h)) << "every value reaching the setter uncommits, refused or not";
    EXPECT_EQ(DftiForward(h, nullptr, nullptr), 2);
    int32_t after = get32(h, r.parameter);
    if (r.status == 0) {
      EXPECT_EQ(after, r.value) << "parameter " << r.parameter;
    } else if (r.parameter != DFTI_COMMIT_STATE) {
      EXPECT_EQ(after, before) << "a refused value must not be stored, parameter " << r.parameter;
    }
  }
  DftiRelease(&h);
}

TEST(Parameters, PermutedOrderOnlyForComplex) {
  DftiHandle h = scripted_descriptor(DFTI_COMPLEX, 8);
  EXPECT_EQ(DftiSet(h, DFTI_OUTPUT_ORDER, DFTI_ORDER_PERMUTED_BACKWARD), 0);
  EXPECT_EQ(get32(h, DFTI_OUTPUT_ORDER), DFTI_ORDER_PERMUTED_BACKWARD);
  DftiRelease(&h);
}

TEST(Parameters, ConjugateEvenStorageSetsPacking) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  ASSERT_EQ(DftiSet(h, DFTI_PACKING, DFTI_PACKING_PERMUTED), 0);
  ASSERT_EQ(DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_REAL), 0);
  EXPECT_EQ(get32(h, DFTI_PACKING), DFTI_PACKING_PERMUTED);
  ASSERT_EQ(DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX), 0);
  EXPECT_EQ(get32(h, DFTI_PACKING), DFTI_PACKING_CCE);
  DftiRelease(&h);
}

TEST(Parameters, IntegerParameters) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  EXPECT_EQ(DftiSet(h, DFTI_NUMBER_OF_USER_THREADS, int64_t{1} << 31), 3);
  EXPECT_EQ(get64(h, DFTI_NUMBER_OF_USER_THREADS), 1);
  EXPECT_EQ(DftiSet(h, DFTI_NUMBER_OF_USER_THREADS, int64_t{4}), 0);
  EXPECT_EQ(get64(h, DFTI_NUMBER_OF_USER_THREADS), 4);

  EXPECT_EQ(DftiSet(h, DFTI_MAX_THREADS, int64_t{-1}), 3);
  EXPECT_EQ(get64(h, DFTI_MAX_THREADS), 0);
  EXPECT_EQ(DftiSet(h, DFTI_MAX_THREADS, int64_t{3}), 0);
  EXPECT_EQ(get64(h, DFTI_MAX_THREADS), 3);

  // Counts and distances are 64-bit values end to end.
  const int64_t big = (int64_t{1} << 33) + 5;
  EXPECT_EQ(DftiSet(h, DFTI_TRANSFORM_COUNT, big), 0);
  EXPECT_EQ(get64(h, DFTI_TRANSFORM_COUNT), big);
  EXPECT_EQ(DftiSet(h, DFTI_IN_DISTANCE, big + 1), 0);
  EXPECT_EQ(get64(h, DFTI_IN_DISTANCE), big + 1);
  EXPECT_EQ(DftiSet(h, DFTI_OUT_DISTANCE, -big), 0);
  EXPECT_EQ(get64(h, DFTI_OUT_DISTANCE), -big);

  // Through the public call these uncommit like every other setter.
  commit_ok(h);
  EXPECT_EQ(DftiSet(h, DFTI_TRANSFORM_COUNT, int64_t{2}), 0);
  EXPECT_FALSE(committed(h));
  DftiRelease(&h);
}

TEST(Parameters, CommittedThreadLimit) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  ASSERT_EQ(DftiSet(h, DFTI_MAX_THREADS, int64_t{1}), 0);
  commit_ok(h);
  EXPECT_EQ(raw(h)->thread_count, 1);
  EXPECT_EQ(get64(h, DFTI_MAX_THREADS), 1);
  // Without a limit the committed count is the domain's thread count.
  ASSERT_EQ(DftiSet(h, DFTI_MAX_THREADS, int64_t{0}), 0);
  commit_ok(h);
  EXPECT_EQ(raw(h)->thread_count, tqs_domain_get_max_threads(2));
  EXPECT_GE(get64(h, DFTI_MAX_THREADS), 1);
  DftiRelease(&h);
}

TEST(Parameters, ReadOnlyLengthsKeepCommit) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  commit_ok(h);
  int64_t n = 12;
  EXPECT_EQ(DftiSet(h, DFTI_LENGTHS, &n), 3);
  EXPECT_EQ(DftiSet(h, DFTI_DIMENSION, n), 3);
  EXPECT_TRUE(committed(h)) << "lengths and dimension are refused before the setter";
  EXPECT_EQ(get64(h, DFTI_LENGTHS), 6);
  EXPECT_EQ(DftiSet(h, DFTI_FORWARD_DOMAIN, DFTI_REAL), 3);
  EXPECT_FALSE(committed(h));
  DftiRelease(&h);
}

TEST(Parameters, Scales) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  commit_ok(h);
  EXPECT_EQ(DftiSet(h, DFTI_FWD_SCALE, 1.0), 0);
  EXPECT_TRUE(committed(h)) << "the value already held keeps the plan";
  EXPECT_EQ(DftiSet(h, DFTI_BWD_SCALE, 0.25), 0);
  EXPECT_FALSE(committed(h));
  double f = 0, b = 0;
  EXPECT_EQ(DftiGet(h, DFTI_FWD_SCALE, &f), 0);
  EXPECT_EQ(DftiGet(h, DFTI_BWD_SCALE, &b), 0);
  EXPECT_EQ(f, 1.0);
  EXPECT_EQ(b, 0.25);
  commit_ok(h);
  EXPECT_EQ(raw(h)->active_backward_scale, 0.25);
  DftiRelease(&h);
}

TEST(Parameters, StridesRoundTripAndUncommit) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  commit_ok(h);
  const int64_t in[2] = {3, 2};
  ASSERT_EQ(DftiSet(h, DFTI_IN_STRIDES, in), 0);
  EXPECT_FALSE(committed(h));
  const int64_t out[2] = {5, 7};
  ASSERT_EQ(DftiSet(h, DFTI_OUT_STRIDES, out), 0);
  int64_t got[2] = {0, 0};
  ASSERT_EQ(DftiGet(h, DFTI_IN_STRIDES, got), 0);
  EXPECT_EQ(got[0], 3);
  EXPECT_EQ(got[1], 2);
  ASSERT_EQ(DftiGet(h, DFTI_OUT_STRIDES, got), 0);
  EXPECT_EQ(got[0], 5);
  EXPECT_EQ(got[1], 7);
  EXPECT_EQ(DftiSet(h, DFTI_IN_STRIDES, static_cast<int64_t*>(nullptr)), 3);
  DftiRelease(&h);
}

TEST(Parameters, Label) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  char out[16];
  std::memset(out, 'x', sizeof out);
  ASSERT_EQ(DftiGet(h, DFTI_LABEL, out), 0);
  EXPECT_EQ(std::string(out), "");
  ASSERT_EQ(DftiSet(h, DFTI_LABEL, "abcdefghijklmnop"), 0);
  std::memset(out, 'x', sizeof out);
  ASSERT_EQ(DftiGet(h, DFTI_LABEL, out), 0);
  EXPECT_EQ(std::string(out), "abcdefghi") << "ten bytes kept, the tenth read back as NUL";
  EXPECT_EQ(out[10], 'x') << "nothing beyond ten bytes is written";
  ASSERT_EQ(DftiSet(h, DFTI_LABEL, "ab"), 0);
  ASSERT_EQ(DftiGet(h, DFTI_LABEL, out), 0);
  EXPECT_EQ(std::string(out), "ab");
  DftiRelease(&h);
}

TEST(Compute, ArgumentCountAndUncommitted) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  double a = 0, b = 0;
  EXPECT_EQ(DftiForward(h, &a, &b), 2) << "never committed";
  ASSERT_EQ(DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
  commit_ok(h);
  EXPECT_EQ(DftiForward(h, &a, &b, &a, &b), 1100) << "out of place takes exactly two";
  EXPECT_EQ(DftiBackward(h, &a, &b), 1100);
  ASSERT_EQ(DftiSet(h, DFTI_PLACEMENT, DFTI_INPLACE), 0);
  EXPECT_EQ(DftiForward(h, &a), 2);
  commit_ok(h);
  EXPECT_EQ(DftiForward(h, &a, &b), 1000) << "in place takes one";
  EXPECT_EQ(DftiForward(h, nullptr), 2) << "a missing array is a bad argument";
  ASSERT_EQ(DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
  commit_ok(h);
  EXPECT_EQ(DftiBackward(h, &a, nullptr), 2);
  int64_t v;
  EXPECT_EQ(DftiGet(h, DFTI_PLACEMENT, static_cast<void*>(nullptr)), 3);
  EXPECT_EQ(DftiGet(h, DFTI_TRANSFORM_COUNT, &v), 0);
  DftiRelease(&h);
}

TEST(Commit, StrategyWalk) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 6);
  script(100, 0);
  EXPECT_EQ(DftiCommit(h), 0);
  EXPECT_EQ(calls[0], 1);
  EXPECT_EQ(calls[1], 1);

  script(0, 0);
  EXPECT_EQ(DftiCommit(h), 0);
  EXPECT_EQ(calls[1], 0) << "the first taker ends the walk";

  script(100, 100);
  EXPECT_EQ(DftiCommit(h), 3) << "nobody applies";
  script(101, 100);
  EXPECT_EQ(DftiCommit(h), 3);
  script(6, 100);
  EXPECT_EQ(DftiCommit(h), 3) << "an earlier failure is hidden by a later decline";
  script(100, 9);
  EXPECT_EQ(DftiCommit(h), 9) << "the last strategy's failure is reported";
  script(1, 0);
  EXPECT_EQ(DftiCommit(h), 0) << "a later taker wins over an earlier failure";
  DftiRelease(&h);
}

TEST(Commit, NoStrategyTakesAnythingYet) {
  // Whatever the level's lists hold, a commit that nobody takes answers 3 and
  // leaves the descriptor uncommitted.
  DftiHandle h = nullptr;
  ASSERT_EQ(DftiCreateDouble1D(&h, DFTI_REAL, int64_t{6}), 0);
  static const tqs::Strategy* const none[] = {nullptr};
  raw(h)->strategy_list = none;
  EXPECT_EQ(DftiCommit(h), 3);
  EXPECT_FALSE(committed(h));
  DftiRelease(&h);
}

TEST(Commit, RefreshesWorkingFields) {
  DftiHandle h = scripted_descriptor(DFTI_REAL, 10);
  ASSERT_EQ(DftiSet(h, DFTI_TRANSFORM_COUNT, int64_t{3}), 0);
  ASSERT_EQ(DftiSet(h, DFTI_IN_DISTANCE, int64_t{12}), 0);
  ASSERT_EQ(DftiSet(h, DFTI_OUT_DISTANCE, int64_t{14}), 0);
  const int64_t in[2] = {0, 1};
  ASSERT_EQ(DftiSet(h, DFTI_IN_STRIDES, in), 0);
  commit_ok(h);
  EngineDescriptor* d = raw(h);
  EXPECT_EQ(d->normalised_rank, 1);
  EXPECT_EQ(d->length, 10);
  EXPECT_EQ(d->number_of_transforms, 3);
  EXPECT_EQ(d->input_distance, 12);
  EXPECT_EQ(d->output_distance, 14);
  EXPECT_EQ(d->first_input_stride, 1);
  EXPECT_EQ(d->dynamic_threads, tqs_get_dynamic());
  DftiRelease(&h);
}

// Multi-axis shapes exist only inside the engine; build them through the
// level's own creation routine.
EngineDescriptor* engine_descriptor(int domain, std::initializer_list<int64_t> lengths) {
  EngineDescriptor* d = nullptr;
  const int64_t* data = lengths.begin();
  EXPECT_EQ(api().create_engine_descriptor(&d, DFTI_DOUBLE, domain, int(lengths.size()), data), 0);
  d->strategy_list = two_strategies;
  return d;
}

TEST(Commit, ComplexShapesAreReduced) {
  EngineDescriptor* d = engine_descriptor(DFTI_COMPLEX, {1, 5, 1});
  script(0, 0);
  ASSERT_EQ(d->methods->commit(d), 0);
  EXPECT_EQ(d->normalised_rank, 1);
  EXPECT_EQ(d->length, 5);
  d->destroy(d);

  d = engine_descriptor(DFTI_COMPLEX, {1, 1});
  ASSERT_EQ(d->methods->commit(d), 0);
  EXPECT_EQ(d->normalised_rank, 1);
  EXPECT_EQ(d->length, 1);
  d->destroy(d);

  // Real shapes keep their axes as configured.
  d = engine_descriptor(DFTI_REAL, {1, 5, 1});
  ASSERT_EQ(d->methods->commit(d), 0);
  EXPECT_EQ(d->normalised_rank, 3);
  d->destroy(d);
}

TEST(Commit, ComplexInPlaceIgnoresOutputStrides) {
  EngineDescriptor* d = engine_descriptor(DFTI_COMPLEX, {8});
  const int64_t out[2] = {0, 3};
  ASSERT_EQ(d->methods->set_output_strides(d, out), 0);
  script(0, 0);
  ASSERT_EQ(d->methods->commit(d), 0);
  EXPECT_EQ(d->first_output_stride, 1);
  d->placement = DFTI_NOT_INPLACE;
  ASSERT_EQ(d->methods->commit(d), 0);
  EXPECT_EQ(d->first_output_stride, 3);
  d->destroy(d);
}

TEST(Commit, SortsComplexAxesByInputStride) {
  EngineDescriptor* d = engine_descriptor(DFTI_COMPLEX, {4, 3});
  // Swap the natural strides: the axis of length 3 becomes the inner one.
  const int64_t strides[3] = {0, 3, 1};  // offset, record 0, record 1
  ASSERT_EQ(d->methods->set_input_strides(d, strides), 0);
  d->placement = DFTI_NOT_INPLACE;
  script(0, 0);
  ASSERT_EQ(d->methods->commit(d), 0);
  EXPECT_EQ(d->normalised_rank, 2);
  EXPECT_EQ(d->normalised_dims.records[0].length, 3);
  EXPECT_EQ(d->normalised_dims.records[1].length, 4);
  d->destroy(d);
}

TEST(Engine, CreationDefaultsAndCopy) {
  EngineDescriptor* d = nullptr;
  const int64_t bad[2] = {4, 0};
  EXPECT_EQ(api().create_engine_descriptor(&d, DFTI_DOUBLE, DFTI_REAL, 2, bad), 2);
  EXPECT_EQ(d, nullptr);
  d = engine_descriptor(DFTI_COMPLEX, {5, 7});
  EXPECT_EQ(d->dims.records[0].input_stride, 1);
  EXPECT_EQ(d->dims.records[0].output_stride, 1);
  EXPECT_EQ(d->dims.records[1].input_stride, 5);
  EXPECT_EQ(d->dims.records[1].output_stride, 5);
  double scale = 0;
  EXPECT_EQ(d->methods->get_scale(d, 7, &scale), 3);
  EXPECT_EQ(d->methods->set_scale(d, 2.0, 7), 3);

  script(0, 0);
  ASSERT_EQ(d->methods->commit(d), 0);
  EngineDescriptor* c = nullptr;
  ASSERT_EQ(d->methods->copy(d, &c), 0);
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c->dims.records, d->dims.records) << "lists are deep-copied";
  EXPECT_EQ(c->dims.records[1].length, 7);
  EXPECT_EQ(c->commit_status, DFTI_STATE_UNCOMMITTED) << "a copy owns no plan";
  EXPECT_EQ(c->compute_forward, nullptr);
  c->destroy(c);
  d->destroy(d);
}

}  // namespace

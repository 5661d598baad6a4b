// Complex transforms over several axes (reachable through the level's own
// creation call, which takes any rank): the axis chain, the scale applied
// once, batches of multi-axis transforms, in place and out of place.
#include "complex_harness.h"
#include "engine/descriptor.h"
#include "engine/level_api.h"
#include "service/tqs_service.h"

namespace {

using tqs::EngineDescriptor;

struct MultiAxis {
  EngineDescriptor* d = nullptr;
  explicit MultiAxis(const std::vector<int64_t>& innermost_first) {
    const tqs::LevelApi& api = tqs_test::level_api();
    EXPECT_EQ(0, api.create_engine_descriptor(&d, DFTI_DOUBLE, DFTI_COMPLEX,
                                              static_cast<int>(innermost_first.size()),
                                              innermost_first.data()));
    tqs_install_default_threading(d->threading);
    d->strategy_list = api.complex_strategies;
  }
  ~MultiAxis() { d->destroy(d); }
};

// Transform along one axis of a tight array, in long double.
void reference_axis(std::vector<double>& v, const std::vector<int64_t>& lengths, size_t axis,
                    int sign) {
  int64_t stride = 1;
  for (size_t k = 0; k < axis; ++k) stride *= lengths[k];
  const int64_t n = lengths[axis];
  int64_t total = 1;
  for (int64_t l : lengths) total *= l;
  std::vector<double> line(2 * n), out(2 * n);
  for (int64_t start = 0; start < total; ++start) {
    if ((start / stride) % n != 0) continue;
    for (int64_t j = 0; j < n; ++j) {
      line[2 * j] = v[2 * (start + j * stride)];
      line[2 * j + 1] = v[2 * (start + j * stride) + 1];
    }
    tqs_test::reference_complex(line.data(), out.data(), n, sign);
    for (int64_t j = 0; j < n; ++j) {
      v[2 * (start + j * stride)] = out[2 * j];
      v[2 * (start + j * stride) + 1] = out[2 * j + 1];
    }
  }
}

TEST(ComplexMultiAxis, TransformsEveryAxisAndScalesOnce) {
  const std::vector<std::vector<int64_t>> shapes = {
      {8, 6}, {5, 1, 7}, {16, 3, 4}, {1, 30}, {33, 2}, {3, 4, 5, 2}};
  int i = 0;
  for (const auto& shape : shapes) {
    for (bool inplace : {false, true}) {
      const int64_t count = 1 + i % 3;
      ++i;
      MultiAxis m(shape);
      int64_t total = 1;
      for (int64_t l : shape) total *= l;
      m.d->placement = inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE;
      m.d->methods->set_number_of_transforms(m.d, count);
      m.d->methods->set_input_distance(m.d, total);
      m.d->methods->set_output_distance(m.d, total);
      ASSERT_EQ(0, m.d->methods->set_scale(m.d, 0.5, DFTI_FWD_SCALE));
      ASSERT_EQ(0, m.d->methods->commit(m.d));
      EXPECT_STREQ("general", tqs_test::level_api().committed_strategy_name(m.d));

      std::vector<double> x = tqs_test::random_doubles(2 * total * count, 7 + i);
      std::vector<double> want = x;
      for (int64_t t = 0; t < count; ++t) {
        std::vector<double> v(want.begin() + 2 * t * total, want.begin() + 2 * (t + 1) * total);
        for (size_t a = 0; a < shape.size(); ++a) reference_axis(v, shape, a, -1);
        for (int64_t j = 0; j < 2 * total; ++j) want[2 * t * total + j] = 0.5 * v[j];
      }
      std::vector<double> y(x.size(), 0.0);
      double* out = inplace ? x.data() : y.data();
      const std::vector<double> input = x;
      ASSERT_EQ(0, m.d->compute_forward(m.d, x.data(), y.data(), nullptr, nullptr));
      EXPECT_LT(tqs_test::relative_rms_error(out, want.data(), (int64_t)want.size()),
                tqs_test::accuracy_bound(total))
          << i;
      if (!inplace) {
        EXPECT_EQ(input, x);
      }
      // Backward, unscaled: the input times total, times the forward 0.5.
      std::vector<double> back(x.size());
      ASSERT_EQ(0, m.d->compute_backward(m.d, out, inplace ? nullptr : back.data(), nullptr,
                                         nullptr));
      const double* b = inplace ? x.data() : back.data();
      std::vector<double> expect(input);
      for (auto& e : expect) e *= 0.5 * static_cast<double>(total);
      EXPECT_LT(tqs_test::relative_rms_error(b, expect.data(), (int64_t)expect.size()),
                2 * tqs_test::accuracy_bound(total))
          << i;
    }
  }
}

}  // namespace

namespace {

// Multi-axis batches on a team: whole transforms per thread, or (few large
// transforms, team at least twice the batch) every axis spread over the
// team; both give the single-thread bits.
TEST(ComplexMultiAxis, TeamsGiveTheSameBits) {
  struct Shape {
    std::vector<int64_t> lengths;
    int64_t count;
  } shapes[] = {{{512, 256}, 2}, {{64, 32, 16}, 1}, {{30, 20}, 9}, {{128, 8, 4, 2}, 2}};
  for (const Shape& s : shapes) {
    for (bool inplace : {false, true}) {
      int64_t total = 1;
      for (int64_t l : s.lengths) total *= l;
      const std::vector<double> x = tqs_test::random_doubles(2 * total * s.count, total);
      std::vector<double> want;
      for (int64_t threads : {1, 2, 4, 8}) {
        MultiAxis m(s.lengths);
        m.d->placement = inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE;
        m.d->methods->set_number_of_transforms(m.d, s.count);
        m.d->methods->set_input_distance(m.d, total);
        m.d->methods->set_output_distance(m.d, total);
        m.d->methods->set_thread_limit(m.d, threads);
        ASSERT_EQ(0, m.d->methods->commit(m.d));
        std::vector<double> a = x, b(x.size());
        ASSERT_EQ(0, m.d->compute_backward(m.d, a.data(), b.data(), nullptr, nullptr));
        const std::vector<double>& got = inplace ? a : b;
        if (threads == 1) {
          want = got;
        } else {
          EXPECT_EQ(want, got) << total << " threads " << threads;
        }
      }
    }
  }
}

}  // namespace

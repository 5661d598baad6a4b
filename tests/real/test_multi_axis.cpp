// Real transforms over several axes (reachable through the level's own
// creation call): CCE and half-spectrum layouts, in place and out of place,
// batches and teams, against FFTW's multi-dimensional real transforms; the
// packed layouts of one row are refused for several axes.
#include <cstring>

#include "engine/descriptor.h"
#include "engine/level_api.h"
#include "real_harness.h"
#include "service/tqs_service.h"
#include "support/reference.h"

namespace {

using tqs::EngineDescriptor;

struct MultiAxis {
  EngineDescriptor* d = nullptr;
  explicit MultiAxis(const std::vector<int64_t>& innermost_first) {
    const tqs::LevelApi& api = tqs_test::level_api();
    EXPECT_EQ(0, api.create_engine_descriptor(&d, DFTI_DOUBLE, DFTI_REAL,
                                              static_cast<int>(innermost_first.size()),
                                              innermost_first.data()));
    tqs_install_default_threading(d->threading);
    d->strategy_list = api.real_strategies;
  }
  ~MultiAxis() { d->destroy(d); }
  // Strides of one side, innermost first: unit along axis 0, rows 'pitch'
  // elements apart, further axes packed behind.
  void strides(bool input, int64_t pitch, const std::vector<int64_t>& lengths) {
    int64_t s = pitch;
    for (size_t k = 0; k < lengths.size(); ++k) {
      int64_t& field = input ? d->dims.records[k].input_stride : d->dims.records[k].output_stride;
      field = k == 0 ? 1 : s;
      if (k > 0) s *= lengths[k];
    }
  }
};

// FFTW takes the outermost axis first.
std::vector<int> fftw_dims(const std::vector<int64_t>& lengths) {
  return std::vector<int>(lengths.rbegin(), lengths.rend());
}

TEST(RealMultiAxis, AgreesWithFftw) {
  const std::vector<std::vector<int64_t>> shapes = {{8, 6}, {5, 7, 3}, {16, 4}, {9, 1, 4}, {6, 5, 4, 3}};
  int i = 0;
  for (const auto& shape : shapes) {
    for (bool cce : {true, false}) {
      for (bool inplace : {false, true}) {
        const int64_t n0 = shape[0], h0 = n0 / 2 + 1;
        int64_t rows = 1;
        for (size_t k = 1; k < shape.size(); ++k) rows *= shape[k];
        const int64_t count = 1 + i++ % 3;
        // Real rows padded to the spectrum's doubles in place; the spectrum's
        // strides count complex values with CCE storage, doubles otherwise.
        const int64_t real_pitch = inplace ? 2 * h0 : n0;
        const int64_t spectrum_pitch = cce ? h0 : 2 * h0;
        const int64_t real_dist = real_pitch * rows, spectrum_doubles = 2 * h0 * rows;
        // The descriptor's input side is the call's input: forward reads the
        // real rows through it, backward the spectrum.
        auto configure = [&](MultiAxis& m, bool forward) {
          m.d->placement = inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE;
          if (cce) m.d->conjugate_even_storage = DFTI_COMPLEX_COMPLEX;
          m.strides(forward, real_pitch, shape);
          m.strides(!forward, spectrum_pitch, shape);
          const int64_t spectrum_dist = cce ? h0 * rows : spectrum_doubles;
          m.d->methods->set_number_of_transforms(m.d, count);
          m.d->methods->set_input_distance(m.d, forward ? real_dist : spectrum_dist);
          m.d->methods->set_output_distance(m.d, forward ? spectrum_dist : real_dist);
          ASSERT_EQ(0, m.d->methods->set_scale(m.d, 0.25, DFTI_FWD_SCALE));
          ASSERT_EQ(0, m.d->methods->commit(m.d)) << i;
        };
        const int64_t real_size = real_dist * count, spec_size = spectrum_doubles * count;
        std::vector<double> x = tqs_test::random_doubles(std::max(real_size, spec_size), 11 + i);
        std::vector<double> want(spec_size);
        const std::vector<int> dims = fftw_dims(shape);
        for (int64_t t = 0; t < count; ++t) {
          std::vector<double> row_major(static_cast<size_t>(n0 * rows));
          for (int64_t r = 0; r < rows; ++r) {
            for (int64_t j = 0; j < n0; ++j) row_major[r * n0 + j] = x[t * real_dist + r * real_pitch + j];
          }
          fftw_plan p = fftw_plan_dft_r2c(static_cast<int>(dims.size()), dims.data(), row_major.data(),
                                          reinterpret_cast<fftw_complex*>(want.data() + t * spectrum_doubles),
                                          FFTW_ESTIMATE);
          fftw_execute(p);
          fftw_destroy_plan(p);
        }
        for (auto& v : want) v *= 0.25;
        std::vector<double> y(inplace ? 0 : spec_size);
        double* out = inplace ? x.data() : y.data();
        const std::vector<double> input = x;
        MultiAxis fwd(shape);
        configure(fwd, true);
        ASSERT_EQ(0, fwd.d->compute_forward(fwd.d, x.data(), y.data(), nullptr, nullptr));
        EXPECT_LT(tqs_test::relative_rms_error(out, want.data(), spec_size),
                  tqs_test::accuracy_bound(n0 * rows))
            << i;
        if (!inplace) {
          EXPECT_EQ(input, x);
        }

        // Backward of that spectrum: the input times n0 * rows * 0.25 (real
        // parts only; the padding of the rows in place is not compared).
        std::vector<double> spectrum(out, out + spec_size);
        std::vector<double> back(inplace ? 0 : real_size);
        double* b = inplace ? spectrum.data() : back.data();
        MultiAxis bwd(shape);
        configure(bwd, false);
        ASSERT_EQ(0, bwd.d->compute_backward(bwd.d, spectrum.data(), back.data(), nullptr, nullptr));
        const double factor = 0.25 * static_cast<double>(n0 * rows);
        std::vector<double> got, expect;
        for (int64_t t = 0; t < count; ++t) {
          for (int64_t r = 0; r < rows; ++r) {
            for (int64_t j = 0; j < n0; ++j) {
              got.push_back(b[t * real_dist + r * real_pitch + j]);
              expect.push_back(input[t * real_dist + r * real_pitch + j] * factor);
            }
          }
        }
        EXPECT_LT(tqs_test::relative_rms_error(got.data(), expect.data(), (int64_t)got.size()),
                  2 * tqs_test::accuracy_bound(n0 * rows))
            << i;
      }
    }
  }
}

TEST(RealMultiAxis, PackedRowLayoutsAreNotImplemented) {
  for (int packing : {DFTI_PACKING_PERMUTED, DFTI_PACKING_SEQUENTIAL}) {
    MultiAxis m({8, 4});
    m.d->packed_format = packing;
    const tqs::Strategy* general[] = {tqs_test::level_api().find_strategy("general"), nullptr};
    m.d->strategy_list = general;
    EXPECT_EQ(DFTI_STATUS_NOT_IMPLEMENTED, m.d->methods->commit(m.d));
  }
}

// Batches of multi-axis transforms on a team: the single-thread bits.
TEST(RealMultiAxis, TeamsGiveTheSameBits) {
  const std::vector<int64_t> shape = {64, 32};
  const int64_t count = 6, real_dist = 64 * 32, spectrum_dist = 33 * 32;
  const std::vector<double> x = tqs_test::random_doubles(real_dist * count, 5);
  std::vector<double> want;
  for (int64_t threads : {1, 2, 4}) {
    MultiAxis m(shape);
    m.d->placement = DFTI_NOT_INPLACE;
    m.d->conjugate_even_storage = DFTI_COMPLEX_COMPLEX;
    m.strides(true, 64, shape);
    m.strides(false, 33, shape);
    m.d->methods->set_number_of_transforms(m.d, count);
    m.d->methods->set_input_distance(m.d, real_dist);
    m.d->methods->set_output_distance(m.d, spectrum_dist);
    m.d->methods->set_thread_limit(m.d, threads);
    ASSERT_EQ(0, m.d->methods->commit(m.d));
    std::vector<double> a = x, y(2 * spectrum_dist * count);
    ASSERT_EQ(0, m.d->compute_forward(m.d, a.data(), y.data(), nullptr, nullptr));
    if (threads == 1) {
      want = y;
    } else {
      EXPECT_EQ(want, y) << threads;
    }
  }
}

}  // namespace

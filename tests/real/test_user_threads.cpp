// Several user threads computing on one committed descriptor: each call
// takes a slot of the descriptor's slot table and works in that slot's part
// of the work buffer; with every slot busy a call answers 8.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/descriptor.h"
#include "real_harness.h"

namespace {

tqs::EngineDescriptor* engine(DftiHandle h) { return reinterpret_cast<tqs::EngineDescriptor*>(h); }

struct Job {
  std::vector<double> x, spectrum;
};

// Per-thread inputs with their FFTW spectra (FFTW planning is not thread-safe,
// so every reference is made before the threads start).
std::vector<Job> make_jobs(int count, int64_t n) {
  std::vector<Job> jobs(static_cast<size_t>(count));
  for (int t = 0; t < count; ++t) {
    jobs[t].x.resize(static_cast<size_t>(n));
    for (int64_t j = 0; j < n; ++j) jobs[t].x[j] = std::sin(0.37 * (j + 1) * (t + 1)) + 0.01 * t;
    jobs[t].spectrum = real_test::fftw_forward(jobs[t].x);
  }
  return jobs;
}

// Forward and back (with 1/n) again and again; answers the number of calls
// refused with 8, and fails on any other status or a wrong result.
int hammer(DftiHandle h, const Job& job, int64_t n, int rounds, std::atomic<int>* failures) {
  int refused = 0;
  std::vector<double> spectrum(static_cast<size_t>(n + 2)), back(static_cast<size_t>(n));
  for (int r = 0; r < rounds; ++r) {
    long s = DftiForward(h, const_cast<double*>(job.x.data()), spectrum.data());
    if (s == DFTI_STATUS_USER_THREADS) { ++refused; continue; }
    if (s != 0) { ++*failures; continue; }
    for (size_t k = 0; k < job.spectrum.size(); ++k) {
      if (std::fabs(spectrum[k] - job.spectrum[k]) > 1e-10) { ++*failures; break; }
    }
    s = DftiBackward(h, spectrum.data(), back.data());
    if (s == DFTI_STATUS_USER_THREADS) { ++refused; continue; }
    if (s != 0) { ++*failures; continue; }
    for (int64_t j = 0; j < n; ++j) {
      if (std::fabs(back[j] - job.x[j]) > 1e-12) { ++*failures; break; }
    }
  }
  return refused;
}

// Distances belong to the call's input and output: a batched backward call
// needs the spectrum's distance on its input side.
DftiHandle shared_descriptor(int64_t n, int64_t users, int64_t count = 1, bool backward = false) {
  DftiHandle h = nullptr;
  EXPECT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n));
  EXPECT_EQ(0, DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
  EXPECT_EQ(0, DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
  EXPECT_EQ(0, DftiSet(h, DFTI_BWD_SCALE, 1.0 / static_cast<double>(n)));
  EXPECT_EQ(0, DftiSet(h, DFTI_NUMBER_OF_USER_THREADS, users));
  if (count > 1) {
    EXPECT_EQ(0, DftiSet(h, DFTI_TRANSFORM_COUNT, count));
    EXPECT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, backward ? n / 2 + 1 : n));
    EXPECT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, backward ? n : n / 2 + 1));
  }
  EXPECT_EQ(0, DftiCommit(h));
  return h;
}

// Lengths whose plans need work space, so that sharing one would show.
const int64_t kLengths[] = {34, 97, 1000, 4099};

TEST(RealUserThreads, AsManyThreadsAsSlotsAllSucceed) {
  for (int64_t n : kLengths) {
    const int threads = 4;
    DftiHandle h = shared_descriptor(n, threads);
    auto jobs = make_jobs(threads, n);
    std::atomic<int> failures{0}, refused{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] { refused += hammer(h, jobs[t], n, 100, &failures); });
    }
    for (auto& th : pool) th.join();
    EXPECT_EQ(0, failures.load()) << n;
    EXPECT_EQ(0, refused.load()) << n;
    for (int s = 0; s < threads; ++s) EXPECT_EQ(0, engine(h)->user_thread_slots[s]) << "slot returned";
    DftiRelease(&h);
  }
}

// More threads than slots: a call either computes correctly or answers 8.
TEST(RealUserThreads, MoreThreadsThanSlotsComputeOrAnswer8) {
  const int64_t n = 97;
  DftiHandle h = shared_descriptor(n, 2);
  auto jobs = make_jobs(6, n);
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < 6; ++t) pool.emplace_back([&, t] { hammer(h, jobs[t], n, 100, &failures); });
  for (auto& th : pool) th.join();
  EXPECT_EQ(0, failures.load());
  DftiRelease(&h);
}

// Deterministic: the slots are held as if two computes were in flight.
TEST(RealUserThreads, EveryBusySlotGives8AndAFreedSlotIsUsed) {
  const int64_t n = 100;
  DftiHandle h = shared_descriptor(n, 2);
  int64_t* slots = engine(h)->user_thread_slots;
  ASSERT_NE(nullptr, slots);
  auto jobs = make_jobs(1, n);
  std::vector<double> spectrum(static_cast<size_t>(n + 2)), back(static_cast<size_t>(n));
  slots[0] = slots[1] = 1;
  EXPECT_EQ(DFTI_STATUS_USER_THREADS, DftiForward(h, jobs[0].x.data(), spectrum.data()));
  EXPECT_EQ(DFTI_STATUS_USER_THREADS, DftiBackward(h, spectrum.data(), back.data()));
  slots[1] = 0;
  EXPECT_EQ(0, DftiForward(h, jobs[0].x.data(), spectrum.data()));
  EXPECT_EQ(1, slots[0]);
  EXPECT_EQ(0, slots[1]);
  for (size_t k = 0; k < jobs[0].spectrum.size(); ++k) EXPECT_NEAR(jobs[0].spectrum[k], spectrum[k], 1e-11);
  slots[0] = 0;
  DftiRelease(&h);
}

TEST(RealUserThreads, BatchesPerThread) {
  const int64_t n = 60, count = 3;
  const int threads = 3;
  DftiHandle h = shared_descriptor(n, threads, count);
  DftiHandle hb = shared_descriptor(n, threads, count, true);
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      std::vector<double> x(static_cast<size_t>(n * count)), y(static_cast<size_t>((n + 2) * count));
      std::vector<double> z(x.size());
      for (size_t i = 0; i < x.size(); ++i) x[i] = std::cos(0.1 * i * (t + 1));
      for (int r = 0; r < 30; ++r) {
        if (DftiForward(h, x.data(), y.data()) != 0 || DftiBackward(hb, y.data(), z.data()) != 0) {
          ++failures;
          continue;
        }
        for (size_t i = 0; i < x.size(); ++i) {
          if (std::fabs(x[i] - z[i]) > 1e-12) { ++failures; break; }
        }
      }
    });
  }
  for (auto& th : pool) th.join();
  EXPECT_EQ(0, failures.load());
  DftiRelease(&h);
  DftiRelease(&hb);
}

// One user thread keeps the direct path and needs no slot table.
TEST(RealUserThreads, OneUserHasNoSlotTable) {
  DftiHandle h = shared_descriptor(50, 1);
  EXPECT_EQ(nullptr, engine(h)->user_thread_slots);
  DftiRelease(&h);
}

}  // namespace

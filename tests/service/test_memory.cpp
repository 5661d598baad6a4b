// Memory manager: alignment, the per-thread block cache and its limits,
// frees from foreign threads, direct and zeroed blocks, the switches.
//
// Each cache scenario runs on a fresh thread so that it starts with an empty
// record (records are per operating-system thread and live for the process).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "probe_runner.h"
#include "service/memory_internal.h"
#include "service/tqs_service.h"

namespace {

template <typename F>
void on_fresh_thread(F f) {
  std::thread t(f);
  t.join();
}

uint64_t direct_blocks() {
  uint64_t bytes, blocks;
  tqs::mm_direct_totals(&bytes, &blocks);
  return blocks;
}

bool aligned(const void* p, uintptr_t a) { return reinterpret_cast<uintptr_t>(p) % a == 0; }

// Counts system allocations and releases; fills new blocks with garbage.
std::atomic<int> system_allocations{0};
std::atomic<int> system_releases{0};
std::atomic<bool> refuse{false};
void* counting_allocate(size_t n) {
  if (refuse) return nullptr;
  system_allocations++;
  void* p = malloc(n);
  if (p != nullptr) memset(p, 0xA5, n < 65536 ? n : 65536);
  return p;
}
void counting_release(void* p) {
  system_releases++;
  free(p);
}

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(tqs::mm_cache_enabled(), 1) << "the cache is switched off in this environment";
    tqs::mm_set_system_allocator(counting_allocate, counting_release);
    system_allocations = 0;
    system_releases = 0;
    refuse = false;
  }
  void TearDown() override {
    refuse = false;
    tqs::mm_set_system_allocator(nullptr, nullptr);
  }
};

TEST_F(MemoryTest, EffectiveAlignment) {
  on_fresh_thread([] {
    const struct {
      int requested;
      uintptr_t effective;
    } cases[] = {{0, 64},  {16, 64},   {63, 64},     {96, 64},          {-64, 64},
                 {64, 64}, {128, 128}, {4096, 4096}, {1 << 20, 1 << 20}};
    for (const auto& c : cases) {
      std::vector<void*> blocks = {tqs_mm_allocate(100, c.requested),
                                   tqs_mm_allocate_direct(100, c.requested),
                                   tqs_mm_calloc(10, 10, c.requested)};
      for (void* p : blocks) {
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(aligned(p, c.effective)) << c.requested << " " << p;
        memset(p, 1, 100);
      }
      tqs_mm_free(blocks[0]);
      tqs_mm_free_direct(blocks[1]);
      tqs_mm_free(blocks[2]);  // a direct block may also go through the cached free
    }
  });
}

TEST_F(MemoryTest, EmptyRequests) {
  on_fresh_thread([] {
    uint64_t before = direct_blocks();
    EXPECT_EQ(tqs_mm_allocate(0, 64), nullptr);
    EXPECT_EQ(tqs_mm_allocate_direct(0, 64), nullptr);
    EXPECT_EQ(tqs_mm_calloc(0, 8, 64), nullptr);
    EXPECT_EQ(tqs_mm_calloc(8, 0, 64), nullptr);
    EXPECT_EQ(tqs_mm_calloc(uint64_t{1} << 33, uint64_t{1} << 33, 64), nullptr);
    EXPECT_EQ(tqs_mm_allocate_direct(~uint64_t{0} - 8, 64), nullptr);
    EXPECT_EQ(tqs_mm_scratch_allocate(0), nullptr);
    EXPECT_EQ(tqs_mm_scratch_allocate(-5), nullptr);
    tqs_mm_free(nullptr);
    tqs_mm_free_direct(nullptr);
    tqs_mm_scratch_free(nullptr);
    EXPECT_EQ(system_allocations, 0);
    EXPECT_EQ(system_releases, 0);
    EXPECT_EQ(direct_blocks(), before);
  });
}

TEST_F(MemoryTest, SameSizeComesBackWithoutTheSystem) {
  on_fresh_thread([] {
    void* first = tqs_mm_allocate(1000, 256);
    int after_first = system_allocations;
    tqs_mm_free(first);
    for (int i = 0; i < 10; ++i) {
      void* again = tqs_mm_allocate(1000, 256);
      EXPECT_EQ(again, first);
      tqs_mm_free(again);
    }
    EXPECT_EQ(system_allocations, after_first);
    EXPECT_EQ(system_releases, 0);

    // First fit: a smaller request takes the cached larger block.
    void* smaller = tqs_mm_allocate(500, 256);
    EXPECT_EQ(smaller, first);
    tqs_mm_free(smaller);
    // With another alignment the same block is lent, aligned anew.
    smaller = tqs_mm_allocate(700, 64);
    EXPECT_EQ(system_allocations, after_first);
    EXPECT_LE(static_cast<char*>(smaller), static_cast<char*>(first));
    EXPECT_LT(static_cast<char*>(first) - static_cast<char*>(smaller), 256);
    // Meanwhile a second request needs a new slot.
    void* other = tqs_mm_allocate(1000, 256);
    EXPECT_NE(other, first);
    EXPECT_TRUE(aligned(other, 256));
    tqs_mm_free(smaller);
    tqs_mm_free(other);
    EXPECT_EQ(system_releases, 0);
  });
}

TEST_F(MemoryTest, LargestCachedSize) {
  on_fresh_thread([] {
    const uint64_t limit = uint64_t{1} << 27;
    uint64_t before = direct_blocks();
    void* at_limit = tqs_mm_allocate(limit, 64);
    ASSERT_NE(at_limit, nullptr);
    EXPECT_EQ(direct_blocks(), before);
    tqs_mm_free(at_limit);
    EXPECT_EQ(tqs_mm_allocate(limit, 64), at_limit);
    tqs_mm_free(at_limit);

    void* beyond = tqs_mm_allocate(limit + 1, 64);
    ASSERT_NE(beyond, nullptr);
    EXPECT_EQ(direct_blocks(), before + 1);
    tqs_mm_free(beyond);
    EXPECT_EQ(direct_blocks(), before);
  });
}

TEST_F(MemoryTest, SixthBlockIsDirect) {
  on_fresh_thread([] {
    void* held[5];
    for (int i = 0; i < 5; ++i) held[i] = tqs_mm_allocate(256 * (i + 1), 64);
    uint64_t before = direct_blocks();
    int releases = system_releases;
    void* sixth = tqs_mm_allocate(64, 64);
    ASSERT_NE(sixth, nullptr);
    EXPECT_EQ(direct_blocks(), before + 1);
    tqs_mm_free(sixth);
    EXPECT_EQ(direct_blocks(), before);
    EXPECT_EQ(system_releases, releases + 1);
    for (void* p : held) tqs_mm_free(p);
    // All five are cached again: a new request of the second size is an exact fit.
    EXPECT_EQ(tqs_mm_allocate(512, 64), held[1]);
    tqs_mm_free(held[1]);
  });
}

TEST_F(MemoryTest, SmallFreeSlotIsRecycledOnlyWhenAllAreFilled) {
  on_fresh_thread([] {
    void* held[5];
    for (int i = 0; i < 4; ++i) held[i] = tqs_mm_allocate(100 * (i + 1), 64);
    for (int i = 0; i < 4; ++i) tqs_mm_free(held[i]);
    // Four small free slots: a larger request adds a fifth slot.
    held[4] = tqs_mm_allocate(5000, 64);
    EXPECT_EQ(system_releases, 0);
    tqs_mm_free(held[4]);
    // Five filled, all free; a request larger than all of them recycles the
    // first smaller one (slot 0 holds the 100-byte block).
    int allocations = system_allocations;
    void* big = tqs_mm_allocate(10000, 64);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(system_releases, 1);
    EXPECT_EQ(system_allocations, allocations + 1);
    memset(big, 0, 10000);
    // The other slots are untouched.
    EXPECT_EQ(tqs_mm_allocate(200, 64), held[1]);
    EXPECT_EQ(tqs_mm_allocate(5000, 64), held[4]);
    tqs_mm_free(held[1]);
    tqs_mm_free(held[4]);
    tqs_mm_free(big);
    EXPECT_EQ(tqs_mm_allocate(10000, 64), big);
    tqs_mm_free(big);
  });
}

TEST_F(MemoryTest, ForeignFreeReturnsToTheOwner) {
  void* block = nullptr;
  std::atomic<int> step{0};
  std::thread owner([&] {
    block = tqs_mm_allocate(3000, 64);
    memset(block, 1, 3000);
    step = 1;
    while (step != 2) std::this_thread::yield();
    // Back in the owner's cache, with no system call.
    int allocations = system_allocations;
    void* again = tqs_mm_allocate(3000, 64);
    EXPECT_EQ(again, block);
    EXPECT_EQ(system_allocations, allocations);
    tqs_mm_free(again);
  });
  while (step != 1) std::this_thread::yield();
  std::thread other([&] {
    memset(block, 2, 3000);
    tqs_mm_free(block);
    // Not this thread's block: its own cache does not lend it.
    void* mine = tqs_mm_allocate(3000, 64);
    EXPECT_NE(mine, block);
    tqs_mm_free(mine);
  });
  other.join();
  EXPECT_EQ(system_releases, 0);
  step = 2;
  owner.join();
}

// A forked child's thread is a new thread with a record of its own, even
// though it inherits the parent's thread table.
TEST_F(MemoryTest, ForkedChildGetsItsOwnCache) {
  on_fresh_thread([] {
    void* held[5];
    for (void*& p : held) p = tqs_mm_allocate(1000, 64);
    pid_t pid = fork();
    if (pid == 0) {
      uint64_t before = direct_blocks();
      void* p = tqs_mm_allocate(1000, 64);
      bool cached = p != nullptr && direct_blocks() == before;
      tqs_mm_free(p);
      _exit(cached ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (void* p : held) tqs_mm_free(p);
  });
}

TEST_F(MemoryTest, DirectAndZeroedBlocks) {
  uint64_t before = direct_blocks();
  void* d = tqs_mm_allocate_direct(1000, 128);
  ASSERT_NE(d, nullptr);
  auto* z = static_cast<unsigned char*>(tqs_mm_calloc(100, 33, 64));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 3300; ++i) ASSERT_EQ(z[i], 0) << i;
  EXPECT_EQ(direct_blocks(), before + 2);
  tqs_mm_free_direct(d);
  tqs_mm_free_direct(z);
  EXPECT_EQ(direct_blocks(), before);
  EXPECT_EQ(system_releases, 2);

  auto* s = static_cast<unsigned char*>(tqs_mm_scratch_allocate(77));
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(aligned(s, 32));
  memset(s, 3, 77);
  tqs_mm_scratch_free(s);
  EXPECT_EQ(system_releases, 3);
}

TEST_F(MemoryTest, RefusedSystemMemoryYieldsNull) {
  on_fresh_thread([] {
    refuse = true;
    EXPECT_EQ(tqs_mm_allocate(100, 64), nullptr);  // no record could be made
    EXPECT_EQ(tqs_mm_allocate_direct(100, 64), nullptr);
    EXPECT_EQ(tqs_mm_calloc(1, 100, 64), nullptr);
    EXPECT_EQ(tqs_mm_scratch_allocate(100), nullptr);
    refuse = false;
    void* first = tqs_mm_allocate(100, 64);  // the record is made now
    ASSERT_NE(first, nullptr);
    refuse = true;
    EXPECT_EQ(tqs_mm_allocate(200, 64), nullptr);  // a new slot cannot be filled
    refuse = false;
    void* second = tqs_mm_allocate(200, 64);
    EXPECT_NE(second, nullptr);
    tqs_mm_free(first);
    tqs_mm_free(second);
  });
}

// Several threads allocating and freeing each other's blocks, for the race
// detectors.
TEST_F(MemoryTest, ConcurrentTraffic) {
  constexpr int THREADS = 6, ROUNDS = 300;
  std::vector<std::atomic<void*>> mailbox(THREADS);
  for (auto& m : mailbox) m = nullptr;
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < ROUNDS; ++r) {
        size_t size = 64 + ((r * 37 + t * 11) % 7) * 500;
        auto* p = static_cast<unsigned char*>(tqs_mm_allocate(size, r % 2 ? 64 : 4096));
        ASSERT_NE(p, nullptr);
        memset(p, t, size);
        // Hand it to the next thread; free whatever the previous one left.
        void* left = mailbox[(t + 1) % THREADS].exchange(p);
        tqs_mm_free(left);
        void* own = tqs_mm_allocate(100, 64);
        tqs_mm_free(own);
      }
    });
  }
  for (auto& t : threads) t.join();
  for (auto& m : mailbox) tqs_mm_free(m.exchange(nullptr));
}

TEST(GlobalLock, MutualExclusion) {
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        tqs_global_lock();
        counter = counter + 1;
        tqs_global_unlock();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
}

TEST(MemorySwitches, ReadOncePerProcess) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  using tqs_test::field;
  using tqs_test::run_probe;
  auto cache_of = [](std::vector<std::string> env) {
    auto r = run_probe({"mm"}, env);
    EXPECT_EQ(r.exit_code, 0);
    return field(r.output, "mm_cache") + "/" + field(r.output, "direct_held") + "/" +
           field(r.output, "direct_released");
  };
  EXPECT_EQ(cache_of({}), "1/0/0");
  EXPECT_EQ(cache_of({"TQS_MM_DISABLE="}), "1/0/0");
  EXPECT_EQ(cache_of({"TQS_MM_DISABLE=0"}), "0/1/1");
  EXPECT_EQ(cache_of({"TQS_DISABLE_FAST_MM=no"}), "0/1/1");
  EXPECT_EQ(cache_of({"TQS_DISABLE_FAST_MM=", "TQS_MM_DISABLE=false"}), "0/1/1");
  EXPECT_EQ(cache_of({"TQS_MM_DISABLE=" + std::string(40, 'x')}), "0/1/1");
}

TEST(MemoryThreadTable, ThreadsBeyondTheTableAreServedDirectly) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  auto r = tqs_test::run_probe({"manythreads"}, {});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "served=1030 late_direct=1 released=1\n");
}

}  // namespace

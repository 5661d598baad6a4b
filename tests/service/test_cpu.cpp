// Processor level, branch pinning and cache table, with a simulated
// processor behind the CPUID/XGETBV hooks.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "probe_runner.h"
#include "service/tqs_service.h"

namespace {

struct FakeCpu {
  char vendor[13] = "GenuineTavix";
  uint32_t max_leaf = 13;
  uint32_t ecx1 = 0;
  uint32_t edx1 = 0;
  uint32_t ebx1 = 0;
  uint32_t ebx7 = 0;
  uint32_t ecx_ext = 0;
  uint64_t xcr0 = 0;
  std::vector<std::array<uint32_t, 3>> leaf4;  // {eax, ebx, ecx}
};

FakeCpu fake;

void fake_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t* a, uint32_t* b, uint32_t* c,
                uint32_t* d) {
  *a = *b = *c = *d = 0;
  switch (leaf) {
    case 0:
      *a = fake.max_leaf;
      memcpy(b, fake.vendor, 4);
      memcpy(d, fake.vendor + 4, 4);
      memcpy(c, fake.vendor + 8, 4);
      break;
    case 1:
      *b = fake.ebx1;
      *c = fake.ecx1;
      *d = fake.edx1;
      break;
    case 4:
      if (subleaf < fake.leaf4.size()) {
        *a = fake.leaf4[subleaf][0];
        *b = fake.leaf4[subleaf][1];
        *c = fake.leaf4[subleaf][2];
      }
      break;
    case 7:
      if (subleaf == 0) *b = fake.ebx7;
      break;
    case 0x80000001u:
      *c = fake.ecx_ext;
      break;
  }
}

uint64_t fake_xgetbv(uint32_t reg) { return reg == 0 ? fake.xcr0 : 0; }

constexpr uint32_t bit(int n) { return uint32_t{1} << n; }

// Feature bits exactly as the detection reads them, for each level.
FakeCpu processor_of_level(int level) {
  FakeCpu cpu;
  if (level >= 1) cpu.ecx1 |= bit(0);
  if (level >= 2) cpu.ecx1 |= bit(9) | bit(19);
  if (level >= 3) cpu.ecx1 |= bit(20);
  if (level >= 4) {
    cpu.ecx1 |= bit(27) | bit(28);
    cpu.xcr0 = 7;
  }
  if (level >= 5) {
    cpu.ecx1 |= bit(12) | bit(25);
    cpu.ecx_ext |= bit(5);
    cpu.ebx7 |= bit(3) | bit(5) | bit(8);
  }
  return cpu;
}

// One leaf-4 entry: type, ways, partitions, line size, sets.
std::array<uint32_t, 3> cache_entry(uint32_t type, uint32_t ways, uint32_t partitions,
                                    uint32_t line, uint32_t sets) {
  return {type | (1u << 5), ((ways - 1) << 22) | ((partitions - 1) << 12) | (line - 1), sets - 1};
}

class CpuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"TQS_DEBUG_CPU_TYPE", "TQS_CBWR"}) {
      const char* v = getenv(name);
      saved_.push_back(v != nullptr ? std::string(v) : std::string("\x01"));
      unsetenv(name);
    }
    tqs_set_cpuid_hooks(fake_cpuid, fake_xgetbv);
  }
  void TearDown() override {
    const char* names[] = {"TQS_DEBUG_CPU_TYPE", "TQS_CBWR"};
    for (int i = 0; i < 2; ++i) {
      if (saved_[i] == "\x01") {
        unsetenv(names[i]);
      } else {
        setenv(names[i], saved_[i].c_str(), 1);
      }
    }
    tqs_set_cpuid_hooks(nullptr, nullptr);
    tqs_reset_cpu_state();
  }

  // The level chosen for `cpu` with the given variables (null = absent).
  int level_for(const FakeCpu& cpu, const char* debug, const char* cbwr) {
    fake = cpu;
    set_or_unset("TQS_DEBUG_CPU_TYPE", debug);
    set_or_unset("TQS_CBWR", cbwr);
    tqs_reset_cpu_state();
    return tqs_cpu_level();
  }

  static void set_or_unset(const char* name, const char* value) {
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }

  std::vector<std::string> saved_;
};

TEST_F(CpuTest, HardwareLevelFollowsFeatureBits) {
  for (int level = 0; level <= 5; ++level) {
    EXPECT_EQ(level_for(processor_of_level(level), nullptr, nullptr), level) << level;
  }
  // SSE4.1 without SSE4.2 stays at the SSSE3 level.
  FakeCpu sse41 = processor_of_level(2);
  EXPECT_EQ(level_for(sse41, nullptr, nullptr), 2);

  FakeCpu no_os_support = processor_of_level(5);
  no_os_support.ecx1 &= ~bit(27);
  EXPECT_EQ(level_for(no_os_support, nullptr, nullptr), 3);

  FakeCpu no_avx_state = processor_of_level(5);
  no_avx_state.xcr0 = 3;  // SSE state only
  EXPECT_EQ(level_for(no_avx_state, nullptr, nullptr), 3);

  FakeCpu no_avx = processor_of_level(5);
  no_avx.ecx1 &= ~bit(28);
  EXPECT_EQ(level_for(no_avx, nullptr, nullptr), 3);

  // Each missing piece of the top level leaves AVX.
  auto drop = [&](uint32_t FakeCpu::*field, int n) {
    FakeCpu cpu = processor_of_level(5);
    cpu.*field &= ~bit(n);
    return level_for(cpu, nullptr, nullptr);
  };
  EXPECT_EQ(drop(&FakeCpu::ecx1, 12), 4);    // FMA
  EXPECT_EQ(drop(&FakeCpu::ecx1, 25), 4);    // AES
  EXPECT_EQ(drop(&FakeCpu::ecx_ext, 5), 4);  // LZCNT
  EXPECT_EQ(drop(&FakeCpu::ebx7, 5), 4);     // AVX2
  EXPECT_EQ(drop(&FakeCpu::ebx7, 3), 4);     // BMI1
  EXPECT_EQ(drop(&FakeCpu::ebx7, 8), 4);     // BMI2
}

TEST_F(CpuTest, OtherVendorsRunTheBaseLevel) {
  FakeCpu other = processor_of_level(5);
  memcpy(other.vendor, "AuthenticAMD", 12);
  EXPECT_EQ(level_for(other, nullptr, nullptr), 0);
  EXPECT_FALSE(tqs_vendor_is_maker());
  EXPECT_EQ(level_for(other, nullptr, "AUTO"), 0);
  EXPECT_EQ(level_for(other, nullptr, "SSE3"), 0);
  EXPECT_EQ(level_for(other, nullptr, "COMPATIBLE"), 0);
  EXPECT_EQ(level_for(other, "4", nullptr), 4);

  FakeCpu near_miss = processor_of_level(5);
  memcpy(near_miss.vendor, "GenuineTaviX", 12);
  EXPECT_EQ(level_for(near_miss, nullptr, nullptr), 0);
  EXPECT_EQ(level_for(processor_of_level(5), nullptr, nullptr), 5);
  EXPECT_TRUE(tqs_vendor_is_maker());
}

TEST_F(CpuTest, DebugCpuTypeForcesALevel) {
  FakeCpu sse2 = processor_of_level(0);
  EXPECT_EQ(level_for(sse2, "5", nullptr), 5);  // trusted without a feature check
  EXPECT_EQ(level_for(sse2, "0", nullptr), 0);
  EXPECT_EQ(level_for(sse2, "3abc", nullptr), 3);
  FakeCpu avx2 = processor_of_level(5);
  EXPECT_EQ(level_for(avx2, "0", nullptr), 0);
  for (const char* ignored : {"9", "6", "-1", "00", " 0", "", "abc", "+0"}) {
    EXPECT_EQ(level_for(avx2, ignored, nullptr), 5) << '"' << ignored << '"';
  }
  // A value that does not fit the 32-byte buffer is ignored whole.
  std::string long_value = "2" + std::string(40, ' ');
  EXPECT_EQ(level_for(avx2, long_value.c_str(), nullptr), 5);
  // Precedence over a pinned branch.
  EXPECT_EQ(level_for(avx2, "1", "AVX"), 1);
  EXPECT_EQ(level_for(sse2, "4", "COMPATIBLE"), 4);
}

TEST_F(CpuTest, BranchPinsALevelUpToTheHardware) {
  FakeCpu avx2 = processor_of_level(5);
  FakeCpu sse42 = processor_of_level(3);
  EXPECT_EQ(level_for(avx2, nullptr, "AVX"), 4);
  EXPECT_EQ(level_for(avx2, nullptr, "BRANCH=AVX"), 4);
  EXPECT_EQ(level_for(sse42, nullptr, "AVX"), 3);
  EXPECT_EQ(level_for(sse42, nullptr, "BRANCH=AVX"), 3);
  const struct {
    const char* value;
    int level;
  } pins[] = {{"COMPATIBLE", 0}, {"SSE2", 0}, {"SSE3", 1}, {"SSSE3", 2}, {"SSE4_1", 2},
              {"SSE4_2", 3},     {"AVX", 4},  {"AVX2", 5}, {"AUTO", 5}};
  for (const auto& pin : pins)
    EXPECT_EQ(level_for(avx2, nullptr, pin.value), pin.level) << pin.value;
  for (const char* automatic : {"avx", "AVX512", "BRANCH=", "BRANCH=avx", " AVX", "branch=AVX"}) {
    EXPECT_EQ(level_for(avx2, nullptr, automatic), 5) << automatic;
  }
}

TEST_F(CpuTest, BranchCodes) {
  fake = processor_of_level(5);
  tqs_reset_cpu_state();
  EXPECT_EQ(tqs_cbwr_branch(-1), 0);
  EXPECT_EQ(tqs_cbwr_branch(1), 1);
  EXPECT_EQ(tqs_cbwr_branch(0), -2);
  EXPECT_EQ(tqs_cbwr_branch(2), -2);

  const struct {
    const char* value;
    int code;
  } codes[] = {{"AUTO", 2},  {"nonsense", 2}, {"COMPATIBLE", 3}, {"SSE2", 4}, {"SSE3", 5},
               {"SSSE3", 6}, {"SSE4_1", 7},   {"SSE4_2", 8},     {"AVX", 9},  {"BRANCH=AVX2", 10}};
  for (const auto& c : codes) {
    setenv("TQS_CBWR", c.value, 1);
    tqs_reset_cpu_state();
    EXPECT_EQ(tqs_cbwr_branch(-1), 0) << "parsed before first use";
    EXPECT_EQ(tqs_cbwr_branch(1), c.code) << c.value;
    EXPECT_EQ(tqs_cbwr_branch(-1), c.code) << c.value;
  }
  // Read once: a later change of the variable is not seen.
  setenv("TQS_CBWR", "SSE2", 1);
  EXPECT_EQ(tqs_cbwr_branch(1), 10);
}

TEST_F(CpuTest, PinnedBranchesHaveFixedCacheTables) {
  const struct {
    const char* cbwr;
    const char* debug;
    int expected[5];
  } cases[] = {
      {"SSE2", nullptr, {2, 32768, 262144, 0, 0}},
      {"SSE4_1", nullptr, {2, 32768, 262144, 0, 0}},
      {"SSE4_2", nullptr, {3, 32768, 262144, 4194304, 0}},
      {"AVX", nullptr, {3, 32768, 262144, 4194304, 0}},
      {"AUTO", nullptr, {3, 32768, 262144, 4194304, 0}},  // level 5 processor
      {"AUTO", "2", {2, 32768, 262144, 0, 0}},
  };
  for (const auto& c : cases) {
    level_for(processor_of_level(5), c.debug, c.cbwr);
    int table[5] = {-9, -9, -9, -9, -9};
    tqs_cache_sizes(table);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(table[i], c.expected[i]) << c.cbwr << " entry " << i;
    EXPECT_EQ(tqs_cache_size(0), c.expected[c.expected[0]]) << c.cbwr;
    EXPECT_EQ(tqs_cache_size(1), 32768);
    EXPECT_EQ(tqs_cache_size(c.expected[0] + 1), -1);
    EXPECT_EQ(tqs_cache_size(-1), -1);
  }
}

TEST_F(CpuTest, CacheTableFromTheProcessor) {
  FakeCpu cpu = processor_of_level(5);
  cpu.leaf4 = {cache_entry(1, 8, 1, 64, 64),      // L1 data: 32 KiB
               cache_entry(2, 8, 1, 64, 64),      // L1 instruction: skipped
               cache_entry(3, 4, 1, 64, 1024),    // L2: 256 KiB
               cache_entry(3, 16, 2, 64, 4096)};  // L3: 8 MiB
  level_for(cpu, nullptr, nullptr);
  int table[5];
  tqs_cache_sizes(table);
  EXPECT_EQ(table[0], 3);
  EXPECT_EQ(table[1], 32768);
  EXPECT_EQ(table[2], 262144);
  EXPECT_EQ(table[3], 8388608);
  EXPECT_EQ(tqs_cache_size(0), 8388608);
  EXPECT_EQ(tqs_cache_size(4), -1);
  tqs_cache_sizes(nullptr);

  // At most four entries are recorded.
  cpu.leaf4 = {cache_entry(1, 1, 1, 64, 2), cache_entry(1, 2, 1, 64, 2),
               cache_entry(3, 3, 1, 64, 2), cache_entry(3, 4, 1, 64, 2),
               cache_entry(3, 5, 1, 64, 2)};
  level_for(cpu, nullptr, nullptr);
  EXPECT_EQ(tqs_cache_size(0), 512);
  EXPECT_EQ(tqs_cache_size(4), 512);
  // It ends at a type-0 entry, and at one with a zero EBX or ECX.
  for (std::array<uint32_t, 3> end :
       {std::array<uint32_t, 3>{0, 0x3f, 0x3f}, std::array<uint32_t, 3>{1, 0, 0x3f},
        std::array<uint32_t, 3>{1, 0x3f, 0}}) {
    cpu.leaf4 = {cache_entry(1, 1, 1, 64, 2), end, cache_entry(3, 4, 1, 64, 2)};
    level_for(cpu, nullptr, nullptr);
    EXPECT_EQ(tqs_cache_size(0), 128);
    EXPECT_EQ(tqs_cache_size(2), -1);
  }

  // A processor that lists nothing records nothing.
  cpu.leaf4.clear();
  level_for(cpu, nullptr, nullptr);
  EXPECT_EQ(tqs_cache_size(0), 0);
  EXPECT_EQ(tqs_cache_size(1), -1);
}

TEST_F(CpuTest, ConcurrentFirstCallsAgree) {
  fake = processor_of_level(4);
  tqs_reset_cpu_state();
  std::vector<int> levels(8, -1);
  std::vector<int> caches(8, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      levels[i] = tqs_cpu_level();
      caches[i] = tqs_cache_size(0);
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(levels[i], 4);
    EXPECT_EQ(caches[i], 0);
  }
}

// The real detection in fresh processes, with the variables as the process
// starts with them. Whatever this machine is, its vendor is not the maker,
// so the unforced answer is the base level.
TEST(CpuProcess, VariablesReadAtStart) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  using tqs_test::field;
  using tqs_test::run_probe;
  auto r = run_probe({"level"}, {});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(field(r.output, "level"), "0");
  EXPECT_EQ(field(r.output, "branch"), "1");

  r = run_probe({"level"}, {"TQS_DEBUG_CPU_TYPE=4", "TQS_CBWR=SSE2"});
  EXPECT_EQ(field(r.output, "level"), "4");
  EXPECT_EQ(field(r.output, "word"), "4");

  r = run_probe({"level"}, {"TQS_CBWR=BRANCH=AVX2"});
  EXPECT_EQ(field(r.output, "level"), "0");
  EXPECT_EQ(field(r.output, "branch"), "10");

  r = run_probe({"cache"}, {"TQS_CBWR=SSE2"});
  EXPECT_EQ(field(r.output, "cache"), "2,32768,262144,0,0");
  EXPECT_EQ(field(r.output, "size0"), "262144");
  r = run_probe({"cache"}, {"TQS_CBWR=AVX"});
  EXPECT_EQ(field(r.output, "size0"), "4194304");
}

}  // namespace

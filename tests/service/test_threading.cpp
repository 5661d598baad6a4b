// Threading configuration: environment parsing in fresh processes, the thread
// count rules, the services table and the team runners.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "probe_runner.h"
#include "service/tqs_service.h"

namespace {

using tqs_test::field;
using tqs_test::run_probe;

// Domains 0..4 and an id outside them, as "all,blas,fft,zenta,morlek,other".
std::string domains(std::vector<std::string> env) {
  auto r = run_probe({"threads"}, env);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return field(r.output, "domains");
}

// With dynamic adjustment off every count passes unchanged; OMP_NUM_THREADS
// fixes the OpenMP default at 3.
std::string fixed(std::vector<std::string> env) {
  env.push_back("TQS_DYNAMIC=FALSE");
  env.push_back("OMP_NUM_THREADS=3");
  return domains(env);
}

TEST(ThreadingEnvironment, NumThreads) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  EXPECT_EQ(fixed({}), "3,3,3,3,3,3");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS=6"}), "6,6,6,6,6,6");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS=abc"}), "1,1,1,1,1,1");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS= 4"}), "1,1,1,1,1,1");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS=-4"}), "1,1,1,1,1,1");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS=0"}), "3,3,3,3,3,3");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS="}), "3,3,3,3,3,3");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS=" + std::string(255, '5').replace(0, 253, 253, '0')}),
            "55,55,55,55,55,55");
  EXPECT_EQ(fixed({"TQS_NUM_THREADS=" + std::string(256, '0').replace(254, 2, "55")}),
            "3,3,3,3,3,3");  // 256 characters: ignored
}

TEST(ThreadingEnvironment, DomainList) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS=TQS_FFT=3,TQS_ALL=8"}), "8,8,3,8,8,8");
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS=TQS_FFT=3;TQS_FFT=5"}), "3,3,3,3,3,3");
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS=tqs_fft=3"}), "3,3,3,3,3,3");
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS=TQS_FFT"}), "3,3,1,3,3,3");
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS==TQS_FFT=2"}), "3,3,3,3,3,3");
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS= TQS_DOMAIN_BLAS = 2 : 'TQS_MORLEK=4' TQS_ZENTA=x"}),
            "3,2,3,1,4,3");
  // A quote ends the name and, met where the value starts, leaves it empty.
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS=\"TQS_FFT\"=2,TQS_BLAS=2"}), "3,3,1,3,3,3");
  EXPECT_EQ(fixed({"TQS_DOMAIN_NUM_THREADS=TQS_DOMAIN_ALL=5,TQS_FFT=0,TQS_BOGUS=9,TQS_BLAS=2"}),
            "5,2,5,5,5,5");
  // TQS_NUM_THREADS is read first and wins over the list's "all".
  EXPECT_EQ(fixed({"TQS_NUM_THREADS=2", "TQS_DOMAIN_NUM_THREADS=TQS_ALL=9,TQS_FFT=4"}),
            "2,2,4,2,2,2");
}

TEST(ThreadingEnvironment, DynamicFlag) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  auto dynamic_of = [](std::vector<std::string> env) {
    return field(run_probe({"threads"}, env).output, "dynamic");
  };
  EXPECT_EQ(dynamic_of({}), "1");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC=FALSE"}), "0");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC=false"}), "0");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC=False"}), "1");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC='false'"}), "0");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC=  \"false\" trailing"}), "0");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC=falsey"}), "1");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC=0"}), "1");
  EXPECT_EQ(dynamic_of({"TQS_DYNAMIC=" + std::string(251, ' ') + "false"}), "1");

  // A call before the first query wins over the variable.
  auto r = run_probe({"setdyn0"}, {"TQS_DYNAMIC=TRUE", "OMP_NUM_THREADS=3"});
  EXPECT_EQ(field(r.output, "dynamic"), "0");
  EXPECT_EQ(field(r.output, "domains"), "3,3,3,3,3,3");
  r = run_probe({"setdyn1"}, {"TQS_DYNAMIC=FALSE"});
  EXPECT_EQ(field(r.output, "dynamic"), "1");
}

TEST(ThreadingEnvironment, ReadOncePerProcess) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  auto r = run_probe({"reread"}, {"OMP_NUM_THREADS=3", "TQS_DYNAMIC=FALSE"});
  EXPECT_EQ(field(r.output, "domains"), "3,3,3,3,3,3");
  EXPECT_EQ(field(r.output, "again_domains"), "3,3,3,3,3,3");
}

TEST(ThreadingEnvironment, DynamicLimitsToPhysicalCores) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  auto r = run_probe({"threads"}, {"TQS_NUM_THREADS=64", "OMP_NUM_THREADS=3"});
  ASSERT_EQ(r.exit_code, 0);
  unsigned cores = std::stoul(field(r.output, "cores"));
  unsigned expected = cores < 64 ? cores : 64;
  std::string e = std::to_string(expected);
  EXPECT_EQ(field(r.output, "domains"), e + "," + e + "," + e + "," + e + "," + e + "," + e);
  // Inside a parallel region the answer is 1 while dynamic adjustment is on.
  EXPECT_EQ(field(r.output, "inside"), "1");
  r = run_probe({"threads"}, {"TQS_NUM_THREADS=5", "TQS_DYNAMIC=false"});
  EXPECT_EQ(field(r.output, "inside"), "5");
  if (cores != ~0u) {
    EXPECT_GE(cores, 1u);
    unsigned packages = std::stoul(field(r.output, "packages"));
    EXPECT_GE(packages, 1u);
    EXPECT_EQ(std::stoul(field(r.output, "per_package")), cores / packages);
  }
}

// Hardware threads of one core count once; cores are grouped by package.
TEST(ThreadingTopology, SiblingsShareACore) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  auto r = run_probe({"paired"}, {"OMP_NUM_THREADS=64"});
  ASSERT_EQ(r.exit_code, 0);
  if (field(r.output, "cores") == std::to_string(~0u)) {
    GTEST_SKIP() << "this process may not use every processor: topology unknown";
  }
  unsigned procs = std::stoul(field(r.output, "procs"));
  if (procs > 64) GTEST_SKIP() << "more processors than the detection visits";
  unsigned cores = (procs + 1) / 2, packages = (procs + 3) / 4;
  EXPECT_EQ(field(r.output, "cores"), std::to_string(cores));
  EXPECT_EQ(field(r.output, "packages"), std::to_string(packages));
  EXPECT_EQ(field(r.output, "per_package"), std::to_string(cores / packages));
  EXPECT_EQ(field(r.output, "max"), std::to_string(cores));
}

TEST(ThreadingEnvironment, ProcessesPerNode) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  auto r =
      run_probe({"threads"}, {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=4", "T_MPI_THREAD_LEVEL=0"});
  EXPECT_EQ(field(r.output, "domains"), "1,1,1,1,1,1");
  r = run_probe({"threads"}, {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=4"});
  EXPECT_EQ(field(r.output, "domains"), "1,1,1,1,1,1");
  r = run_probe({"threads"}, {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=4", "T_MPI_THREAD_LEVEL=x"});
  EXPECT_EQ(field(r.output, "domains"), "1,1,1,1,1,1");

  r = run_probe({"threads"}, {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=2", "T_MPI_THREAD_LEVEL=2"});
  unsigned cores = std::stoul(field(r.output, "cores"));
  unsigned base = cores != ~0u ? cores : std::stoul(field(r.output, "omp"));
  unsigned share = base / 2 > 0 ? base / 2 : 1;
  EXPECT_EQ(field(r.output, "domains").substr(0, field(r.output, "domains").find(',')),
            std::to_string(share));

  // An explicit count, an OpenMP count, a bad process count or dynamic
  // adjustment off all bypass the rule.
  r = run_probe({"threads"}, {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=4", "TQS_DYNAMIC=FALSE",
                              "OMP_NUM_THREADS=3"});
  EXPECT_EQ(field(r.output, "domains"), "3,3,3,3,3,3");
  // Without the rule the count is the OpenMP default trimmed to the cores.
  unsigned omp = std::stoul(field(r.output, "omp"));
  std::string plain = std::to_string(cores < omp ? cores : omp);
  for (const char* count :
       {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=4x", "T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=0"}) {
    r = run_probe({"threads"}, {count, "T_MPI_THREAD_LEVEL=0"});
    EXPECT_EQ(field(r.output, "domains").substr(0, plain.size() + 1), plain + ",") << count;
  }
  if (cores != ~0u && cores >= 2) {
    r = run_probe({"threads"}, {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=4", "TQS_NUM_THREADS=2"});
    EXPECT_EQ(field(r.output, "domains"), "2,2,2,2,2,2");
    r = run_probe({"threads"}, {"T_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE=4", "OMP_NUM_THREADS=2"});
    EXPECT_EQ(field(r.output, "domains"), "2,2,2,2,2,2");
  }
}

TEST(ThreadingServices, DefaultTableFill) {
  ttl_services table{};
  tqs_install_default_threading(&table);
  EXPECT_EQ(table.get_dynamic, &tqs_get_dynamic);
  EXPECT_EQ(table.set_dynamic, &tqs_set_dynamic);
  ASSERT_NE(table.get_max_threads, nullptr);
  EXPECT_EQ(table.get_max_threads(), tqs_domain_get_max_threads(2));
  EXPECT_EQ(table.get_cores_per_package, &tqs_get_cores_per_package);
  EXPECT_EQ(table.get_packages, &tqs_get_num_packages);
  EXPECT_EQ(table.cache_size, nullptr);  // installed by descriptor creation
  EXPECT_EQ(table.parallel_team, &ttl_parallel_team);
  EXPECT_EQ(table.parallel_syncable_team, &ttl_parallel_syncable_team);
  EXPECT_EQ(table.parallel_syncable_dynamic_team, &ttl_parallel_syncable_dynamic_team);
  EXPECT_EQ(table.barrier, &ttl_barrier);
  ASSERT_NE(table.nothing, nullptr);
  EXPECT_EQ(table.nothing(), 0);

  ttl_services taken{};
  int (*mine)(void) = [] { return 42; };
  taken.get_dynamic = mine;
  tqs_install_default_threading(&taken);
  EXPECT_EQ(taken.get_dynamic, mine);
  EXPECT_EQ(taken.parallel_team, nullptr);
}

struct TeamLog {
  std::atomic<int> calls{0};
  std::atomic<int64_t> index_mask{0};
  std::atomic<int64_t> team_size{-1};
  std::atomic<void*> area{nullptr};
  std::atomic<int> area_mismatch{0};
  int64_t fail_index = -1;
};

int64_t team_work(int64_t index, int64_t size, void* argument) {
  auto* log = static_cast<TeamLog*>(argument);
  log->calls++;
  log->index_mask |= int64_t{1} << index;
  log->team_size = size;
  return index == log->fail_index ? 7 : 0;
}

int64_t sync_work(void* area, int64_t index, int64_t size, void* argument) {
  auto* log = static_cast<TeamLog*>(argument);
  void* expected = nullptr;
  if (!log->area.compare_exchange_strong(expected, area) && expected != area) log->area_mismatch++;
  if (area != nullptr) {
    auto* bytes = static_cast<unsigned char*>(area);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(area) % 64, 0u);
    EXPECT_EQ(bytes[index * 64], 0);
  }
  return team_work(index, size, argument);
}

TEST(ThreadingServices, SmallRequestsRunOnTheCaller) {
  TeamLog log;
  EXPECT_EQ(ttl_parallel_team(1, team_work, &log), 0);
  EXPECT_EQ(ttl_parallel_team(0, team_work, &log), 0);
  EXPECT_EQ(log.calls, 2);
  EXPECT_EQ(log.team_size, 1);
  EXPECT_EQ(log.index_mask, 1);
  log.fail_index = 0;
  EXPECT_EQ(ttl_parallel_team(-3, team_work, &log), 7);
  TeamLog sync;
  sync.fail_index = 0;
  EXPECT_EQ(ttl_parallel_syncable_team(1, sync_work, &sync), 7);
  EXPECT_EQ(ttl_parallel_syncable_dynamic_team(1, sync_work, &sync), 7);
  EXPECT_EQ(sync.area.load(), nullptr);
}

TEST(ThreadingServices, TeamsRunEveryMember) {
  int limit = tqs_domain_get_max_threads(2);
  for (int64_t requested : {2, 3, 64}) {
    TeamLog log;
    EXPECT_EQ(ttl_parallel_team(requested, team_work, &log), 0);
    int64_t size = log.team_size;
    EXPECT_GE(size, 1);
    EXPECT_LE(size, limit);
    if (tqs_get_dynamic() == 1) {
      EXPECT_LE(size, requested);
    }
    EXPECT_EQ(log.calls, size);
    EXPECT_EQ(log.index_mask, (int64_t{1} << size) - 1);
  }
  TeamLog failing;
  failing.fail_index = 0;
  EXPECT_EQ(ttl_parallel_team(8, team_work, &failing), 7);

  for (auto runner : {ttl_parallel_syncable_team, ttl_parallel_syncable_dynamic_team}) {
    TeamLog log;
    EXPECT_EQ(runner(2, sync_work, &log), 0);
    EXPECT_NE(log.area.load(), nullptr);
    EXPECT_EQ(log.area_mismatch, 0);
    EXPECT_LE(log.team_size, 2);
    EXPECT_EQ(log.calls, log.team_size);
  }
}

TEST(ThreadingServices, BarrierOrdersTheTeam) {
  struct Shared {
    std::atomic<int> arrived{0};
    std::atomic<int> early{0};
  } shared;
  auto work = [](void*, int64_t, int64_t size, void* argument) -> int64_t {
    auto* s = static_cast<Shared*>(argument);
    s->arrived++;
    ttl_barrier(0);
    if (s->arrived.load() != size) s->early++;
    ttl_barrier(-1);  // no-op
    return 0;
  };
  EXPECT_EQ(ttl_parallel_syncable_dynamic_team(4, work, &shared), 0);
  EXPECT_EQ(shared.early, 0);
  ttl_barrier(5);  // outside a team: returns at once
}

}  // namespace

// Speed and accuracy of our transforms next to FFTW's, case by case.
//
//   compare [--quick] [--sizes NAME|LIST] [--kinds cf,cb,rf,rb] [--levels 0,5|all]
//           [--threads 1,2] [--placement oop,inplace] [--budget SECONDS]
//           [--no-accuracy] [--out DIR]
//
// The processor level is fixed per process (read once from TQS_DEBUG_CPU_TYPE),
// so this program re-executes itself once per level as a worker with that
// variable set. The worker measures our transform and FFTW's in the same
// process, on the same buffers, interleaving the two, and sends one CSV record
// per case back through a pipe. The parent prints the progress line, the
// table and the summary, and writes results.csv plus the data files that
// tools/bench_report.gp turns into charts.
//
// FFTW planning: the first worker forgets all wisdom before each plan, so its
// planning times are those of a fresh process for that case; it saves what it
// learnt and the later workers load it, so every level is compared with the
// same FFTW plan and no worker pays the patient planning twice. With
// --fftw-cache the patient plans and their planning times are also kept
// between runs: at the largest lengths FFTW_MEASURE planning takes minutes.
// An estimate plan is always made with no wisdom loaded (the planner would
// otherwise hand back the patient plan).
#include <dlfcn.h>
#include <fftw3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bench/report_reference.h"
#include "interface/tqs_dfti.h"
#include "service/tqs_service.h"

namespace {

using Clock = std::chrono::steady_clock;
const double kNaN = std::nan("");

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

[[noreturn]] void die(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  fprintf(stderr, "compare: ");
  vfprintf(stderr, fmt, ap);
  fprintf(stderr, "\n");
  va_end(ap);
  exit(2);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t p = s.find(sep, start);
    out.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) return out;
    start = p + 1;
  }
}

// ---- Cases ------------------------------------------------------------------

enum Kind { CF, CB, RF, RB };
const char* const kKindCode[] = {"cf", "cb", "rf", "rb"};
const char* const kKindName[] = {"complex forward", "complex backward", "real forward",
                                 "real backward"};

struct Case {
  Kind kind;
  int64_t n;
  int64_t batch;
  int threads;
  bool inplace;
  bool is_complex() const { return kind == CF || kind == CB; }
  bool forward() const { return kind == CF || kind == RF; }
  // Flops per transform in the benchFFT convention.
  double flops() const {
    double f = 5.0 * (double)n * std::log2((double)n);
    return is_complex() ? f : f / 2;
  }
  std::string key() const {
    char buf[96];
    snprintf(buf, sizeof buf, "%s,%lld,%lld,%d,%s", kKindCode[kind], (long long)n,
             (long long)batch, threads, inplace ? "inplace" : "oop");
    return buf;
  }
};

struct SizeSpec {
  int64_t n, batch;
};

std::vector<SizeSpec> core_sizes() {
  std::vector<SizeSpec> v;
  for (int64_t n : {16, 64, 256, 1024, 4096, 16384, 65536, 262144, 1 << 20, 1 << 22})
    v.push_back({n, 1});
  for (int64_t n : {6, 12, 96, 100, 168, 1000, 3000, 10000, 100000, 97, 4099}) v.push_back({n, 1});
  return v;
}

std::vector<SizeSpec> size_set(const std::string& name, bool* known) {
  *known = true;
  std::vector<SizeSpec> v;
  if (name == "core") return core_sizes();
  if (name == "real") {
    v = core_sizes();
    v.push_back({256, 1000});
    v.push_back({4096, 100});
    v.push_back({65536, 16});
    return v;
  }
  if (name == "small") {
    for (int64_t n = 2; n <= 64; ++n) v.push_back({n, 1});
    return v;
  }
  if (name == "pow2") {
    for (int64_t n = 2; n <= (1 << 22); n *= 2) v.push_back({n, 1});
    return v;
  }
  if (name == "all") {
    std::set<std::pair<int64_t, int64_t>> seen;
    for (const char* part : {"real", "small", "pow2"}) {
      bool k;
      for (auto s : size_set(part, &k))
        if (seen.insert({s.batch, s.n}).second) v.push_back(s);
    }
    return v;
  }
  // An explicit list: N or COUNTxN, comma separated.
  for (const auto& item : split(name, ',')) {
    char* end = nullptr;
    long long a = strtoll(item.c_str(), &end, 10);
    if (end == item.c_str() || a <= 0) {
      *known = false;
      return {};
    }
    if (*end == 'x' || *end == 'X') {
      char* end2 = nullptr;
      long long b = strtoll(end + 1, &end2, 10);
      if (*end2 || b <= 0) {
        *known = false;
        return {};
      }
      v.push_back({b, a});
    } else if (*end) {
      *known = false;
      return {};
    } else {
      v.push_back({a, 1});
    }
  }
  return v;
}

// ---- Options ----------------------------------------------------------------

struct Options {
  bool quick = false;
  std::string sizes = "core";
  std::vector<Kind> kinds;
  bool kinds_given = false;
  std::vector<int> levels{0, 5};
  std::vector<int> threads{1};
  std::vector<bool> placements{false};
  double budget = -1;  // seconds of timing per case; <0: default
  bool accuracy = true;
  double fftw_timelimit = 0;  // seconds per patient FFTW plan; 0: none
  std::string fftw_cache;     // planning cache kept between runs; empty: none
  std::string out = "results/compare";
  // Worker side.
  int worker_level = -1;
  bool first_worker = false;
  size_t from = 0;
  std::string wisdom;
  std::string ref_cache;
  std::vector<std::string> passthrough;  // arguments the workers get again
};

void usage() {
  printf(
      "usage: compare [options]\n"
      "  --quick               short timing, lengths up to 65536 (about a minute)\n"
      "  --sizes NAME|LIST     core (default), real, small, pow2, all, or a list such\n"
      "                        as 1024,1000,100x4096 (COUNTxN = a batch of COUNT)\n"
      "  --kinds LIST          cf,cb,rf,rb (complex/real forward/backward; default all,\n"
      "                        rf,rb for the real set)\n"
      "  --levels LIST|all     processor levels to compare (default 0,5)\n"
      "  --threads LIST        thread counts (default 1)\n"
      "  --placement LIST      oop and/or inplace (default oop)\n"
      "  --budget SECONDS      timing time per case (default 0.6, quick 0.06)\n"
      "  --no-accuracy         skip the long-double reference and error columns\n"
      "  --fftw-cache FILE     keep FFTW's patient plans (and their planning times)\n"
      "                        in FILE between runs; the first run fills it\n"
      "  --fftw-timelimit S    cap each fresh FFTW_MEASURE planning at S seconds\n"
      "                        (default: no cap); such plans are flagged 'capped'\n"
      "  --out DIR             where results.csv, summary.txt and data/ go\n");
}

std::vector<int> parse_ints(const std::string& s, const char* what) {
  std::vector<int> v;
  for (const auto& item : split(s, ',')) {
    char* end = nullptr;
    long x = strtol(item.c_str(), &end, 10);
    if (item.empty() || *end) die("bad %s list '%s'", what, s.c_str());
    v.push_back((int)x);
  }
  return v;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) die("%s needs a value", a.c_str());
      return argv[++i];
    };
    bool pass = true;
    if (a == "--quick") {
      o.quick = true;
    } else if (a == "--sizes") {
      o.sizes = value();
    } else if (a == "--kinds") {
      o.kinds.clear();
      o.kinds_given = true;
      for (const auto& k : split(value(), ',')) {
        int found = -1;
        for (int j = 0; j < 4; ++j)
          if (k == kKindCode[j]) found = j;
        if (found < 0) die("unknown kind '%s' (cf, cb, rf, rb)", k.c_str());
        o.kinds.push_back((Kind)found);
      }
    } else if (a == "--levels") {
      std::string v = value();
      o.levels = v == "all" ? std::vector<int>{0, 1, 2, 3, 4, 5} : parse_ints(v, "level");
      for (int l : o.levels)
        if (l < 0 || l > 5) die("levels are 0 to 5");
    } else if (a == "--threads") {
      o.threads = parse_ints(value(), "thread");
      for (int t : o.threads)
        if (t < 1) die("thread counts start at 1");
    } else if (a == "--placement") {
      o.placements.clear();
      for (const auto& p : split(value(), ',')) {
        if (p == "oop") o.placements.push_back(false);
        else if (p == "inplace") o.placements.push_back(true);
        else die("placement is oop or inplace");
      }
    } else if (a == "--budget") {
      o.budget = atof(value().c_str());
    } else if (a == "--fftw-cache") {
      o.fftw_cache = value();
    } else if (a == "--fftw-timelimit") {
      o.fftw_timelimit = atof(value().c_str());
    } else if (a == "--no-accuracy") {
      o.accuracy = false;
    } else if (a == "--out") {
      o.out = value();
    } else if (a == "--worker") {
      o.worker_level = atoi(value().c_str());
      pass = false;
    } else if (a == "--first") {
      o.first_worker = true;
      pass = false;
    } else if (a == "--from") {
      o.from = (size_t)atoll(value().c_str());
      pass = false;
    } else if (a == "--wisdom") {
      o.wisdom = value();
      pass = false;
    } else if (a == "--ref-cache") {
      o.ref_cache = value();
      pass = false;
    } else if (a == "--help" || a == "-h") {
      usage();
      exit(0);
    } else {
      usage();
      die("unknown option '%s'", a.c_str());
    }
    if (pass) {
      // Keep the option and its value (if any) for the workers.
      int first = i;
      while (first > 1 && std::string(argv[first]).rfind("--", 0) != 0) --first;
      for (int j = first; j <= i; ++j) o.passthrough.push_back(argv[j]);
    }
  }
  if (o.budget < 0) o.budget = o.quick ? 0.06 : 0.6;
  if (!o.kinds_given) o.kinds = o.sizes == "real" ? std::vector<Kind>{RF, RB}
                                                  : std::vector<Kind>{CF, CB, RF, RB};
  return o;
}

std::vector<Case> make_cases(const Options& o) {
  bool known;
  auto sizes = size_set(o.sizes, &known);
  if (!known) die("unknown size set '%s' (core, real, small, pow2, all, or a list)",
                  o.sizes.c_str());
  if (o.quick) {
    // The patient FFTW planning and the reference alone take minutes at the
    // largest lengths.
    std::vector<SizeSpec> kept;
    for (auto s : sizes)
      if (s.n * s.batch <= (1 << 18) && s.n <= 65536) kept.push_back(s);
    sizes = kept;
  }
  std::sort(sizes.begin(), sizes.end(), [](SizeSpec a, SizeSpec b) {
    return a.n != b.n ? a.n < b.n : a.batch < b.batch;
  });
  std::vector<Case> cases;
  for (Kind k : o.kinds)
    for (int t : o.threads)
      for (bool ip : o.placements)
        for (auto s : sizes) cases.push_back({k, s.n, s.batch, t, ip});
  return cases;
}

// ---- One result record ------------------------------------------------------

const char* const kCsvHeader =
    "kind,n,batch,threads,placement,level,cpu_level,ours_status,ours_ns,fftw_ns,fftw_est_ns,"
    "ours_mflops,fftw_mflops,fftw_est_mflops,ratio,ratio_est,ours_err,fftw_err,ours_commit_us,"
    "fftw_plan_us,fftw_est_plan_us,ours_spread,fftw_spread,rounds,fftw_plan_source";

struct Row {
  Case c{};
  int level = 0, cpu_level = 0;
  std::string ours_status = "0";  // 0, a status code, "crash" or "skipped"
  double ours_ns = kNaN, fftw_ns = kNaN, fftw_est_ns = kNaN;
  double ours_err = kNaN, fftw_err = kNaN;
  double commit_us = kNaN, plan_us = kNaN, est_plan_us = kNaN;
  double ours_spread = kNaN, fftw_spread = kNaN;
  int rounds = 0;
  // Where the FFTW planning time comes from: "fresh" (planned in this run),
  // "cached" (measured by an earlier run, see --fftw-cache) or "capped"
  // (fresh, but stopped by --fftw-timelimit).
  std::string plan_source = "fresh";

  double mflops(double ns) const { return c.flops() / (ns / 1000.0); }
  double ours_mflops() const { return mflops(ours_ns); }
  double fftw_mflops() const { return mflops(fftw_ns); }
  double ratio() const { return ours_ns / fftw_ns; }

  static std::string num(double v, const char* fmt = "%.6g") {
    if (std::isnan(v)) return "";
    char buf[64];
    snprintf(buf, sizeof buf, fmt, v);
    return buf;
  }
  std::string csv() const {
    std::string s = c.key();
    char buf[64];
    snprintf(buf, sizeof buf, ",%d,%d,", level, cpu_level);
    s += buf;
    s += ours_status;
    for (double v : {ours_ns, fftw_ns, fftw_est_ns, ours_mflops(), fftw_mflops(),
                     mflops(fftw_est_ns), ratio(), ours_ns / fftw_est_ns})
      s += "," + num(v);
    for (double v : {ours_err, fftw_err}) s += "," + num(v, "%.4e");
    for (double v : {commit_us, plan_us, est_plan_us, ours_spread, fftw_spread}) s += "," + num(v);
    snprintf(buf, sizeof buf, ",%d,", rounds);
    return s + buf + plan_source;
  }
  static bool parse(const std::string& line, Row* r) {
    auto f = split(line, ',');
    if (f.size() != 25) return false;
    auto d = [&](int i) { return f[i].empty() ? kNaN : atof(f[i].c_str()); };
    int kind = -1;
    for (int j = 0; j < 4; ++j)
      if (f[0] == kKindCode[j]) kind = j;
    if (kind < 0) return false;
    r->c = {(Kind)kind, atoll(f[1].c_str()), atoll(f[2].c_str()), atoi(f[3].c_str()),
            f[4] == "inplace"};
    r->level = atoi(f[5].c_str());
    r->cpu_level = atoi(f[6].c_str());
    r->ours_status = f[7];
    r->ours_ns = d(8);
    r->fftw_ns = d(9);
    r->fftw_est_ns = d(10);
    r->ours_err = d(16);
    r->fftw_err = d(17);
    r->commit_us = d(18);
    r->plan_us = d(19);
    r->est_plan_us = d(20);
    r->ours_spread = d(21);
    r->fftw_spread = d(22);
    r->rounds = atoi(f[23].c_str());
    r->plan_source = f[24];
    return true;
  }
};

// ---- Worker: one processor level, every case --------------------------------

// FFTW's threaded planner lives in a separate library; load it only when a
// case asks for more than one thread so that the default build needs nothing
// beyond libfftw3.
struct FftwThreads {
  bool tried = false, ok = false;
  void (*plan_with_nthreads)(int) = nullptr;
  bool set(int n) {
    if (!tried) {
      tried = true;
      void* lib = dlopen("libfftw3_omp.so.3", RTLD_NOW | RTLD_GLOBAL);
      if (!lib) lib = dlopen("libfftw3_threads.so.3", RTLD_NOW | RTLD_GLOBAL);
      if (lib) {
        auto init = (int (*)())dlsym(lib, "fftw_init_threads");
        plan_with_nthreads = (void (*)(int))dlsym(lib, "fftw_plan_with_nthreads");
        ok = init && plan_with_nthreads && init();
      }
    }
    if (ok) plan_with_nthreads(n);
    return ok || n == 1;
  }
} fftw_threads;

struct Buffer {
  double* p = nullptr;
  size_t doubles = 0;
  explicit Buffer(size_t n) : doubles(n) {
    size_t bytes = (n * sizeof(double) + 63) / 64 * 64;
    p = (double*)std::aligned_alloc(64, bytes ? bytes : 64);
    if (!p) die("out of memory (%zu bytes)", bytes);
    memset(p, 0, bytes);
  }
  ~Buffer() { std::free(p); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
};

// Element layout of a case: distances between the vectors of a batch, in
// doubles, and the number of doubles of each array.
struct Layout {
  int64_t in_dist, out_dist;      // doubles
  int64_t in_elems, out_elems;    // distances in the caller's elements
  size_t in_size, out_size;       // doubles
  explicit Layout(const Case& c) {
    const int64_t n = c.n, h = n / 2 + 1, pad = 2 * h;
    switch (c.kind) {
      case CF:
      case CB:
        in_dist = out_dist = 2 * n;
        in_elems = out_elems = n;
        break;
      case RF:
        in_dist = c.inplace ? pad : n;
        out_dist = 2 * h;
        in_elems = in_dist;
        out_elems = h;
        break;
      case RB:
      default:
        in_dist = 2 * h;
        out_dist = c.inplace ? pad : n;
        in_elems = h;
        out_elems = out_dist;
        break;
    }
    in_size = (size_t)(in_dist * c.batch);
    out_size = (size_t)(out_dist * c.batch);
    if (c.inplace) in_size = out_size = std::max(in_size, out_size);
  }
};

void fill_input(const Case& c, const Layout& L, double* src, int trial = 0) {
  std::mt19937_64 gen(0x5eed0000ull + (uint64_t)c.kind * 7919 + (uint64_t)c.n * 31 +
                      (uint64_t)c.batch + (uint64_t)trial * 1000003);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  const int64_t n = c.n, h = n / 2 + 1;
  for (int64_t b = 0; b < c.batch; ++b) {
    double* v = src + b * L.in_dist;
    if (c.kind == CF || c.kind == CB) {
      for (int64_t k = 0; k < 2 * n; ++k) v[k] = u(gen);
    } else if (c.kind == RF) {
      for (int64_t k = 0; k < n; ++k) v[k] = u(gen);
    } else {
      // A half spectrum that is the transform of some real sequence: the
      // imaginary parts of bin 0 and, for even n, bin n/2 are zero.
      for (int64_t k = 0; k < 2 * h; ++k) v[k] = u(gen);
      v[1] = 0;
      if (n % 2 == 0) v[2 * (h - 1) + 1] = 0;
    }
  }
}

// Reference output of every vector of the batch, packed (n complex, n/2+1
// complex or n real per vector), as long double pairs or reals.
std::vector<long double> reference(const Case& c, const Layout& L, const double* src) {
  const int64_t n = c.n, h = n / 2 + 1;
  std::vector<long double> out;
  for (int64_t b = 0; b < c.batch; ++b) {
    const double* v = src + b * L.in_dist;
    if (c.is_complex()) {
      std::vector<report::cld> x(n);
      for (int64_t k = 0; k < n; ++k) x[k] = report::cld(v[2 * k], v[2 * k + 1]);
      report::Reference::complex_transform(x, c.kind == CF ? -1 : +1);
      for (auto z : x) {
        out.push_back(z.real());
        out.push_back(z.imag());
      }
    } else if (c.kind == RF) {
      auto y = report::real_forward(v, n);
      for (int64_t k = 0; k < h; ++k) {
        out.push_back(y[k].real());
        out.push_back(y[k].imag());
      }
    } else {
      auto y = report::real_backward(v, n);
      out.insert(out.end(), y.begin(), y.end());
    }
  }
  return out;
}

// The reference of a long transform takes seconds, and every level needs
// the same one: the first worker keeps it in a file for the others.
std::vector<long double> cached_reference(const Case& c, const Layout& L, const double* src,
                                          const Options& o) {
  if (c.n * c.batch < (1 << 16) || o.ref_cache.empty()) return reference(c, L, src);
  std::string key = c.key();
  std::replace(key.begin(), key.end(), ',', '_');
  const std::string path = o.ref_cache + "/" + key + ".bin";
  if (!o.first_worker) {
    if (FILE* f = fopen(path.c_str(), "rb")) {
      uint64_t count = 0;
      std::vector<long double> v;
      if (fread(&count, sizeof count, 1, f) == 1 && count < (1ull << 40)) {
        v.resize(count);
        if (fread(v.data(), sizeof(long double), count, f) != count) v.clear();
      }
      fclose(f);
      if (!v.empty()) return v;
    }
  }
  auto v = reference(c, L, src);
  if (o.first_worker) {
    std::string cmd = "mkdir -p '" + o.ref_cache + "'";
    if (system(cmd.c_str()) == 0) {
      if (FILE* f = fopen(path.c_str(), "wb")) {
        uint64_t count = v.size();
        bool ok = fwrite(&count, sizeof count, 1, f) == 1 &&
                  fwrite(v.data(), sizeof(long double), count, f) == count;
        if (fclose(f) != 0 || !ok) unlink(path.c_str());
      }
    }
  }
  return v;
}

// Squared error and squared reference of an output array against the packed
// reference, summed into e; the relative RMS error is sqrt(num / den).
struct ErrorSums {
  long double num = 0, den = 0;
  bool finite = true;
  double rel_rms() const {
    if (!finite) return INFINITY;
    return den > 0 ? (double)sqrtl(num / den) : (double)sqrtl(num);
  }
};

void add_error(const Case& c, const Layout& L, const double* y, const std::vector<long double>& ref,
               ErrorSums* e) {
  const int64_t n = c.n, h = n / 2 + 1;
  const int64_t per = c.is_complex() ? 2 * n : c.kind == RF ? 2 * h : n;
  for (int64_t b = 0; b < c.batch; ++b)
    for (int64_t k = 0; k < per; ++k) {
      long double r = ref[(size_t)(b * per + k)];
      long double d = (long double)y[b * L.out_dist + k] - r;
      if (!std::isfinite((double)y[b * L.out_dist + k])) e->finite = false;
      e->num += d * d;
      e->den += r * r;
    }
}

// One random input says little about the error of a short transform (a
// dozen roundings; two libraries' figures differ by 2x from input to input):
// short cases pool the error over several inputs, the same ones for both.
int accuracy_trials(const Case& c) {
  const int64_t points = c.n * c.batch;
  return points >= 4096 ? 1 : (int)std::min<int64_t>(32, 4096 / points);
}

struct Ours {
  DftiHandle h = nullptr;
  long status = 0;
  double commit_us = kNaN;
  ~Ours() {
    if (h) DftiRelease(&h);
  }
  void setup(const Case& c, const Layout& L) {
    const long long n = c.n;
    status = DftiCreateDouble1D(&h, c.is_complex() ? DFTI_COMPLEX : DFTI_REAL, n);
    auto set = [&](auto fn) {
      if (status == 0) status = fn();
    };
    if (!c.is_complex())
      set([&] { return DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, (int)DFTI_COMPLEX_COMPLEX); });
    set([&] { return DftiSet(h, DFTI_PLACEMENT, (int)(c.inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE)); });
    if (c.batch > 1) {
      set([&] { return DftiSet(h, DFTI_TRANSFORM_COUNT, (long long)c.batch); });
      set([&] { return DftiSet(h, DFTI_IN_DISTANCE, (long long)L.in_elems); });
      set([&] { return DftiSet(h, DFTI_OUT_DISTANCE, (long long)L.out_elems); });
    }
    set([&] { return DftiSet(h, DFTI_MAX_THREADS, (long long)c.threads); });
    if (status != 0) return;
    auto t0 = Clock::now();
    status = DftiCommit(h);
    commit_us = seconds_since(t0) * 1e6;
  }
  long run(const Case& c, double* in, double* out) const {
    if (c.inplace) return c.forward() ? DftiForward(h, in) : DftiBackward(h, in);
    return c.forward() ? DftiForward(h, in, out) : DftiBackward(h, in, out);
  }
};

fftw_plan fftw_make(const Case& c, const Layout& L, double* in, double* out, unsigned flags) {
  int n = (int)c.n, howmany = (int)c.batch;
  if (!fftw_threads.set(c.threads)) return nullptr;
  double* o = c.inplace ? in : out;
  switch (c.kind) {
    case CF:
    case CB:
      return fftw_plan_many_dft(1, &n, howmany, (fftw_complex*)in, nullptr, 1, (int)L.in_elems,
                                (fftw_complex*)o, nullptr, 1, (int)L.out_elems,
                                c.kind == CF ? FFTW_FORWARD : FFTW_BACKWARD, flags);
    case RF:
      return fftw_plan_many_dft_r2c(1, &n, howmany, in, nullptr, 1, (int)L.in_elems,
                                    (fftw_complex*)o, nullptr, 1, (int)L.out_elems, flags);
    case RB:
    default:
      return fftw_plan_many_dft_c2r(1, &n, howmany, (fftw_complex*)in, nullptr, 1,
                                    (int)L.in_elems, o, nullptr, 1, (int)L.out_elems, flags);
  }
}

// Wisdom files hold one FFTW wisdom text per case, each after a line
// "#case KEY PLAN_US". Cases are kept apart because merged wisdom would let
// one case's sub-plans replace another's. Two such files:
// - the run's own file: the first worker appends after every case (so that
//   what it learnt survives a crash in a later case), the later workers
//   read it;
// - the optional planning cache kept between runs: only fresh, uncapped
//   plans go in, with the planning time they took; the first worker reuses
//   them instead of planning the same case again.
const char* const kWisdomMark = "#case ";
struct CaseWisdom {
  double plan_us;
  std::string text;
};
std::map<std::string, CaseWisdom> run_wisdom, cached_wisdom;

void load_wisdom_file(const std::string& path, std::map<std::string, CaseWisdom>* out) {
  std::string text;
  if (FILE* f = fopen(path.c_str(), "r")) {
    char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
    fclose(f);
  }
  size_t at = text.find(kWisdomMark);
  while (at != std::string::npos) {
    size_t eol = text.find('\n', at);
    if (eol == std::string::npos) break;
    size_t next = text.find(std::string("\n") + kWisdomMark, eol);
    auto head = split(text.substr(at + strlen(kWisdomMark), eol - at - strlen(kWisdomMark)), ' ');
    if (!head.empty())
      (*out)[head[0]] = {head.size() > 1 ? atof(head[1].c_str()) : kNaN,
                         text.substr(eol + 1, next == std::string::npos ? next : next - eol)};
    at = next == std::string::npos ? next : next + 1;
  }
}

void append_wisdom(const std::string& path, const std::string& key, double plan_us) {
  char* w = fftw_export_wisdom_to_string();
  FILE* f = fopen(path.c_str(), "a");
  if (w && f) fprintf(f, "%s%s %.1f\n%s\n", kWisdomMark, key.c_str(), plan_us, w);
  if (f) fclose(f);
  fftw_free(w);
}

// Timing of several contenders, interleaved block by block.
struct Contender {
  std::function<void()> run;
  int reps = 1;
  std::vector<double> per_call_ns;
};

double median_of(std::vector<double> v) {
  if (v.empty()) return kNaN;
  std::sort(v.begin(), v.end());
  size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

double spread_of(std::vector<double> v) {
  if (v.size() < 2) return kNaN;
  std::sort(v.begin(), v.end());
  double q1 = v[v.size() / 4], q3 = v[(3 * v.size()) / 4];
  return (q3 - q1) / median_of(v);
}

int time_interleaved(std::vector<Contender*> cs, const std::function<void()>& restore,
                     const Options& o) {
  const double block_s = o.quick ? 0.0005 : 0.002;
  const int min_rounds = o.quick ? 3 : 5, max_rounds = 40;
  const double tolerance = 0.03;
  // Calibrate: enough calls per block that a block lasts block_s.
  for (auto* c : cs) {
    restore();
    c->run();  // first touch, lazy set-up
    while (true) {
      restore();
      auto t0 = Clock::now();
      for (int r = 0; r < c->reps; ++r) c->run();
      double t = seconds_since(t0);
      if (t >= block_s || c->reps >= (1 << 24)) break;
      c->reps = t <= 0 ? c->reps * 16 : std::max(c->reps * 2, (int)(c->reps * block_s / t * 1.2));
    }
  }
  auto start = Clock::now();
  int round = 0;
  for (; round < max_rounds; ++round) {
    for (size_t j = 0; j < cs.size(); ++j) {
      // Rotate the order so that no contender always follows the same one.
      auto* c = cs[(j + round) % cs.size()];
      restore();
      auto t0 = Clock::now();
      for (int r = 0; r < c->reps; ++r) c->run();
      c->per_call_ns.push_back(seconds_since(t0) * 1e9 / c->reps);
    }
    if (round + 1 < min_rounds) continue;
    bool tight = true;
    for (auto* c : cs) tight = tight && spread_of(c->per_call_ns) <= tolerance;
    if (tight || seconds_since(start) > o.budget) {
      ++round;
      break;
    }
  }
  return round;
}

// Our commit and FFTW_ESTIMATE planning, each the median of kSetupRounds
// (the first of them timed in run_case, the rest on fresh descriptors and
// plans, alternating): one commit moves by a factor of ten between runs,
// after a case of another size has emptied the caches or left memory
// behind that this one's tables can take.
constexpr int kSetupRounds = 5;

void time_setup(const Case& c, const Layout& L, double* in, double* out, Row* row) {
  std::vector<double> ours{row->commit_us}, est{row->est_plan_us};
  for (int r = 1; r < kSetupRounds; ++r) {
    if (!std::isnan(row->commit_us)) {
      Ours again;
      again.setup(c, L);
      if (again.status == 0) ours.push_back(again.commit_us);
    }
    if (!std::isnan(row->est_plan_us)) {
      fftw_forget_wisdom();
      auto t0 = Clock::now();
      fftw_plan p = fftw_make(c, L, in, out, FFTW_ESTIMATE);
      const double us = seconds_since(t0) * 1e6;
      if (p) {
        est.push_back(us);
        fftw_destroy_plan(p);
      }
    }
  }
  if (!std::isnan(row->commit_us)) row->commit_us = median_of(ours);
  if (!std::isnan(row->est_plan_us)) row->est_plan_us = median_of(est);
}

Row run_case(const Case& c, const Options& o, int level) {
  Row row;
  row.c = c;
  row.level = level;
  row.cpu_level = tqs_cpu_level();
  Layout L(c);
  Buffer src(L.in_size), in(L.in_size), out(c.inplace ? 1 : L.out_size);
  double* outp = c.inplace ? in.p : out.p;

  // Ours first: a descriptor that cannot be committed still leaves FFTW's
  // columns to be filled.
  Ours ours;
  ours.setup(c, L);
  row.ours_status = std::to_string(ours.status);
  row.commit_us = ours.status == 0 ? ours.commit_us : kNaN;

  // FFTW plans overwrite the arrays while measuring, so they come before the
  // data.
  fftw_forget_wisdom();
  auto t0 = Clock::now();
  fftw_plan est = fftw_make(c, L, in.p, outp, FFTW_ESTIMATE);
  row.est_plan_us = seconds_since(t0) * 1e6;
  fftw_forget_wisdom();
  const std::string key = c.key();
  auto& known = o.first_worker ? cached_wisdom : run_wisdom;
  auto w = known.find(key);
  if (w != known.end()) fftw_import_wisdom_from_string(w->second.text.c_str());
  const bool limited = w == known.end() && o.fftw_timelimit > 0;
  if (limited) fftw_set_timelimit(o.fftw_timelimit);
  t0 = Clock::now();
  fftw_plan meas = fftw_make(c, L, in.p, outp, FFTW_MEASURE);
  row.plan_us = seconds_since(t0) * 1e6;
  fftw_set_timelimit(FFTW_NO_TIMELIMIT);
  if (o.first_worker) {
    // Later workers plan from wisdom; the parent copies these values to them.
    if (w != known.end()) {
      row.plan_us = w->second.plan_us;
      row.plan_source = "cached";
    } else if (limited && row.plan_us >= o.fftw_timelimit * 1e6) {
      row.plan_source = "capped";
    }
    if (meas && !o.wisdom.empty()) append_wisdom(o.wisdom, key, row.plan_us);
    if (meas && !o.fftw_cache.empty() && row.plan_source == "fresh")
      append_wisdom(o.fftw_cache, key, row.plan_us);
  }
  if (!meas) row.plan_us = kNaN;
  if (!est) row.est_plan_us = kNaN;

  auto restore = [&] { memcpy(in.p, src.p, L.in_size * sizeof(double)); };
  if (!o.accuracy) fill_input(c, L, src.p);

  if (o.accuracy) {
    ErrorSums ours_e, fftw_e;
    // The last trial is input 0, the one the timing runs on.
    for (int trial = accuracy_trials(c) - 1; trial >= 0; --trial) {
      fill_input(c, L, src.p, trial);
      auto ref = cached_reference(c, L, src.p, o);
      if (ours.status == 0 && row.ours_status == "0") {
        restore();
        long s = ours.run(c, in.p, outp);
        if (s != 0) row.ours_status = std::to_string(s);
        else add_error(c, L, outp, ref, &ours_e);
      }
      if (meas) {
        restore();
        fftw_execute(meas);
        add_error(c, L, outp, ref, &fftw_e);
      }
    }
    if (ours.status == 0 && row.ours_status == "0") row.ours_err = ours_e.rel_rms();
    if (meas) row.fftw_err = fftw_e.rel_rms();
  } else if (ours.status == 0) {
    restore();
    long s = ours.run(c, in.p, outp);
    if (s != 0) row.ours_status = std::to_string(s);
  }

  Contender c_ours, c_meas, c_est;
  c_ours.run = [&] { ours.run(c, in.p, outp); };
  c_meas.run = [&] { fftw_execute(meas); };
  c_est.run = [&] { fftw_execute(est); };
  std::vector<Contender*> cs;
  if (row.ours_status == "0") cs.push_back(&c_ours);
  if (meas) cs.push_back(&c_meas);
  if (est) cs.push_back(&c_est);
  if (!cs.empty()) row.rounds = time_interleaved(cs, restore, o);
  const double per = 1.0 / (double)c.batch;
  if (row.ours_status == "0") {
    row.ours_ns = median_of(c_ours.per_call_ns) * per;
    row.ours_spread = spread_of(c_ours.per_call_ns);
  }
  if (meas) {
    row.fftw_ns = median_of(c_meas.per_call_ns) * per;
    row.fftw_spread = spread_of(c_meas.per_call_ns);
  }
  if (est) row.fftw_est_ns = median_of(c_est.per_call_ns) * per;
  if (meas) fftw_destroy_plan(meas);
  if (est) fftw_destroy_plan(est);
  time_setup(c, L, in.p, outp, &row);
  return row;
}

int worker_main(const Options& o) {
  auto cases = make_cases(o);
  if (o.first_worker && !o.fftw_cache.empty()) load_wisdom_file(o.fftw_cache, &cached_wisdom);
  if (!o.first_worker && !o.wisdom.empty()) load_wisdom_file(o.wisdom, &run_wisdom);
  // FFTW's one-time start-up (processor checks, tables) would otherwise be
  // billed to the first case's planning time.
  {
    Buffer a(64), b(64);
    fftw_plan p = fftw_plan_dft_1d(16, (fftw_complex*)a.p, (fftw_complex*)b.p, FFTW_FORWARD,
                                   FFTW_ESTIMATE);
    fftw_destroy_plan(p);
    fftw_forget_wisdom();
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  for (size_t i = o.from; i < cases.size(); ++i) {
    printf("S %zu\n", i);
    Row r = run_case(cases[i], o, o.worker_level);
    printf("R %zu %s\n", i, r.csv().c_str());
  }
  return 0;
}

// ---- Parent: workers, table, files ------------------------------------------

std::string self_path() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) die("cannot find my own executable");
  buf[n] = 0;
  return buf;
}

std::string fmt_duration(double s) {
  char buf[32];
  snprintf(buf, sizeof buf, "%dm%02ds", (int)s / 60, (int)s % 60);
  return buf;
}

struct Progress {
  bool tty = isatty(2);
  Clock::time_point start = Clock::now();
  size_t done = 0, total = 0;
  void show(int level, size_t li, size_t nl, const Case& c) {
    char line[200];
    snprintf(line, sizeof line, "[level %d (%zu of %zu)] case %zu/%zu: %s n=%lld batch=%lld thr=%d %s  %s",
             level, li + 1, nl, done + 1, total, kKindCode[c.kind], (long long)c.n,
             (long long)c.batch, c.threads, c.inplace ? "inplace" : "oop",
             fmt_duration(seconds_since(start)).c_str());
    if (tty) fprintf(stderr, "\r%s\033[K", line);
    else fprintf(stderr, "%s\n", line);
  }
  void finish() {
    if (tty) fprintf(stderr, "\r\033[K");
    fprintf(stderr, "%zu measurements in %s\n", done, fmt_duration(seconds_since(start)).c_str());
  }
};

// Runs one worker per level; a worker that dies (a crash inside a transform)
// gets its case recorded as "crash" and a successor starting at the next case.
std::vector<Row> run_workers(const Options& o, const std::vector<Case>& cases,
                             const std::string& wisdom) {
  std::vector<Row> rows;
  const std::string exe = self_path();
  Progress prog;
  prog.total = cases.size() * o.levels.size();
  unlink(wisdom.c_str());
  for (size_t li = 0; li < o.levels.size(); ++li) {
    const int level = o.levels[li];
    size_t from = 0;
    while (from < cases.size()) {
      int fd[2];
      if (pipe(fd) != 0) die("pipe failed");
      pid_t pid = fork();
      if (pid < 0) die("fork failed");
      if (pid == 0) {
        close(fd[0]);
        dup2(fd[1], 1);
        close(fd[1]);
        setenv("TQS_DEBUG_CPU_TYPE", std::to_string(level).c_str(), 1);
        std::vector<std::string> args{exe};
        args.insert(args.end(), o.passthrough.begin(), o.passthrough.end());
        for (std::string a : {std::string("--worker"), std::to_string(level), std::string("--from"),
                              std::to_string(from), std::string("--wisdom"), wisdom,
                              std::string("--ref-cache"), o.out + "/refcache"})
          args.push_back(a);
        if (li == 0) args.push_back("--first");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
      }
      close(fd[1]);
      FILE* in = fdopen(fd[0], "r");
      char line[4096];
      size_t current = from;
      bool started = false;
      while (fgets(line, sizeof line, in)) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        if (s.rfind("S ", 0) == 0) {
          current = (size_t)atoll(s.c_str() + 2);
          started = true;
          prog.show(level, li, o.levels.size(), cases[current]);
        } else if (s.rfind("R ", 0) == 0) {
          size_t sp = s.find(' ', 2);
          Row r;
          if (sp != std::string::npos && Row::parse(s.substr(sp + 1), &r)) rows.push_back(r);
          ++prog.done;
          started = false;
          from = current + 1;
        }
      }
      fclose(in);
      int status = 0;
      waitpid(pid, &status, 0);
      if (started) {
        // The worker died inside case `current`.
        Row r;
        r.c = cases[current];
        r.level = level;
        r.cpu_level = level;
        r.ours_status = WIFSIGNALED(status) ? "crash" : "exit";
        rows.push_back(r);
        ++prog.done;
        if (prog.tty) fprintf(stderr, "\n");
        fprintf(stderr, "compare: level %d worker %s in case %s; continuing\n", level,
                WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "exited", cases[current].key().c_str());
        from = current + 1;
      } else if (from < cases.size()) {
        die("level %d worker stopped before case %zu (status %d)", level, from, status);
      }
    }
  }
  prog.finish();
  return rows;
}

std::string cell(double v, const char* fmt, int width) {
  char buf[64];
  if (std::isnan(v)) snprintf(buf, sizeof buf, "%*s", width, "-");
  else snprintf(buf, sizeof buf, fmt, width, v);
  return buf;
}

std::string ours_cell(const Row& r, double v, const char* fmt, int width) {
  if (r.ours_status != "0") {
    char buf[64];
    std::string s = "n/a(" + r.ours_status + ")";
    snprintf(buf, sizeof buf, "%*s", width, s.c_str());
    return buf;
  }
  return cell(v, fmt, width);
}

std::string combo_name(const Case& c) {
  return "t" + std::to_string(c.threads) + (c.inplace ? "_inplace" : "_oop");
}

// Times in ns per transform (a batch counts as batch transforms); MF is
// MFLOPS in the benchFFT convention; err is the relative RMS error; a plan
// time marked c comes from the planning cache, * hit the time limit; a
// ratio marked ~ rests on a timing whose quartiles lie more than 10% apart;
// an error marked ! means a wrong result.
// Any correct double-precision transform stays many orders below this.
const double kWrongError = 1e-10;
bool is_wrong(const Row& r) {
  return r.ours_status == "0" && !std::isnan(r.ours_err) && !(r.ours_err <= kWrongError);
}

bool noisy(const Row& r) {
  if (r.ours_status != "0") return false;
  return (std::isfinite(r.ours_spread) && r.ours_spread > 0.1) ||
         (std::isfinite(r.fftw_spread) && r.fftw_spread > 0.1);
}

void print_table(FILE* f, const std::vector<Row>& rows) {
  fprintf(f,
          "ns per transform; FFTWe = FFTW_ESTIMATE plan; MF = MFLOPS (benchFFT: 5 N log2 N / t(us),"
          " half for real);\nerr = relative RMS error; ~ noisy timing, ! wrong result, plan time:"
          " c from the cache, * capped;\ncommit and FFTWe plan time: medians of 5 on fresh"
          " descriptors and plans; n/a(S): our status S\n");
  fprintf(f,
          "%-4s %8s %5s %3s %-7s %3s | %10s %10s %10s | %9s %9s | %8s %8s | %9s %9s | %10s %10s\n",
          "kind", "n", "batch", "thr", "place", "lvl", "ours ns", "FFTW ns", "FFTWe ns",
          "ours/FFTW", "ours/FFTWe", "ours MF", "FFTW MF", "ours err", "FFTW err", "commit us",
          "plan us");
  Kind last = (Kind)-1;
  for (const Row& r : rows) {
    if (r.c.kind != last && last != (Kind)-1) fprintf(f, "\n");
    last = r.c.kind;
    fprintf(f, "%-4s %8lld %5lld %3d %-7s %3d | %s %s %s | %s %s | %s %s | %s %s | %s %s\n",
            kKindCode[r.c.kind], (long long)r.c.n, (long long)r.c.batch, r.c.threads,
            r.c.inplace ? "inplace" : "oop", r.level,
            ours_cell(r, r.ours_ns, "%*.1f", 10).c_str(), cell(r.fftw_ns, "%*.1f", 10).c_str(),
            cell(r.fftw_est_ns, "%*.1f", 10).c_str(),
            (ours_cell(r, r.ratio(), "%*.3f", 8) + (noisy(r) ? "~" : " ")).c_str(),
            ours_cell(r, r.ours_ns / r.fftw_est_ns, "%*.3f", 10).c_str(),
            ours_cell(r, r.ours_mflops(), "%*.0f", 8).c_str(),
            cell(r.fftw_mflops(), "%*.0f", 8).c_str(), (ours_cell(r, r.ours_err, "%*.2e", 8) + (is_wrong(r) ? "!" : " ")).c_str(),
            cell(r.fftw_err, "%*.2e", 9).c_str(), ours_cell(r, r.commit_us, "%*.1f", 10).c_str(),
            (cell(r.plan_us, "%*.1f", 9) +
             (r.plan_source == "cached" ? "c" : r.plan_source == "capped" ? "*" : " ")).c_str());
  }
}

// Geometric mean of ours/FFTW per kind and level, over the cases where both
// ran and ours gave a right answer; wrong answers are counted apart.
void print_summary(FILE* f, const std::vector<Row>& rows, const Options& o) {
  fprintf(f, "Geometric mean of the time ratio ours/FFTW (FFTW_MEASURE plans; below 1: ours faster)\n");
  fprintf(f, "(cases counted / cases run; a case whose error exceeds %.0e counts as wrong)\n",
          kWrongError);
  fprintf(f, "%-18s", "kind");
  for (int l : o.levels) fprintf(f, " %18s", ("level " + std::to_string(l)).c_str());
  fprintf(f, "\n");
  for (Kind k : o.kinds) {
    fprintf(f, "%-18s", kKindName[k]);
    for (int l : o.levels) {
      double sum = 0;
      int n = 0, total = 0, wrong = 0;
      for (const Row& r : rows) {
        if (r.c.kind != k || r.level != l) continue;
        ++total;
        double q = r.ratio();
        if (r.ours_status != "0") continue;
        if (is_wrong(r)) {
          ++wrong;
        } else if (std::isfinite(q) && q > 0) {
          sum += std::log(q);
          ++n;
        }
      }
      char buf[64];
      if (n) snprintf(buf, sizeof buf, "%.3f (%d/%d)", std::exp(sum / n), n, total);
      else snprintf(buf, sizeof buf, "n/a (0/%d)", total);
      std::string text = buf;
      if (wrong) text += ", " + std::to_string(wrong) + " wrong";
      fprintf(f, " %18s", text.c_str());
    }
    fprintf(f, "\n");
  }
}

bool is_pow2(int64_t n) { return (n & (n - 1)) == 0; }

// One data file per kind and thread/placement combination for the charts:
// block 0 holds the powers of two, block 1 the other lengths (drawn as
// separate series so that a line never zigzags between the two families).
// Columns: n, FFTW MFLOPS, FFTW estimate MFLOPS, FFTW error, FFTW plan us,
// then per level: ours MFLOPS, ratio ours/FFTW, ours error, ours commit us.
void write_chart_data(const std::string& dir, const std::vector<Row>& rows, const Options& o) {
  std::string data = dir + "/data";
  std::string cmd = "mkdir -p '" + data + "'";
  if (system(cmd.c_str()) != 0) die("cannot create %s", data.c_str());
  std::set<std::string> combos;
  for (const Row& r : rows)
    if (r.c.batch == 1) combos.insert(combo_name(r.c));
  for (Kind k : o.kinds)
    for (const auto& combo : combos) {
      // n -> row per level
      std::map<int64_t, std::map<int, const Row*>> byn;
      for (const Row& r : rows)
        if (r.c.kind == k && r.c.batch == 1 && combo_name(r.c) == combo) byn[r.c.n][r.level] = &r;
      std::string path = data + "/" + kKindCode[k] + "_" + combo + ".dat";
      FILE* f = fopen(path.c_str(), "w");
      if (!f) die("cannot write %s", path.c_str());
      fprintf(f, "# %s, %s; levels", kKindName[k], combo.c_str());
      for (int l : o.levels) fprintf(f, " %d", l);
      fprintf(f, "\n");
      auto v = [](double x) { return std::isfinite(x) && x > 0 ? Row::num(x) : std::string("NaN"); };
      for (int block = 0; block < 2; ++block) {
        if (block == 1) fprintf(f, "\n\n");
        // gnuplot needs at least one line per block to keep the indices.
        bool any = false;
        for (auto& [n, per_level] : byn) {
          if (is_pow2(n) != (block == 0)) continue;
          any = true;
          double fm = 0, fe = 0;
          int cnt = 0;
          const Row* first = per_level.begin()->second;
          for (auto& [l, r] : per_level)
            if (std::isfinite(r->fftw_ns) && std::isfinite(r->fftw_est_ns)) {
              fm += r->fftw_mflops();
              fe += r->mflops(r->fftw_est_ns);
              ++cnt;
            }
          fprintf(f, "%lld %s %s %s %s", (long long)n, v(cnt ? fm / cnt : kNaN).c_str(),
                  v(cnt ? fe / cnt : kNaN).c_str(), v(first->fftw_err).c_str(),
                  v(first->plan_us).c_str());
          for (int l : o.levels) {
            auto it = per_level.find(l);
            const Row* r = it == per_level.end() ? nullptr : it->second;
            bool ok = r && r->ours_status == "0";
            fprintf(f, " %s %s %s %s", v(ok ? r->ours_mflops() : kNaN).c_str(),
                    v(ok ? r->ratio() : kNaN).c_str(), v(ok ? r->ours_err : kNaN).c_str(),
                    v(ok ? r->commit_us : kNaN).c_str());
          }
          fprintf(f, "\n");
        }
        if (!any) {
          fprintf(f, "NaN");
          for (size_t j = 0; j < 4 + 4 * o.levels.size(); ++j) fprintf(f, " NaN");
          fprintf(f, "\n");
        }
      }
      fclose(f);
    }
  // What the chart script iterates over.
  std::string path = data + "/config.gp";
  FILE* f = fopen(path.c_str(), "w");
  if (!f) die("cannot write %s", path.c_str());
  std::string kinds, levels, cs;
  for (Kind k : o.kinds) kinds += std::string(kinds.empty() ? "" : " ") + kKindCode[k];
  for (int l : o.levels) levels += (levels.empty() ? "" : " ") + std::to_string(l);
  for (const auto& c : combos) cs += (cs.empty() ? "" : " ") + c;
  fprintf(f, "kinds = \"%s\"\nlevels = \"%s\"\ncombos = \"%s\"\n", kinds.c_str(), levels.c_str(),
          cs.c_str());
  fclose(f);
}

int parent_main(const Options& o) {
  auto cases = make_cases(o);
  if (cases.empty()) die("no cases");
  std::string cmd = "mkdir -p '" + o.out + "'";
  if (system(cmd.c_str()) != 0) die("cannot create %s", o.out.c_str());
  std::vector<Row> rows = run_workers(o, cases, o.out + "/fftw.wisdom");
  cmd = "rm -rf '" + o.out + "/refcache'";
  if (system(cmd.c_str()) != 0) fprintf(stderr, "compare: could not remove %s/refcache\n", o.out.c_str());

  // The first worker planned FFTW from scratch; the others reused its wisdom,
  // so its planning times stand for every level.
  std::map<std::string, const Row*> first;
  for (const Row& r : rows)
    if (r.level == o.levels[0] && std::isfinite(r.plan_us)) first[r.c.key()] = &r;
  std::map<std::string, Row> plan;  // copies: rows is rewritten below
  for (auto& [k, r] : first) plan[k] = *r;
  for (Row& r : rows) {
    auto it = plan.find(r.c.key());
    if (it != plan.end()) {
      r.plan_us = it->second.plan_us;
      r.est_plan_us = it->second.est_plan_us;
      r.plan_source = it->second.plan_source;
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (a.c.kind != b.c.kind) return a.c.kind < b.c.kind;
    if (a.c.threads != b.c.threads) return a.c.threads < b.c.threads;
    if (a.c.inplace != b.c.inplace) return a.c.inplace < b.c.inplace;
    if (a.c.n != b.c.n) return a.c.n < b.c.n;
    if (a.c.batch != b.c.batch) return a.c.batch < b.c.batch;
    return a.level < b.level;
  });

  std::string csv = o.out + "/results.csv";
  FILE* f = fopen(csv.c_str(), "w");
  if (!f) die("cannot write %s", csv.c_str());
  fprintf(f, "%s\n", kCsvHeader);
  for (const Row& r : rows) fprintf(f, "%s\n", r.csv().c_str());
  fclose(f);

  print_table(stdout, rows);
  printf("\n");
  print_summary(stdout, rows, o);
  std::string sum = o.out + "/summary.txt";
  if (FILE* s = fopen(sum.c_str(), "w")) {
    print_table(s, rows);
    fprintf(s, "\n");
    print_summary(s, rows, o);
    fclose(s);
  }
  write_chart_data(o.out, rows, o);
  printf("\nresults: %s (results.csv, summary.txt, data/)\n", o.out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse(argc, argv);
  return o.worker_level >= 0 ? worker_main(o) : parent_main(o);
}

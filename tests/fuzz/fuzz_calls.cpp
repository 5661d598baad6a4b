// Fuzzer of public call sequences (libFuzzer). The input bytes drive create,
// set, get, commit, forward, backward and release calls with ordinary and
// hostile values on three handle slots, a null handle and a fake record.
// The model (model.h) predicts every status, every value a get writes (and
// how many bytes), the commit state, and how many arrays a compute call
// takes; a committed descriptor whose arrays fit a small buffer is run, its
// guards checked, and its result compared with a direct transform where the
// layout makes the answer unique. Any disagreement aborts with a report.
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>

#include "model.h"
#include "tqs_dfti.h"

namespace {

using namespace tqs_fuzz;

constexpr int kSlots = 3;

// TQS_FUZZ_TRACE=1 prints every call, to read a reproducer.
bool tracing() {
  static const bool on = std::getenv("TQS_FUZZ_TRACE") != nullptr;
  return on;
}

__attribute__((format(printf, 1, 2))) void trace(const char* format, ...) {
  if (!tracing()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

[[noreturn]] void fault(const char* what, long got, long want, int step) {
  std::fprintf(stderr, "MODEL MISMATCH at step %d: %s: got %ld, expected %ld\n", step, what, got,
               want);
  std::abort();
}

// ---- input bytes -------------------------------------------------------------

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool empty() const { return p_ == end_; }
  uint8_t u8() { return p_ == end_ ? 0 : *p_++; }
  uint64_t u64() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | u8();
    return v;
  }
  int pick(int count) { return u8() % count; }
  int64_t in(int64_t lo, int64_t hi) {  // lo .. hi, hi - lo < 2^16
    const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
    return lo + static_cast<int64_t>((uint64_t{u8()} << 8 | u8()) % span);
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

const int64_t kHostile64[] = {0,
                              -1,
                              INT64_MIN,
                              INT64_MAX,
                              int64_t(1) << 31,
                              (int64_t(1) << 31) - 1,
                              int64_t(1) << 32,
                              (int64_t(1) << 32) + 1,
                              int64_t(1) << 40,
                              (int64_t(1) << 61) + 1,
                              -(int64_t(1) << 33),
                              int64_t(1) << 62};

int64_t hostile(Bytes& b) {
  if (b.pick(4) == 0) return static_cast<int64_t>(b.u64());
  return kHostile64[b.pick(sizeof kHostile64 / sizeof kHostile64[0])];
}

int64_t pick_length(Bytes& b) {
  static const int64_t notable[] = {96, 168, 128, 256, 1000, 1024, 4096, 4099, 16384};
  switch (b.pick(10)) {
    case 0: case 1: case 2: case 3: return b.in(1, 64);
    case 4: return b.in(1, 300);
    case 5: return b.in(1, 2048);
    case 6: return notable[b.pick(sizeof notable / sizeof notable[0])];
    case 7: return b.in(-3, 0);
    default: return hostile(b);
  }
}

int64_t pick_integer(Bytes& b) {
  switch (b.pick(8)) {
    case 0: case 1: return b.in(-3, 8);
    case 2: return b.in(0, 300);
    case 3: return b.in(-300, -1);
    case 4: return b.in(0, 40000);
    default: return hostile(b);
  }
}

int32_t pick_enumerated(Bytes& b) {
  static const int32_t odd[] = {0, -1, 1, 28, 29, 33, 47, 58, 100, INT32_MIN, INT32_MAX};
  switch (b.pick(4)) {
    case 0: case 1: return static_cast<int32_t>(b.in(30, 57));
    case 2: return odd[b.pick(sizeof odd / sizeof odd[0])];
    default: return static_cast<int32_t>(b.u64());
  }
}

double pick_scale(Bytes& b, int64_t n) {
  switch (b.pick(12)) {
    case 0: case 1: return 1.0;
    case 2: return 0.0;
    case 3: return -0.0;
    case 4: return n > 0 ? 1.0 / static_cast<double>(n) : 0.5;
    case 5: return n > 0 ? 1.0 / std::sqrt(static_cast<double>(n)) : 2.0;
    case 6: return std::nan("");
    case 7: return INFINITY;
    case 8: return -INFINITY;
    case 9: return 1e308;
    case 10: return -2.5;
    default: {
      const uint64_t bits = b.u64();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
  }
}

int pick_parameter(Bytes& b) {
  switch (b.pick(8)) {
    case 0: return static_cast<int>(b.in(-3, 31));
    case 1: {
      static const int odd[] = {-1, 28, 100, INT32_MIN, INT32_MAX, -28};
      return odd[b.pick(6)];
    }
    default: return static_cast<int>(b.in(0, 27));
  }
}

// ---- a session: the handles and the calls --------------------------------------------

class Session {
 public:
  explicit Session(Bytes& b) : b_(b) {
    std::memset(fake_, 0xA5, sizeof fake_);  // no zero byte: never a valid magic
  }

  ~Session() {
    for (Model& m : slots_) {
      if (m.h != nullptr && DftiRelease(&m.h) != 0) fault("final release", 1, 0, step_);
    }
  }

  void step() {
    ++step_;
    switch (b_.pick(8)) {
      case 0: create(); break;
      case 1: case 2: set(); break;
      case 3: get(); break;
      case 4: commit(); break;
      case 5: compute(true); break;
      case 6: compute(false); break;
      default: b_.pick(4) == 0 ? release() : configure_plainly(); break;
    }
    check_fake();
  }

 private:
  // A handle: a slot's, null, or the fake record.
  struct Target {
    Model* m;        // the slot, or null
    DftiHandle h;    // what the call receives
    bool bad;        // null or fake: status 5
    int slot;        // 0 .. 2, 3 null, 4 fake
  };

  Target target() {
    const int k = b_.pick(kSlots + 2);
    if (k < kSlots) return {&slots_[k], slots_[k].h, slots_[k].h == nullptr, k};
    if (k == kSlots) return {nullptr, nullptr, true, k};
    return {nullptr, reinterpret_cast<DftiHandle>(fake_), true, k};
  }

  void expect(const char* what, long got, long want) {
    if (got != want) fault(what, got, want, step_);
  }

  void check_fake() {
    for (unsigned char c : fake_) {
      if (c != 0xA5) fault("the fake record was written", c, 0xA5, step_);
    }
  }

  void create() {
    const int k = b_.pick(kSlots + 1);
    const int64_t n = pick_length(b_);
    const int32_t domain = b_.pick(4) == 0 ? pick_enumerated(b_) : (b_.pick(2) ? DFTI_REAL : DFTI_COMPLEX);
    if (k == kSlots) {
      expect("create with a null handle address", DftiCreateDouble1D(nullptr, domain, n), 3);
      return;
    }
    Model& m = slots_[k];
    if (m.h != nullptr) expect("release before create", DftiRelease(&m.h), 0);
    m = Model();
    m.h = reinterpret_cast<DftiHandle>(fake_);  // must be overwritten with null on failure
    const long s = DftiCreateDouble1D(&m.h, domain, n);
    trace("%d: create slot %d domain %d n %lld -> %ld", step_, k, domain, (long long)n, s);
    const bool valid = n > 0 && (domain == DFTI_COMPLEX || domain == DFTI_REAL);
    expect("create", s, valid ? 0 : 2);
    if (!valid) {
      expect("handle after a refused create", m.h == nullptr, 1);
      return;
    }
    if (m.h == nullptr) fault("create left a null handle", 0, 1, step_);
    m.domain = domain;
    m.n = n;
  }

  void set() {
    Target t = target();
    const int parameter = pick_parameter(b_);
    const bool in_range = parameter >= 0 && parameter <= 27;
    Model scratch;
    Model& m = t.m != nullptr && !t.bad ? *t.m : scratch;
    long want = t.bad ? 5 : (in_range ? 0 : 3);
    long got;
    switch (parameter) {
      case DFTI_FWD_SCALE:
      case DFTI_BWD_SCALE: {
        const double v = pick_scale(b_, m.n);
        got = DftiSet(t.h, parameter, v);
        if (want == 0) {
          double& slot = parameter == DFTI_FWD_SCALE ? m.fscale : m.bscale;
          if (!(v == slot)) m.committed = false;
          slot = v;
        }
        break;
      }
      case DFTI_IN_STRIDES:
      case DFTI_OUT_STRIDES: {
        int64_t strides[2] = {b_.pick(3) == 0 ? hostile(b_) : b_.in(0, 20),
                              b_.pick(3) == 0 ? hostile(b_) : b_.in(-4, 6)};
        // A negative stride mostly comes with the offset that keeps the
        // vector inside the array.
        if (strides[1] < 0 && strides[1] > -5 && strides[0] >= 0 && strides[0] <= 20 &&
            m.n <= kCommitLength && b_.pick(2))
          strides[0] += (m.n - 1) * -strides[1];
        const bool null = b_.pick(16) == 0;
        got = DftiSet(t.h, parameter, null ? nullptr : strides);
        if (want == 0 && null) want = 3;
        if (want == 0) {
          m.committed = false;
          (parameter == DFTI_IN_STRIDES ? m.in_off : m.out_off) = strides[0];
          (parameter == DFTI_IN_STRIDES ? m.in_stride : m.out_stride) = strides[1];
        }
        break;
      }
      case DFTI_LABEL: {
        char text[24];
        const int length = b_.pick(22);
        for (int i = 0; i < length; ++i) text[i] = static_cast<char>(1 + b_.u8() % 255);
        text[length] = '\0';
        const bool null = b_.pick(16) == 0;
        got = DftiSet(t.h, parameter, null ? nullptr : text);
        if (want == 0 && null) want = 3;
        if (want == 0) {
          std::memset(m.label, 0, sizeof m.label);
          std::memcpy(m.label, text, static_cast<size_t>(length < 10 ? length : 10));
        }
        break;
      }
      case DFTI_DIMENSION:
      case DFTI_LENGTHS:
      case DFTI_VERSION_TEXT: {
        int64_t values[2] = {pick_integer(b_), 1};
        got = DftiSet(t.h, parameter, values);
        if (want == 0) want = 3;
        break;
      }
      case DFTI_TRANSFORM_COUNT:
      case DFTI_IN_DISTANCE:
      case DFTI_OUT_DISTANCE:
      case DFTI_NUMBER_OF_USER_THREADS:
      case DFTI_MAX_THREADS: {
        int64_t v = b_.pick(3) == 0 ? m.n : pick_integer(b_);
        if (parameter == DFTI_TRANSFORM_COUNT && b_.pick(2)) v = b_.in(1, 9);
        if (parameter == DFTI_NUMBER_OF_USER_THREADS && b_.pick(2)) v = b_.in(0, 4);
        got = DftiSet(t.h, parameter, v);
        trace("%d: set slot %d parameter %d value %lld", step_, t.slot, parameter, (long long)v);
        if (want == 0) {
          m.committed = false;
          switch (parameter) {
            case DFTI_TRANSFORM_COUNT: m.count = v; break;
            case DFTI_IN_DISTANCE: m.in_dist = v; break;
            case DFTI_OUT_DISTANCE: m.out_dist = v; break;
            case DFTI_NUMBER_OF_USER_THREADS:
              if (v < INT32_MIN || v > INT32_MAX) want = 3;
              else m.user_threads = v;
              break;
            default:
              if (v < 0) want = 3;
              else m.max_threads = v > INT32_MAX ? INT32_MAX : v;
              break;
          }
        }
        break;
      }
      default: {
        const int32_t v = pick_enumerated(b_);
        got = DftiSet(t.h, parameter, v);
        if (want == 0) {
          m.committed = false;
          want = set_enumerated(m, parameter, v);
        }
        break;
      }
    }
    trace("%d: set slot %d parameter %d -> %ld", step_, t.slot, parameter, got);
    expect("set", got, want);
    verify_commit_state(t);
  }

  void verify_commit_state(const Target& t) {
    if (t.bad) return;
    int32_t state = 0;
    expect("get commit state", DftiGet(t.h, DFTI_COMMIT_STATE, &state), 0);
    expect("commit state", state, t.m->committed ? DFTI_STATE_COMMITTED : DFTI_STATE_UNCOMMITTED);
  }

  void get() {
    Target t = target();
    const int parameter = pick_parameter(b_);
    const bool null = b_.pick(16) == 0;
    unsigned char area[256];
    std::memset(area, 0xCD, sizeof area);
    const long got = DftiGet(t.h, parameter, null ? nullptr : area);
    if (parameter == DFTI_VERSION_TEXT) {
      expect("get version text", got, null ? 3 : 0);
      if (!null) {
        expect("version text ends inside its area", area[DFTI_VERSION_TEXT_LENGTH - 1], 0);
        expect("version text overran", area[DFTI_VERSION_TEXT_LENGTH], 0xCD);
      }
      return;
    }
    if (t.bad) return expect("get on a bad handle", got, 5);
    if (parameter < 0 || parameter > 27) return expect("get out of range", got, 3);
    if (parameter == 6 || parameter == 16 || parameter == 24 || parameter == 25)
      return expect("get reserved", got, 6);
    if (null) return expect("get into null", got, 3);
    expect("get", got, 0);
    const Model& m = *t.m;
    int64_t want[2] = {0, 0};
    int width = 4;
    double scale = 0;
    switch (parameter) {
      case DFTI_FORWARD_DOMAIN: want[0] = m.domain; break;
      case DFTI_DIMENSION: want[0] = 1, width = 8; break;
      case DFTI_LENGTHS: want[0] = m.n, width = 8; break;
      case DFTI_PRECISION: want[0] = DFTI_DOUBLE; break;
      case DFTI_FWD_SCALE:
      case DFTI_BWD_SCALE:
        scale = parameter == DFTI_FWD_SCALE ? m.fscale : m.bscale;
        std::memcpy(&want[0], &scale, 8);
        width = 8;
        break;
      case DFTI_TRANSFORM_COUNT: want[0] = m.count, width = 8; break;
      case DFTI_COMPLEX_LAYOUT: want[0] = m.complex_layout; break;
      case DFTI_REAL_LAYOUT: want[0] = m.real_layout; break;
      case DFTI_CONJUGATE_EVEN_STORAGE: want[0] = m.ces; break;
      case DFTI_PLACEMENT: want[0] = m.placement; break;
      case DFTI_IN_STRIDES: want[0] = m.in_off, want[1] = m.in_stride, width = 16; break;
      case DFTI_OUT_STRIDES: want[0] = m.out_off, want[1] = m.out_stride, width = 16; break;
      case DFTI_IN_DISTANCE: want[0] = m.in_dist, width = 8; break;
      case DFTI_OUT_DISTANCE: want[0] = m.out_dist, width = 8; break;
      case DFTI_SCRATCH_POLICY: want[0] = m.scratch; break;
      case DFTI_OUTPUT_ORDER: want[0] = m.ordering; break;
      case DFTI_TRANSPOSITION: want[0] = DFTI_NO_TRANSPOSITION; break;
      case DFTI_PACKING: want[0] = m.packing; break;
      case DFTI_COMMIT_STATE:
        want[0] = m.committed ? DFTI_STATE_COMMITTED : DFTI_STATE_UNCOMMITTED;
        break;
      case DFTI_NUMBER_OF_USER_THREADS: want[0] = m.user_threads, width = 8; break;
      case DFTI_LABEL: {
        char label[10];
        std::memcpy(label, m.label, 10);
        label[9] = '\0';
        if (std::memcmp(area, label, 10) != 0) fault("label read back", 0, 1, step_);
        expect("label overran", area[10], 0xCD);
        return;
      }
      case DFTI_MAX_THREADS: {
        int64_t v;
        std::memcpy(&v, area, 8);
        expect("max threads overran", area[8], 0xCD);
        // Committed: the team the plan may use, at least one and within
        // the limit; uncommitted: the limit as set.
        if (!m.committed) return expect("max threads", v, m.max_threads);
        if (v < 1 || (m.max_threads > 0 && v > m.max_threads)) fault("committed max threads", v, 1, step_);
        return;
      }
      default:
        return;
    }
    unsigned char expected[16];
    if (width == 4) {
      const int32_t v = static_cast<int32_t>(want[0]);
      std::memcpy(expected, &v, 4);
    } else {
      std::memcpy(expected, want, static_cast<size_t>(width));
    }
    if (std::memcmp(area, expected, static_cast<size_t>(width)) != 0) {
      int64_t got_value = 0;
      std::memcpy(&got_value, area, width == 4 ? 4 : 8);
      if (width == 4) got_value = static_cast<int32_t>(got_value);
      fault("get value", got_value, want[0], step_ * 100 + parameter);
    }
    expect("get overran its value", area[width], 0xCD);
  }

  void commit() {
    Target t = target();
    if (t.bad) {
      expect("commit on a bad handle", DftiCommit(t.h), 5);
      return;
    }
    Model& m = *t.m;
    const Commit e = commit_expectation(m);
    if (e == Commit::Skip) return;
    const long s = DftiCommit(t.h);
    trace("%d: commit slot %d -> %ld", step_, t.slot, s);
    switch (e) {
      case Commit::MustSucceed:
        expect("commit", s, 0);
        break;
      case Commit::MustFail:
        if (s != 3 && s != 9) fault("commit of a refused configuration", s, 3, step_);
        break;
      default:
        if (s != 0 && s != 3) fault("commit status", s, 3, step_);
        break;
    }
    m.committed = s == 0;
    m.arrays = (m.inplace() ? 1 : 2) * (m.split() ? 2 : 1);
    verify_commit_state(t);
  }

  void compute(bool forward) {
    Target t = target();
    const int mode = b_.pick(6);  // 0-2: the arrays; 3: extra ones; 4: a null among them; 5: all null
    const uint64_t seed = b_.u64();
    double one = 0.0;
    if (t.bad || !t.m->committed) {
      const long s = forward ? DftiForward(t.h, &one, &one, &one, &one)
                             : DftiBackward(t.h, &one, &one, &one, &one);
      expect(t.bad ? "compute on a bad handle" : "compute uncommitted", s, t.bad ? 5 : 2);
      expect("compute touched an argument", one == 0.0, 1);
      return;
    }
    const Model& m = *t.m;
    if (mode >= 4) {
      double* p[4] = {&one, &one, &one, &one};
      const int hole = mode == 5 ? -1 : b_.pick(m.arrays);
      for (int i = 0; i < 4; ++i) {
        if (mode == 5 || i == hole) p[i] = nullptr;
      }
      const long s = forward ? DftiForward(t.h, p[0], p[1], p[2], p[3])
                             : DftiBackward(t.h, p[0], p[1], p[2], p[3]);
      expect("compute with a null array", s, 2);
      expect("compute touched an argument", one == 0.0, 1);
      return;
    }
    run(m, forward, mode == 3, seed);
  }

  // A committed batch of no transforms: nothing to do, nothing written.
  void run_empty(const Model& m, bool forward) {
    double data[4][16];
    for (auto& a : data) {
      for (double& v : a) v = 1.5;
    }
    const long s = forward ? DftiForward(m.h, data[0], data[1], data[2], data[3])
                           : DftiBackward(m.h, data[0], data[1], data[2], data[3]);
    trace("%d: %s of an empty batch (count %lld) -> %ld", step_, forward ? "forward" : "backward",
          (long long)m.count, s);
    expect("compute of an empty batch", s, 0);
    for (const auto& a : data) {
      for (double v : a) {
        if (v != 1.5) fault("an empty batch wrote", 0, 1, step_);
      }
    }
  }

  // A committed descriptor on real arrays, when they fit.
  void run(const Model& m, bool forward, bool extras, uint64_t seed) {
    if (m.count < 1) return run_empty(m, forward);
    SideShape in, out;
    if (!call_shapes(m, forward, &in, &out)) return;
    if (m.count > 4096) return;
    // Aliasing strides can fold many elements onto a small buffer.
    if (m.count * std::max(in.slots * in.unit, out.slots * out.unit) > 4 * kMaxDoubles) return;
    int64_t in_lo, in_hi, out_lo, out_hi;
    if (!extent(in, m.count, &in_lo, &in_hi) || !extent(out, m.count, &out_lo, &out_hi)) return;
    const size_t size = static_cast<size_t>(std::max(in_hi, out_hi) + 8);
    const int per_role = m.split() ? 2 : 1;
    const int arrays = m.inplace() ? per_role : 2 * per_role;
    std::vector<double> data[4], before[4];
    uint64_t state = seed | 1;
    auto next = [&state]() {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      return static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0;
    };
    for (int a = 0; a < arrays; ++a) {
      data[a].resize(size);
      for (size_t i = 0; i < size; ++i) data[a][i] = 1.0e300 * (1 + a) - static_cast<double>(i) * 1e285;
    }
    std::vector<int64_t> in_pos, out_pos;
    positions(in, m.count, &in_pos);
    positions(out, m.count, &out_pos);
    // Inputs: random values; a real spectrum is made Hermitian (the
    // imaginary parts at 0 and n/2 are zero).
    const bool spectrum_in = m.real() && !forward;
    const int64_t n = m.n, half = n / 2 + 1;
    std::vector<std::vector<double>> logical(static_cast<size_t>(m.count));
    for (int64_t t = 0; t < m.count; ++t) {
      std::vector<double>& x = logical[t];
      if (spectrum_in) {
        x.resize(static_cast<size_t>(2 * half));
        for (double& v : x) v = next();
        x[1] = 0.0;
        if (n % 2 == 0) x[2 * half - 1] = 0.0;
      } else {
        x.resize(static_cast<size_t>(m.real() ? n : 2 * n));
        for (double& v : x) v = next();
      }
    }
    const size_t per_in = static_cast<size_t>(in.slots * in.unit);
    for (int64_t t = 0; t < m.count; ++t) {
      const std::vector<double> v = spectrum_in ? to_layout(spectrum_layout(m), n, logical[t]) : logical[t];
      for (size_t j = 0; j < per_in; ++j) {
        const int64_t p = in_pos[t * per_in + j];
        if (m.split()) {
          data[0][p] = v[2 * j];
          data[1][p] = v[2 * j + 1];
        } else {
          data[0][p] = v[j];
        }
      }
    }
    for (int a = 0; a < arrays; ++a) before[a] = data[a];
    std::vector<double> junk(16, 7.0);
    double* p[4] = {data[0].data(), data[1].data(), data[2].data(), data[3].data()};
    for (int i = m.arrays; i < 4; ++i) p[i] = extras ? junk.data() : nullptr;
    const long s = forward ? DftiForward(m.h, p[0], p[1], p[2], p[3])
                           : DftiBackward(m.h, p[0], p[1], p[2], p[3]);
    trace("%d: %s domain %d n %lld count %lld placement %d layout %d storage %d packing %d "
          "in {%lld %lld %lld} out {%lld %lld %lld} scales %g %g threads %lld users %lld -> %ld",
          step_, forward ? "forward" : "backward", m.domain, (long long)m.n, (long long)m.count,
          m.placement, m.complex_layout, m.ces, m.packing, (long long)m.in_off,
          (long long)m.in_stride, (long long)m.in_dist, (long long)m.out_off,
          (long long)m.out_stride, (long long)m.out_dist, m.fscale, m.bscale,
          (long long)m.max_threads, (long long)m.user_threads, s);
    expect("compute", s, 0);
    for (double v : junk) {
      if (v != 7.0) fault("an array beyond the count was written", 0, 1, step_);
    }
    // Guards: out of place the inputs stay as they were; nothing outside
    // the output elements (in place: the input elements too) changes.
    const int out_base = m.inplace() ? 0 : per_role;
    std::vector<char> mine(size, 0);
    for (int64_t q : out_pos) mine[static_cast<size_t>(q)] = 1;
    if (m.inplace()) {
      for (int64_t q : in_pos) mine[static_cast<size_t>(q)] = 1;
    }
    for (int a = 0; a < arrays; ++a) {
      const bool output = a >= out_base;
      for (size_t i = 0; i < size; ++i) {
        if ((output && mine[i]) || std::memcmp(&data[a][i], &before[a][i], 8) == 0) continue;
        fault(output ? "wrote outside the output elements" : "wrote into the input",
              static_cast<long>(i), a, step_);
      }
    }
    check_result(m, forward, in_pos, out_pos, logical, data[out_base], data[out_base + 1]);
  }

  // The result against the direct transform, when it is unique: natural
  // order, a finite moderate scale, no input element shared, and no output
  // element written twice or read after another transform wrote it.
  void check_result(const Model& m, bool forward, const std::vector<int64_t>& in_pos,
                    const std::vector<int64_t>& out_pos,
                    const std::vector<std::vector<double>>& logical, const std::vector<double>& y,
                    const std::vector<double>& y_im) {
    const int64_t n = m.n, count = m.count;
    const double scale = forward ? m.fscale : m.bscale;
    if (m.ordering != DFTI_ORDER_NATURAL || !(std::fabs(scale) <= 1e100)) return;
    if (n * n * count > kMaxReferenceWork) return;
    const size_t per_in = in_pos.size() / static_cast<size_t>(count);
    const size_t per_out = out_pos.size() / static_cast<size_t>(count);
    // Inputs that share a place hold only the last value written there.
    {
      std::vector<char> seen(y.size(), 0);
      for (int64_t q : in_pos) {
        if (seen[static_cast<size_t>(q)]++) return;
      }
    }
    std::vector<int> owner(y.size(), -1);
    for (int64_t t = 0; t < count; ++t) {
      for (size_t j = 0; j < per_out; ++j) {
        int& o = owner[static_cast<size_t>(out_pos[t * per_out + j])];
        if (o != -1) return;  // written twice
        o = static_cast<int>(t);
      }
    }
    if (m.inplace()) {
      for (int64_t t = 0; t < count; ++t) {
        for (size_t j = 0; j < per_in; ++j) {
          const int o = owner[static_cast<size_t>(in_pos[t * per_in + j])];
          if (o != -1 && o != t) return;  // another transform's result lands on this input
        }
      }
    }
    const Spectrum layout = spectrum_layout(m);
    const int sign = forward ? -1 : 1;
    const double tolerance = 8 * 2.220446049250313e-16 * (1 + std::log2(static_cast<double>(n)));
    for (int64_t t = 0; t < count; ++t) {
      // Complex form of the input: the Hermitian extension for a real
      // backward transform.
      std::vector<double> x(static_cast<size_t>(2 * n), 0.0), want;
      const std::vector<double>& l = logical[t];
      if (!m.real()) {
        x = l;
      } else if (forward) {
        for (int64_t j = 0; j < n; ++j) x[2 * j] = l[j];
      } else {
        for (int64_t k = 0; k < n; ++k) {
          const int64_t mirror = k <= n / 2 ? k : n - k;
          x[2 * k] = l[2 * mirror];
          x[2 * k + 1] = k <= n / 2 ? l[2 * mirror + 1] : -l[2 * mirror + 1];
        }
      }
      direct(x, n, sign, &want);
      if (m.real() && forward) {
        want.resize(static_cast<size_t>(2 * (n / 2 + 1)));
        want[1] = 0.0;
        if (n % 2 == 0) want[want.size() - 1] = 0.0;
        want = to_layout(layout, n, want);
      } else if (m.real()) {
        for (int64_t j = 0; j < n; ++j) want[j] = want[2 * j];
        want.resize(static_cast<size_t>(n));
      }
      double err = 0, norm = 0, input = 0;
      for (double v : x) input += v * v;
      for (size_t j = 0; j < want.size(); ++j) {
        double got;
        if (m.split()) {
          const int64_t q = out_pos[t * per_out + j / 2];
          got = j % 2 == 0 ? y[q] : y_im[q];
        } else {
          got = y[static_cast<size_t>(out_pos[t * per_out + j])];
        }
        const double w = want[j] * scale;
        err += (got - w) * (got - w);
        norm += w * w;
      }
      // Relative to the result, or to the input's energy when the scale
      // makes the result vanish.
      const double allowed = tolerance * (std::sqrt(norm) + 1e-300 + (scale == 0.0 ? std::sqrt(input) : 0.0));
      if (!(std::sqrt(err) <= allowed)) {
        std::fprintf(stderr, "n %lld count %lld %s %s: transform %lld error %g allowed %g\n",
                     (long long)n, (long long)count, forward ? "forward" : "backward",
                     m.real() ? "real" : "complex", (long long)t, std::sqrt(err), allowed);
        fault("result against the direct transform", 1, 0, step_);
      }
    }
  }

  void release() {
    const int k = b_.pick(kSlots + 3);
    if (k == kSlots) {
      expect("release with a null address", DftiRelease(nullptr), 3);
      return;
    }
    if (k == kSlots + 1) {
      DftiHandle fake = reinterpret_cast<DftiHandle>(fake_);
      expect("release of the fake record", DftiRelease(&fake), 5);
      expect("the fake handle was cleared", fake == reinterpret_cast<DftiHandle>(fake_), 1);
      return;
    }
    if (k == kSlots + 2) {
      DftiHandle none = nullptr;
      expect("release of a null handle", DftiRelease(&none), 5);
      return;
    }
    Model& m = slots_[k];
    const bool live = m.h != nullptr;
    trace("%d: release slot %d", step_, k);
    expect("release", DftiRelease(&m.h), live ? 0 : 5);
    expect("handle after release", m.h == nullptr, 1);
    m = Model();
  }

  // Several ordinary settings in a row, so that inputs reach computable
  // configurations often.
  void configure_plainly() {
    Target t = target();
    if (t.bad) return;
    Model& m = *t.m;
    auto set32 = [&](int parameter, int32_t v) {
      trace("%d: plain set slot %d parameter %d value %d", step_, t.slot, parameter, v);
      expect("plain set", DftiSet(m.h, parameter, v), 0);
      m.committed = false;
      set_enumerated(m, parameter, v);
    };
    switch (b_.pick(6)) {
      case 0: set32(DFTI_PLACEMENT, b_.pick(2) ? DFTI_INPLACE : DFTI_NOT_INPLACE); break;
      case 1:
        if (m.real()) set32(DFTI_CONJUGATE_EVEN_STORAGE, b_.pick(2) ? DFTI_COMPLEX_COMPLEX : DFTI_COMPLEX_REAL);
        else set32(DFTI_COMPLEX_LAYOUT, b_.pick(2) ? DFTI_REAL_REAL : DFTI_COMPLEX_COMPLEX);
        break;
      case 2: set32(DFTI_PACKING, static_cast<int32_t>(b_.in(54, 56))); break;
      case 3: {
        if (m.n > kCommitLength) break;
        const int64_t c = b_.in(1, 6), stride = b_.pick(2) ? c : 1, dist = stride == 1 ? m.n + b_.in(0, 3) : 1;
        trace("%d: plain batch slot %d count %lld stride %lld distance %lld", step_, t.slot,
              (long long)c, (long long)stride, (long long)dist);
        expect("plain set", DftiSet(m.h, DFTI_TRANSFORM_COUNT, c), 0);
        const int64_t strides[2] = {0, stride};
        expect("plain set", DftiSet(m.h, DFTI_IN_STRIDES, strides), 0);
        expect("plain set", DftiSet(m.h, DFTI_OUT_STRIDES, strides), 0);
        expect("plain set", DftiSet(m.h, DFTI_IN_DISTANCE, dist), 0);
        expect("plain set", DftiSet(m.h, DFTI_OUT_DISTANCE, dist), 0);
        m.committed = false;
        m.count = c;
        m.in_off = m.out_off = 0;
        m.in_stride = m.out_stride = stride;
        m.in_dist = m.out_dist = dist;
        break;
      }
      case 4: {
        const int64_t limit = b_.in(0, 3);
        expect("plain set", DftiSet(m.h, DFTI_MAX_THREADS, limit), 0);
        m.committed = false;
        m.max_threads = limit;
        break;
      }
      default:
        commit();
        break;
    }
  }

  Bytes& b_;
  Model slots_[kSlots];
  alignas(64) unsigned char fake_[4096];
  int step_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes bytes(data, size);
  Session session(bytes);
  for (int steps = 0; steps < 48 && !bytes.empty(); ++steps) session.step();
  return 0;
}

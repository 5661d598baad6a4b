// Self-test of the transform library through its public calls: on random
// inputs, every configuration must show the properties that determine a
// discrete Fourier transform (linearity, impulse response, time and
// frequency shift, the round trip with a backward scale of 1/N), in both
// directions, and no call may write outside the caller's output elements or
// into an out-of-place input.
//
//   selftest --quick              a sample of lengths and configurations
//   selftest --full               every length 1..10000 and long lengths
//   options: --lengths A-B,C,...  --seed S  --shard I/K  --max-failures N  -v
//
// The processor level is the process's (TQS_DEBUG_CPU_TYPE); tools/selftest.sh
// runs the program at every level.
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tqs_dfti.h"

namespace {

using cplx = std::complex<double>;
using Vec = std::vector<cplx>;
using Batch = std::vector<Vec>;

constexpr double kEps = 2.220446049250313e-16;

// ---- configurations --------------------------------------------------------

enum Kind { COMPLEX, SPLIT, REAL_CCE, REAL_HALF, REAL_PERMUTED, REAL_SEQUENTIAL, KIND_COUNT };
const char* const kKindNames[] = {"complex", "split", "real-cce", "real-half", "real-permuted",
                                  "real-sequential"};
bool is_real(Kind k) { return k >= REAL_CCE; }

enum Shape { UNIT, STRIDED, BATCH, INTERLEAVED, SHAPE_COUNT };
const char* const kShapeNames[] = {"unit", "strided", "batch", "interleaved"};

// Where one side's elements lie, in elements of that side (complex values on
// a complex side and on the spectrum side of CCE storage, doubles otherwise).
struct Side {
  int64_t offset = 0, stride = 1, distance = 0;
};

// Side a holds the time-domain vectors (forward input, backward output),
// side b the spectra. A direction's descriptor takes its input side as
// DFTI_IN_STRIDES / DFTI_IN_DISTANCE.
struct Config {
  Kind kind = COMPLEX;
  int64_t n = 1;
  bool inplace = false;
  Shape shape = UNIT;
  int64_t threads = 1;
  int64_t count = 1;
  Side a, b;
  int variant = 0;

  std::string describe() const {
    char text[400];
    std::snprintf(text, sizeof text,
                  "%s n=%lld %s %s count=%lld threads=%lld time side {offset %lld stride %lld "
                  "distance %lld} spectrum side {offset %lld stride %lld distance %lld}",
                  kKindNames[kind], (long long)n, inplace ? "in-place" : "out-of-place",
                  kShapeNames[shape], (long long)count, (long long)threads, (long long)a.offset,
                  (long long)a.stride, (long long)a.distance, (long long)b.offset,
                  (long long)b.stride, (long long)b.distance);
    return text;
  }
};

int64_t half(int64_t n) { return n / 2 + 1; }

// Elements of one vector on the spectrum side.
int64_t spectrum_slots(Kind k, int64_t n) {
  switch (k) {
    case REAL_CCE: return half(n);
    case REAL_HALF: return 2 * half(n);
    default: return n;
  }
}

// Offset that puts the lowest element of a side `lead` elements in.
int64_t offset_for(int64_t lead, int64_t slots, int64_t stride, int64_t count, int64_t distance) {
  int64_t low = 0;
  if (stride < 0) low += (slots - 1) * stride;
  if (distance < 0) low += (count - 1) * distance;
  return lead - low;
}

Config make_config(Kind kind, int64_t n, bool inplace, Shape shape, int64_t threads, int variant) {
  Config c;
  c.kind = kind;
  c.n = n;
  c.inplace = inplace;
  c.shape = shape;
  c.threads = threads;
  c.variant = variant;
  const int64_t sa = n, sb = spectrum_slots(kind, n);
  const bool real = is_real(kind), cce = kind == REAL_CCE;
  const int v = variant;
  switch (shape) {
    case UNIT:
      break;
    case STRIDED:
      if (!inplace) {
        static const int64_t pairs[][2] = {{2, 1}, {1, 3}, {-1, 2}, {3, -2}, {-2, -1}};
        const auto& p = pairs[v % 5];
        c.a.stride = p[0];
        c.b.stride = p[1];
        c.a.offset = offset_for(3, sa, p[0], 1, 0);
        c.b.offset = offset_for(5, sb, p[1], 1, 0);
      } else if (!real) {
        static const int64_t strides[] = {2, 3, -1};
        c.a.stride = c.b.stride = strides[v % 3];
        c.a.offset = c.b.offset = offset_for(3, n, c.a.stride, 1, 0);
      } else if (!cce) {
        static const int64_t pairs[][2] = {{2, 2}, {2, 1}, {1, 2}, {3, 3}};
        const auto& p = pairs[v % 4];
        c.a.stride = p[0];
        c.b.stride = p[1];
        c.a.offset = c.b.offset = 2;
      } else {
        // The real and complex sides describe the same places at 2:1, or
        // the real side lies inside the spectrum's at 1:2.
        const int64_t s = 1 + v % 2, o = 1 + (v / 2) % 2;
        if ((v / 4) % 2 == 0) {
          c.a = {2 * o, 2 * s, 0};
          c.b = {o, s, 0};
        } else {
          c.a = {o, s, 0};
          c.b = {2 * o, 2 * s, 0};
        }
      }
      break;
    case BATCH: {
      c.count = n > 65536 ? 2 : 2 + v % 4;
      const int64_t pad = v % 3;
      if (!inplace) {
        const bool strided = v % 2 == 1, backwards = (v / 2) % 2 == 1;
        c.a.stride = strided ? 2 : 1;
        c.b.stride = strided ? 3 : 1;
        c.a.distance = sa * c.a.stride + pad;
        c.b.distance = sb * c.b.stride + 2 * pad;
        if (backwards) c.a.distance = -c.a.distance;
        c.a.offset = offset_for(1, sa, c.a.stride, c.count, c.a.distance);
        c.b.offset = offset_for(2, sb, c.b.stride, c.count, c.b.distance);
      } else if (!real) {
        const int64_t s = 1 + v % 2;
        c.a = c.b = {2, s, n * s + pad};
      } else if (!cce) {
        const int64_t s = 1 + v % 2;
        c.a = c.b = {1, s, std::max(sa, sb) * s + pad};
      } else if (v % 2 == 0) {
        // Rows padded to hold the spectrum in place.
        c.a = {0, 1, 2 * (half(n) + pad)};
        c.b = {0, 1, half(n) + pad};
      } else {
        const int64_t s = 1 + (v / 2) % 2, d = s * n + 1 + pad;
        c.b = {1, s, d};
        c.a = {2, 2 * s, 2 * d};
      }
      break;
    }
    case INTERLEAVED: {
      // Element j of transform t at j * count + t on each side.
      c.count = n > 65536 ? 2 : 2 + v % 7;
      c.a = c.b = {0, c.count, 1};
      if (inplace && cce) c.a.stride = 2 * c.count;
      break;
    }
    default:
      break;
  }
  return c;
}

// ---- one direction's calls: positions, arrays, guards ----------------------

struct Geometry {
  Side in, out;  // positions of the call's input and output elements
  int64_t in_slots, out_slots;
  int in_unit, out_unit;  // doubles per element in one array
};

Geometry geometry(const Config& c, bool forward) {
  Geometry g;
  g.in = forward ? c.a : c.b;
  g.out = forward ? c.b : c.a;
  if (c.inplace) {
    // Complex descriptors in place use the input layout for the output;
    // real ones keep the output strides but start at the input offset,
    // except with CCE storage, which has an output offset of its own.
    if (!is_real(c.kind)) g.out = g.in;
    else if (c.kind != REAL_CCE) g.out.offset = g.in.offset;
  }
  const int64_t time_slots = c.n, spectrum = spectrum_slots(c.kind, c.n);
  const int time_unit = c.kind == COMPLEX ? 2 : 1;
  const int spectrum_unit = c.kind == COMPLEX || c.kind == REAL_CCE ? 2 : 1;
  g.in_slots = forward ? time_slots : spectrum;
  g.out_slots = forward ? spectrum : time_slots;
  g.in_unit = forward ? time_unit : spectrum_unit;
  g.out_unit = forward ? spectrum_unit : time_unit;
  return g;
}

// Doubles of every element of a side, transform by transform.
std::vector<int64_t> positions(const Side& s, int64_t slots, int unit, int64_t count) {
  std::vector<int64_t> p;
  p.reserve(static_cast<size_t>(slots * unit * count));
  for (int64_t t = 0; t < count; ++t)
    for (int64_t j = 0; j < slots; ++j)
      for (int u = 0; u < unit; ++u) p.push_back(unit * (s.offset + t * s.distance + j * s.stride) + u);
  return p;
}

// The layout's doubles of a real transform's spectrum (m + 1 values).
std::vector<double> to_layout(Kind k, int64_t n, const Vec& h) {
  const int64_t m = n / 2;
  std::vector<double> v;
  if (k == REAL_CCE || k == REAL_HALF) {
    for (const cplx& z : h) {
      v.push_back(z.real());
      v.push_back(z.imag());
    }
    return v;
  }
  v.push_back(h[0].real());
  const bool even = n % 2 == 0 && n > 1;
  if (k == REAL_PERMUTED && even) v.push_back(h[m].real());
  for (int64_t j = 1; j < (even ? m : m + 1); ++j) {
    v.push_back(h[j].real());
    v.push_back(h[j].imag());
  }
  if (k == REAL_SEQUENTIAL && even) v.push_back(h[m].real());
  return v;
}

Vec from_layout(Kind k, int64_t n, const double* v) {
  const int64_t m = n / 2;
  Vec h(static_cast<size_t>(m + 1));
  if (k == REAL_CCE || k == REAL_HALF) {
    for (int64_t j = 0; j <= m; ++j) h[j] = cplx(v[2 * j], v[2 * j + 1]);
    return h;
  }
  int64_t at = 0;
  h[0] = v[at++];
  const bool even = n % 2 == 0 && n > 1;
  if (k == REAL_PERMUTED && even) h[m] = v[at++];
  for (int64_t j = 1; j < (even ? m : m + 1); ++j, at += 2) h[j] = cplx(v[at], v[at + 1]);
  if (k == REAL_SEQUENTIAL && even) h[m] = v[at];
  return h;
}

double sentinel(int array, size_t i) {
  return (array % 2 ? -1.0 : 1.0) * (1.0e300 - static_cast<double>(i) * 1.0e285) *
         (1.0 + 0.125 * array);
}

// Runs one committed descriptor in one direction on whole batches, and
// checks every call's status, guards and untouched input.
class Runner {
 public:
  Runner(const Config& c, bool forward, DftiHandle h)
      : c_(c), forward_(forward), h_(h), g_(geometry(c, forward)) {
    in_pos_ = positions(g_.in, g_.in_slots, g_.in_unit, c.count);
    out_pos_ = positions(g_.out, g_.out_slots, g_.out_unit, c.count);
    int64_t hi = 0;
    for (int64_t p : in_pos_) hi = std::max(hi, p);
    for (int64_t p : out_pos_) hi = std::max(hi, p);
    size_ = static_cast<size_t>(hi + 1 + 7);
    const int per_role = c.kind == SPLIT ? 2 : 1;
    arrays_ = c.inplace ? per_role : 2 * per_role;
    // The stretches between the doubles a call may write: guards that must
    // keep their sentinels.
    std::vector<char> mine(size_, 0);
    for (int64_t p : out_pos_) mine[static_cast<size_t>(p)] = 1;
    if (c.inplace) {
      for (int64_t p : in_pos_) mine[static_cast<size_t>(p)] = 1;
    }
    for (size_t i = 0; i < size_;) {
      if (mine[i]) {
        ++i;
        continue;
      }
      size_t end = i;
      while (end < size_ && !mine[end]) ++end;
      guards_.push_back({i, end - i});
      i = end;
    }
    for (int a = 0; a < arrays_; ++a) {
      pristine_[a].resize(size_);
      for (size_t i = 0; i < size_; ++i) pristine_[a][i] = sentinel(a, i);
      data_[a].resize(size_);
    }
  }

  // Transforms in[t] for every t of the batch into out; false with the
  // reason in why.
  bool apply(const Batch& in, Batch* out, std::string* why) {
    const int per_role = c_.kind == SPLIT ? 2 : 1;
    const int out_base = c_.inplace ? 0 : per_role;
    for (int a = 0; a < arrays_; ++a) data_[a] = pristine_[a];
    const size_t per_in = static_cast<size_t>(g_.in_slots * g_.in_unit);
    for (int64_t t = 0; t < c_.count; ++t) {
      const size_t base = static_cast<size_t>(t) * per_in;
      if (c_.kind == SPLIT) {
        for (size_t j = 0; j < per_in; ++j) {
          data_[0][in_pos_[base + j]] = in[t][j].real();
          data_[1][in_pos_[base + j]] = in[t][j].imag();
        }
      } else {
        const std::vector<double> v = encode(in[t], true);
        for (size_t j = 0; j < per_in; ++j) data_[0][in_pos_[base + j]] = v[j];
      }
    }
    if (!c_.inplace) {
      for (int a = 0; a < per_role; ++a) input_[a] = data_[a];
    }

    double* p[4] = {data_[0].data(), data_[1].data(), data_[2].data(), data_[3].data()};
    long status;
    if (forward_) {
      status = arrays_ == 1 ? DftiForward(h_, p[0])
               : arrays_ == 2 ? DftiForward(h_, p[0], p[1])
                              : DftiForward(h_, p[0], p[1], p[2], p[3]);
    } else {
      status = arrays_ == 1 ? DftiBackward(h_, p[0])
               : arrays_ == 2 ? DftiBackward(h_, p[0], p[1])
                              : DftiBackward(h_, p[0], p[1], p[2], p[3]);
    }
    if (status != 0) {
      *why = "status " + std::to_string(status);
      return false;
    }
    for (int a = 0; a < arrays_; ++a) {
      if (!c_.inplace && a < out_base) {
        if (std::memcmp(data_[a].data(), input_[a].data(), size_ * sizeof(double)) != 0) {
          *why = "wrote into its input array " + std::to_string(a);
          return false;
        }
        continue;
      }
      for (const Stretch& g : guards_) {
        if (std::memcmp(&data_[a][g.first], &pristine_[a][g.first], g.count * sizeof(double)) == 0)
          continue;
        size_t i = g.first;
        while (i + 1 < g.first + g.count && data_[a][i] == pristine_[a][i]) ++i;
        *why = "wrote outside its output elements at double " + std::to_string(i) + " of array " +
               std::to_string(a);
        return false;
      }
    }
    const size_t per_out = static_cast<size_t>(g_.out_slots * g_.out_unit);
    out->assign(static_cast<size_t>(c_.count), Vec());
    std::vector<double> v(per_out), im(per_out);
    for (int64_t t = 0; t < c_.count; ++t) {
      const size_t base = static_cast<size_t>(t) * per_out;
      for (size_t j = 0; j < per_out; ++j) v[j] = data_[out_base][out_pos_[base + j]];
      if (c_.kind == SPLIT) {
        for (size_t j = 0; j < per_out; ++j) im[j] = data_[out_base + 1][out_pos_[base + j]];
        Vec& o = (*out)[t];
        o.resize(per_out);
        for (size_t j = 0; j < per_out; ++j) o[j] = cplx(v[j], im[j]);
      } else {
        (*out)[t] = decode(v.data(), false);
      }
    }
    return true;
  }

 private:
  // The call's doubles of one logical vector (time: n values; real
  // spectrum: m + 1 values).
  std::vector<double> encode(const Vec& x, bool input) const {
    const bool time = forward_ == input;
    if (is_real(c_.kind) && !time) return to_layout(c_.kind, c_.n, x);
    std::vector<double> v;
    for (const cplx& z : x) {
      v.push_back(z.real());
      if (c_.kind == COMPLEX) v.push_back(z.imag());
    }
    return v;
  }

  Vec decode(const double* v, bool input) const {
    const bool time = forward_ == input;
    if (is_real(c_.kind) && !time) return from_layout(c_.kind, c_.n, v);
    Vec x(static_cast<size_t>(c_.n));
    for (int64_t j = 0; j < c_.n; ++j) {
      x[j] = c_.kind == COMPLEX ? cplx(v[2 * j], v[2 * j + 1]) : cplx(v[j], 0.0);
    }
    return x;
  }

  const Config& c_;
  bool forward_;
  DftiHandle h_;
  Geometry g_;
  std::vector<int64_t> in_pos_, out_pos_;
  size_t size_ = 0;
  int arrays_ = 1;
  struct Stretch {
    size_t first, count;
  };
  std::vector<Stretch> guards_;
  std::vector<double> data_[4], pristine_[4], input_[2];
};

// ---- descriptors -------------------------------------------------------------

long make_descriptor(const Config& c, bool forward, double fscale, double bscale, DftiHandle* h) {
  long s = DftiCreateDouble1D(h, is_real(c.kind) ? DFTI_REAL : DFTI_COMPLEX, c.n);
  if (s != 0) return s;
  switch (c.kind) {
    case SPLIT: s = DftiSet(*h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL); break;
    case REAL_CCE: s = DftiSet(*h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX); break;
    case REAL_PERMUTED: s = DftiSet(*h, DFTI_PACKING, DFTI_PACKING_PERMUTED); break;
    case REAL_SEQUENTIAL: s = DftiSet(*h, DFTI_PACKING, DFTI_PACKING_SEQUENTIAL); break;
    default: break;
  }
  if (s != 0) return s;
  if (!c.inplace && (s = DftiSet(*h, DFTI_PLACEMENT, DFTI_NOT_INPLACE)) != 0) return s;
  const Side& in = forward ? c.a : c.b;
  const Side& out = forward ? c.b : c.a;
  if (c.shape != UNIT) {
    const int64_t is[2] = {in.offset, in.stride}, os[2] = {out.offset, out.stride};
    if ((s = DftiSet(*h, DFTI_IN_STRIDES, is)) != 0) return s;
    if ((s = DftiSet(*h, DFTI_OUT_STRIDES, os)) != 0) return s;
  }
  if (c.count != 1) {
    if ((s = DftiSet(*h, DFTI_TRANSFORM_COUNT, c.count)) != 0) return s;
    if ((s = DftiSet(*h, DFTI_IN_DISTANCE, in.distance)) != 0) return s;
    if ((s = DftiSet(*h, DFTI_OUT_DISTANCE, out.distance)) != 0) return s;
  }
  if (fscale != 1.0 && (s = DftiSet(*h, DFTI_FWD_SCALE, fscale)) != 0) return s;
  if (bscale != 1.0 && (s = DftiSet(*h, DFTI_BWD_SCALE, bscale)) != 0) return s;
  if ((s = DftiSet(*h, DFTI_MAX_THREADS, c.threads)) != 0) return s;
  return DftiCommit(*h);
}

// One descriptor per direction, or one for both when the layouts coincide.
struct Pair {
  DftiHandle forward = nullptr, backward = nullptr;
  ~Pair() {
    if (backward != forward) DftiRelease(&backward);
    DftiRelease(&forward);
  }
};

long make_pair(const Config& c, double fscale, double bscale, Pair* p) {
  long s = make_descriptor(c, true, fscale, bscale, &p->forward);
  if (s != 0) return s;
  const bool same = c.a.offset == c.b.offset && c.a.stride == c.b.stride &&
                    c.a.distance == c.b.distance;
  if (same) {
    p->backward = p->forward;
    return 0;
  }
  return make_descriptor(c, false, fscale, bscale, &p->backward);
}

// ---- the properties ------------------------------------------------------------

// cos and sin of 2 pi r / n, r = 0 .. n-1, from long double.
struct Roots {
  int64_t n = 0;
  std::vector<double> c, s;
  void prepare(int64_t len) {
    if (len == n) return;
    n = len;
    c.assign(static_cast<size_t>(n), 0.0);
    s.assign(static_cast<size_t>(n), 0.0);
    const long double two_pi = 6.283185307179586476925286766559005768L;
    for (int64_t r = 0; r < n; ++r) {
      const long double a = two_pi * static_cast<long double>(r) / static_cast<long double>(n);
      c[r] = static_cast<double>(cosl(a));
      s[r] = static_cast<double>(sinl(a));
    }
  }
  // exp(sign * 2 pi i * e / n) for any integer e.
  cplx w(int sign, int64_t e) const {
    int64_t r = e % n;
    if (r < 0) r += n;
    return cplx(c[r], sign * s[r]);
  }
};

double norm(const Vec& v) {
  double sum = 0;
  for (const cplx& z : v) sum += z.real() * z.real() + z.imag() * z.imag();
  return std::sqrt(sum);
}

double distance(const Vec& x, const Vec& y) {
  double sum = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double re = x[i].real() - y[i].real(), im = x[i].imag() - y[i].imag();
    sum += re * re + im * im;
  }
  return std::sqrt(sum);
}

struct Stats {
  int64_t configurations = 0, transforms = 0, failures = 0, max_failures = 20;
  double worst = 0;  // largest error / tolerance seen
  std::string worst_at;
  int64_t max_team = 0;
};

class Checker {
 public:
  Checker(const Config& c, const Roots& roots, std::mt19937_64& rng, Stats& stats)
      : c_(c), w_(roots), rng_(rng), st_(stats) {
    tol_ = 8.0 * kEps * (1.0 + std::log2(static_cast<double>(c.n)));
  }

  bool run() {
    ++st_.configurations;
    const double n = static_cast<double>(c_.n);
    Pair plain;
    long s = make_pair(c_, 1.0, 1.0, &plain);
    if (s != 0) return fail("commit", "status " + std::to_string(s));
    note_team(plain.forward);
    if (!direction(plain.forward, true) || !direction(plain.backward, false)) return false;
    // The round trip, with the 1/N on the backward side or shared.
    const bool shared = c_.variant % 2 == 1;
    const double fs = shared ? 1.0 / std::sqrt(n) : 1.0, bs = shared ? 1.0 / std::sqrt(n) : 1.0 / n;
    Pair scaled;
    s = make_pair(c_, fs, bs, &scaled);
    if (s != 0) return fail("commit (scaled)", "status " + std::to_string(s));
    return round_trip(scaled);
  }

 private:
  bool fail(const char* what, const std::string& why, bool forward = true) {
    ++st_.failures;
    if (st_.failures <= st_.max_failures) {
      std::printf("FAIL %s %s: %s\n  configuration: %s\n", forward ? "forward" : "backward", what,
                  why.c_str(), c_.describe().c_str());
      std::fflush(stdout);
    }
    return false;
  }

  void note_team(DftiHandle h) {
    int64_t t = 0;
    if (DftiGet(h, DFTI_MAX_THREADS, &t) == 0 && t > st_.max_team) st_.max_team = t;
  }

  // error <= tolerance * scale, for every transform of the batch.
  bool within(const char* property, bool forward, int64_t t, double error, double scale) {
    const double allowed = tol_ * scale;
    const double ratio = allowed > 0 ? error / allowed : (error > 0 ? INFINITY : 0.0);
    if (ratio > st_.worst) {
      st_.worst = ratio;
      st_.worst_at = std::string(property) + (forward ? " forward " : " backward ") + c_.describe();
    }
    if (!(error <= allowed)) {
      char why[200];
      std::snprintf(why, sizeof why, "transform %lld: error %.3g > tolerance %.3g", (long long)t,
                    error, allowed);
      return fail(property, why, forward);
    }
    return true;
  }

  bool apply(Runner& r, bool forward, const Batch& in, Batch* out, const char* property) {
    std::string why;
    st_.transforms += c_.count;
    if (!r.apply(in, out, &why)) return fail(property, why, forward);
    return true;
  }

  // Logical input of a direction: time vectors (real ones for real kinds),
  // or Hermitian half spectra for a real backward transform.
  Vec random_input(bool forward) {
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    const bool real = is_real(c_.kind);
    const int64_t len = real && !forward ? half(c_.n) : c_.n;
    Vec x(static_cast<size_t>(len));
    for (auto& z : x) z = real && forward ? cplx(uni(rng_), 0.0) : cplx(uni(rng_), uni(rng_));
    if (real && !forward) hermitian(x);
    return x;
  }

  void hermitian(Vec& h) const {
    h[0].imag(0.0);
    if (c_.n % 2 == 0) h[c_.n / 2].imag(0.0);
  }

  Batch random_batch(bool forward) {
    Batch b;
    for (int64_t t = 0; t < c_.count; ++t) b.push_back(random_input(forward));
    return b;
  }

  bool direction(DftiHandle h, bool forward) {
    Runner r(c_, forward, h);
    const int sign = forward ? -1 : 1;
    const bool real = is_real(c_.kind);
    const int64_t n = c_.n, m = n / 2;
    std::uniform_real_distribution<double> uni(-1.0, 1.0);

    // Linearity: T(a u + b v) = a T(u) + b T(v).
    Batch u = random_batch(forward), v = random_batch(forward), mix = u, tu, tv, tmix;
    const cplx a = real ? cplx(uni(rng_), 0.0) : cplx(uni(rng_), uni(rng_));
    const cplx b = real ? cplx(uni(rng_), 0.0) : cplx(uni(rng_), uni(rng_));
    for (int64_t t = 0; t < c_.count; ++t)
      for (size_t j = 0; j < mix[t].size(); ++j) mix[t][j] = a * u[t][j] + b * v[t][j];
    if (!apply(r, forward, u, &tu, "linearity") || !apply(r, forward, v, &tv, "linearity") ||
        !apply(r, forward, mix, &tmix, "linearity"))
      return false;
    for (int64_t t = 0; t < c_.count; ++t) {
      Vec want(tmix[t].size());
      for (size_t j = 0; j < want.size(); ++j) want[j] = a * tu[t][j] + b * tv[t][j];
      const double scale = norm(tmix[t]) + std::abs(a) * norm(tu[t]) + std::abs(b) * norm(tv[t]);
      if (!within("linearity", forward, t, distance(tmix[t], want), scale)) return false;
    }

    // Impulses: at 0 in every transform, then at a random place in each.
    const int64_t in_len = real && !forward ? m + 1 : n;
    for (int pass = 0; pass < 2; ++pass) {
      Batch d(static_cast<size_t>(c_.count), Vec(static_cast<size_t>(in_len)));
      std::vector<int64_t> at(static_cast<size_t>(c_.count), 0);
      std::uniform_int_distribution<int64_t> pick(0, in_len - 1);
      for (int64_t t = 0; t < c_.count; ++t) {
        if (pass == 1) at[t] = pick(rng_);
        d[t][at[t]] = 1.0;
      }
      Batch td;
      if (!apply(r, forward, d, &td, "impulse")) return false;
      for (int64_t t = 0; t < c_.count; ++t) {
        Vec want(td[t].size());
        const int64_t p = at[t];
        for (size_t k = 0; k < want.size(); ++k) {
          if (real && !forward) {
            // A real spectral line at p: a cosine, doubled unless it is its
            // own mirror image.
            const double weight = (p == 0 || 2 * p == n) ? 1.0 : 2.0;
            want[k] = weight * w_.w(1, p * static_cast<int64_t>(k)).real();
          } else {
            want[k] = w_.w(sign, p * static_cast<int64_t>(k));
          }
        }
        if (real && forward) hermitian(want);
        if (!within("impulse", forward, t, distance(td[t], want), norm(want))) return false;
      }
    }

    // Time shift by r: the spectrum turns by exp(sign 2 pi i r k / n). For
    // a real backward transform the spectrum is turned and the output moves.
    std::uniform_int_distribution<int64_t> shift(0, n - 1);
    const int64_t rs = shift(rng_);
    Batch moved = u, tmoved;
    for (int64_t t = 0; t < c_.count; ++t) {
      if (real && !forward) {
        for (int64_t k = 0; k <= m; ++k) moved[t][k] = u[t][k] * w_.w(-1, rs * k);
        hermitian(moved[t]);
      } else {
        for (int64_t j = 0; j < n; ++j) moved[t][j] = u[t][((j - rs) % n + n) % n];
      }
    }
    if (!apply(r, forward, moved, &tmoved, "time shift")) return false;
    for (int64_t t = 0; t < c_.count; ++t) {
      Vec want(tmoved[t].size());
      if (real && !forward) {
        for (int64_t j = 0; j < n; ++j) want[j] = tu[t][((j - rs) % n + n) % n];
      } else {
        for (size_t k = 0; k < want.size(); ++k) want[k] = tu[t][k] * w_.w(sign, rs * static_cast<int64_t>(k));
        if (real) hermitian(want);
      }
      if (!within("time shift", forward, t, distance(tmoved[t], want), norm(tmoved[t]) + norm(tu[t])))
        return false;
    }

    // Frequency shift by q (complex kinds): T(u exp(-sign 2 pi i j q / n))
    // is T(u) moved by q.
    if (!real) {
      const int64_t q = shift(rng_);
      Batch turned = u, tturned;
      for (int64_t t = 0; t < c_.count; ++t)
        for (int64_t j = 0; j < n; ++j) turned[t][j] = u[t][j] * w_.w(-sign, j * q);
      if (!apply(r, forward, turned, &tturned, "frequency shift")) return false;
      for (int64_t t = 0; t < c_.count; ++t) {
        Vec want(static_cast<size_t>(n));
        for (int64_t k = 0; k < n; ++k) want[k] = tu[t][((k - q) % n + n) % n];
        if (!within("frequency shift", forward, t, distance(tturned[t], want),
                    norm(tturned[t]) + norm(tu[t])))
          return false;
      }
    }
    return true;
  }

  bool round_trip(const Pair& p) {
    Runner f(c_, true, p.forward), b(c_, false, p.backward);
    Batch x = random_batch(true), spectra, back;
    if (!apply(f, true, x, &spectra, "round trip") || !apply(b, false, spectra, &back, "round trip"))
      return false;
    for (int64_t t = 0; t < c_.count; ++t) {
      if (!within("round trip", false, t, distance(back[t], x[t]), 2.0 * norm(x[t]))) return false;
    }
    return true;
  }

  const Config& c_;
  const Roots& w_;
  std::mt19937_64& rng_;
  Stats& st_;
  double tol_;
};

// ---- which configurations, which lengths -------------------------------------

// Per length: every kind and placement plainly (unit strides, one transform,
// one thread), and once more in one of the other shapes and team sizes,
// taken in turn from length to length so that every combination recurs
// every seven lengths.
std::vector<Config> configurations(int64_t n) {
  struct Other {
    Shape shape;
    int64_t threads;
  };
  static const Other others[] = {{STRIDED, 1}, {BATCH, 2},       {INTERLEAVED, 1}, {UNIT, 2},
                                 {BATCH, 1},   {INTERLEAVED, 2}, {STRIDED, 2}};
  std::vector<Config> out;
  int index = 0;
  for (int k = 0; k < KIND_COUNT; ++k) {
    for (bool inplace : {false, true}) {
      const int variant = static_cast<int>(n % 97) + index;
      out.push_back(make_config(Kind(k), n, inplace, UNIT, 1, variant));
      const Other& o = others[(n + index) % 7];
      ++index;
      // A single point per vector goes through the per-transform loop, and
      // in place with CCE storage interleaved rows of a batch overlap
      // (complex rows are twice as wide): each transform's result lands on
      // inputs of the next, so the answer depends on the order of work.
      if (n == 1 && inplace && k == REAL_CCE && o.shape == INTERLEAVED) continue;
      out.push_back(make_config(Kind(k), n, inplace, o.shape, o.threads, variant));
    }
  }
  return out;
}

#ifdef TQS_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::vector<int64_t> quick_lengths() {
  std::vector<int64_t> v;
  if (kSanitized) {
    // Instrumented code runs several times slower: the short lengths, where
    // the kernels change, and one of each long kind.
    for (int64_t n = 1; n <= 64; ++n) v.push_back(n);
    for (int64_t n : {96, 97, 100, 128, 168, 243, 256, 1000, 1024, 4096, 4099, 16384}) v.push_back(n);
    return v;
  }
  for (int64_t n = 1; n <= 128; ++n) v.push_back(n);
  for (int64_t n : {143, 160, 168, 169, 192, 210, 243, 250, 256, 289, 343, 360, 384, 499, 512,
                    625, 720, 729, 768, 1000, 1024, 1331, 1536, 2048, 2187, 2401, 3000, 4096, 4099,
                    5000, 6561, 8191, 8192, 10000, 16384, 16386, 20000, 65536, 65537})
    v.push_back(n);
  return v;
}

std::vector<int64_t> full_lengths() {
  std::vector<int64_t> v;
  for (int64_t n = 1; n <= 10000; ++n) v.push_back(n);
  for (int64_t n : {16384, 16385, 17640, 32768, 65536, 65537, 100000, 131072, 262144, 362880,
                    524288, 531441, 999983, 1000000, 1048576, 2097152, 4194304})
    v.push_back(n);
  return v;
}

// "1-100,128,4099"
bool parse_lengths(const char* text, std::vector<int64_t>* out) {
  std::string s(text);
  size_t at = 0;
  while (at < s.size()) {
    size_t end = s.find(',', at);
    if (end == std::string::npos) end = s.size();
    const std::string item = s.substr(at, end - at);
    const size_t dash = item.find('-');
    char* rest = nullptr;
    const long long lo = std::strtoll(item.c_str(), &rest, 10);
    long long hi = lo;
    if (dash != std::string::npos) hi = std::strtoll(item.c_str() + dash + 1, &rest, 10);
    if (lo < 1 || hi < lo) return false;
    for (long long n = lo; n <= hi; ++n) out->push_back(n);
    at = end + 1;
  }
  return !out->empty();
}

int usage() {
  std::fprintf(stderr,
               "usage: selftest (--quick | --full) [--lengths A-B,C,...] [--seed S] [--shard I/K] "
               "[--max-failures N] [-v]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool full = false, quick = false, verbose = false;
  std::vector<int64_t> lengths;
  uint64_t seed = 1;
  int shard = 0, shards = 1;
  Stats stats;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--full") {
      full = true;
    } else if (a == "--quick") {
      quick = true;
    } else if (a == "-v") {
      verbose = true;
    } else if (a == "--lengths" && i + 1 < argc) {
      if (!parse_lengths(argv[++i], &lengths)) return usage();
    } else if (a == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--max-failures" && i + 1 < argc) {
      stats.max_failures = std::strtoll(argv[++i], nullptr, 10);
    } else if (a == "--shard" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d/%d", &shard, &shards) != 2 || shards < 1 || shard < 0 ||
          shard >= shards)
        return usage();
    } else {
      return usage();
    }
  }
  if (full == quick) return usage();
  if (lengths.empty()) lengths = full ? full_lengths() : quick_lengths();

  const char* level = std::getenv("TQS_DEBUG_CPU_TYPE");
  const auto start = std::chrono::steady_clock::now();
  Roots roots;
  for (size_t i = 0; i < lengths.size(); ++i) {
    if (static_cast<int>(i % static_cast<size_t>(shards)) != shard) continue;
    const int64_t n = lengths[i];
    roots.prepare(n);
    for (const Config& c : configurations(n)) {
      // Each configuration draws from its own stream, so that a failure
      // reproduces with --lengths n alone.
      std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(n) * 1000 +
                          static_cast<uint64_t>(c.kind * 100 + c.shape * 10 + c.threads) +
                          (c.inplace ? 7 : 0));
      Checker(c, roots, rng, stats).run();
    }
    if (verbose) {
      std::printf("n=%lld done, %lld configurations, %lld failures\n", (long long)n,
                  (long long)stats.configurations, (long long)stats.failures);
      std::fflush(stdout);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("selftest %s level %s seed %llu shard %d/%d: %lld configurations, %lld transforms, "
              "%lld failures, teams of up to %lld threads, %.1f s\n",
              full ? "full" : "quick", level != nullptr ? level : "auto",
              (unsigned long long)seed, shard, shards, (long long)stats.configurations,
              (long long)stats.transforms, (long long)stats.failures, (long long)stats.max_team,
              seconds);
  std::printf("largest error / tolerance %.3g (%s)\n", stats.worst, stats.worst_at.c_str());
  std::printf("%s\n", stats.failures == 0 ? "PASSED" : "FAILED");
  return stats.failures == 0 ? 0 : 1;
}

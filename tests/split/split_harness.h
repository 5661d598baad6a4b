// Runs split-storage transforms (separate real and imaginary arrays) on any
// layout of axes and batch records, and checks them against the long-double
// reference applied axis by axis: every output element, every double of the
// arrays that is not an element (guards around and between elements), and,
// out of place, the untouched input arrays.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/descriptor.h"
#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "support/reference.h"
#include "tqs_dfti.h"

namespace split_test {

using tqs::EngineDescriptor;
using tqs_test::cld;

// A transformed axis {length, input stride, output stride}, or a batch
// record {count, input distance, output distance}.
struct Dim {
  int64_t length;
  int64_t in_stride;
  int64_t out_stride;
};

struct Shape {
  std::vector<Dim> axes;     // transformed, innermost first
  std::vector<Dim> batches;  // looped over, innermost first
  bool inplace = false;
  int64_t in_offset = 0;     // element 0 of each side
  int64_t out_offset = 0;

  int64_t points() const {
    int64_t p = 1;
    for (const Dim& a : axes) p *= a.length;
    return p;
  }
  int64_t instances() const {
    int64_t p = 1;
    for (const Dim& b : batches) p *= b.length;
    return p;
  }
  std::string describe() const {
    std::string s = inplace ? "in place" : "out of place";
    for (const Dim& d : axes) s += " axis " + dim_text(d);
    for (const Dim& d : batches) s += " batch " + dim_text(d);
    return s + " offsets " + std::to_string(in_offset) + "/" + std::to_string(out_offset);
  }
  static std::string dim_text(const Dim& d) {
    return std::to_string(d.length) + "," + std::to_string(d.in_stride) + "," + std::to_string(d.out_stride);
  }
};

// Offsets that put the lowest element of each side `lead` elements into
// its array (negative strides and distances count from there).
inline Shape with_leads(Shape s, int64_t in_lead, int64_t out_lead) {
  int64_t in_low = 0, out_low = 0;
  for (const std::vector<Dim>* v : {&s.axes, &s.batches}) {
    for (const Dim& d : *v) {
      in_low += std::min<int64_t>(0, (d.length - 1) * d.in_stride);
      out_low += std::min<int64_t>(0, (d.length - 1) * d.out_stride);
    }
  }
  s.in_offset = in_lead - in_low;
  s.out_offset = out_lead - out_low;
  return s;
}

// One dimension, one batch record: the shape of a public descriptor.
inline Shape one_axis(int64_t n, bool inplace, int64_t is = 1, int64_t os = 1, int64_t count = 1,
                      int64_t id = 0, int64_t od = 0, int64_t in_lead = 0, int64_t out_lead = 0) {
  Shape s;
  s.axes = {{n, is, inplace ? is : os}};
  s.batches = {{count, id, inplace ? id : od}};
  s.inplace = inplace;
  return with_leads(s, in_lead, out_lead);
}

// Positions of every element, logical order (axes first, innermost fastest).
inline std::vector<int64_t> positions(const Shape& s, bool input) {
  std::vector<Dim> all = s.axes;
  all.insert(all.end(), s.batches.begin(), s.batches.end());
  const bool in_side = input || s.inplace;
  std::vector<int64_t> pos(static_cast<size_t>(s.points() * s.instances()));
  for (size_t f = 0; f < pos.size(); ++f) {
    int64_t rest = static_cast<int64_t>(f);
    int64_t p = in_side ? s.in_offset : s.out_offset;
    for (const Dim& d : all) {
      p += (rest % d.length) * (in_side ? d.in_stride : d.out_stride);
      rest /= d.length;
    }
    pos[f] = p;
  }
  return pos;
}

// The multi-dimensional transform of every instance, axis by axis, in long
// double; x is in logical order and is overwritten.
inline void reference(const Shape& s, std::vector<cld>& x, int sign) {
  const int64_t total = static_cast<int64_t>(x.size());
  int64_t below = 1;
  for (const Dim& a : s.axes) {
    const int64_t n = a.length;
    std::vector<cld> line(static_cast<size_t>(n)), out(static_cast<size_t>(n));
    for (int64_t base = 0; base < total; ++base) {
      if ((base / below) % n != 0) continue;  // one start per line
      for (int64_t j = 0; j < n; ++j) line[j] = x[base + j * below];
      tqs_test::reference_dft(line.data(), out.data(), n, sign);
      for (int64_t j = 0; j < n; ++j) x[base + j * below] = out[j];
    }
    below *= n;
  }
}

inline double sentinel(int array, size_t i) {
  return (1.0 + array) * 1.0e299 + static_cast<double>(i) * 1.0e284;
}

// Calls the committed descriptor once in one direction with the scale it
// was committed with, on fresh data; checks results and untouched doubles.
inline ::testing::AssertionResult check(DftiHandle h, const Shape& s, bool forward, double scale,
                                        uint64_t seed = 1) {
  const std::vector<int64_t> in_pos = positions(s, true);
  const std::vector<int64_t> out_pos = positions(s, false);
  int64_t hi = 0;
  for (const std::vector<int64_t>* v : {&in_pos, &out_pos}) {
    for (int64_t p : *v) {
      if (p < 0) return ::testing::AssertionFailure() << "element before its array: " << s.describe();
      hi = std::max(hi, p);
    }
  }
  const size_t size = static_cast<size_t>(hi + 4);
  std::vector<double> arrays[4];
  for (int a = 0; a < 4; ++a) {
    arrays[a].resize(size);
    for (size_t i = 0; i < size; ++i) arrays[a][i] = sentinel(a, i);
  }
  const std::vector<double> values = tqs_test::random_doubles(2 * static_cast<int64_t>(in_pos.size()), seed);
  std::vector<cld> x(in_pos.size());
  for (size_t f = 0; f < in_pos.size(); ++f) {
    arrays[0][in_pos[f]] = values[2 * f];
    arrays[1][in_pos[f]] = values[2 * f + 1];
    x[f] = cld(values[2 * f], values[2 * f + 1]);
  }
  const std::vector<double> in_re = arrays[0], in_im = arrays[1];
  reference(s, x, forward ? -1 : 1);

  double* re_out = s.inplace ? arrays[0].data() : arrays[2].data();
  double* im_out = s.inplace ? arrays[1].data() : arrays[3].data();
  auto run = forward ? DftiForward : DftiBackward;
  const long status = s.inplace ? run(h, arrays[0].data(), arrays[1].data())
                                : run(h, arrays[0].data(), arrays[1].data(), re_out, im_out);
  const char* dir = forward ? "forward" : "backward";
  if (status != 0) return ::testing::AssertionFailure() << dir << " status " << status << ": " << s.describe();

  const int64_t points = s.points();
  const double bound = tqs_test::accuracy_bound(points);
  for (int64_t b = 0; b < s.instances(); ++b) {
    long double err = 0, norm = 0;
    for (int64_t j = 0; j < points; ++j) {
      const size_t f = static_cast<size_t>(b * points + j);
      const cld want = x[f] * static_cast<long double>(scale);
      const cld got(re_out[out_pos[f]], im_out[out_pos[f]]);
      err += std::norm(got - want);
      norm += std::norm(want);
    }
    const double rel = static_cast<double>(std::sqrt(norm > 0 ? err / norm : err));
    if (!(rel <= bound)) {
      return ::testing::AssertionFailure() << dir << " instance " << b << " relative error " << rel
                                           << " > " << bound << ": " << s.describe();
    }
  }

  std::vector<char> element(size, 0);
  for (int64_t p : out_pos) element[static_cast<size_t>(p)] = 1;
  const int first_out = s.inplace ? 0 : 2;
  for (int a = first_out; a < first_out + 2; ++a) {
    for (size_t i = 0; i < size; ++i) {
      if (!element[i] && arrays[a][i] != sentinel(a, i)) {
        return ::testing::AssertionFailure() << dir << " wrote outside the elements (array " << a
                                             << ", double " << i << "): " << s.describe();
      }
    }
  }
  if (!s.inplace && (arrays[0] != in_re || arrays[1] != in_im)) {
    return ::testing::AssertionFailure() << dir << " wrote into its input: " << s.describe();
  }
  return ::testing::AssertionSuccess();
}

struct Scales {
  double forward = 1.0;
  double backward = 1.0;
};

// A public split-storage descriptor of a one-axis shape. In place, the
// output strides, offset and distance are set to values that must be
// ignored.
inline long make_public(DftiHandle* h, const Shape& s, Scales sc = {}, int64_t max_threads = -1) {
  const Dim& a = s.axes[0];
  const Dim& b = s.batches[0];
  long st = DftiCreateDouble1D(h, DFTI_COMPLEX, a.length);
  if (st) return st;
  if ((st = DftiSet(*h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL))) return st;
  if (!s.inplace && (st = DftiSet(*h, DFTI_PLACEMENT, DFTI_NOT_INPLACE))) return st;
  int64_t is[2] = {s.in_offset, a.in_stride};
  int64_t os[2] = {s.out_offset, a.out_stride};
  int64_t od = b.out_stride;
  if (s.inplace) {
    os[0] = s.in_offset + 7;
    os[1] = 3 * a.in_stride + 1;
    od = 2 * b.in_stride + 5;
  }
  if ((st = DftiSet(*h, DFTI_IN_STRIDES, is)) || (st = DftiSet(*h, DFTI_OUT_STRIDES, os))) return st;
  if (b.length != 1 || b.in_stride != 0) {
    if ((st = DftiSet(*h, DFTI_TRANSFORM_COUNT, b.length)) ||
        (st = DftiSet(*h, DFTI_IN_DISTANCE, b.in_stride)) || (st = DftiSet(*h, DFTI_OUT_DISTANCE, od)))
      return st;
  }
  if (sc.forward != 1.0 && (st = DftiSet(*h, DFTI_FWD_SCALE, sc.forward))) return st;
  if (sc.backward != 1.0 && (st = DftiSet(*h, DFTI_BWD_SCALE, sc.backward))) return st;
  if (max_threads >= 0 && (st = DftiSet(*h, DFTI_MAX_THREADS, max_threads))) return st;
  return DftiCommit(*h);
}

// Both directions of a public descriptor.
inline ::testing::AssertionResult check_public(const Shape& s, Scales sc = {}, int64_t max_threads = -1,
                                               uint64_t seed = 1) {
  DftiHandle h = nullptr;
  const long st = make_public(&h, s, sc, max_threads);
  ::testing::AssertionResult r = ::testing::AssertionFailure() << "commit status " << st << ": " << s.describe();
  if (st == 0) r = check(h, s, true, sc.forward, seed);
  if (st == 0 && r) r = check(h, s, false, sc.backward, seed + 1);
  DftiRelease(&h);
  return r;
}

inline const tqs::LevelApi& api() { return *tqs::level_apis[tqs_cpu_level()]; }

inline DftiHandle handle(EngineDescriptor* d) { return reinterpret_cast<DftiHandle>(d); }

inline void fill_list(tqs::DimensionList* list, const std::vector<Dim>& dims, bool inplace) {
  tqs_mm_free(list->records);
  list->records = static_cast<tqs::DimensionRecord*>(
      tqs_mm_allocate(dims.size() * sizeof(tqs::DimensionRecord), 16));
  list->count = static_cast<int32_t>(dims.size());
  for (size_t i = 0; i < dims.size(); ++i) {
    list->records[i] = {dims[i].length, dims[i].in_stride, inplace ? dims[i].in_stride : dims[i].out_stride};
  }
}

// A descriptor of any rank made by the engine's own creation routine, as
// the public calls cannot configure several axes. It is committed through
// the ordinary commit when the shape has one batch record (the engine then
// normalises it), and otherwise with the lists arranged as given.
struct EngineShape {
  EngineDescriptor* d = nullptr;
  long status = 0;
  EngineShape(const Shape& s, Scales sc = {}) {
    std::vector<int64_t> lengths;
    for (const Dim& a : s.axes) lengths.push_back(a.length);
    status = api().create_engine_descriptor(&d, DFTI_DOUBLE, DFTI_COMPLEX,
                                            static_cast<int>(lengths.size()), lengths.data());
    if (status != 0) return;
    tqs_install_default_threading(d->threading);
    d->strategy_list = api().complex_strategies;
    d->complex_storage = DFTI_REAL_REAL;
    d->placement = s.inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE;
    d->input_offset = s.in_offset;
    d->output_offset = s.out_offset;
    d->methods->set_scale(d, sc.forward, DFTI_FWD_SCALE);
    d->methods->set_scale(d, sc.backward, DFTI_BWD_SCALE);
    for (size_t i = 0; i < s.axes.size(); ++i) {
      d->dims.records[i].input_stride = s.axes[i].in_stride;
      d->dims.records[i].output_stride = s.axes[i].out_stride;
    }
    if (s.batches.size() == 1) {
      d->transforms.records[0] = {s.batches[0].length, s.batches[0].in_stride, s.batches[0].out_stride};
      status = d->methods->commit(d);
    } else {
      fill_list(&d->normalised_dims, s.axes, s.inplace);
      fill_list(&d->normalised_transforms, s.batches, s.inplace);
      status = d->methods->commit_prepared(d);
    }
  }
  ~EngineShape() {
    if (d != nullptr) d->destroy(d);
  }
  EngineShape(const EngineShape&) = delete;
  EngineShape& operator=(const EngineShape&) = delete;
};

inline std::string committed_by(const EngineDescriptor* d) {
  const char* n = api().committed_strategy_name(d);
  return n == nullptr ? "" : n;
}

}  // namespace split_test

// Scratch of one compute call for the drivers that gather strided vectors:
// on the stack up to 2 KB, else allocated on first need and freed when the
// call ends (the allocation cost a strided complex vector of 64 points a
// sixth of its time, a real one of 12 points a fifth; a larger frame costs
// every call its stack probes).
#pragma once
#include <cstdint>

#include "engine/engine.h"
#include "engine/level.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

struct CallScratch {
  static constexpr int64_t LOCAL_DOUBLES = 256;
  alignas(64) double local[LOCAL_DOUBLES];
  double* data = nullptr;
  int64_t doubles = 0;
  CallScratch() {}  // leaves local uninitialised
  CallScratch(const CallScratch&) = delete;
  CallScratch& operator=(const CallScratch&) = delete;
  ~CallScratch() { tqs_mm_free(data); }
  double* get(int64_t want) {
    if (want <= LOCAL_DOUBLES) return local;
    if (data != nullptr && doubles >= want) return data;
    tqs_mm_free(data);
    doubles = want;
    data = static_cast<double*>(tqs_mm_allocate(static_cast<uint64_t>(want) * sizeof(double),
                                                WORK_ALIGNMENT));
    return data;
  }
};

TQS_LEVEL_END

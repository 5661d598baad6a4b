// Included first by every level source: opens the per-level namespace.
// Everything a level source defines, templates and inline helpers included,
// must sit between TQS_LEVEL_BEGIN and TQS_LEVEL_END, so that no level's
// instructions can be linked into another level's code.
#pragma once
#ifndef TQS_LEVEL
#error "level code is compiled once per processor level with TQS_LEVEL and TQS_LNS defined"
#endif

#define TQS_LEVEL_BEGIN \
  namespace tqs {       \
  namespace TQS_LNS {
#define TQS_LEVEL_END \
  }                   \
  }

#if TQS_LEVEL >= 4
#define TQS_AVX 1
#endif
#if TQS_LEVEL >= 5
#define TQS_FMA 1
#endif

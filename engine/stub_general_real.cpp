// TEMPORARY stand-in for the general strategy, real side.
#include "engine/engine.h"

TQS_LEVEL_BEGIN
long general_real_try_commit(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED; }
TQS_LEVEL_END

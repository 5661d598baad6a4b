// Placeholder: declines every descriptor until the strategy is built.
#include "engine/strategies.h"

TQS_LEVEL_BEGIN
namespace {
long decline(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED; }
}  // namespace

const Strategy large_even_real_strategy = {decline, nullptr};
bool large_even_real_owns(const EngineDescriptor*) { return false; }

TQS_LEVEL_END

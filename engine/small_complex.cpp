// Placeholder: declines every descriptor until the strategy is built.
#include "engine/strategies.h"

TQS_LEVEL_BEGIN
namespace {
long decline(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED; }
}  // namespace

const Strategy small_complex_strategy = {decline, nullptr};
bool small_complex_owns(const EngineDescriptor*) { return false; }

TQS_LEVEL_END

// Placeholder: declines every descriptor until the strategy is built.
#include "engine/strategies.h"

TQS_LEVEL_BEGIN
namespace {
long decline(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED; }
}  // namespace

const Strategy direct_kernel128_strategy = {decline, nullptr};
const Strategy direct_kernel64_strategy = {decline, nullptr};
bool direct_kernel_owns(const EngineDescriptor*) { return false; }

TQS_LEVEL_END

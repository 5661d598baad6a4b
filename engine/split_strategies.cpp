// Placeholder: declines every descriptor until the strategy is built.
#include "engine/strategies.h"

TQS_LEVEL_BEGIN
namespace {
long decline(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED; }
}  // namespace

const Strategy split_multi_axis_strategy = {decline, nullptr};
const Strategy split_batch_strategy = {decline, nullptr};
const Strategy split_one_axis_strategy = {decline, nullptr};
bool split_multi_axis_owns(const EngineDescriptor*) { return false; }
bool split_batch_owns(const EngineDescriptor*) { return false; }
bool split_one_axis_owns(const EngineDescriptor*) { return false; }

TQS_LEVEL_END

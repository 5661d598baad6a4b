// Test access to the strategy walk: restrict a descriptor to named
// strategies of the running level, and ask which strategy took it.
#pragma once
#include <string>
#include <vector>

#include "engine/descriptor.h"
#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "tqs_dfti.h"

namespace tqs_test {

inline const tqs::LevelApi& level_api() { return *tqs::level_apis[tqs_cpu_level()]; }

inline tqs::EngineDescriptor* engine(DftiHandle h) { return reinterpret_cast<tqs::EngineDescriptor*>(h); }

// The descriptor walks only these strategies, in this order, at its commits
// while the object lives; its own list comes back afterwards.
class StrategySubset {
 public:
  StrategySubset(DftiHandle h, std::initializer_list<const char*> names)
      : d_(engine(h)), saved_(d_->strategy_list) {
    for (const char* n : names) list_.push_back(level_api().find_strategy(n));
    list_.push_back(nullptr);
    d_->strategy_list = list_.data();
  }
  StrategySubset(DftiHandle h, const std::vector<std::string>& names)
      : d_(engine(h)), saved_(d_->strategy_list) {
    for (const std::string& n : names) list_.push_back(level_api().find_strategy(n.c_str()));
    list_.push_back(nullptr);
    d_->strategy_list = list_.data();
  }
  ~StrategySubset() { d_->strategy_list = saved_; }
  StrategySubset(const StrategySubset&) = delete;
  StrategySubset& operator=(const StrategySubset&) = delete;

 private:
  tqs::EngineDescriptor* d_;
  tqs::StrategyList saved_;
  std::vector<const tqs::Strategy*> list_;
};

// "general", "small-complex", ... or "" when uncommitted.
inline std::string committed_by(DftiHandle h) {
  const char* name = level_api().committed_strategy_name(engine(h));
  return name == nullptr ? std::string() : std::string(name);
}

}  // namespace tqs_test

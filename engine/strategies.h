// Every strategy object of the level's strategy lists. Each strategy also
// answers whether a committed descriptor is running on its compute entries
// (tests and benchmarks ask which strategy took a descriptor).
#pragma once
#include "engine/engine.h"

TQS_LEVEL_BEGIN

// Complex domain, levels 5 and 4 only in the lists.
extern const Strategy fixed_length96_strategy;
extern const Strategy fixed_length168_strategy;
bool fixed_length_owns(const EngineDescriptor* d);

// Split complex storage (DFTI_REAL_REAL), every level.
extern const Strategy split_multi_axis_strategy;
extern const Strategy split_batch_strategy;
extern const Strategy split_one_axis_strategy;
bool split_multi_axis_owns(const EngineDescriptor* d);
bool split_batch_owns(const EngineDescriptor* d);
bool split_one_axis_owns(const EngineDescriptor* d);

// Short power-of-two complex transforms, levels 3 to 0 only in the lists.
extern const Strategy direct_kernel128_strategy;
extern const Strategy direct_kernel64_strategy;
bool direct_kernel_owns(const EngineDescriptor* d);

extern const Strategy small_complex_strategy;
bool small_complex_owns(const EngineDescriptor* d);

// Both domains: the general strategy and the chirp-z convolution.
extern const Strategy general_strategy;
bool general_owns(const EngineDescriptor* d);
extern const Strategy bluestein_strategy;
bool bluestein_owns(const EngineDescriptor* d);

// Real domain: long even lengths on a team.
extern const Strategy large_even_real_strategy;
bool large_even_real_owns(const EngineDescriptor* d);

// Last step of a successful commit: the compute entries (in-place or
// out-of-place pair by the descriptor's placement) and the number of arrays
// a compute call takes (doubled for split storage).
void install_compute_entries(EngineDescriptor* d, ComputeEntry forward_inplace, ComputeEntry forward_out,
                             ComputeEntry backward_inplace, ComputeEntry backward_out);
// First step of a strategy's release: false when the descriptor is not
// committed to this strategy, otherwise its entries go and it is
// uncommitted (the caller frees its own plan record).
bool drop_compute_entries(const Strategy* self, EngineDescriptor* d);

// The strategy whose compute entries a committed descriptor runs (for
// tests): "fixed96/168", "split-multi-axis", "split-batch",
// "split-one-axis", "direct-kernel", "small-complex", "general",
// "bluestein", "large-even-real"; null when uncommitted.
const char* committed_strategy_name(const EngineDescriptor* d);
// The strategy object of that name ("fixed96" and "fixed168" for the two
// fixed lengths); null for an unknown name.
const Strategy* find_strategy(const char* name);

TQS_LEVEL_END

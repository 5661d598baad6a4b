// TEMPORARY stand-in for the plan layer. Delete when the plans exist.
#include "engine/plan.h"

TQS_LEVEL_BEGIN
int complex_plan_create(PlanRecord**, int64_t, int, int) { return PLAN_BAD_LENGTH; }
int split_plan_create(PlanRecord**, int64_t, int, int) { return PLAN_BAD_LENGTH; }
int real_plan_create(PlanRecord**, int64_t, int, int) { return PLAN_BAD_LENGTH; }
int complex_plan_work_size(const PlanRecord*, int64_t*) { return PLAN_WRONG_KIND; }
int split_plan_work_size(const PlanRecord*, int64_t*) { return PLAN_WRONG_KIND; }
int real_plan_work_size(const PlanRecord*, int64_t*) { return PLAN_WRONG_KIND; }
int complex_plan_destroy(PlanRecord*) { return PLAN_NULL_POINTER; }
int split_plan_destroy(PlanRecord*) { return PLAN_NULL_POINTER; }
int real_plan_destroy(PlanRecord*) { return PLAN_NULL_POINTER; }
int complex_plan_forward(const double*, double*, const PlanRecord*, void*) { return PLAN_NULL_POINTER; }
int complex_plan_backward(const double*, double*, const PlanRecord*, void*) { return PLAN_NULL_POINTER; }
int split_plan_forward(const double*, const double*, double*, double*, const PlanRecord*, void*) { return PLAN_NULL_POINTER; }
int split_plan_backward(const double*, const double*, double*, double*, const PlanRecord*, void*) { return PLAN_NULL_POINTER; }
int real_plan_forward(const double*, double*, const PlanRecord*, void*) { return PLAN_NULL_POINTER; }
int real_plan_backward(const double*, double*, const PlanRecord*, void*) { return PLAN_NULL_POINTER; }
int plan_scale_mode(const EngineDescriptor*, int*) { return 0; }
TQS_LEVEL_END

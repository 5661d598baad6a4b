// Straight-line kernels for lengths 1..16 (generated; see tools/).
#pragma once
#include "engine/level.h"
#include "engine/level_api.h"

TQS_LEVEL_BEGIN

extern const CodeletTables codelets;

TQS_LEVEL_END

// TEMPORARY stand-in for the generated codelet tables.
#include "kernels/codelets.h"

TQS_LEVEL_BEGIN
const CodeletTables codelets = {};
TQS_LEVEL_END

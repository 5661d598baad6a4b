// No whole-transform path is built yet: every transform is planned axis by
// axis.
#include "parallel/whole_transform.h"

TQS_LEVEL_BEGIN

void try_whole_transform_paths(EngineDescriptor*) {}

TQS_LEVEL_END

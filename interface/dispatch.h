// Entry points resolved once per process to the running processor level.
#pragma once
#include <cstdint>

#include "engine/descriptor.h"

namespace tqs {

long dispatch_create_complex(EngineDescriptor** handle, int64_t length);
long dispatch_create_real(EngineDescriptor** handle, int64_t length);
long dispatch_version_text(char* buffer, int capacity);

}  // namespace tqs

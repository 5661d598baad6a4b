// Threaded drivers of complex descriptors (a team of one for now).
#include "kernels/complex_compute.h"
#include "parallel/drivers.h"

TQS_LEVEL_BEGIN

long complex_threaded_driver(EngineDescriptor* d, bool forward, bool, const double* input,
                             double* output) {
  return complex_serial_batch(d, forward, input, output, d->number_of_transforms, d->work_buffer);
}

long whole_transform(EngineDescriptor* d, bool forward, const double* input, double* output) {
  const LargeEntry entry = forward ? d->large_forward : d->large_backward;
  return entry(input, output, d, d->work_buffer);
}

TQS_LEVEL_END

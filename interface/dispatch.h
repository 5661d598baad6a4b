// Entry points resolved once per process to the running processor level.
#pragma once
#include <cstdint>

#include "engine/descriptor.h"

namespace tqs {

long dispatch_create_complex(EngineDescriptor** handle, int64_t length);
long dispatch_create_real(EngineDescriptor** handle, int64_t length);
long dispatch_version_text(char* buffer, int capacity);
// B := alpha op(A) for complex matrices, at the running level (see
// kernels/matrix_copy.h); level-independent code reaches the copy through it.
void dispatch_complex_matrix_copy(char ordering, char trans, uint64_t rows, uint64_t cols,
                                  double alpha_re, double alpha_im, const double* a,
                                  uint64_t lda, double* b, uint64_t ldb);

}  // namespace tqs

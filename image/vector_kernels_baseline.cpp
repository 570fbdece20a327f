#define KV_KERNELS_NAME kBaselineKernels
#include "image/vector_kernels_body.h"

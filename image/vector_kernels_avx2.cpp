#define KV_KERNELS_NAME kAvx2Kernels
#include "image/vector_kernels_body.h"

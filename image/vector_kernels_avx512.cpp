#define KV_KERNELS_NAME kAvx512Kernels
#include "image/vector_kernels_body.h"

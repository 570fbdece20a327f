// Runs a test's body on every vector path this processor has, baseline
// first, and chooses the best path again however the body returns, so a
// failed assertion cannot leave later tests on a narrower path.
#pragma once

#include "image/vector_kernels.h"

namespace kv::test {

template <class Body>
void ForEachVectorPath(Body&& body) {
  struct Restore {
    ~Restore() { UseVectorPath(BestVectorPath()); }
  } restore;
  for (int path = 0; path <= int(BestVectorPath()); ++path) {
    UseVectorPath(VectorPath(path));
    body(path);
  }
}

}  // namespace kv::test

#include "g3d/matrix.h"

#include <cmath>

namespace g3d {

Matrix4 IdentityMatrix() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
  Matrix4 m{};
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 4; ++row) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += double(a[size_t(k * 4 + row)]) * b[size_t(col * 4 + k)];
      m[size_t(col * 4 + row)] = float(sum);
    }
  return m;
}

Matrix4 TranslationMatrix(double x, double y, double z) {
  Matrix4 m = IdentityMatrix();
  m[12] = float(x), m[13] = float(y), m[14] = float(z);
  return m;
}

Matrix4 RotationMatrix(double angle, double x, double y, double z) {
  const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
  return {float(t * x * x + c),     float(t * x * y + s * z), float(t * x * z - s * y), 0,
          float(t * x * y - s * z), float(t * y * y + c),     float(t * y * z + s * x), 0,
          float(t * x * z + s * y), float(t * y * z - s * x), float(t * z * z + c),     0,
          0,                        0,                        0,                        1};
}

std::array<double, 4> Transform(const Matrix4& m, double x, double y, double z, double w) {
  std::array<double, 4> out{};
  for (int row = 0; row < 4; ++row)
    out[size_t(row)] = m[size_t(row)] * x + m[size_t(4 + row)] * y + m[size_t(8 + row)] * z + m[size_t(12 + row)] * w;
  return out;
}

}  // namespace g3d

// 4 x 4 matrices for placing things in a scene, column-major as OpenGL
// takes them.
#pragma once

#include "g3d/scene.h"

namespace g3d {

Matrix4 IdentityMatrix();
Matrix4 Multiply(const Matrix4& a, const Matrix4& b);  // a * b: b applies first
Matrix4 TranslationMatrix(double x, double y, double z);
// Rotation by `angle` radians about the unit axis (x, y, z), right-handed.
Matrix4 RotationMatrix(double angle, double x, double y, double z);
// m * (x, y, z, w).
std::array<double, 4> Transform(const Matrix4& m, double x, double y, double z, double w = 1.0);

}  // namespace g3d

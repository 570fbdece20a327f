// The small value classes a scene hands to the rendering library: vertices,
// lights, materials, textures and the curves that trim NURBS surfaces. The
// library reads them during a call and keeps none, except that it writes the
// OpenGL light into a light and the texture name into a texture.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/image.h"

namespace g3d {

// Column-major, as OpenGL takes matrices.
using Matrix4 = std::array<float, 16>;
inline constexpr Matrix4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

struct Vec3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

class Vertex {
 public:
  Vertex() = default;
  Vertex(float px, float py, float pz, float nx_, float ny_, float nz_, float s_, float t_)
      : x(px), y(py), z(pz), nx(nx_), ny(ny_), nz(nz_), s(s_), t(t_) {}
  virtual ~Vertex() = default;
  Vertex(const Vertex&) = default;
  Vertex& operator=(const Vertex&) = default;

  float x = 0.0f, y = 0.0f, z = 0.0f;
  float nx = 0.0f, ny = 0.0f, nz = 0.0f;
  float s = 0.0f, t = 0.0f;
};

class RLMaterial {
 public:
  RLMaterial() = default;
  virtual ~RLMaterial() = default;
  RLMaterial(const RLMaterial&) = default;
  RLMaterial& operator=(const RLMaterial&) = default;

  // Lighting colours are not clamped: terms above 1 brighten.
  std::array<float, 4> diffuse{1.0f, 1.0f, 1.0f, 1.0f};
  std::array<float, 4> ambient{1.0f, 1.0f, 1.0f, 1.0f};
  std::array<float, 4> specular{1.0f, 1.0f, 1.0f, 1.0f};
  float shininess = 0.0f;
};

enum LightKind : int32_t {
  kSpotLight = 1,         // at `position`, shining along `direction`, narrowed by `spot`
  kDirectionalLight = 2,  // from infinitely far along `direction`
  kPointLight = 3,        // at `position`, in every direction
};

class RLLight {
 public:
  RLLight() = default;
  virtual ~RLLight() = default;
  RLLight(const RLLight&) = default;
  RLLight& operator=(const RLLight&) = default;

  // Sent as the diffuse and the specular colour; a light adds no ambient of
  // its own (the scene's ambient comes from the light model and materials).
  std::array<float, 4> color{1.0f, 1.0f, 1.0f, 1.0f};
  // Towards the light for a directional light; the beam's way for a spot.
  std::array<float, 3> direction{0.0f, 0.0f, 1.0f};
  std::array<float, 3> position{0.0f, 0.0f, 0.0f};
  float constantAttenuation = 1.0f, linearAttenuation = 0.0f, quadraticAttenuation = 0.0f;
  int32_t kind = kDirectionalLight;
  float spot = 0.0f;  // a spot light's exponent; its cone is the half space ahead
  bool enabled = true;
  int32_t glLight = -1;  // the OpenGL light AddLight gave it
};

class Texture {
 public:
  Texture() = default;
  explicit Texture(std::shared_ptr<const kv::ByteImage> source, bool wrapS = false, bool wrapT = false)
      : image(std::move(source)), repeatS(wrapS), repeatT(wrapT) {}
  virtual ~Texture() = default;
  Texture(const Texture&) = default;
  Texture& operator=(const Texture&) = default;

  std::shared_ptr<const kv::ByteImage> image;  // 3 or 4 channels
  bool repeatS = false, repeatT = false;        // GL_REPEAT, else GL_CLAMP
  uint32_t name = 0;                            // given by CreateTexture
};

enum CurveKind : int32_t { kPiecewiseLinearCurve = 1, kNurbsCurve = 2 };

// A trim curve in the parameter plane of a surface: pairs of coordinates.
template <class T>
class Curve {
 public:
  virtual ~Curve() = default;
  virtual int32_t Kind() const = 0;
  virtual const T* Points() const = 0;
  virtual int32_t PointCount() const = 0;
};

template <class T>
class PolylineCurve : public Curve<T> {
 public:
  explicit PolylineCurve(std::vector<T> xy) : points(std::move(xy)) {}
  int32_t Kind() const override { return kPiecewiseLinearCurve; }
  const T* Points() const override { return points.data(); }
  int32_t PointCount() const override { return int32_t(points.size() / 2); }

  std::vector<T> points;
};

template <class T>
class NURBSCurve : public Curve<T> {
 public:
  NURBSCurve(std::vector<T> controlXY, std::vector<T> knotVector, int32_t curveOrder)
      : points(std::move(controlXY)), knots(std::move(knotVector)), order(curveOrder) {}
  int32_t Kind() const override { return kNurbsCurve; }
  const T* Points() const override { return points.data(); }
  int32_t PointCount() const override { return int32_t(points.size() / 2); }
  const T* Knots() const { return knots.data(); }
  int32_t KnotCount() const { return int32_t(knots.size()); }
  int32_t Order() const { return order; }

  std::vector<T> points;
  std::vector<T> knots;
  int32_t order = 0;
};

using TrimLoop = std::vector<std::unique_ptr<Curve<float>>>;

// A NURBS patch with positions, normals and texture coordinates at the same
// control points: point (i, j) is the i-th along s and the j-th along t, at
// index i * tCount + j, tCount being tKnots.size() - tOrder.
struct NurbsSurface {
  std::vector<float> sKnots, tKnots;
  int32_t sOrder = 4, tOrder = 4;
  std::vector<float> positions;  // 3 per control point
  std::vector<float> normals;    // 3 per control point
  std::vector<float> texCoords;  // 2 per control point
};

}  // namespace g3d

// The rendering library the 3D effects draw through: an off-screen surface,
// camera and matrices, lights, materials, textures, primitives and trimmed
// NURBS surfaces, and the finished picture read back into an image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "g3d/scene.h"
#include "image/image.h"

namespace g3d {

// Every operation reports through one of these: {1, 2, 0} on success, else
// {0, 1, code}.
struct RLResult {
  int32_t ok = 1;
  int32_t kind = 2;
  int32_t code = 0;

  bool Succeeded() const { return ok == 1; }
  void Succeed() { *this = {}; }
  void Fail(int32_t c) { *this = {0, 1, c}; }
};

enum RLCode : int32_t {
  kNoFreeLight = 10200,
  kSurfaceFailed = 10402,   // the drawing surface's memory could not be had
  kGLLoadFailed = 10500,    // the OpenGL library is missing
  kGLULoadFailed = 10501,   // the GLU library is missing
  kEntryPointMissing = 10502,
  kContextFailed = 10504,
  kMakeCurrentFailed = 10505,
  kNoPixelFormat = 10507,
  kSetPixelFormatFailed = 10508,
};

using VertexList = std::span<const Vertex>;

// The scene's ambient light after SetDefaultState, which materials' ambient
// colours scale.
inline constexpr float kDefaultAmbient = 0.2f;

class RenderingLibrary {
 public:
  virtual ~RenderingLibrary() = default;

  virtual void Initialize(RLResult& r, int32_t value) = 0;
  // The result image is `width` x `height` whatever the supersampling; it
  // stays the library's and lives until DestroySurface.
  virtual void CreateSurface(RLResult& r, int32_t width, int32_t height, kv::ByteImage*& image) = 0;
  virtual void SetDefaultState(RLResult& r) = 0;
  virtual void DestroySurface(RLResult& r) = 0;
  virtual void Unload(RLResult& r) = 0;
  virtual void LoadModelView(RLResult& r, const Matrix4& m) = 0;
  virtual void MultModelView(RLResult& r, const Matrix4& m) = 0;
  virtual void PushModelView(RLResult& r) = 0;
  virtual void PopModelView(RLResult& r) = 0;
  virtual void SetViewport(RLResult& r, int32_t x, int32_t y, int32_t width, int32_t height) = 0;
  // fov in radians, vertical; the frustum shifted by (dx, dy) surface pixels.
  virtual void SetJitteredPerspective(RLResult& r, double near, double far, double fov, double dx, double dy) = 0;
  virtual void SetPerspective(RLResult& r, double near, double far, double fov) = 0;
  virtual void LookAt(RLResult& r, const Vec3& eye, const Vec3& centre, const Vec3& up) = 0;
  virtual void SetClearColor(RLResult& r, float red, float green, float blue, float alpha) = 0;
  virtual void SetTwoSided(RLResult& r, bool twoSided) = 0;
  virtual void SetDepthTest(RLResult& r, bool enable, bool write) = 0;
  virtual void SetPolygonSmoothing(RLResult& r, bool smooth) = 0;
  // Surface pixels per image pixel along each axis; before CreateSurface.
  virtual void SetSupersampling(RLResult& r, int32_t factor) = 0;
  virtual void SetOption(RLResult& r, int32_t option) = 0;
  virtual void AddLight(RLResult& r, RLLight& light) = 0;
  virtual void SetLight(RLResult& r, const RLLight& light) = 0;
  virtual void RemoveLight(RLResult& r, RLLight& light) = 0;
  // Hooks that an OpenGL binding needs nothing for; they succeed.
  virtual void Reserved1(RLResult& r) = 0;
  virtual void Reserved2(RLResult& r) = 0;
  virtual void SetMaterial(RLResult& r, const RLMaterial& material) = 0;
  virtual void Reserved3(RLResult& r) = 0;
  virtual void CreateTexture(RLResult& r, Texture& texture) = 0;
  virtual void BindTexture(RLResult& r, const Texture& texture) = 0;
  virtual void DeleteTexture(RLResult& r, Texture& texture) = 0;
  virtual void EnableTexturing(RLResult& r) = 0;
  virtual void DisableTexturing(RLResult& r) = 0;
  virtual void EnableLighting(RLResult& r) = 0;
  virtual void DisableLighting(RLResult& r) = 0;
  // The image stretched over the whole viewport, unlit.
  virtual void DrawBackground(RLResult& r, const kv::ByteImage& image) = 0;
  virtual void DeleteBackground(RLResult& r) = 0;
  virtual void Clear(RLResult& r) = 0;
  virtual void SelectFrontBuffer(RLResult& r) = 0;
  // The surface into the result image: rows top-down, every s x s block of
  // surface pixels averaged into one.
  virtual void ReadImage(RLResult& r) = 0;
  virtual void BeginList(RLResult& r, uint32_t& list) = 0;
  virtual void EndList(RLResult& r) = 0;
  virtual void CallList(RLResult& r, uint32_t list) = 0;
  virtual void DeleteList(RLResult& r, uint32_t list) = 0;
  virtual void DrawPoints(RLResult& r, VertexList vertices) = 0;
  virtual void DrawLines(RLResult& r, VertexList vertices) = 0;
  virtual void DrawTriangles(RLResult& r, VertexList vertices) = 0;
  virtual void DrawTriangleStrip(RLResult& r, VertexList vertices) = 0;
  virtual void DrawTriangleFan(RLResult& r, VertexList vertices) = 0;
  virtual void DrawQuads(RLResult& r, VertexList vertices) = 0;
  virtual void DrawPolygon(RLResult& r, VertexList vertices) = 0;
  // One gluBeginTrim/gluEndTrim pair per loop; curves of another kind than
  // piecewise-linear or NURBS are skipped.
  virtual void DrawTrimmedNurbsSurface(RLResult& r, const NurbsSurface& surface,
                                       const std::vector<TrimLoop>& trims) = 0;
};

}  // namespace g3d

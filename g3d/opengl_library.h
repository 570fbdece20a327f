// The rendering library over OpenGL 1.1 and GLU, both loaded at run time, drawing
// into memory without any window: on Linux Mesa's off-screen library stands in
// for the GL library and its context for a window system's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "g3d/gl_api.h"
#include "g3d/rendering_library.h"

namespace g3d {

// The shared libraries to load and the Debian packages that bring them.
struct GLLibraries {
  std::string gl = "libOSMesa.so.8";
  std::string glu = "libGLU.so.1";
  std::string glPackage = "libosmesa6";
  std::string gluPackage = "libglu1-mesa";
};

// What new libraries load unless told otherwise; tests point it at files
// that are not there.
GLLibraries& DefaultLibraries();

class OpenGLRenderingLibrary final : public RenderingLibrary {
 public:
  explicit OpenGLRenderingLibrary(GLLibraries libraries = DefaultLibraries());
  ~OpenGLRenderingLibrary() override;
  OpenGLRenderingLibrary(const OpenGLRenderingLibrary&) = delete;
  OpenGLRenderingLibrary& operator=(const OpenGLRenderingLibrary&) = delete;

  void Initialize(RLResult& r, int32_t value) override;
  void CreateSurface(RLResult& r, int32_t width, int32_t height, kv::ByteImage*& image) override;
  void SetDefaultState(RLResult& r) override;
  void DestroySurface(RLResult& r) override;
  void Unload(RLResult& r) override;
  void LoadModelView(RLResult& r, const Matrix4& m) override;
  void MultModelView(RLResult& r, const Matrix4& m) override;
  void PushModelView(RLResult& r) override;
  void PopModelView(RLResult& r) override;
  void SetViewport(RLResult& r, int32_t x, int32_t y, int32_t width, int32_t height) override;
  void SetJitteredPerspective(RLResult& r, double near, double far, double fov, double dx, double dy) override;
  void SetPerspective(RLResult& r, double near, double far, double fov) override;
  void LookAt(RLResult& r, const Vec3& eye, const Vec3& centre, const Vec3& up) override;
  void SetClearColor(RLResult& r, float red, float green, float blue, float alpha) override;
  void SetTwoSided(RLResult& r, bool twoSided) override;
  void SetDepthTest(RLResult& r, bool enable, bool write) override;
  void SetPolygonSmoothing(RLResult& r, bool smooth) override;
  void SetSupersampling(RLResult& r, int32_t factor) override;
  void SetOption(RLResult& r, int32_t option) override;
  void AddLight(RLResult& r, RLLight& light) override;
  void SetLight(RLResult& r, const RLLight& light) override;
  void RemoveLight(RLResult& r, RLLight& light) override;
  void Reserved1(RLResult& r) override { r.Succeed(); }
  void Reserved2(RLResult& r) override { r.Succeed(); }
  void SetMaterial(RLResult& r, const RLMaterial& material) override;
  void Reserved3(RLResult& r) override { r.Succeed(); }
  void CreateTexture(RLResult& r, Texture& texture) override;
  void BindTexture(RLResult& r, const Texture& texture) override;
  void DeleteTexture(RLResult& r, Texture& texture) override;
  void EnableTexturing(RLResult& r) override;
  void DisableTexturing(RLResult& r) override;
  void EnableLighting(RLResult& r) override;
  void DisableLighting(RLResult& r) override;
  void DrawBackground(RLResult& r, const kv::ByteImage& image) override;
  void DeleteBackground(RLResult& r) override;
  void Clear(RLResult& r) override;
  void SelectFrontBuffer(RLResult& r) override;
  void ReadImage(RLResult& r) override;
  void BeginList(RLResult& r, uint32_t& list) override;
  void EndList(RLResult& r) override;
  void CallList(RLResult& r, uint32_t list) override;
  void DeleteList(RLResult& r, uint32_t list) override;
  void DrawPoints(RLResult& r, VertexList vertices) override;
  void DrawLines(RLResult& r, VertexList vertices) override;
  void DrawTriangles(RLResult& r, VertexList vertices) override;
  void DrawTriangleStrip(RLResult& r, VertexList vertices) override;
  void DrawTriangleFan(RLResult& r, VertexList vertices) override;
  void DrawQuads(RLResult& r, VertexList vertices) override;
  void DrawPolygon(RLResult& r, VertexList vertices) override;
  void DrawTrimmedNurbsSurface(RLResult& r, const NurbsSurface& surface, const std::vector<TrimLoop>& trims) override;

  // Only through this class: a projection of the caller's, and a camera
  // after which the lights keep their place in the scene.
  void LoadProjection(RLResult& r, const Matrix4& m);
  void LoadCamera(RLResult& r, const Matrix4& m);

  // After a failed Initialize: the package to install, and the library file
  // or entry point that was missing.
  const std::string& MissingPackage() const { return missingPackage_; }
  const std::string& MissingName() const { return missingName_; }
  // The last error GLU reported while drawing a NURBS surface; empty if none.
  const std::string& NurbsError() const { return nurbsError_; }

  int32_t Value() const { return value_; }
  int32_t SurfaceWidth() const { return surfaceWidth_; }
  int32_t SurfaceHeight() const { return surfaceHeight_; }
  int32_t Supersampling() const { return supersampling_; }

 private:
  bool Loaded() const { return glHandle_ != nullptr && gluHandle_ != nullptr; }
  // Drawing needs a surface and its context; without one, calls fail.
  bool NoSurface(RLResult& r) {
    if (surfaceReady_) return false;
    r.Fail(kContextFailed);
    return true;
  }
  void Draw(RLResult& r, gl::GLenum mode, VertexList vertices);
  void SendLight(const RLLight& light);
  void ReleaseSurface();

  GLLibraries libraries_;
  int32_t value_ = 0;
  bool surfaceReady_ = false;
  int32_t surfaceWidth_ = 0, surfaceHeight_ = 0;
  int32_t maxLights_ = 0;
  std::vector<int32_t> lightSlots_;
  std::vector<RLLight> lights_;  // what each taken slot last showed, for LoadCamera
  int32_t option_ = 0;
  int32_t supersampling_ = 1;
  gl::Functions gl_{};
  void* glHandle_ = nullptr;
  void* gluHandle_ = nullptr;
  gl::OSMesaContext context_ = nullptr;
  std::unique_ptr<uint8_t[]> surface_;  // the context's colour buffer
  bool surfaceAlpha_ = false;
  std::unique_ptr<kv::ByteImage> image_;
  Matrix4 camera_{};
  std::vector<uint32_t> textures_;
  uint32_t background_ = 0;
  std::string missingPackage_, missingName_, nurbsError_;
};

}  // namespace g3d

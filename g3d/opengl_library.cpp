// State, camera, lights, materials, textures and drawing over OpenGL 1.1.
#include "g3d/opengl_library.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace g3d {

namespace {

// Where GLU's error callback, which has no room for a pointer of ours, leaves
// its text: the library drawing a NURBS surface on this thread.
thread_local std::string* nurbsErrorText = nullptr;
thread_local const gl::Functions* nurbsFunctions = nullptr;

void NurbsErrorCallback(gl::GLenum error) {
  if (nurbsErrorText == nullptr) return;
  const gl::GLubyte* text = nurbsFunctions != nullptr && nurbsFunctions->gluErrorString != nullptr
                                ? nurbsFunctions->gluErrorString(error)
                                : nullptr;
  char line[256];
  std::snprintf(line, sizeof line, "Nurbs Error: %s\n",
                text != nullptr ? reinterpret_cast<const char*>(text) : std::to_string(error).c_str());
  *nurbsErrorText = line;
}

}  // namespace

void OpenGLRenderingLibrary::SetDefaultState(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.Enable(gl::kDepthTest);
  gl_.FrontFace(gl::kCCW);
  gl_.CullFace(gl::kBack);
  gl_.Enable(gl::kCullFace);
  EnableLighting(r);
  gl_.ShadeModel(gl::kSmooth);
  gl_.Enable(gl::kNormalize);
  gl_.Enable(gl::kAutoNormal);
  // OpenGL's own dim ambient, and a local viewer, so that highlights move
  // across a flat face as a real reflection does.
  constexpr float kAmbient[4] = {kDefaultAmbient, kDefaultAmbient, kDefaultAmbient, 1.0f};
  gl_.LightModelfv(gl::kLightModelAmbient, kAmbient);
  gl_.LightModeli(gl::kLightModelLocalViewer, 1);
  gl_.TexEnvf(gl::kTextureEnv, gl::kTextureEnvMode, float(gl::kModulate));
  // Colours are premultiplied by alpha.
  gl_.Enable(gl::kBlend);
  gl_.BlendFunc(gl::kOne, gl::kOneMinusSrcAlpha);
  gl_.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  LookAt(r, {0.0, 0.0, 6.0}, {0.0, 0.0, 0.0}, {0.0, 1.0, 0.0});
  SetPerspective(r, 5.0, 1000.0, 1.0471976);
  r.Succeed();
}

void OpenGLRenderingLibrary::LoadModelView(RLResult& r, const Matrix4& m) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kModelView);
  gl_.LoadMatrixf(m.data());
  r.Succeed();
}

void OpenGLRenderingLibrary::MultModelView(RLResult& r, const Matrix4& m) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kModelView);
  gl_.MultMatrixf(m.data());
  r.Succeed();
}

void OpenGLRenderingLibrary::PushModelView(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kModelView);
  gl_.PushMatrix();
  r.Succeed();
}

void OpenGLRenderingLibrary::PopModelView(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kModelView);
  gl_.PopMatrix();
  r.Succeed();
}

void OpenGLRenderingLibrary::SetViewport(RLResult& r, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (NoSurface(r)) return;
  gl_.Viewport(x, y, width, height);
  r.Succeed();
}

void OpenGLRenderingLibrary::SetJitteredPerspective(RLResult& r, double near, double far, double fov, double dx,
                                                    double dy) {
  if (NoSurface(r)) return;
  const double half = fov * 360.0 / (2.0 * std::numbers::pi) * std::numbers::pi / 180.0 / 2.0;
  const double top = near / (std::cos(half) / std::sin(half)), bottom = -top;
  const double aspect = double(surfaceWidth_) / double(surfaceHeight_);
  const double right = top * aspect, left = -right;
  gl::GLint viewport[4] = {0, 0, surfaceWidth_, surfaceHeight_};
  gl_.GetIntegerv(gl::kViewport, viewport);
  // A shift of the frustum by whole or part pixels of the viewport.
  const double shiftX = -(dx * (right - left) / std::max(viewport[2], 1));
  const double shiftY = -(dy * (top - bottom) / std::max(viewport[3], 1));
  gl_.MatrixMode(gl::kProjection);
  gl_.LoadIdentity();
  gl_.Frustum(left + shiftX, right + shiftX, bottom + shiftY, top + shiftY, near, far);
  gl_.MatrixMode(gl::kModelView);
  gl_.LoadIdentity();
  r.Succeed();
}

void OpenGLRenderingLibrary::SetPerspective(RLResult& r, double near, double far, double fov) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kProjection);
  gl_.LoadIdentity();
  gl_.gluPerspective(fov * 360.0 / (2.0 * std::numbers::pi), double(surfaceWidth_) / std::max(surfaceHeight_, 1), near,
                     far);
  r.Succeed();
}

void OpenGLRenderingLibrary::LookAt(RLResult& r, const Vec3& eye, const Vec3& centre, const Vec3& up) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kModelView);
  gl_.LoadIdentity();
  gl_.gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, up.x, up.y, up.z);
  // Kept, so that lights are placed in the scene and not on the camera.
  gl_.GetFloatv(gl::kModelViewMatrix, camera_.data());
  r.Succeed();
}

void OpenGLRenderingLibrary::SetClearColor(RLResult& r, float red, float green, float blue, float alpha) {
  if (NoSurface(r)) return;
  gl_.ClearColor(red, green, blue, alpha);
  r.Succeed();
}

void OpenGLRenderingLibrary::SetTwoSided(RLResult& r, bool twoSided) {
  if (NoSurface(r)) return;
  if (twoSided) gl_.Disable(gl::kCullFace);
  else gl_.Enable(gl::kCullFace);
  gl_.LightModeli(gl::kLightModelTwoSide, twoSided ? 1 : 0);
  r.Succeed();
}

void OpenGLRenderingLibrary::SetDepthTest(RLResult& r, bool enable, bool write) {
  if (NoSurface(r)) return;
  if (enable) gl_.Enable(gl::kDepthTest);
  else gl_.Disable(gl::kDepthTest);
  gl_.DepthMask(write ? gl::kTrue : gl::kFalse);
  r.Succeed();
}

void OpenGLRenderingLibrary::SetPolygonSmoothing(RLResult& r, bool smooth) {
  if (NoSurface(r)) return;
  if (smooth) gl_.Enable(gl::kPolygonSmooth);
  else gl_.Disable(gl::kPolygonSmooth);
  r.Succeed();
}

void OpenGLRenderingLibrary::SetSupersampling(RLResult& r, int32_t factor) {
  supersampling_ = std::max(factor, 1);
  r.Succeed();
}

void OpenGLRenderingLibrary::SetOption(RLResult& r, int32_t option) {
  option_ = option;
  r.Succeed();
}

void OpenGLRenderingLibrary::AddLight(RLResult& r, RLLight& light) {
  if (NoSurface(r)) return;
  const int32_t usable = std::min(maxLights_, 8);
  for (int32_t i = 0; i < usable; ++i) {
    if (lightSlots_[size_t(i)] != 0) continue;
    lightSlots_[size_t(i)] = 1;
    light.glLight = i;
    lights_[size_t(i)] = light;
    gl_.Disable(gl::kLight0 + gl::GLenum(i));
    return r.Succeed();
  }
  r.Fail(kNoFreeLight);
}

void OpenGLRenderingLibrary::SendLight(const RLLight& light) {
  const gl::GLenum id = gl::kLight0 + gl::GLenum(light.glLight);
  gl_.MatrixMode(gl::kModelView);
  gl_.PushMatrix();
  gl_.LoadMatrixf(camera_.data());
  constexpr float kNoAmbient[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  gl_.Lightfv(id, gl::kAmbient, kNoAmbient);
  gl_.Lightfv(id, gl::kDiffuse, light.color.data());
  gl_.Lightfv(id, gl::kSpecular, light.color.data());
  const auto& d = light.direction;
  const auto& p = light.position;
  if (light.kind == kDirectionalLight) {
    const float position[4] = {d[0], d[1], d[2], 0.0f};
    gl_.Lightfv(id, gl::kPosition, position);
    gl_.Lightf(id, gl::kSpotCutoff, 180.0f);
  } else {
    const float position[4] = {p[0], p[1], p[2], 1.0f};
    gl_.Lightfv(id, gl::kPosition, position);
    if (light.kind == kSpotLight) {
      gl_.Lightfv(id, gl::kSpotDirection, d.data());
      gl_.Lightf(id, gl::kSpotExponent, std::clamp(light.spot, 0.0f, 128.0f));
      gl_.Lightf(id, gl::kSpotCutoff, 90.0f);
    } else {
      gl_.Lightf(id, gl::kSpotCutoff, 180.0f);
    }
  }
  gl_.Lightf(id, gl::kConstantAttenuation, light.constantAttenuation);
  gl_.Lightf(id, gl::kLinearAttenuation, light.linearAttenuation);
  gl_.Lightf(id, gl::kQuadraticAttenuation, light.quadraticAttenuation);
  if (light.enabled) gl_.Enable(id);
  else gl_.Disable(id);
  gl_.PopMatrix();
}

void OpenGLRenderingLibrary::SetLight(RLResult& r, const RLLight& light) {
  if (NoSurface(r)) return;
  if (light.glLight < 0 || light.glLight >= int32_t(lightSlots_.size()) || lightSlots_[size_t(light.glLight)] == 0)
    return r.Fail(kNoFreeLight);
  lights_[size_t(light.glLight)] = light;
  SendLight(light);
  r.Succeed();
}

void OpenGLRenderingLibrary::RemoveLight(RLResult& r, RLLight& light) {
  if (NoSurface(r)) return;
  if (light.glLight >= 0 && light.glLight < int32_t(lightSlots_.size())) {
    gl_.Disable(gl::kLight0 + gl::GLenum(light.glLight));
    lightSlots_[size_t(light.glLight)] = 0;
  }
  light.glLight = -1;
  r.Succeed();
}

void OpenGLRenderingLibrary::SetMaterial(RLResult& r, const RLMaterial& m) {
  if (NoSurface(r)) return;
  constexpr float kNoEmission[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  gl_.Materialfv(gl::kFront, gl::kAmbient, m.ambient.data());
  gl_.Materialfv(gl::kFront, gl::kDiffuse, m.diffuse.data());
  gl_.Materialfv(gl::kFront, gl::kSpecular, m.specular.data());
  gl_.Materialf(gl::kFront, gl::kShininess, std::clamp(m.shininess, 0.0f, 128.0f));
  gl_.Materialfv(gl::kFront, gl::kEmission, kNoEmission);
  r.Succeed();
}

void OpenGLRenderingLibrary::CreateTexture(RLResult& r, Texture& texture) {
  if (NoSurface(r)) return;
  const kv::ByteImage* image = texture.image.get();
  if (image == nullptr || image->IsEmpty() || (image->Channels() != 3 && image->Channels() != 4))
    return r.Fail(int32_t(gl::kGluInvalidValue));
  gl::GLuint name = 0;
  gl_.GenTextures(1, &name);
  gl_.BindTexture(gl::kTexture2D, name);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureWrapS, texture.repeatS ? gl::kRepeat : gl::kClamp);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureWrapT, texture.repeatT ? gl::kRepeat : gl::kClamp);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureMagFilter, gl::kLinear);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureMinFilter, gl::kLinearMipmapLinear);
  const int32_t channels = image->Channels();
  gl_.PixelStorei(gl::kUnpackAlignment, 1);
  gl_.PixelStorei(gl::kUnpackRowLength, image->rowStride / channels);
  const gl::GLint error = gl_.gluBuild2DMipmaps(gl::kTexture2D, channels, image->Width(), image->Height(),
                                                channels == 4 ? gl::kRGBA : gl::kRGB, gl::kUnsignedByte, image->data);
  gl_.PixelStorei(gl::kUnpackRowLength, 0);
  if (error != 0) {
    gl_.DeleteTextures(1, &name);
    return r.Fail(error);
  }
  texture.name = name;
  textures_.push_back(name);
  r.Succeed();
}

void OpenGLRenderingLibrary::BindTexture(RLResult& r, const Texture& texture) {
  if (NoSurface(r)) return;
  gl_.BindTexture(gl::kTexture2D, texture.name);
  r.Succeed();
}

void OpenGLRenderingLibrary::DeleteTexture(RLResult& r, Texture& texture) {
  if (NoSurface(r)) return;
  if (texture.name != 0) {
    gl_.DeleteTextures(1, &texture.name);
    std::erase(textures_, texture.name);
  }
  texture.name = 0;
  r.Succeed();
}

void OpenGLRenderingLibrary::EnableTexturing(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.Enable(gl::kTexture2D);
  r.Succeed();
}

void OpenGLRenderingLibrary::DisableTexturing(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.Disable(gl::kTexture2D);
  r.Succeed();
}

void OpenGLRenderingLibrary::EnableLighting(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.Enable(gl::kLighting);
  r.Succeed();
}

void OpenGLRenderingLibrary::DisableLighting(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.Disable(gl::kLighting);
  r.Succeed();
}

void OpenGLRenderingLibrary::DrawBackground(RLResult& r, const kv::ByteImage& image) {
  if (NoSurface(r)) return;
  if (image.IsEmpty() || (image.Channels() != 3 && image.Channels() != 4)) return r.Fail(int32_t(gl::kGluInvalidValue));
  if (background_ == 0) gl_.GenTextures(1, &background_);
  gl_.BindTexture(gl::kTexture2D, background_);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureWrapS, gl::kRepeat);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureWrapT, gl::kRepeat);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureMagFilter, gl::kNearest);
  gl_.TexParameteri(gl::kTexture2D, gl::kTextureMinFilter, gl::kNearest);
  const int32_t channels = image.Channels();
  gl_.PixelStorei(gl::kUnpackAlignment, 1);
  gl_.PixelStorei(gl::kUnpackRowLength, image.rowStride / channels);
  const gl::GLenum format = channels == 4 ? gl::kRGBA : gl::kRGB;
  gl_.TexImage2D(gl::kTexture2D, 0, channels, image.Width(), image.Height(), 0, format, gl::kUnsignedByte, image.data);
  gl_.PixelStorei(gl::kUnpackRowLength, 0);
  gl_.TexEnvf(gl::kTextureEnv, gl::kTextureEnvMode, float(gl::kDecal));
  gl_.Enable(gl::kTexture2D);
  // Over the whole viewport whatever the camera; image rows run top-down.
  gl_.MatrixMode(gl::kProjection);
  gl_.PushMatrix();
  gl_.LoadIdentity();
  gl_.MatrixMode(gl::kModelView);
  gl_.PushMatrix();
  gl_.LoadIdentity();
  gl_.Begin(gl::kQuads);
  gl_.TexCoord2f(0.0f, 1.0f), gl_.Vertex3f(-1.0f, -1.0f, 0.0f);
  gl_.TexCoord2f(1.0f, 1.0f), gl_.Vertex3f(1.0f, -1.0f, 0.0f);
  gl_.TexCoord2f(1.0f, 0.0f), gl_.Vertex3f(1.0f, 1.0f, 0.0f);
  gl_.TexCoord2f(0.0f, 0.0f), gl_.Vertex3f(-1.0f, 1.0f, 0.0f);
  gl_.End();
  gl_.PopMatrix();
  gl_.MatrixMode(gl::kProjection);
  gl_.PopMatrix();
  gl_.MatrixMode(gl::kModelView);
  gl_.TexEnvf(gl::kTextureEnv, gl::kTextureEnvMode, float(gl::kModulate));
  r.Succeed();
}

void OpenGLRenderingLibrary::DeleteBackground(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.Disable(gl::kTexture2D);
  if (background_ != 0) gl_.DeleteTextures(1, &background_);
  background_ = 0;
  r.Succeed();
}

void OpenGLRenderingLibrary::Clear(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.Clear(gl::kColorBufferBit | gl::kDepthBufferBit);
  r.Succeed();
}

void OpenGLRenderingLibrary::SelectFrontBuffer(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.DrawBuffer(gl::kFront);
  r.Succeed();
}

void OpenGLRenderingLibrary::BeginList(RLResult& r, uint32_t& list) {
  if (NoSurface(r)) return;
  list = gl_.GenLists(1);
  gl_.NewList(list, gl::kCompile);
  r.Succeed();
}

void OpenGLRenderingLibrary::EndList(RLResult& r) {
  if (NoSurface(r)) return;
  gl_.EndList();
  r.Succeed();
}

void OpenGLRenderingLibrary::CallList(RLResult& r, uint32_t list) {
  if (NoSurface(r)) return;
  gl_.CallList(list);
  r.Succeed();
}

void OpenGLRenderingLibrary::DeleteList(RLResult& r, uint32_t list) {
  if (NoSurface(r)) return;
  gl_.DeleteLists(list, 1);
  r.Succeed();
}

void OpenGLRenderingLibrary::Draw(RLResult& r, gl::GLenum mode, VertexList vertices) {
  if (NoSurface(r)) return;
  gl_.Begin(mode);
  for (const Vertex& v : vertices) {
    gl_.TexCoord2f(v.s, v.t);
    gl_.Normal3f(v.nx, v.ny, v.nz);
    gl_.Vertex3f(v.x, v.y, v.z);
  }
  gl_.End();
  r.Succeed();
}

void OpenGLRenderingLibrary::DrawPoints(RLResult& r, VertexList v) { Draw(r, gl::kPoints, v); }
void OpenGLRenderingLibrary::DrawLines(RLResult& r, VertexList v) { Draw(r, gl::kLines, v); }
void OpenGLRenderingLibrary::DrawTriangles(RLResult& r, VertexList v) { Draw(r, gl::kTriangles, v); }
void OpenGLRenderingLibrary::DrawTriangleStrip(RLResult& r, VertexList v) { Draw(r, gl::kTriangleStrip, v); }
void OpenGLRenderingLibrary::DrawTriangleFan(RLResult& r, VertexList v) { Draw(r, gl::kTriangleFan, v); }
void OpenGLRenderingLibrary::DrawQuads(RLResult& r, VertexList v) { Draw(r, gl::kQuads, v); }
void OpenGLRenderingLibrary::DrawPolygon(RLResult& r, VertexList v) { Draw(r, gl::kPolygon, v); }

void OpenGLRenderingLibrary::DrawTrimmedNurbsSurface(RLResult& r, const NurbsSurface& surface,
                                                     const std::vector<TrimLoop>& trims) {
  if (NoSurface(r)) return;
  const int32_t sCount = int32_t(surface.sKnots.size()) - surface.sOrder;
  const int32_t tCount = int32_t(surface.tKnots.size()) - surface.tOrder;
  const size_t points = size_t(std::max(sCount, 0)) * size_t(std::max(tCount, 0));
  if (sCount <= 0 || tCount <= 0 || surface.positions.size() != 3 * points || surface.normals.size() != 3 * points ||
      surface.texCoords.size() != 2 * points)
    return r.Fail(int32_t(gl::kGluInvalidValue));
  gl::GLUnurbs* nurbs = gl_.gluNewNurbsRenderer();
  if (nurbs == nullptr) return r.Fail(kv::kErrOutOfMemory);
  nurbsError_.clear();
  nurbsErrorText = &nurbsError_;
  nurbsFunctions = &gl_;
  gl_.gluNurbsProperty(nurbs, gl::kGluSamplingMethod, float(gl::kGluParametricError));
  gl_.gluNurbsProperty(nurbs, gl::kGluDisplayMode, float(gl::kGluFill));
  gl_.gluNurbsCallback(nurbs, gl::kGluError, reinterpret_cast<void (*)()>(&NurbsErrorCallback));

  // GLU takes non-const arrays but does not write them.
  auto data = [](const std::vector<float>& v) { return const_cast<float*>(v.data()); };
  gl_.gluBeginSurface(nurbs);
  const int32_t sKnots = int32_t(surface.sKnots.size()), tKnots = int32_t(surface.tKnots.size());
  gl_.gluNurbsSurface(nurbs, sKnots, data(surface.sKnots), tKnots, data(surface.tKnots), tCount * 3, 3,
                      data(surface.positions), surface.sOrder, surface.tOrder, gl::kMap2Vertex3);
  gl_.gluNurbsSurface(nurbs, sKnots, data(surface.sKnots), tKnots, data(surface.tKnots), tCount * 3, 3,
                      data(surface.normals), surface.sOrder, surface.tOrder, gl::kMap2Normal);
  gl_.gluNurbsSurface(nurbs, sKnots, data(surface.sKnots), tKnots, data(surface.tKnots), tCount * 2, 2,
                      data(surface.texCoords), surface.sOrder, surface.tOrder, gl::kMap2TextureCoord2);
  for (const TrimLoop& loop : trims) {
    gl_.gluBeginTrim(nurbs);
    for (const auto& curve : loop) {
      if (curve == nullptr) continue;
      float* points = const_cast<float*>(curve->Points());
      if (curve->Kind() == kPiecewiseLinearCurve) {
        gl_.gluPwlCurve(nurbs, curve->PointCount(), points, 2, gl::kGluMap1Trim2);
      } else if (curve->Kind() == kNurbsCurve) {
        const auto* n = dynamic_cast<const NURBSCurve<float>*>(curve.get());
        if (n == nullptr) continue;
        gl_.gluNurbsCurve(nurbs, n->KnotCount(), const_cast<float*>(n->Knots()), 2, points, n->Order(),
                          gl::kGluMap1Trim2);
      }
    }
    gl_.gluEndTrim(nurbs);
  }
  gl_.gluEndSurface(nurbs);
  gl_.gluDeleteNurbsRenderer(nurbs);
  nurbsErrorText = nullptr;
  nurbsFunctions = nullptr;
  r.Succeed();
}

void OpenGLRenderingLibrary::LoadProjection(RLResult& r, const Matrix4& m) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kProjection);
  gl_.LoadMatrixf(m.data());
  gl_.MatrixMode(gl::kModelView);
  r.Succeed();
}

void OpenGLRenderingLibrary::LoadCamera(RLResult& r, const Matrix4& m) {
  if (NoSurface(r)) return;
  gl_.MatrixMode(gl::kModelView);
  gl_.LoadMatrixf(m.data());
  camera_ = m;
  for (size_t i = 0; i < lightSlots_.size(); ++i)
    if (lightSlots_[i] != 0) SendLight(lights_[i]);
  r.Succeed();
}

}  // namespace g3d

// The OpenGL rendering library on Mesa's off-screen renderer: known scenes
// read back with the colours and positions the maths gives. Scenes are
// skipped, with a message, where the libraries are not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "g3d/opengl_library.h"
#include "g3d/pixel_format.h"
#include "tests/g3d/mesa_leaks.h"

namespace g3d {
namespace {

TEST(SurfaceFormat, AlphaOutweighsDepthAndEqualWeightsTakeTheHighestIndex) {
  const SurfaceFormat plain{24, 0, 32, 64, true, true, true};
  const SurfaceFormat alpha{24, 8, 0, 0, true, true, true};
  EXPECT_EQ(FormatWeight(plain), 1 + 64 + 64);
  EXPECT_EQ(FormatWeight(alpha), 513);
  EXPECT_EQ(FormatWeight({24, 8, 4, 4, true, true, true}), 513) << "fewer than 8 bits count for nothing";
  for (SurfaceFormat unusable : {SurfaceFormat{16, 8, 24, 0, true, true, true}, SurfaceFormat{24, 8, 24, 0, false},
                                 SurfaceFormat{24, 8, 24, 0, true, false}, SurfaceFormat{24, 8, 24, 0, true, true, false}})
    EXPECT_EQ(FormatWeight(unusable), 0);

  const SurfaceFormat list[] = {alpha, plain, alpha, {16, 8, 24, 0, true, true, true}};
  EXPECT_EQ(ChooseFormat(list), 3);
  const SurfaceFormat none[] = {{16, 0, 0, 0, true, true, true}};
  EXPECT_EQ(ChooseFormat(none), 0);
}

// A library that could not load reports which and why, and stays safe to use.
TEST(OpenGLLoading, MissingLibrariesAndEntryPointsGiveTheirCodes) {
  RLResult r;
  OpenGLRenderingLibrary noGL({"libno-such-gl.so.8", "libGLU.so.1", "libosmesa6", "libglu1-mesa"});
  noGL.Initialize(r, 0);
  EXPECT_EQ((std::array{r.ok, r.kind, r.code}), (std::array{0, 1, int32_t(kGLLoadFailed)}));
  EXPECT_EQ(noGL.MissingPackage(), "libosmesa6");
  kv::ByteImage* image = nullptr;
  noGL.CreateSurface(r, 8, 8, image);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_EQ(image, nullptr);
  noGL.ReadImage(r);
  EXPECT_FALSE(r.Succeeded());
  noGL.DestroySurface(r);
  noGL.Unload(r);
  EXPECT_TRUE(r.Succeeded());

  // The maths library loads everywhere and has none of the entry points.
  OpenGLRenderingLibrary noGLU({"libm.so.6", "libno-such-glu.so.1", "libosmesa6", "libglu1-mesa"});
  noGLU.Initialize(r, 0);
  EXPECT_EQ(r.code, kGLULoadFailed);
  EXPECT_EQ(noGLU.MissingPackage(), "libglu1-mesa");

  OpenGLRenderingLibrary noEntries({"libm.so.6", "libm.so.6", "libosmesa6", "libglu1-mesa"});
  noEntries.Initialize(r, 0);
  EXPECT_EQ(r.code, kEntryPointMissing);
  EXPECT_EQ(noEntries.MissingName(), "glFlush");
  EXPECT_EQ(noEntries.MissingPackage(), "libosmesa6");
}

// glOrtho over the surface's own pixels, y up.
Matrix4 PixelOrtho(double width, double height) {
  Matrix4 m = kIdentity;
  m[0] = float(2.0 / width), m[5] = float(2.0 / height), m[10] = -1.0f;
  m[12] = -1.0f, m[13] = -1.0f;
  return m;
}

std::vector<Vertex> Quad(float x0, float y0, float x1, float y1, float z = 0.0f) {
  return {{x0, y0, z, 0, 0, 1, 0, 1}, {x1, y0, z, 0, 0, 1, 1, 1}, {x1, y1, z, 0, 0, 1, 1, 0}, {x0, y1, z, 0, 0, 1, 0, 0}};
}

class Scene : public ::testing::Test {
 protected:
  void Open(int32_t width, int32_t height, int32_t supersampling = 1) {
    lib.Initialize(r, 7);
    if (!r.Succeeded())
      GTEST_SKIP() << lib.MissingName() << " is not installed (apt-get install libosmesa6 libglu1-mesa); "
                   << "the 3D renderer cannot be tested here";
    lib.SetSupersampling(r, supersampling);
    lib.CreateSurface(r, width, height, image);
    ASSERT_TRUE(r.Succeeded()) << r.code;
    lib.SetDefaultState(r);
    ASSERT_TRUE(r.Succeeded());
    lib.Clear(r);
  }
  std::array<int, 4> At(int x, int y) const {
    const uint8_t* p = image->Address(x, y);
    return {p[0], p[1], p[2], image->Channels() == 4 ? p[3] : 255};
  }
  // Where the alpha of what was drawn has its centre, in image pixels.
  std::pair<double, double> Centroid() const {
    double sum = 0, sx = 0, sy = 0;
    for (int y = 0; y < image->Height(); ++y)
      for (int x = 0; x < image->Width(); ++x) {
        const double a = image->Address(x, y)[3];
        sum += a, sx += a * (x + 0.5), sy += a * (y + 0.5);
      }
    return {sx / sum, sy / sum};
  }

  OpenGLRenderingLibrary lib;
  RLResult r;
  kv::ByteImage* image = nullptr;
};

TEST_F(Scene, LitQuadTakesTheLightsAndMaterialsColours) {
  Open(40, 30);
  if (IsSkipped()) return;
  EXPECT_EQ(lib.Value(), 7);
  ASSERT_EQ(image->Channels(), 4) << "the format with alpha wins";
  lib.SetClearColor(r, 0.0f, 0.0f, 0.0f, 0.0f);
  lib.Clear(r);
  RLLight light;
  light.color = {1.0f, 0.5f, 1.0f, 1.0f};
  lib.AddLight(r, light);
  lib.SetLight(r, light);
  RLMaterial material;
  material.ambient = {0.0f, 0.0f, 0.0f, 1.0f};
  material.diffuse = {0.5f, 1.0f, 0.25f, 1.0f};
  material.specular = {0.0f, 0.0f, 0.0f, 1.0f};
  lib.SetMaterial(r, material);
  lib.DrawQuads(r, Quad(-0.5f, -0.5f, 0.5f, 0.5f));
  lib.ReadImage(r);
  ASSERT_TRUE(r.Succeeded());
  const auto centre = At(20, 15);
  EXPECT_NEAR(centre[0], 128, 1);
  EXPECT_NEAR(centre[1], 128, 1);
  EXPECT_NEAR(centre[2], 64, 1);
  EXPECT_EQ(centre[3], 255);
  EXPECT_EQ(At(0, 0), (std::array{0, 0, 0, 0}));

  // Disabled, the light keeps its OpenGL light but lights nothing: only the
  // scene's ambient (0.2) on the material's ambient is left.
  light.enabled = false;
  lib.SetLight(r, light);
  EXPECT_EQ(light.glLight, 0);
  material.ambient = {1.0f, 1.0f, 1.0f, 1.0f};
  lib.SetMaterial(r, material);
  lib.Clear(r);
  lib.DrawQuads(r, Quad(-0.5f, -0.5f, 0.5f, 0.5f));
  lib.ReadImage(r);
  EXPECT_NEAR(At(20, 15)[0], 51, 1);

  // Eight lights at most; a removed one frees its place.
  std::vector<RLLight> more(8);
  int32_t added = 0;
  for (RLLight& l : more) {
    lib.AddLight(r, l);
    added += r.Succeeded();
  }
  EXPECT_EQ(added, 7);
  EXPECT_EQ(r.code, kNoFreeLight);
  lib.RemoveLight(r, more[3]);
  EXPECT_EQ(more[3].glLight, -1);
  lib.AddLight(r, more[7]);
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(more[7].glLight, 4);
}

TEST_F(Scene, TextureComesBackUprightAndListsReplayTheDrawing) {
  Open(64, 64);
  if (IsSkipped()) return;
  // Four colours in the quarters of a 4 x 4 texture, top row first.
  auto source = std::make_shared<kv::ByteImage>();
  int32_t err = 0;
  *source = kv::ByteImage(err, {0, 0, 4, 4}, kv::PixelFormat::Of(kv::kModeRGB, 3, false));
  const std::array<std::array<uint8_t, 3>, 4> colours = {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) std::copy_n(colours[size_t((y / 2) * 2 + x / 2)].data(), 3, source->Address(x, y));
  Texture texture(source);
  lib.CreateTexture(r, texture);
  ASSERT_TRUE(r.Succeeded()) << r.code;
  EXPECT_NE(texture.name, 0u);
  lib.DisableLighting(r);
  lib.EnableTexturing(r);
  lib.BindTexture(r, texture);
  lib.LoadProjection(r, PixelOrtho(64, 64));
  lib.LoadModelView(r, kIdentity);
  uint32_t list = 0;
  lib.BeginList(r, list);
  lib.DrawQuads(r, Quad(0, 0, 64, 64));  // t = 0 at the top
  lib.EndList(r);
  lib.Clear(r);
  lib.ReadImage(r);
  EXPECT_EQ(At(10, 10), (std::array{0, 0, 0, 255})) << "compiling a list draws nothing";
  lib.CallList(r, list);
  lib.ReadImage(r);
  EXPECT_EQ(At(10, 10), (std::array{255, 0, 0, 255}));
  EXPECT_EQ(At(53, 10), (std::array{0, 255, 0, 255}));
  EXPECT_EQ(At(10, 53), (std::array{0, 0, 255, 255}));
  EXPECT_EQ(At(53, 53), (std::array{255, 255, 0, 255}));
  lib.DeleteList(r, list);
  lib.DeleteTexture(r, texture);
  EXPECT_EQ(texture.name, 0u);
}

TEST_F(Scene, SupersamplingAveragesBlocksIntoTheRequestedSize) {
  for (int32_t s : {2, 3}) {
    lib.DestroySurface(r);
    // An odd width, so that rows end with a lone pixel.
    Open(11, 6, s);
    if (IsSkipped()) return;
    EXPECT_EQ(lib.SurfaceWidth(), 11 * s);
    EXPECT_EQ((std::array{image->Width(), image->Height()}), (std::array{11, 6}));
    lib.SetClearColor(r, 0.0f, 0.0f, 0.0f, 0.0f);
    lib.Clear(r);
    lib.DisableLighting(r);
    lib.LoadProjection(r, PixelOrtho(11.0 * s, 6.0 * s));
    lib.LoadModelView(r, kIdentity);
    // One surface column of the top-left and of the top-right image pixel, white.
    lib.DrawQuads(r, Quad(0, float(6 * s - s), 1, float(6 * s)));
    lib.DrawQuads(r, Quad(float(11 * s - 1), float(6 * s - s), float(11 * s), float(6 * s)));
    lib.ReadImage(r);
    const int expected = (255 * s + s * s / 2) / (s * s);
    EXPECT_EQ(At(0, 0)[0], expected) << s;
    EXPECT_EQ(At(10, 0)[0], expected) << s;
    EXPECT_EQ(At(0, 1)[0], 0) << s;
    EXPECT_EQ(At(1, 0)[0], 0) << s;
    EXPECT_EQ(At(9, 0)[0], 0) << s;
  }
}

TEST_F(Scene, PerspectiveAndCameraPlacePointsWhereTheMathsSays) {
  Open(160, 120, 4);
  if (IsSkipped()) return;
  lib.SetClearColor(r, 0.0f, 0.0f, 0.0f, 0.0f);
  lib.DisableLighting(r);
  const double fov = 50.0 * std::numbers::pi / 180.0;
  const Vec3 eye{1.0, 2.0, 8.0}, centre{0.5, 0.0, 0.0}, up{0.0, 1.0, 0.0};
  const double px = 0.8, py = 0.3, pz = -0.5;
  auto draw = [&] {
    lib.Clear(r);
    lib.DrawQuads(r, Quad(float(px - 0.5), float(py - 0.5), float(px + 0.5), float(py + 0.5), float(pz)));
    lib.ReadImage(r);
    return Centroid();
  };
  lib.SetPerspective(r, 1.0, 100.0, fov);
  lib.LookAt(r, eye, centre, up);
  const auto [x, y] = draw();

  // The same by hand: the camera's axes, then the projection.
  auto sub = [](Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; };
  auto dot = [](Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
  auto cross = [](Vec3 a, Vec3 b) { return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; };
  auto unit = [&](Vec3 a) {
    const double n = std::sqrt(dot(a, a));
    return Vec3{a.x / n, a.y / n, a.z / n};
  };
  const Vec3 f = unit(sub(centre, eye)), s = unit(cross(f, up)), u = cross(s, f);
  const double focal = 1.0 / std::tan(fov / 2.0), aspect = 160.0 / 120.0;
  auto project = [&](double qx, double qy) {
    const Vec3 d = sub({qx, qy, pz}, eye);
    return std::pair{(focal / aspect * dot(s, d) / dot(f, d) + 1.0) / 2.0 * 160.0,
                     (1.0 - focal * dot(u, d) / dot(f, d)) / 2.0 * 120.0};
  };
  // The quad seen at a slant: the centre of its projected outline.
  const std::array corners = {project(px - 0.5, py - 0.5), project(px + 0.5, py - 0.5), project(px + 0.5, py + 0.5),
                              project(px - 0.5, py + 0.5)};
  double area = 0, cx = 0, cy = 0;
  for (size_t i = 0; i < 4; ++i) {
    const auto [ax, ay] = corners[i];
    const auto [bx, by] = corners[(i + 1) % 4];
    const double w = ax * by - bx * ay;
    area += w, cx += (ax + bx) * w, cy += (ay + by) * w;
  }
  EXPECT_NEAR(x, cx / (3.0 * area), 0.05);
  EXPECT_NEAR(y, cy / (3.0 * area), 0.05);

  // A jittered frustum moves the picture by its shift in surface pixels.
  lib.SetJitteredPerspective(r, 1.0, 100.0, fov, 0.0, 0.0);
  lib.LookAt(r, eye, centre, up);
  const auto [x0, y0] = draw();
  EXPECT_NEAR(x0, x, 0.05);
  EXPECT_NEAR(y0, y, 0.05);
  lib.SetJitteredPerspective(r, 1.0, 100.0, fov, 5.0, 3.0);
  lib.LookAt(r, eye, centre, up);
  const auto [x1, y1] = draw();
  EXPECT_NEAR(x1 - x0, 1.25, 0.05);
  EXPECT_NEAR(y1 - y0, -0.75, 0.05);
}

TEST_F(Scene, TrimmedNurbsPatchIsDrawnAroundItsHole) {
  Open(64, 64);
  if (IsSkipped()) return;
  lib.SetClearColor(r, 0.0f, 0.0f, 0.0f, 0.0f);
  lib.Clear(r);
  lib.DisableLighting(r);
  lib.LoadProjection(r, PixelOrtho(64, 64));
  lib.LoadModelView(r, kIdentity);
  // A flat bilinear patch over the whole surface.
  NurbsSurface patch;
  patch.sKnots = patch.tKnots = {0, 0, 1, 1};
  patch.sOrder = patch.tOrder = 2;
  patch.positions = {0, 0, 0, 0, 64, 0, 64, 0, 0, 64, 64, 0};
  patch.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
  patch.texCoords = {0, 0, 0, 1, 1, 0, 1, 1};
  std::vector<TrimLoop> trims(2);
  // Outside, anticlockwise: keep what is inside.
  trims[0].push_back(std::make_unique<PolylineCurve<float>>(std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1, 0, 0}));
  // A hole, clockwise, as a NURBS square with a curve of no known kind beside it.
  trims[1].push_back(std::make_unique<NURBSCurve<float>>(
      std::vector<float>{0.25f, 0.25f, 0.25f, 0.75f, 0.75f, 0.75f, 0.75f, 0.25f, 0.25f, 0.25f},
      std::vector<float>{0, 0, 1, 2, 3, 4, 4}, 2));
  class Odd final : public Curve<float> {
   public:
    int32_t Kind() const override { return 9; }
    const float* Points() const override { return nullptr; }
    int32_t PointCount() const override { return 0; }
  };
  trims[1].push_back(std::make_unique<Odd>());
  lib.DrawTrimmedNurbsSurface(r, patch, trims);
  ASSERT_TRUE(r.Succeeded());
  EXPECT_EQ(lib.NurbsError(), "");
  lib.ReadImage(r);
  EXPECT_EQ(At(6, 6), (std::array{255, 255, 255, 255}));
  EXPECT_EQ(At(32, 32), (std::array{0, 0, 0, 0}));

  patch.normals.pop_back();
  lib.DrawTrimmedNurbsSurface(r, patch, trims);
  EXPECT_FALSE(r.Succeeded()) << "control points that do not match the knots";
}

}  // namespace
}  // namespace g3d

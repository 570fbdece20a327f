// Loading the libraries, the off-screen surface and reading it back.
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "g3d/opengl_library.h"
#include "g3d/pixel_format.h"

namespace g3d {

namespace {

// What the off-screen library can draw into, by weight from lightest; each
// with its own colour buffer in our memory. No accumulation buffer: passes
// are summed in the caller's memory, and one would only cost space.
struct OfferedFormat {
  SurfaceFormat format;
  gl::GLenum glFormat;
};
constexpr std::array<OfferedFormat, 4> kOffered = {{
    {{24, 0, 16, 0, true, true, true}, gl::kRGB},
    {{24, 0, 24, 0, true, true, true}, gl::kRGB},
    {{24, 8, 16, 0, true, true, true}, gl::kRGBA},
    {{24, 8, 24, 0, true, true, true}, gl::kRGBA},
}};

// Loaded for good: Mesa's JIT and its threads must not be unmapped under a
// later render, nor before their exit handlers run.
void* OpenLibrary(const std::string& file, bool global) {
  return dlopen(file.c_str(), RTLD_NOW | RTLD_NODELETE | (global ? RTLD_GLOBAL : RTLD_LOCAL));
}

}  // namespace

GLLibraries& DefaultLibraries() {
  static GLLibraries libraries;
  return libraries;
}

OpenGLRenderingLibrary::OpenGLRenderingLibrary(GLLibraries libraries) : libraries_(std::move(libraries)) {}

OpenGLRenderingLibrary::~OpenGLRenderingLibrary() {
  RLResult r;
  DestroySurface(r);
  Unload(r);
}

void OpenGLRenderingLibrary::Initialize(RLResult& r, int32_t value) {
  Unload(r);
  value_ = value;
  missingPackage_.clear();
  missingName_.clear();
  // GLU finds its GL calls through the global symbols: the GL library must
  // be there first, or those calls silently go nowhere.
  glHandle_ = OpenLibrary(libraries_.gl, true);
  if (glHandle_ == nullptr) {
    missingPackage_ = libraries_.glPackage;
    missingName_ = libraries_.gl;
    return r.Fail(kGLLoadFailed);
  }
  gluHandle_ = OpenLibrary(libraries_.glu, false);
  if (gluHandle_ == nullptr) {
    missingPackage_ = libraries_.gluPackage;
    missingName_ = libraries_.glu;
    Unload(r);
    return r.Fail(kGLULoadFailed);
  }

  const char* missing = nullptr;
  void* missingFrom = nullptr;
  auto fetch = [&](void* library, const char* name, auto& entry) {
    if (missing != nullptr) return;
    entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(library, name));
    if (entry == nullptr) missing = name, missingFrom = library;
  };
  void* const g = glHandle_;
  void* const u = gluHandle_;
  fetch(g, "glFlush", gl_.Flush);
  fetch(g, "glLoadMatrixf", gl_.LoadMatrixf);
  fetch(g, "glMultMatrixf", gl_.MultMatrixf);
  fetch(g, "glMatrixMode", gl_.MatrixMode);
  fetch(g, "glLoadIdentity", gl_.LoadIdentity);
  fetch(g, "glViewport", gl_.Viewport);
  fetch(g, "glFrustum", gl_.Frustum);
  fetch(g, "glTranslatef", gl_.Translatef);
  fetch(g, "glGetFloatv", gl_.GetFloatv);
  fetch(g, "glGetIntegerv", gl_.GetIntegerv);
  fetch(g, "glGetBooleanv", gl_.GetBooleanv);
  fetch(g, "glClearColor", gl_.ClearColor);
  fetch(g, "glDisable", gl_.Disable);
  fetch(g, "glEnable", gl_.Enable);
  fetch(g, "glHint", gl_.Hint);
  fetch(g, "glBlendFunc", gl_.BlendFunc);
  fetch(g, "glDepthMask", gl_.DepthMask);
  fetch(g, "glPopMatrix", gl_.PopMatrix);
  fetch(g, "glPushMatrix", gl_.PushMatrix);
  fetch(g, "glLightf", gl_.Lightf);
  fetch(g, "glLightfv", gl_.Lightfv);
  fetch(g, "glBegin", gl_.Begin);
  fetch(g, "glEnd", gl_.End);
  fetch(g, "glVertex3f", gl_.Vertex3f);
  fetch(g, "glNormal3f", gl_.Normal3f);
  fetch(g, "glTexCoord2f", gl_.TexCoord2f);
  fetch(g, "glMaterialf", gl_.Materialf);
  fetch(g, "glMaterialfv", gl_.Materialfv);
  fetch(g, "glClear", gl_.Clear);
  fetch(g, "glGenLists", gl_.GenLists);
  fetch(g, "glNewList", gl_.NewList);
  fetch(g, "glEndList", gl_.EndList);
  fetch(g, "glCallList", gl_.CallList);
  fetch(g, "glDeleteLists", gl_.DeleteLists);
  fetch(g, "glCullFace", gl_.CullFace);
  fetch(g, "glFrontFace", gl_.FrontFace);
  fetch(g, "glShadeModel", gl_.ShadeModel);
  fetch(g, "glLightModelfv", gl_.LightModelfv);
  fetch(g, "glLightModeli", gl_.LightModeli);
  fetch(g, "glDrawBuffer", gl_.DrawBuffer);
  fetch(g, "glReadPixels", gl_.ReadPixels);
  fetch(g, "glPixelStorei", gl_.PixelStorei);
  fetch(g, "glGenTextures", gl_.GenTextures);
  fetch(g, "glBindTexture", gl_.BindTexture);
  fetch(g, "glTexParameteri", gl_.TexParameteri);
  fetch(g, "glTexImage2D", gl_.TexImage2D);
  fetch(g, "glIsTexture", gl_.IsTexture);
  fetch(g, "glDeleteTextures", gl_.DeleteTextures);
  fetch(g, "glTexEnvf", gl_.TexEnvf);
  fetch(g, "OSMesaCreateContextExt", gl_.CreateContext);
  fetch(g, "OSMesaMakeCurrent", gl_.MakeCurrent);
  fetch(g, "OSMesaDestroyContext", gl_.DestroyContext);
  fetch(g, "OSMesaGetCurrentContext", gl_.GetCurrentContext);
  fetch(u, "gluGetString", gl_.gluGetString);
  fetch(u, "gluPerspective", gl_.gluPerspective);
  fetch(u, "gluLookAt", gl_.gluLookAt);
  fetch(u, "gluBuild2DMipmaps", gl_.gluBuild2DMipmaps);
  fetch(u, "gluNewNurbsRenderer", gl_.gluNewNurbsRenderer);
  fetch(u, "gluDeleteNurbsRenderer", gl_.gluDeleteNurbsRenderer);
  fetch(u, "gluBeginSurface", gl_.gluBeginSurface);
  fetch(u, "gluEndSurface", gl_.gluEndSurface);
  fetch(u, "gluNurbsSurface", gl_.gluNurbsSurface);
  fetch(u, "gluNurbsProperty", gl_.gluNurbsProperty);
  fetch(u, "gluNurbsCallback", gl_.gluNurbsCallback);
  fetch(u, "gluPwlCurve", gl_.gluPwlCurve);
  fetch(u, "gluNurbsCurve", gl_.gluNurbsCurve);
  fetch(u, "gluBeginTrim", gl_.gluBeginTrim);
  fetch(u, "gluEndTrim", gl_.gluEndTrim);
  if (missing != nullptr) {
    missingName_ = missing;
    missingPackage_ = missingFrom == g ? libraries_.glPackage : libraries_.gluPackage;
    Unload(r);
    return r.Fail(kEntryPointMissing);
  }
  gl_.gluErrorString = reinterpret_cast<decltype(gl_.gluErrorString)>(dlsym(u, "gluErrorString"));
  r.Succeed();
}

void OpenGLRenderingLibrary::Unload(RLResult& r) {
  if (surfaceReady_) ReleaseSurface();
  if (gluHandle_ != nullptr) dlclose(gluHandle_);
  if (glHandle_ != nullptr) dlclose(glHandle_);
  gluHandle_ = glHandle_ = nullptr;
  gl_ = {};
  r.Succeed();
}

void OpenGLRenderingLibrary::CreateSurface(RLResult& r, int32_t width, int32_t height, kv::ByteImage*& image) {
  image = nullptr;
  if (!Loaded()) return r.Fail(kContextFailed);
  if (surfaceReady_) ReleaseSurface();
  // Within what a software surface can address, and what the pixel count of
  // a surface can hold.
  constexpr int64_t kMaxSide = 16384;
  const int64_t sw = int64_t(supersampling_) * width, sh = int64_t(supersampling_) * height;
  if (width <= 0 || height <= 0 || sw > kMaxSide || sh > kMaxSide) return r.Fail(kSurfaceFailed);
  surfaceWidth_ = int32_t(sw);
  surfaceHeight_ = int32_t(sh);

  std::array<SurfaceFormat, kOffered.size()> formats;
  for (size_t i = 0; i < kOffered.size(); ++i) formats[i] = kOffered[i].format;
  const int32_t chosen = ChooseFormat(formats);
  if (chosen == 0) return r.Fail(kNoPixelFormat);
  const OfferedFormat& offered = kOffered[size_t(chosen - 1)];
  surfaceAlpha_ = offered.format.alphaBits >= 8;

  surface_.reset(new (std::nothrow) uint8_t[size_t(sw * sh) * (surfaceAlpha_ ? 4 : 3)]);
  if (!surface_) return r.Fail(kSurfaceFailed);
  context_ = gl_.CreateContext(offered.glFormat, offered.format.depthBits, 0, 0, nullptr);
  if (context_ == nullptr) {
    surface_.reset();
    return r.Fail(kContextFailed);
  }
  if (gl_.MakeCurrent(context_, surface_.get(), gl::kUnsignedByte, surfaceWidth_, surfaceHeight_) == gl::kFalse) {
    ReleaseSurface();
    return r.Fail(kMakeCurrentFailed);
  }
  gl::GLint lights = 0;
  gl_.GetIntegerv(gl::kMaxLights, &lights);
  maxLights_ = std::max(lights, 0);
  lightSlots_.assign(size_t(maxLights_), 0);
  lights_.assign(size_t(maxLights_), RLLight{});

  int32_t err = 0;
  image_ = std::make_unique<kv::ByteImage>(err, kv::Rect{0, 0, width, height},
                                           kv::PixelFormat::Of(kv::kModeRGB, 3, surfaceAlpha_));
  if (err != 0) {
    ReleaseSurface();
    return r.Fail(kSurfaceFailed);
  }
  surfaceReady_ = true;
  image = image_.get();
  r.Succeed();
}

void OpenGLRenderingLibrary::ReleaseSurface() {
  if (context_ != nullptr) {
    if (!textures_.empty()) gl_.DeleteTextures(int32_t(textures_.size()), textures_.data());
    if (background_ != 0) gl_.DeleteTextures(1, &background_);
    if (gl_.GetCurrentContext() == context_) gl_.MakeCurrent(nullptr, nullptr, 0, 0, 0);
    gl_.DestroyContext(context_);
  }
  context_ = nullptr;
  textures_.clear();
  background_ = 0;
  surface_.reset();
  image_.reset();
  lightSlots_.clear();
  lights_.clear();
  maxLights_ = 0;
  surfaceReady_ = false;
}

void OpenGLRenderingLibrary::DestroySurface(RLResult& r) {
  ReleaseSurface();
  r.Succeed();
}

namespace {

// Image rows from surface rows: every s x s block averaged into one pixel of
// `channels`. `bottom` is the surface's lowest row; surface rows go up,
// image rows down.
void AverageAny(int32_t s, int32_t channels, const uint8_t* bottom, size_t surfaceRowBytes, const kv::ByteImage& image) {
  const int32_t count = s * s;
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* block = bottom + size_t(image.Height() - 1 - y) * size_t(s) * surfaceRowBytes;
    uint8_t* out = image.Row(y);
    for (int32_t x = 0; x < image.Width(); ++x, out += channels)
      for (int32_t c = 0; c < channels; ++c) {
        int32_t sum = 0;
        for (int32_t dy = 0; dy < s; ++dy)
          for (int32_t dx = 0; dx < s; ++dx)
            sum += block[size_t(dy) * surfaceRowBytes + size_t((x * s + dx) * channels + c)];
        out[c] = uint8_t((sum + count / 2) / count);
      }
  }
}

// The common case, 2 x 2 blocks of RGBA, two image pixels at a time.
void AverageRGBA2(const uint8_t* bottom, size_t surfaceRowBytes, const kv::ByteImage& image) {
  const int32_t width = image.Width();
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* a = bottom + size_t(image.Height() - 1 - y) * 2 * surfaceRowBytes;
    const uint8_t* b = a + surfaceRowBytes;
    uint8_t* out = image.Row(y);
    int32_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    for (; x + 2 <= width; x += 2, a += 16, b += 16, out += 8) {
      const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
      const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
      // Columns summed per channel: the first two surface pixels, then the next two.
      const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(ra, zero), _mm_unpacklo_epi8(rb, zero));
      const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(ra, zero), _mm_unpackhi_epi8(rb, zero));
      const __m128i pairs = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
      const __m128i mean = _mm_srli_epi16(_mm_add_epi16(pairs, two), 2);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(mean, zero));
    }
#endif
    for (; x < width; ++x, a += 8, b += 8, out += 4)
      for (int32_t c = 0; c < 4; ++c) out[c] = uint8_t((a[c] + a[c + 4] + b[c] + b[c + 4] + 2) / 4);
  }
}

}  // namespace

void OpenGLRenderingLibrary::ReadImage(RLResult& r) {
  if (!surfaceReady_) return r.Fail(kSurfaceFailed);
  const kv::ByteImage& image = *image_;
  const int32_t channels = image.Channels(), s = supersampling_;
  const size_t surfaceRowBytes = size_t(surfaceWidth_) * size_t(channels);
  // The context draws into our own buffer, bottom row first, and has it
  // whole once flushed: read it there rather than copy it out again.
  gl_.Flush();
  const uint8_t* bottom = surface_.get();
  if (s == 1) {
    for (int32_t y = 0; y < image.Height(); ++y)
      std::memcpy(image.Row(y), bottom + size_t(image.Height() - 1 - y) * surfaceRowBytes, surfaceRowBytes);
  } else if (s == 2 && channels == 4) {
    AverageRGBA2(bottom, surfaceRowBytes, image);
  } else {
    AverageAny(s, channels, bottom, surfaceRowBytes, image);
  }
  r.Succeed();
}

}  // namespace g3d

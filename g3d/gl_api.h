// The part of OpenGL 1.1, GLU and Mesa's off-screen context that the renderer
// loads at run time. Declared here so that the core builds without any GL
// development headers; values are those of the published headers.
#pragma once

#include <cstdint>

namespace g3d::gl {

using GLenum = unsigned int;
using GLboolean = unsigned char;
using GLbitfield = unsigned int;
using GLint = int;
using GLsizei = int;
using GLuint = unsigned int;
using GLubyte = unsigned char;
using GLfloat = float;
using GLdouble = double;
using OSMesaContext = void*;
struct GLUnurbs;

inline constexpr GLboolean kFalse = 0, kTrue = 1;
inline constexpr GLenum kUnsignedByte = 0x1401;

// Primitives.
inline constexpr GLenum kPoints = 0x0000, kLines = 0x0001, kTriangles = 0x0004, kTriangleStrip = 0x0005,
                        kTriangleFan = 0x0006, kQuads = 0x0007, kPolygon = 0x0009;
// Matrices and viewport.
inline constexpr GLenum kModelView = 0x1700, kProjection = 0x1701, kModelViewMatrix = 0x0BA6, kViewport = 0x0BA2;
// Capabilities and state.
inline constexpr GLenum kCullFace = 0x0B44, kDepthTest = 0x0B71, kLighting = 0x0B50, kNormalize = 0x0BA1,
                        kAutoNormal = 0x0D80, kBlend = 0x0BE2, kPolygonSmooth = 0x0B41, kTexture2D = 0x0DE1;
inline constexpr GLenum kFront = 0x0404, kBack = 0x0405, kCCW = 0x0901, kSmooth = 0x1D01;
inline constexpr GLenum kOne = 1, kOneMinusSrcAlpha = 0x0303;
inline constexpr GLbitfield kColorBufferBit = 0x00004000, kDepthBufferBit = 0x00000100;
inline constexpr GLenum kMaxLights = 0x0D31, kMaxTextureSize = 0x0D33;
// Lights and materials.
inline constexpr GLenum kLight0 = 0x4000;
inline constexpr GLenum kAmbient = 0x1200, kDiffuse = 0x1201, kSpecular = 0x1202, kPosition = 0x1203,
                        kSpotDirection = 0x1204, kSpotExponent = 0x1205, kSpotCutoff = 0x1206,
                        kConstantAttenuation = 0x1207, kLinearAttenuation = 0x1208, kQuadraticAttenuation = 0x1209,
                        kEmission = 0x1600, kShininess = 0x1601;
inline constexpr GLenum kLightModelLocalViewer = 0x0B51, kLightModelTwoSide = 0x0B52, kLightModelAmbient = 0x0B53;
// Textures and pixel transfer.
inline constexpr GLenum kRGB = 0x1907, kRGBA = 0x1908;
inline constexpr GLenum kTextureEnv = 0x2300, kTextureEnvMode = 0x2200, kModulate = 0x2100, kDecal = 0x2101;
inline constexpr GLenum kTextureMagFilter = 0x2800, kTextureMinFilter = 0x2801, kTextureWrapS = 0x2802,
                        kTextureWrapT = 0x2803;
inline constexpr GLenum kNearest = 0x2600, kLinear = 0x2601, kLinearMipmapLinear = 0x2703, kRepeat = 0x2901,
                        kClamp = 0x2900;
inline constexpr GLenum kPackAlignment = 0x0D05, kPackRowLength = 0x0D02, kUnpackAlignment = 0x0CF5,
                        kUnpackRowLength = 0x0CF2;
// Display lists and evaluators.
inline constexpr GLenum kCompile = 0x1300;
inline constexpr GLenum kMap2Normal = 0x0DB2, kMap2TextureCoord2 = 0x0DB4, kMap2Vertex3 = 0x0DB7;
// GLU.
inline constexpr GLenum kGluVersion = 100800, kGluInvalidValue = 100901, kGluError = 100103,
                        kGluSamplingMethod = 100205, kGluDisplayMode = 100204, kGluParametricError = 100216,
                        kGluParametricTolerance = 100202, kGluFill = 100012, kGluMap1Trim2 = 100210;

// Every entry point the renderer fetches, in the order it fetches them.
struct Functions {
  void (*Flush)();
  void (*LoadMatrixf)(const GLfloat*);
  void (*MultMatrixf)(const GLfloat*);
  void (*MatrixMode)(GLenum);
  void (*LoadIdentity)();
  void (*Viewport)(GLint, GLint, GLsizei, GLsizei);
  void (*Frustum)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
  void (*Translatef)(GLfloat, GLfloat, GLfloat);
  void (*GetFloatv)(GLenum, GLfloat*);
  void (*GetIntegerv)(GLenum, GLint*);
  void (*GetBooleanv)(GLenum, GLboolean*);
  void (*ClearColor)(GLfloat, GLfloat, GLfloat, GLfloat);
  void (*Disable)(GLenum);
  void (*Enable)(GLenum);
  void (*Hint)(GLenum, GLenum);
  void (*BlendFunc)(GLenum, GLenum);
  void (*DepthMask)(GLboolean);
  void (*PopMatrix)();
  void (*PushMatrix)();
  void (*Lightf)(GLenum, GLenum, GLfloat);
  void (*Lightfv)(GLenum, GLenum, const GLfloat*);
  void (*Begin)(GLenum);
  void (*End)();
  void (*Vertex3f)(GLfloat, GLfloat, GLfloat);
  void (*Normal3f)(GLfloat, GLfloat, GLfloat);
  void (*TexCoord2f)(GLfloat, GLfloat);
  void (*Materialf)(GLenum, GLenum, GLfloat);
  void (*Materialfv)(GLenum, GLenum, const GLfloat*);
  void (*Clear)(GLbitfield);
  GLuint (*GenLists)(GLsizei);
  void (*NewList)(GLuint, GLenum);
  void (*EndList)();
  void (*CallList)(GLuint);
  void (*DeleteLists)(GLuint, GLsizei);
  void (*CullFace)(GLenum);
  void (*FrontFace)(GLenum);
  void (*ShadeModel)(GLenum);
  void (*LightModelfv)(GLenum, const GLfloat*);
  void (*LightModeli)(GLenum, GLint);
  void (*DrawBuffer)(GLenum);
  void (*ReadPixels)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*);
  void (*PixelStorei)(GLenum, GLint);
  void (*GenTextures)(GLsizei, GLuint*);
  void (*BindTexture)(GLenum, GLuint);
  void (*TexParameteri)(GLenum, GLenum, GLint);
  void (*TexImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*);
  GLboolean (*IsTexture)(GLuint);
  void (*DeleteTextures)(GLsizei, const GLuint*);
  void (*TexEnvf)(GLenum, GLenum, GLfloat);
  // The off-screen context in place of a window system's.
  OSMesaContext (*CreateContext)(GLenum format, GLint depthBits, GLint stencilBits, GLint accumBits,
                                 OSMesaContext share);
  GLboolean (*MakeCurrent)(OSMesaContext, void* buffer, GLenum type, GLsizei width, GLsizei height);
  void (*DestroyContext)(OSMesaContext);
  OSMesaContext (*GetCurrentContext)();
  // GLU.
  const GLubyte* (*gluGetString)(GLenum);
  void (*gluPerspective)(GLdouble, GLdouble, GLdouble, GLdouble);
  void (*gluLookAt)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
  GLint (*gluBuild2DMipmaps)(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*);
  GLUnurbs* (*gluNewNurbsRenderer)();
  void (*gluDeleteNurbsRenderer)(GLUnurbs*);
  void (*gluBeginSurface)(GLUnurbs*);
  void (*gluEndSurface)(GLUnurbs*);
  void (*gluNurbsSurface)(GLUnurbs*, GLint, GLfloat*, GLint, GLfloat*, GLint, GLint, GLfloat*, GLint, GLint, GLenum);
  void (*gluNurbsProperty)(GLUnurbs*, GLenum, GLfloat);
  void (*gluNurbsCallback)(GLUnurbs*, GLenum, void (*)());
  void (*gluPwlCurve)(GLUnurbs*, GLint, GLfloat*, GLint, GLenum);
  void (*gluNurbsCurve)(GLUnurbs*, GLint, GLfloat*, GLint, GLfloat*, GLint, GLenum);
  void (*gluBeginTrim)(GLUnurbs*);
  void (*gluEndTrim)(GLUnurbs*);
  // Not required: the NURBS error callback's text, when GLU has it.
  const GLubyte* (*gluErrorString)(GLenum);
};

}  // namespace g3d::gl

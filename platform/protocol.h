// Declarations of the Photoshop filter plug-in protocol as this product uses
// it: the filter record, its callback suites, selectors and error codes.
// Hosts and the core both include this header; our own host fills every
// member, so the layout only has to agree between the two of us.
#pragma once

#include <cstdint>

namespace ps {

using OSErr = int16_t;
using Boolean = uint8_t;
using Fixed = int32_t;  // 16.16 fixed point
using DescType = uint32_t;
using Ptr = char*;

// Handles are opaque to the core; only the host's handle suite touches them.
struct HandleData;
using Handle = HandleData*;
using BufferID = struct BufferData*;

constexpr Fixed kFixedOne = 0x10000;

// Four-character codes as big-endian 32-bit values: FourCC("LItm") is the
// bytes L, I, t, m, value 0x4C49746D.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// --- selectors -------------------------------------------------------------
enum Selector : int16_t {
  filterSelectorAbout = 0,
  filterSelectorParameters = 1,
  filterSelectorPrepare = 2,
  filterSelectorStart = 3,
  filterSelectorContinue = 4,
  filterSelectorFinish = 5,
  filterSelectorAreaQuery = 13479,
};

// --- error codes -----------------------------------------------------------
constexpr int16_t noErr = 0;
constexpr int16_t userCanceledErr = -128;
constexpr int16_t memFullErr = -108;
constexpr int16_t generalFailure = -1;
constexpr int16_t reportedToUser = 1;  // the plug-in already told the user
constexpr int16_t coercedParamErr = 2;  // a pinned read clamped the value
constexpr int16_t errPlugInHostInsufficient = -30900;
constexpr int16_t errHostCancelled = -12100;  // passed through unchanged

// --- image modes and filter cases ------------------------------------------
enum ImageMode : int16_t {
  plugInModeBitmap = 0,
  plugInModeGrayScale = 1,
  plugInModeIndexedColor = 2,
  plugInModeRGBColor = 3,
  plugInModeCMYKColor = 4,
  plugInModeHSLColor = 5,
  plugInModeHSBColor = 6,
  plugInModeMultichannel = 7,
  plugInModeDuotone = 8,
  plugInModeLabColor = 9,
};

enum FilterCase : int16_t {
  filterCaseUnsupported = -1,
  filterCaseFlatImageNoSelection = 1,
  filterCaseFlatImageWithSelection = 2,
  filterCaseFloatingSelection = 3,
  filterCaseEditableTransparencyNoSelection = 4,
  filterCaseEditableTransparencyWithSelection = 5,
  filterCaseProtectedTransparencyNoSelection = 6,
  filterCaseProtectedTransparencyWithSelection = 7,
};

// --- geometry --------------------------------------------------------------
// Host rectangles are 16-bit, top-left-bottom-right.
struct Rect16 {
  int16_t top, left, bottom, right;
};
struct Point16 {
  int16_t v, h;
};
struct RGBColor16 {
  uint16_t red, green, blue;
};
struct VRect {
  int32_t top, left, bottom, right;
};

// --- simple callbacks ------------------------------------------------------
using AdvanceStateProc = OSErr (*)();
using TestAbortProc = Boolean (*)();
using ProgressProc = void (*)(int32_t done, int32_t total);

// --- buffer suite ----------------------------------------------------------
struct BufferProcs {
  int16_t bufferProcsVersion;
  int16_t numBufferProcs;
  OSErr (*allocateProc)(int32_t size, BufferID* buffer);
  Ptr (*lockProc)(BufferID buffer, Boolean moveHigh);
  void (*unlockProc)(BufferID buffer);
  void (*freeProc)(BufferID buffer);
  int32_t (*spaceProc)();
};

// --- handle suite ----------------------------------------------------------
struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  Handle (*newProc)(int32_t size);
  void (*disposeProc)(Handle h);
  int32_t (*getSizeProc)(Handle h);
  OSErr (*setSizeProc)(Handle h, int32_t size);
  Ptr (*lockProc)(Handle h, Boolean moveHigh);
  void (*unlockProc)(Handle h);
};

// --- property suite --------------------------------------------------------
constexpr uint32_t kPhotoshopSignature = FourCC("8BIM");
constexpr uint32_t propVersion = FourCC("vers");
constexpr uint32_t propRulerUnits = FourCC("rulr");
constexpr uint32_t propWatchSuspension = FourCC("wtch");
// Ours, not the SDK's: a host that answers a tile size N makes the final
// render cut every effect into tiles of N, so that tests and kalvero can
// show that tiled and whole renders agree.
constexpr uint32_t kKalveroSignature = FourCC("BFk2");
constexpr uint32_t propTileSize = FourCC("tile");

struct PropertyProcs {
  int16_t propertyProcsVersion;
  int16_t numPropertyProcs;
  OSErr (*getPropertyProc)(uint32_t signature, uint32_t key, int32_t index, intptr_t* simpleProperty,
                           Handle* complexProperty);
  OSErr (*setPropertyProc)(uint32_t signature, uint32_t key, int32_t index, intptr_t simpleProperty,
                           Handle complexProperty);
};

// --- colour services -------------------------------------------------------
enum ColorServicesSelector : int16_t {
  plugIncolorServicesChooseColor = 0,
  plugIncolorServicesConvertColor = 1,
  plugIncolorServicesSamplePoint = 2,
  plugIncolorServicesGetSpecialColor = 3,
};
enum ColorSpace : int16_t {
  plugIncolorServicesRGBSpace = 0,
  plugIncolorServicesHSBSpace = 1,
  plugIncolorServicesCMYKSpace = 2,
  plugIncolorServicesLabSpace = 3,
  plugIncolorServicesGraySpace = 4,
  plugIncolorServicesHSLSpace = 5,
  plugIncolorServicesXYZSpace = 6,
  plugIncolorServicesChosenSpace = -1,
};

struct ColorServicesInfo {
  int32_t infoSize;
  int16_t selector;
  int16_t sourceSpace;
  int16_t resultSpace;
  Boolean resultGamutInfoValid;
  Boolean resultInGamut;
  int16_t colorComponents[4];
  const char* pickerPrompt;  // 8-bit text for the chooser, may be null
};
using ColorServicesProc = OSErr (*)(ColorServicesInfo* info);

// --- display pixels --------------------------------------------------------
struct PSPixelMap {
  int32_t version;
  VRect bounds;
  int32_t imageMode;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t planeBytes;
  void* baseAddr;
};
using DisplayPixelsProc = OSErr (*)(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                                    int32_t dstCol, void* platformContext);

// --- channel ports ---------------------------------------------------------
using ChannelReadPort = struct ChannelPortData*;
struct PSScaling {
  VRect sourceRect;
  VRect destinationRect;
};
struct PixelMemoryDesc {
  void* data;
  int32_t rowBits;
  int32_t colBits;
  int32_t bitOffset;
  int32_t depth;
};
struct ChannelPortProcs {
  int16_t channelPortProcsVersion;
  int16_t numChannelPortProcs;
  OSErr (*readPixelsProc)(ChannelReadPort port, const PSScaling* scaling, const VRect* writeRect,
                          const PixelMemoryDesc* destination, VRect* wroteRect);
};

// --- scripting descriptors -------------------------------------------------
using PIDescriptorHandle = Handle;
using PIReadDescriptor = struct ReadDescriptorData*;
using PIWriteDescriptor = struct WriteDescriptorData*;
using DescriptorKeyID = uint32_t;
using DescriptorEnumID = uint32_t;
using DescriptorEnumTypeID = uint32_t;
using DescriptorClassID = uint32_t;
using DescriptorUnitID = uint32_t;
using DescriptorKeyIDArray = const DescriptorKeyID*;  // zero-terminated

// Value types a read descriptor reports for each key.
constexpr DescType typeInteger = FourCC("long");
constexpr DescType typeFloat = FourCC("doub");
constexpr DescType typeBoolean = FourCC("bool");
constexpr DescType typeText = FourCC("TEXT");
constexpr DescType typeEnumerated = FourCC("enum");

constexpr int16_t kCurrentDescriptorParametersVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = 18;
constexpr int16_t kCurrentWriteDescriptorProcsCount = 16;

enum PIDialogPlayOptions : int16_t {
  plugInDialogDontDisplay = 0,
  plugInDialogDisplay = 1,
  plugInDialogSilent = 2,
};
enum PIDialogRecordOptions : int16_t {
  plugInDialogOptional = 0,
  plugInDialogRequired = 1,
  plugInDialogNone = 2,
};

struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  PIReadDescriptor (*openReadDescriptorProc)(PIDescriptorHandle descriptor, DescriptorKeyIDArray keys);
  OSErr (*closeReadDescriptorProc)(PIReadDescriptor token);
  Boolean (*getKeyProc)(PIReadDescriptor token, DescriptorKeyID* key, DescType* type, int32_t* flags);
  OSErr (*getIntegerProc)(PIReadDescriptor token, int32_t* value);
  OSErr (*getFloatProc)(PIReadDescriptor token, double* value);
  OSErr (*getUnitFloatProc)(PIReadDescriptor token, DescriptorUnitID* unit, double* value);
  OSErr (*getBooleanProc)(PIReadDescriptor token, Boolean* value);
  OSErr (*getTextProc)(PIReadDescriptor token, Handle* value);
  OSErr (*getAliasProc)(PIReadDescriptor token, Handle* value);
  OSErr (*getEnumeratedProc)(PIReadDescriptor token, DescriptorEnumID* value);
  OSErr (*getClassProc)(PIReadDescriptor token, DescriptorClassID* value);
  OSErr (*getSimpleReferenceProc)(PIReadDescriptor token, void* value);
  OSErr (*getObjectProc)(PIReadDescriptor token, DescriptorClassID* type, PIDescriptorHandle* value);
  OSErr (*getCountProc)(PIReadDescriptor token, uint32_t* value);
  OSErr (*getStringProc)(PIReadDescriptor token, unsigned char (*value)[256]);
  OSErr (*getPinnedIntegerProc)(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value);
  OSErr (*getPinnedFloatProc)(PIReadDescriptor token, const double* min, const double* max, double* value);
  OSErr (*getPinnedUnitFloatProc)(PIReadDescriptor token, const double* min, const double* max,
                                  DescriptorUnitID* unit, double* value);
};

struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  PIWriteDescriptor (*openWriteDescriptorProc)();
  OSErr (*closeWriteDescriptorProc)(PIWriteDescriptor token, PIDescriptorHandle* descriptor);
  OSErr (*putIntegerProc)(PIWriteDescriptor token, DescriptorKeyID key, int32_t value);
  OSErr (*putFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, const double* value);
  OSErr (*putUnitFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit,
                            const double* value);
  OSErr (*putBooleanProc)(PIWriteDescriptor token, DescriptorKeyID key, Boolean value);
  OSErr (*putTextProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle value);
  OSErr (*putAliasProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle value);
  OSErr (*putEnumeratedProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorEnumTypeID type,
                             DescriptorEnumID value);
  OSErr (*putClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID value);
  OSErr (*putSimpleReferenceProc)(PIWriteDescriptor token, DescriptorKeyID key, const void* value);
  OSErr (*putObjectProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID type,
                         PIDescriptorHandle value);
  OSErr (*putCountProc)(PIWriteDescriptor token, DescriptorKeyID key, uint32_t count);
  OSErr (*putStringProc)(PIWriteDescriptor token, DescriptorKeyID key, const unsigned char* value);
  OSErr (*putScopedClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID value);
  OSErr (*putScopedObjectProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorClassID type,
                               PIDescriptorHandle value);
};

struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;
  int16_t recordInfo;
  PIDescriptorHandle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};

// --- platform data ---------------------------------------------------------
// Stands in for the host's window handle: every message box the core shows is
// owned by this window and goes through the host's own routine, so a terminal
// host can print it and a windowed one can show it.
enum MessageKind : int32_t { messageError = 0, messageWarning = 1, messageInfo = 2 };
struct PlatformData {
  void* window;
  void (*showMessage)(void* window, int32_t kind, const char* caption, const char* text);
};

// The about record: its first member points at the owner window.
struct AboutRecord {
  PlatformData* platformData;
};

// --- the filter record -----------------------------------------------------
struct FilterRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;

  Point16 imageSize;
  int16_t planes;
  Rect16 filterRect;
  RGBColor16 background;
  RGBColor16 foreground;
  int32_t maxSpace;
  int32_t bufferSpace;

  Rect16 inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  Rect16 outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;

  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;

  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;
  Rect16 maskRect;
  void* maskData;
  int32_t maskRowBytes;

  uint8_t backColor[4];
  uint8_t foreColor[4];
  uint32_t hostSig;
  PlatformData* platformData;
  BufferProcs* bufferProcs;
  AdvanceStateProc advanceState;

  int16_t imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  Fixed inputRate;
  Fixed maskRate;
  int16_t filterCase;

  HandleProcs* handleProcs;
  PropertyProcs* propertyProcs;
  ColorServicesProc colorServices;
  DisplayPixelsProc displayPixels;
  ChannelPortProcs* channelPortProcs;
  PIDescriptorParameters* descriptorParameters;

  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  int16_t inLayerMasks;
  int16_t inInvertedLayerMasks;
  int16_t inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
  int16_t outLayerMasks;
  int16_t outInvertedLayerMasks;
  int16_t outNonLayerPlanes;

  // The memory the plug-in may use, when maxSpace cannot say it; 0 when the
  // host does not tell.
  int64_t maxSpace64;
};

// The core's two exports. The module handle of the Windows protocol is the
// path of the resource folder here.
extern "C" {
using EntryPointProc = void (*)(int16_t selector, void* record, intptr_t* data, int16_t* result,
                                int32_t filterId);
using SetResourceHandleProc = void (*)(const char* resourceFolder);
}

}  // namespace ps

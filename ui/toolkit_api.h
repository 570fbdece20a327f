// The seam between the core and the dialog's window toolkit. The toolkit is
// a library of its own, loaded by the core only when a dialog is to be
// shown, so that the core needs no window system and batch hosts run
// without one. The core exports nothing but the protocol's entry points, so
// only virtual calls and plain data cross this seam: the toolkit links none
// of the core's code and the core none of the toolkit's, and this header is
// all the toolkit includes of ours.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/geometry.h"
#include "parameters/parameter_values.h"
#include "platform/text.h"

namespace kv {

// What the preview needs of the dialog window.
class PreviewView {
 public:
  virtual ~PreviewView() = default;
  virtual void ShowNewPreview() = 0;
  virtual void MarkPreviewOutOfDate() = 0;
  virtual void ShowError(const std::string& text) = 0;
  // The status bar's progress: shown from start to end, fraction 0..1.
  virtual void StartProgress() = 0;
  virtual void SetProgress(double fraction) = 0;
  virtual void EndProgress() = 0;
};

// The window's side, as far as the dialog model needs it.
class DialogWindow : public PreviewView {
 public:
  enum Result : int32_t { kOK = 0, kCancel = 1 };
  virtual void EndDialog(Result result) = 0;
  virtual void EnableCommand(int32_t command, bool enabled) = 0;
  virtual void RefreshControls() = 0;  // every control from the block
  virtual void SetZoom(double zoom) = 0;

  // The settings commands' prompts. The defaults answer as if the user
  // cancelled them.
  virtual std::optional<std::string> AskText(const std::string& /*title*/, const std::string& /*label*/,
                                             const std::string& /*text*/) {
    return std::nullopt;
  }
  virtual bool Confirm(const std::string& /*title*/, const std::string& /*text*/) { return false; }
  // The stored settings changed: a menu of them is out of date.
  virtual void SettingsChanged() {}
  // A menu command's check mark: the stored setting the values match, the
  // effect shown, the display option.
  virtual void CheckCommand(int32_t /*command*/, bool /*checked*/) {}
  // The about box: the product's name, then its version, copyright and
  // credits, a line each.
  virtual void ShowAbout(const std::vector<std::string>& /*lines*/) {}
};

// Window commands.
enum DialogCommand : int32_t {
  kCommandOK = 1,
  kCommandCancel = 2,
  kCommandOKButton = 1000,
  kCommandCancelButton = 1001,
  kCommandNextEffect = 10110,
  kCommandPreviousEffect = 10111,
  kCommandZoomOut = 10112,
  kCommandZoomIn = 10113,
  kCommandZoomOne = 10114,
  kCommandSaveSetting = 10115,
  kCommandManageSettings = 10116,
  kCommandLastUsed = 10117,
  kCommandUndo = 10118,
  kCommandRedo = 10119,
  kCommandCut = 10120,
  kCommandCopy = 10121,
  kCommandPaste = 10122,
  kCommandReset = 10125,
  kCommandMakersPage = 10126,
  kCommandAbout = 10127,
  kCommandShowMarkers = 10128,  // the preview's display option
  kCommandEffectHelp = 10129,
  kCommandHelpContents = 10130,
  kCommandProductPage = 10131,
  kCommandErrorsHelp = 10132,  // the help on error messages, from an error box
  kCommandSwitchEffect = 4000,  // + effect number
  kCommandUserSetting = 6000,     // + index into the user's stored settings
  kCommandShippedSetting = 7000,  // + index into the shipped ones
};

namespace toolkit {

// The file name the core looks for beside itself, and its one export.
inline constexpr const char* kLibraryName = "libkalvero-toolkit.so";
inline constexpr const char* kRunDialogSymbol = "KalveroToolkitRunDialog";

// What the toolkit's run answers besides the window's own OK and Cancel.
inline constexpr int32_t kNoDisplay = 2;

enum class ControlKind : int32_t {
  kSlider,     // number: minimum..maximum with `decimals`
  kLength,     // number in the unit `units[unit]` names
  kCheckbox,   // number 0 or 1
  kListbox,    // number: index into `items`
  kColor,      // text "#rrggbb" (or the space's own form) with a swatch
  kDirection,  // number: degrees 0..360
  kSeed,       // number: 0..65535, with a "new seed" button
  kPosition,   // a marker in the preview: text "x,y" in image pixels
  kLighting,   // text "direction inclination brightness sharpness #rrggbb"; inclination
               // minimum..maximum; `items` names the five parts
  kConnections,  // number: bit i set when side or corner i is held; `items` name them
  kArrangement,  // the puzzle's grid over the preview, changed through Arrange
  kLayerFill,    // number: index into `items`, the fills the image allows, or -1 for
                 // none of them; the first offered may be the solid colour, whose
                 // swatch shows SwatchColor and takes a colour text through SetValue
  kText,       // any other parameter: its value text in an edit field
};

// What the puzzle's control asks of its arrangement: piece and edge
// positions count from the grid's top-left.
enum class ArrangeCommand : int32_t {
  kColumns,              // x columns, rows to suit the area
  kKnockOutHalf,
  kRestoreAll,
  kInvertAll,
  kRandomizeConnectors,
  kTogglePiece,          // the piece (x, y)
  kFlipHorizontalEdge,   // the knob of the edge above piece (x, y)
  kFlipVerticalEdge,     // the knob of the edge left of piece (x, y)
};

// A control of the window as the core sees it: the effect's rules enable
// and disable it.
class ControlView {
 public:
  virtual ~ControlView() = default;
  virtual void Enable(bool enabled) = 0;
};

// One parameter's control, every text already looked up in the string table.
struct ControlSpec {
  ControlKind kind = ControlKind::kText;
  std::string name;   // as the command line names it
  std::string label;  // empty for controls that have none (preview markers)
  std::string help;
  int32_t page = 0;   // index into DialogSession::PageLabels()
  double minimum = 0.0, maximum = 0.0;
  int32_t decimals = 0;
  std::vector<std::string> items;  // list box items, length units, or connections' names
  std::vector<std::string> itemHelp;  // connections and layer fills: each one's help
  // A layer fill's swatch, beside its solid-colour choice; empty without one.
  std::string swatch, swatchHelp;
  // Lengths: the image's pixels per inch, so that a change of unit keeps
  // the length and the slider spans the same range in every unit.
  double pixelsPerInch = 72.0;
};

// A preview as the window shows it: RGBA, 8 bits, rows packed, `origin` the
// image pixel under its top-left corner, `zoom` its pixels per image pixel
// (1 / n for a preview rendered from every n-th pixel when zoomed out).
struct PreviewFrame {
  Size size;
  std::vector<uint8_t> rgba;
  PointD origin;
  double zoom = 1.0;
};

// The core's side of one dialog. Every call comes on the dialog's thread.
class DialogSession {
 public:
  virtual ~DialogSession() = default;

  // Binds the window; the model exists from here on. 0 or an error code,
  // after which the toolkit returns that code without showing anything.
  virtual int32_t Open(DialogWindow& window) = 0;

  virtual std::string Title() const = 0;  // the effect's name
  // The caption of the dialog and its boxes: the product's full name.
  virtual std::string Caption() const { return Title(); }
  // A string-table text, "Lost String!!!" when the table lacks it.
  virtual std::string Text(std::string_view key) const = 0;
  // The effect's general help, shown above its controls.
  virtual std::string DialogHelp() const { return {}; }
  // The suite's effects by number, for the effect menu (commands
  // kCommandSwitchEffect + number); "" for a number this build lacks.
  virtual std::vector<std::string> Effects() const { return {}; }
  virtual std::vector<std::string> PageLabels() const = 0;  // the first is "Basic"
  virtual std::vector<ControlSpec> Controls() const = 0;
  // The control shows the parameter; its Enable follows the effect's rules.
  virtual void Bind(int32_t control, ControlView& shown) = 0;

  // Values: as number (sliders, boxes, lists, seeds, directions, lengths) or
  // as text (every kind). Setting one runs the model's change: undo
  // history, dependent states, a new preview. "" or the reason it refused.
  virtual double Number(int32_t control) const = 0;
  virtual std::string Value(int32_t control) const = 0;
  virtual std::string SetNumber(int32_t control, double value) = 0;
  virtual std::string SetValue(int32_t control, std::string_view text) = 0;
  // A layer fill's colour as a colour control shows it, whichever fill is
  // chosen.
  virtual std::string SwatchColor(int32_t /*control*/) const { return {}; }
  // A slider's track: the place 0..1 that shows `value` (pixels for a
  // length), and the value at a place. Effects give small values most of
  // the track.
  virtual double TrackPosition(int32_t control, double value) const = 0;
  virtual double TrackValue(int32_t control, double position) const = 0;
  // A drag begins or ends: the changes it makes are one step to undo.
  virtual void Gesture(bool /*begins*/) {}

  // A kArrangement control's grid and the working area it divides, in
  // image pixels; false for other controls.
  virtual bool Arrangement(int32_t /*control*/, PuzzleArrangement& /*out*/, Rect& /*area*/) const { return false; }
  // One of its commands, a change like any other (undo takes it back).
  // "" or the reason it refused.
  virtual std::string Arrange(int32_t /*control*/, ArrangeCommand /*command*/, int32_t /*x*/, int32_t /*y*/) {
    return "no puzzle here";
  }

  // DialogCommand values: OK, Cancel, undo, redo, zoom, reset, help ...
  // false when the command is unknown or disabled.
  virtual bool Command(int32_t command) = 0;
  // The stored settings a settings menu lists, as the store has them now:
  // the user's (command kCommandUserSetting + index) or the shipped ones
  // (kCommandShippedSetting + index). DialogWindow::SettingsChanged tells
  // when to ask again.
  virtual std::vector<std::string> StoredSettings(bool /*shipped*/) { return {}; }
  // A manage-settings window's buttons, on one of the user's settings: the
  // core asks for the confirmation or the new name through the window and
  // reports a failure; true when the setting was deleted or renamed.
  virtual bool DeleteStoredSetting(const std::string& /*name*/) { return false; }
  virtual bool RenameStoredSetting(const std::string& /*name*/) { return false; }
  // The window's 100 ms timer; also runs the host calls the worker sends.
  // It goes on while the window's prompts are open.
  virtual void Tick() = 0;
  // Readable while the preview has something to do at once (a render to
  // start or to show, a host call the worker waits for): a window that
  // watches it and then calls Tick spares the user the wait for the timer.
  // -1 when there is none.
  virtual int WakeupDescriptor() { return -1; }

  // Where the user last left the dialog's window, in screen pixels; empty
  // the first time. The window hands its place back as it closes.
  virtual std::optional<Rect> WindowPlacement() const { return std::nullopt; }
  virtual void KeepWindowPlacement(const Rect& /*window*/) {}

  // The image and the view: the window says which part it shows and at
  // which zoom (pan and zoom start a new preview); the core renders it.
  virtual Size ImageSize() const = 0;
  // Where a view of `viewSize` at `zoom` first looks: the effect's own
  // placement on the working area (its corner, or centred on it).
  virtual PointD StartOrigin(Size /*viewSize*/, double /*zoom*/) const { return {}; }
  virtual void SetView(PointD origin, double zoom, Size viewSize) = 0;
  // The last finished preview, or the unprocessed image at the same place.
  // false while there is none.
  virtual bool Preview(PreviewFrame& out, bool unprocessed) const = 0;
};

// Shows the dialog and returns when it ends: 0 OK, 1 Cancel, kNoDisplay
// when no window can be opened, or the error code Open gave.
using RunDialogProc = int32_t (*)(DialogSession& session);

}  // namespace toolkit
}  // namespace kv

// `kalvero apply`: read the image, run the effect through a core's entry
// point, write the result. Every failure is one line on stderr and an exit
// status.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hosts/common/colour.h"
#include "hosts/common/core_library.h"
#include "hosts/cli/image_files.h"
#include "hosts/common/effect_values.h"
#include "platform/protocol.h"

namespace kv::cli {

using host::CoreLibrary;
using host::EffectValues;
using host::Rgb;

enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 1,      // the command line is wrong
  kExitFile = 2,       // an input or output file could not be read or written
  kExitEffect = 3,     // the effect refused the image or failed
  kExitCancelled = 130 // Ctrl-C, or the dialog's Cancel
};

struct ApplyOptions {
  std::string effect;  // as the user named it
  std::string input, output;
  std::optional<uint16_t> seed;
  std::string selection;  // empty: none
  std::string script;     // empty: none
  std::string record;     // empty: none
  Rgb foreground{0, 0, 0}, background{255, 255, 255};
  std::string settings;           // a stored setting to start from; empty: the defaults
  std::vector<std::string> sets;  // "NAME=VALUE", over the defaults and any script
  bool quiet = false;
  bool dialog = false;  // show the effect's dialog first, as a pick from a menu does
  int compression = kDefaultCompression;  // of PNG and TIFF outputs, 0 to 9 or each format's default
  int32_t tileSize = 0;  // the core renders in tiles of this size; 0: as the effect asks
  bool keepLastUsed = true;  // false: a batch keeps the values of one file only
  std::function<void(int32_t done, int32_t total)> progress;  // besides the bar
};

// A successful apply stores its values as the effect's "Last Used", as the
// dialog's OK does. With the dialog, its Cancel writes nothing and answers
// kExitCancelled.
int RunApply(const ApplyOptions& options, const CoreLibrary& core);

// A wrong value on the command line, found once the image is known.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The values the options give, over the effect's defaults: a stored
// setting, then a script, --set and --seed. Throws UsageError, or FileError
// for a script that cannot be read; what is taken but odd goes to `warn`.
void ApplyValueOptions(const ApplyOptions& options, EffectValues& values,
                       const std::function<void(const std::string&)>& warn);

// "kalvero: TEXT" on stderr.
void Complain(const std::string& text);

}  // namespace kv::cli

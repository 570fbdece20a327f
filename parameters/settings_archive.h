// The settings text: an effect's values as a small 8-bit text, the effect's
// settings name on the first line and a "key value" line for each value
// after it; and the reading of such texts back, forgiving what a hand edit,
// an editor's encoding or another version of the product leaves in them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/geometry.h"

namespace platform {
class IFileSystemReference;
}

namespace kv {

class ParameterList;

// Texts for the user about settings that could not be used as they are,
// each naming the file and, where there is one, the line:
// "<file>:<line>: <what>".
using SettingsProblems = std::vector<std::string>;

// Files bigger than this are not settings, whatever their first line says.
inline constexpr size_t kMaxSettingsFileSize = 1 << 20;

// The text of the values bound to `list`, lines ended by a line feed.
std::string SettingsText(const std::string& settingsName, const ParameterList& list);

// Reads a settings text (8-bit, or UTF-16 of either byte order with or
// without a byte-order mark) into the values bound to `list`. 0; -1 when its
// first word is not `settingsName` (nothing changes) or a line has no space
// or is too long (the lines before it stay read). Values are read as the
// file's scanf forms read them: one cut on the way ("12.5abc", a seed of
// 70000) is taken and reported, one that cannot be read keeps what it had
// and is reported; keys no parameter has are skipped; every value is
// clamped at the end. `where` names the text in
// the problems.
[[nodiscard]] int32_t ReadSettingsText(std::string_view text, const std::string& settingsName, ParameterList& list,
                         const std::string& where, SettingsProblems* problems = nullptr);
bool IsSettingsText(std::string_view text, const std::string& settingsName);

// The user's own settings, or those shipped with the product.
enum class SettingsSource { User, Shipped };

// The setting's file in the effect's user folder, created or replaced whole.
// 0, -1 (the problem says why) or -108.
[[nodiscard]] int32_t WriteSettings(const std::string& effect, const std::string& name, const ParameterList& list,
                      SettingsProblems* problems = nullptr);
// ReadSettingsText of the setting's file; 0, -1 or -108.
[[nodiscard]] int32_t ReadSettings(const std::string& effect, const std::string& name, ParameterList& list,
                     SettingsSource source = SettingsSource::User, SettingsProblems* problems = nullptr);
// Whether the file's first word is the effect's settings name; a file that
// cannot be read is reported.
bool IsSettingsOf(const std::string& effect, const platform::IFileSystemReference& file,
                  SettingsProblems* problems = nullptr);

// The dialog's placement, kept product-wide in the options file.
struct DialogOptions {
  Rect window;
  int32_t value = 0;

  friend bool operator==(const DialogOptions&, const DialogOptions&) = default;
};
[[nodiscard]] int32_t WriteOptions(const DialogOptions& options, SettingsProblems* problems = nullptr);
// -1 when the file is missing or not an options file; `options` then stays.
[[nodiscard]] int32_t ReadOptions(DialogOptions& options, SettingsProblems* problems = nullptr);

}  // namespace kv

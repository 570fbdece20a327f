#include "parameters/settings_archive.h"

#include <cstdio>
#include <new>

#include "parameters/parameter_io.h"
#include "parameters/parameters.h"
#include "parameters/settings_store.h"
#include "platform/file_system.h"
#include "platform/product.h"
#include "platform/system.h"

namespace kv {

using param_io::Format;

namespace {

constexpr size_t kMaxLine = 40000;
constexpr size_t kMaxOptionsLine = 256;
// A file of garbage should not bury the user in messages.
constexpr int kMaxReportedLines = 10;

// 8-bit text from what an editor may have saved: UTF-8 with or without a
// byte-order mark, or UTF-16 of either order, with a mark or known by the
// zero byte beside the first letter of the effect's name.
std::string Decoded(std::string_view bytes) {
  const auto at = [&](size_t i) { return uint8_t(bytes[i]); };
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return std::string(bytes.substr(3));
  bool little = false, big = false;
  size_t start = 0;
  if (bytes.size() >= 2) {
    little = at(0) == 0xFF && at(1) == 0xFE;
    big = at(0) == 0xFE && at(1) == 0xFF;
    start = little || big ? 2 : 0;
    if (start == 0) {
      little = at(0) != 0 && at(1) == 0;
      big = at(0) == 0 && at(1) != 0;
    }
  }
  if (!little && !big) return std::string(bytes);
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (size_t i = start; i + 1 < bytes.size(); i += 2)
    wide += char16_t(little ? at(i) | at(i + 1) << 8 : at(i) << 8 | at(i + 1));
  return platform::Narrow(wide);
}

// The lines as the settings files are read: a carriage return, a line feed
// or both end a line, leading white space is skipped and blank lines are
// passed over. Line numbers count every line, blank or not, from 1.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool Next(std::string_view& line, int& number) {
    while (pos_ < text_.size()) {
      const size_t end = std::min(text_.find_first_of("\r\n", pos_), text_.size());
      const std::string_view raw = text_.substr(pos_, end - pos_);
      pos_ = end;
      if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      number = ++lineNumber_;
      const size_t first = raw.find_first_not_of(" \t\v\f");
      if (first == std::string_view::npos) continue;
      line = raw.substr(first);
      return true;
    }
    return false;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  int lineNumber_ = 0;
};

std::string_view FirstWord(std::string_view line) { return line.substr(0, line.find_first_of(" \t\v\f")); }

// A piece of a line for a message, cut short when long, with no control
// character to upset the terminal it is shown on.
std::string Excerpt(std::string_view text) {
  std::string shown = text.size() <= 40 ? std::string(text) : std::string(text.substr(0, 37)) + "...";
  for (char& c : shown)
    if (uint8_t(c) < 0x20 || c == 0x7F) c = '?';
  return shown;
}

class Reporter {
 public:
  Reporter(const std::string& where, SettingsProblems* problems) : where_(where), problems_(problems) {}

  void operator()(int line, const std::string& what) {
    if (problems_ == nullptr || ++count_ > kMaxReportedLines + 1) return;
    if (count_ > kMaxReportedLines) problems_->push_back(where_ + ": more lines could not be read");
    else if (line > 0) problems_->push_back(where_ + ":" + std::to_string(line) + ": " + what);
    else problems_->push_back(where_ + ": " + what);
  }

 private:
  const std::string& where_;
  SettingsProblems* problems_;
  int count_ = 0;
};

void Report(SettingsProblems* problems, std::string what) {
  if (problems != nullptr) problems->push_back(std::move(what));
}

// What the parameter now holds under `key`, as its line would say it.
std::string LineText(const FilterParameter& p, uint32_t key) {
  for (const auto& [k, text] : p.ValueLines())
    if (k == key) return "'" + Excerpt(text) + "'";
  return "its nearest value";
}

// Keys are written as signed numbers; an unsigned one is taken too.
bool ParseKey(std::string_view text, uint32_t& key) {
  int64_t v;
  if (!param_io::ParseInt(text, v) || v < INT32_MIN || v > int64_t(UINT32_MAX)) return false;
  key = uint32_t(v);
  return true;
}

int32_t ReadFile(const platform::IFileSystemReference& file, std::string& bytes, SettingsProblems* problems) {
  if (!file.Read(bytes, kMaxSettingsFileSize + 1)) {
    Report(problems, file.ErrorText());
    return -1;
  }
  if (bytes.size() > kMaxSettingsFileSize) {
    Report(problems, "'" + file.Path() + "' is too large to be a settings file");
    return -1;
  }
  return 0;
}

int32_t OptionsFile(bool create, FolderReference& file, SettingsProblems* problems) {
  FolderReference folder;
  if (int32_t err = create ? ProductFolder(folder, problems) : ProductFolderReference(folder)) return err;
  file = folder->Child(kOptionsTitle);
  return file != nullptr ? 0 : -108;
}

}  // namespace

std::string SettingsText(const std::string& settingsName, const ParameterList& list) {
  std::string text = settingsName + "\n";
  for (const auto& p : list)
    for (const auto& [key, value] : p->ValueLines()) text += Format("%d %s\n", int32_t(key), value.c_str());
  return text;
}

int32_t ReadSettingsText(std::string_view bytes, const std::string& settingsName, ParameterList& list,
                         const std::string& where, SettingsProblems* problems) {
  try {
    const std::string text = Decoded(bytes);
    Reporter report(where, problems);
    LineReader lines(text);
    std::string_view line;
    int number = 0;
    if (!lines.Next(line, number)) {
      report(0, "the file is empty, not settings of " + settingsName);
      return -1;
    }
    if (FirstWord(line) != settingsName) {
      report(number, "the file holds settings of '" + Excerpt(FirstWord(line)) + "', not of " + settingsName);
      return -1;
    }
    int32_t result = 0;
    while (lines.Next(line, number)) {
      const size_t space = line.find(' ');
      if (line.size() > kMaxLine || space == std::string_view::npos) {
        report(number, line.size() > kMaxLine ? "the line is longer than 40000 characters"
                                              : "'" + Excerpt(line) + "' is not a key and a value");
        result = -1;
        break;
      }
      uint32_t key = 0;
      if (!ParseKey(line.substr(0, space), key)) {
        report(number, "'" + Excerpt(line.substr(0, space)) + "' is not a key; the line is skipped");
        continue;
      }
      // Not trimmed: the flag's connections are spaces and crosses.
      const std::string_view value = line.substr(space + 1);
      for (const auto& p : list) {
        if (!p->HasKey(key)) continue;
        const int32_t read = p->ReadValue(key, value);
        if (read < 0) report(number, "cannot read '" + Excerpt(value) + "' as " + p->Name() + "; it keeps its value");
        if (read > 0) report(number, "'" + Excerpt(value) + "' reads as " + LineText(*p, key) + " for " + p->Name());
      }
    }
    for (const auto& p : list) p->Clamp();
    return result;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

bool IsSettingsText(std::string_view bytes, const std::string& settingsName) {
  try {
    const std::string text = Decoded(bytes.substr(0, kMaxLine));
    LineReader lines(text);
    std::string_view line;
    int number = 0;
    return lines.Next(line, number) && FirstWord(line) == settingsName;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int32_t WriteSettings(const std::string& effect, const std::string& name, const ParameterList& list,
                      SettingsProblems* problems) {
  try {
    std::string why;
    if (!IsValidSettingName(name, &why)) {
      Report(problems, why);
      return -1;
    }
    FolderReference folder;
    if (int32_t err = UserSettingsFolder(effect, folder, problems)) return err;
    FolderReference file = folder->Child(name);
    if (file == nullptr) return -108;
    if (!file->Replace(SettingsText(effect, list))) {
      Report(problems, file->ErrorText());
      return -1;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t ReadSettings(const std::string& effect, const std::string& name, ParameterList& list, SettingsSource source,
                     SettingsProblems* problems) {
  try {
    FolderReference file;
    if (int32_t err = SettingFile(effect, name, source, file, problems)) return err;
    std::string bytes;
    if (int32_t err = ReadFile(*file, bytes, problems)) return err;
    return ReadSettingsText(bytes, effect, list, file->Path(), problems);
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

bool IsSettingsOf(const std::string& effect, const platform::IFileSystemReference& file, SettingsProblems* problems) {
  try {
    std::string bytes;
    return ReadFile(file, bytes, problems) == 0 && IsSettingsText(bytes, effect);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int32_t WriteOptions(const DialogOptions& options, SettingsProblems* problems) {
  try {
    FolderReference file;
    if (int32_t err = OptionsFile(true, file, problems)) return err;
    const Rect& r = options.window;
    const std::string text = Format("%s\n%d %d %d %d\n%d\n", kOptionsTitle, r.left, r.top, r.right, r.bottom,
                                    options.value);
    if (!file->Replace(text)) {
      Report(problems, file->ErrorText());
      return -1;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t ReadOptions(DialogOptions& options, SettingsProblems* problems) {
  try {
    FolderReference file;
    if (int32_t err = OptionsFile(false, file, problems)) return err;
    std::string bytes;
    if (int32_t err = ReadFile(*file, bytes, problems)) return err;
    LineReader lines(bytes);
    std::string line[3];
    for (std::string& text : line) {
      std::string_view next;
      int number = 0;
      if (lines.Next(next, number)) text = next.substr(0, kMaxOptionsLine);
    }
    DialogOptions read;
    Rect& r = read.window;
    if (Trim(line[0]) != kOptionsTitle ||
        std::sscanf(line[1].c_str(), "%d %d %d %d", &r.left, &r.top, &r.right, &r.bottom) != 4 ||
        std::sscanf(line[2].c_str(), "%d", &read.value) != 1) {
      Report(problems, "'" + file->Path() + "' is not an options file of " + kProductName);
      return -1;
    }
    options = read;
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

}  // namespace kv

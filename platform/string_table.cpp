#include "platform/string_table.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <shared_mutex>

#include "platform/system.h"

namespace kv::strings {
namespace {

// Ordinal order of the 16-bit units: char_traits<char16_t> compares unsigned.
using Table = std::map<std::u16string, std::u16string, std::less<>>;

// Readers are the dialog's thread and the preview worker; loads and clears
// happen between runs but must not tear a lookup in flight.
std::shared_mutex& TableLock() {
  static std::shared_mutex lock;
  return lock;
}
Table& TheTable() {
  static Table table;
  return table;
}
int g_failedLine = 0;

// Thrown inside the loader only, caught in LoadFromBytes.
struct ParseError {
  int line;
};

int LinesIn(const std::u16string& text, size_t from, size_t to) {
  return int(std::count(text.begin() + std::ptrdiff_t(from), text.begin() + std::ptrdiff_t(to), u'\n'));
}

// The text after the byte-order mark in machine order. Decoding each unit
// from its two bytes works the same whatever the machine's own order is.
std::u16string Decode(const std::vector<uint8_t>& bytes) {
  const size_t n = bytes.size();
  if (n >= 4 && ((bytes[0] == 0x00 && bytes[1] == 0x00 && bytes[2] == 0xFE && bytes[3] == 0xFF) ||
                 (bytes[0] == 0xFF && bytes[1] == 0xFE && bytes[2] == 0x00 && bytes[3] == 0x00)))
    throw ParseError{1};  // UTF-32
  if (n < 2) throw ParseError{1};
  bool little;
  if (bytes[0] == 0xFF && bytes[1] == 0xFE) little = true;
  else if (bytes[0] == 0xFE && bytes[1] == 0xFF) little = false;
  else throw ParseError{1};

  std::u16string text;
  text.reserve(n / 2);
  for (size_t i = 2; i + 1 < n; i += 2) {
    const char16_t unit = little ? char16_t(bytes[i] | bytes[i + 1] << 8) : char16_t(bytes[i] << 8 | bytes[i + 1]);
    if (unit == 0) break;  // the text is zero-terminated: nothing after a NUL counts
    text += unit;
  }
  return text;
}

// CR LF and lone CR become LF, so every later step sees one kind of line end.
std::u16string UnifyLineEnds(const std::u16string& in) {
  std::u16string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != u'\r') {
      out += in[i];
      continue;
    }
    out += u'\n';
    if (i + 1 < in.size() && in[i + 1] == u'\n') ++i;
  }
  return out;
}

// Drops comments and blanks outside quoted strings; quoted strings and every
// LF stay, so line numbers counted later are the lines of the resource.
std::u16string Compact(const std::u16string& in) {
  std::u16string out;
  out.reserve(in.size());
  int line = 1;
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    const char16_t c = in[i];
    const char16_t next = i + 1 < n ? in[i + 1] : u'\0';
    if (c == u'\n') {
      ++line;
      out += c;
      ++i;
    } else if (c == u'"') {
      const size_t close = in.find(u'"', i + 1);
      if (close == std::u16string::npos) throw ParseError{line + LinesIn(in, i, n)};
      line += LinesIn(in, i, close);
      out.append(in, i, close + 1 - i);
      i = close + 1;
    } else if (c == u'/' && next == u'*') {
      const size_t close = in.find(u"*/", i + 2);
      const size_t end = close == std::u16string::npos ? n : close;
      const int lfs = LinesIn(in, i, end);
      line += lfs;
      if (close == std::u16string::npos) throw ParseError{line};
      out.append(size_t(lfs), u'\n');
      i = close + 2;
    } else if (c == u'/' && next == u'/') {
      const size_t lf = in.find(u'\n', i);
      i = lf == std::u16string::npos ? n : lf;
    } else {
      if (c != u' ' && c != u'\t') out += c;
      ++i;
    }
  }
  return out;
}

// Reads the entries of the compacted text into `table` as they are found, so
// a failure keeps every entry before the failing line.
void InsertEntries(const std::u16string& text, Table& table) {
  int line = 1;
  const size_t n = text.size();
  // The quoted run starting after the quote at `open`; advances `line`.
  auto quoted = [&](size_t open, size_t& close) {
    close = text.find(u'"', open + 1);
    if (close == std::u16string::npos) throw ParseError{line};
    line += LinesIn(text, open, close);
    return text.substr(open + 1, close - open - 1);
  };
  size_t i = 0;
  while (i < n) {
    if (text[i] == u'\n') ++line;
    if (text[i] != u'"') {
      ++i;
      continue;
    }
    size_t close;
    std::u16string key = quoted(i, close);
    i = close + 1;
    if (i < n && text[i] == u';') {
      std::u16string value = key;
      table.insert_or_assign(std::move(key), std::move(value));
      ++i;
      continue;
    }
    if (i + 1 >= n || text[i] != u'=' || text[i + 1] != u'"') throw ParseError{line};
    std::u16string value = quoted(i + 1, close);
    i = close + 1;
    if (i >= n || text[i] != u';') throw ParseError{line};
    table.insert_or_assign(std::move(key), std::move(value));
    ++i;
  }
}

}  // namespace

int32_t LoadFromBytes(const std::vector<uint8_t>& bytes, std::string& errorText) {
  errorText.clear();
  std::unique_lock lock(TableLock());
  try {
    if (bytes.size() > kMaxResourceBytes) throw ParseError{1};
    InsertEntries(Compact(UnifyLineEnds(Decode(bytes))), TheTable());
    g_failedLine = 0;
    return 0;
  } catch (const ParseError& e) {
    g_failedLine = e.line;
    char text[80];
    std::snprintf(text, sizeof text, "Failed processing string table at line %d.", e.line);
    errorText = text;
    return -1;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

int32_t Load(std::string& errorText) {
  // A missing or oversized resource fails like an empty one: at line 1, for
  // want of a mark.
  const auto bytes = platform::LoadResource(kResourceType, 1, kMaxResourceBytes);
  return LoadFromBytes(bytes ? *bytes : std::vector<uint8_t>{}, errorText);
}

int FailedLine() {
  std::shared_lock lock(TableLock());
  return g_failedLine;
}

void Clear() {
  std::unique_lock lock(TableLock());
  TheTable().clear();
}

std::u16string Lookup(std::u16string_view key) {
  std::shared_lock lock(TableLock());
  const Table& table = TheTable();
  const auto it = table.find(key);
  return it == table.end() ? std::u16string(kLostString) : it->second;
}

std::string Text(std::string_view key) {
  return platform::Narrow(Lookup(platform::Widen(std::string(key))));
}

}  // namespace kv::strings

#include "platform/system.h"

#include "platform/file_system.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>

namespace platform {

std::recursive_mutex& ProcessLock() {
  static std::recursive_mutex lock;
  return lock;
}

namespace {
std::filesystem::path& ResourceFolderStorage() {
  static std::filesystem::path folder;
  return folder;
}
}  // namespace

void SetResourceFolder(std::filesystem::path folder) { ResourceFolderStorage() = std::move(folder); }

const std::filesystem::path& ResourceFolder() {
  // A host that never names the folder gets the one installed beside us.
  std::filesystem::path& folder = ResourceFolderStorage();
  if (folder.empty()) folder = ModulePath().parent_path() / "resources";
  return folder;
}

std::optional<std::vector<uint8_t>> LoadResource(const std::string& type, int id, size_t limit) {
  std::string bytes, why;
  if (!ReadRegularFile((ResourceFolder() / type / std::to_string(id)).string(), limit, bytes, why)) return std::nullopt;
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

namespace {

// The number after `key` in a file of "key value" lines, in bytes; 0 when
// there is none.
uint64_t ValueIn(const char* file, std::string_view key, uint64_t unit) {
  std::string text, why;
  if (!ReadRegularFile(file, 1 << 16, text, why)) return 0;
  const size_t at = key.empty() ? 0 : text.find(key);
  if (at == std::string::npos) return 0;
  unsigned long long value = 0;
  return std::sscanf(text.c_str() + at + key.size(), " %llu", &value) == 1 ? uint64_t(value) * unit : 0;
}

}  // namespace

uint64_t AvailableMemory() {
  uint64_t bytes = ValueIn("/proc/meminfo", "MemAvailable:", 1024);
  if (bytes == 0) bytes = uint64_t(::sysconf(_SC_AVPHYS_PAGES)) * uint64_t(::sysconf(_SC_PAGESIZE));
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      bytes = std::min<uint64_t>(bytes, limit.rlim_cur);
  }
  // The control group's limit, of version 2 or 1 ("max" reads as no number).
  std::string folder = "/sys/fs/cgroup", groups, why;
  if (ReadRegularFile("/proc/self/cgroup", 1 << 16, groups, why) && groups.starts_with("0::/"))
    folder += groups.substr(3, groups.find('\n') - 3);
  for (const auto& [max, current] :
       {std::pair{folder + "/memory.max", folder + "/memory.current"},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "/sys/fs/cgroup/memory/memory.usage_in_bytes"}}) {
    const uint64_t limit = ValueIn(max.c_str(), "", 1), used = ValueIn(current.c_str(), "", 1);
    if (limit > 0) bytes = std::min(bytes, limit > used ? limit - used : 0);
  }
  return bytes;
}

std::filesystem::path ModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ec;
  auto path = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::filesystem::path(info.dli_fname) : path;
}

std::filesystem::path ApplicationDataFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    return std::filesystem::path(home) / ".config";
  return std::filesystem::temp_directory_path() / ".config";
}

void ShowMessage(const ps::PlatformData* owner, ps::MessageKind kind, const std::string& caption,
                 const std::string& text) {
  if (owner != nullptr && owner->showMessage != nullptr) {
    owner->showMessage(owner->window, kind, caption.c_str(), text.c_str());
    return;
  }
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;  // lone surrogate
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Widen(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const uint32_t lead = s[i];
    const int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    uint32_t c = extra > 0 ? lead & (0x3Fu >> extra) : lead;
    bool ok = extra >= 0;
    for (int k = 1; ok && k <= extra; ++k) {
      if (i + k >= n || (s[i + k] & 0xC0) != 0x80) ok = false;
      else c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!ok) {  // not UTF-8: keep going, one replacement per bad byte
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += size_t(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

bool OpenWithDesktop(const std::string& target) {
  if (target.empty()) return false;
  std::string quoted = "'";
  for (char c : target) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  return std::system(("xdg-open " + quoted + " >/dev/null 2>&1 &").c_str()) == 0;
}

}  // namespace platform

#include "parameters/parameter_io.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kv::param_io {

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return {};
  if (size_t(n) < sizeof buffer) return std::string(buffer, size_t(n));
  std::string out(size_t(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(out.data(), out.size(), format, args);
  va_end(args);
  out.resize(size_t(n));
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string FoldedName(std::string_view name) {
  std::string out;
  for (char c : name)
    if (c != ' ' && c != '-' && c != '_') out += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  return out;
}

bool SameName(std::string_view a, std::string_view b) { return FoldedName(a) == FoldedName(b); }

bool ParseDouble(std::string_view text, double& value) {
  const std::string s(Trim(text));
  if (s.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ParseInt(std::string_view text, int64_t& value) {
  const std::string s(Trim(text));
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end != s.c_str() + s.size() || errno == ERANGE) return false;
  value = v;
  return true;
}

namespace {

// What follows the number: white space alone loses nothing.
ScanResult Rest(const char* end) {
  return Trim(std::string_view(end)).empty() ? kScanRead : kScanCut;
}

}  // namespace

ScanResult ScanDouble(std::string_view text, double& value) {
  const std::string s(text);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || !std::isfinite(v)) return kScanFailed;
  value = v;
  return Rest(end);
}

ScanResult ScanInt(std::string_view text, int32_t& value) {
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end == s.c_str()) return kScanFailed;
  value = int32_t(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
  return errno == ERANGE || v != value ? kScanCut : Rest(end);
}

ScanResult ScanUnsignedShort(std::string_view text, uint16_t& value) {
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  // As "%hu" does: the number in unsigned arithmetic, cut to 16 bits.
  const unsigned long v = std::strtoul(s.c_str(), &end, 10);
  if (end == s.c_str()) return kScanFailed;
  value = uint16_t(v);
  return errno == ERANGE || v != value ? kScanCut : Rest(end);
}

std::string FourCCText(uint32_t code) {
  return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

int32_t PutText(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token, uint32_t key,
                std::string_view text, const ps::HandleProcs& handles) {
  ps::Handle h = handles.newProc(int32_t(text.size() + 1));
  if (h == nullptr) return -1;
  char* bytes = handles.lockProc(h, false);
  int32_t err = -1;
  if (bytes != nullptr) {
    std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = '\0';
    handles.unlockProc(h);
    err = procs.putTextProc(token, key, h) == 0 ? 0 : -1;
  }
  handles.disposeProc(h);
  return err;
}

int32_t GetText(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, const ps::HandleProcs& handles,
                std::string& text) {
  ps::Handle h = nullptr;
  if (procs.getTextProc(token, &h) != 0 || h == nullptr) return -1;
  const int32_t size = handles.getSizeProc(h);
  const char* bytes = handles.lockProc(h, false);
  int32_t err = -1;
  if (bytes != nullptr && size >= 0) {
    const size_t n = strnlen(bytes, size_t(size));
    text.assign(bytes, n);
    handles.unlockProc(h);
    err = 0;
  }
  handles.disposeProc(h);
  return err;
}

}  // namespace kv::param_io

#include "hosts/cli/memory_budget.h"

#include <cstdlib>
#include <optional>

#include "hosts/cli/apply_command.h"
#include "platform/format.h"
#include "platform/system.h"

namespace kv::cli {

namespace {

constexpr const char* kLimitVariable = "KALVERO_MEMORY_LIMIT";

// "6G", "512 M", "1500000000": bytes, or nothing when the text is none of these.
std::optional<uint64_t> ParseAmount(const std::string& text) {
  char* end = nullptr;
  const double amount = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !(amount > 0.0) || amount > 1e18) return std::nullopt;
  while (*end == ' ') ++end;
  double unit = 1.0;
  switch (*end) {
    case '\0': break;
    case 'k':
    case 'K': unit = 1024.0; break;
    case 'm':
    case 'M': unit = 1024.0 * 1024.0; break;
    case 'g':
    case 'G': unit = 1024.0 * 1024.0 * 1024.0; break;
    case 't':
    case 'T': unit = 1024.0 * 1024.0 * 1024.0 * 1024.0; break;
    default: return std::nullopt;
  }
  if (*end != '\0' && end[1] != '\0' && !((end[1] == 'B' || end[1] == 'b') && end[2] == '\0')) return std::nullopt;
  return amount * unit > 1e18 ? std::nullopt : std::optional<uint64_t>(uint64_t(amount * unit));
}

bool FromVariable() {
  const char* text = std::getenv(kLimitVariable);
  return text != nullptr && *text != '\0';
}

}  // namespace

uint64_t MemoryAllowance() {
  static const std::optional<uint64_t> allowance = []() -> std::optional<uint64_t> {
    if (!FromVariable()) return platform::AvailableMemory();
    return ParseAmount(std::getenv(kLimitVariable));
  }();
  if (!allowance)
    throw UsageError(std::string(kLimitVariable) + "='" + std::getenv(kLimitVariable) +
                     "' is not an amount of memory; give bytes or a number with K, M or G, such as 4G");
  return *allowance;
}

std::string MemoryShortfall(uint64_t need) {
  const uint64_t allowance = MemoryAllowance();
  if (need <= allowance) return {};
  return "needs about " + FormatBytes(need) + "; " +
         (FromVariable() ? std::string(kLimitVariable) : std::string("this machine")) + " allows " +
         FormatBytes(allowance);
}

}  // namespace kv::cli

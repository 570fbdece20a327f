// Scripting descriptors: the ordered key/value lists an effect reads its
// values from and writes them to, the protocol's read and write suites over
// them, and their JSON form for --record and --script.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/protocol.h"

namespace kv::host {

struct UnitFloat {
  uint32_t unit = 0;
  double value = 0;
  friend bool operator==(const UnitFloat&, const UnitFloat&) = default;
};
struct Enumerated {
  uint32_t type = 0;
  uint32_t value = 0;
  friend bool operator==(const Enumerated&, const Enumerated&) = default;
};
struct ClassId {
  uint32_t id = 0;
  friend bool operator==(const ClassId&, const ClassId&) = default;
};

// integer, float, unit float, boolean, text (8-bit), enumerated, class.
using DescriptorValue = std::variant<int32_t, double, UnitFloat, bool, std::string, Enumerated, ClassId>;

// In the order written; putting a key again replaces its value in place.
class Descriptor {
 public:
  using Item = std::pair<uint32_t, DescriptorValue>;

  void Put(uint32_t key, DescriptorValue value);
  const DescriptorValue* Find(uint32_t key) const;
  void Erase(uint32_t key);
  const std::vector<Item>& Items() const { return items_; }
  bool Empty() const { return items_.empty(); }
  friend bool operator==(const Descriptor&, const Descriptor&) = default;

 private:
  std::vector<Item> items_;
};

// The protocol's type code of a value ('long', 'doub', 'UntF', ...).
ps::DescType TypeOf(const DescriptorValue& value);

// JSON: {"RndS": {"type": "integer", "value": 5917}, ...} with four-character
// codes as strings ("0x%08X" when not printable). Parsing throws
// std::runtime_error with the reason.
std::string ToJson(const Descriptor& descriptor);
Descriptor FromJson(std::string_view json);

// "RndS" for FourCC("RndS"); FromCode throws on a malformed code.
std::string CodeText(uint32_t code);
uint32_t CodeFromText(std::string_view text);

// What a read answers when the value is not of the type asked for (the
// coercion failure of the scripting system).
constexpr ps::OSErr kErrWrongType = -1700;

// The suites, versions 0 with 18 and 16 procedures. Descriptor handles are
// ordinary handles of the host's handle suite holding the JSON text, so the
// core can dispose of them as of any other handle.
ps::ReadDescriptorProcs& ReadSuite();
ps::WriteDescriptorProcs& WriteSuite();

// A new handle holding `descriptor`, and the descriptor a handle holds
// (throws std::runtime_error when it holds none).
ps::Handle DescriptorHandle(const Descriptor& descriptor);
Descriptor HandleDescriptor(ps::Handle handle);

}  // namespace kv::host

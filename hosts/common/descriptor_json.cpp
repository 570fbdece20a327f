// The JSON form of descriptors: what --record writes and --script reads.
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "hosts/common/descriptor.h"
#include "hosts/common/json_text.h"

namespace kv::host {

namespace {

// Texts are 8-bit; one that is not UTF-8 (overlong forms and surrogates
// included, which JSON refuses) is kept as Latin-1 so that it comes back
// byte for byte.
bool IsUtf8(const std::string& s) {
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  size_t i = 0;
  while (i < s.size()) {
    const auto c = uint8_t(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t code = n == 1 ? c : c & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) {
      if ((uint8_t(s[i + k]) >> 6) != 0x2) return false;
      code = code << 6 | (uint8_t(s[i + k]) & 0x3F);
    }
    if (n > 1 && (code < kLeast[n] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))) return false;
    i += n;
  }
  return true;
}

std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  for (const char ch : s) {
    const auto c = uint8_t(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToLatin1(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = uint8_t(s[i]);
    if (c < 0x80) {
      out += char(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size()) {
      out += char(((c & 0x03) << 6) | (uint8_t(s[++i]) & 0x3F));
    } else {
      throw std::runtime_error("a Latin-1 text holds a character beyond Latin-1");
    }
  }
  return out;
}

Json ValueToJson(const DescriptorValue& value) {
  struct Visitor {
    Json operator()(int32_t v) const { return {{"type", "integer"}, {"value", v}}; }
    Json operator()(double v) const { return {{"type", "float"}, {"value", v}}; }
    Json operator()(const UnitFloat& v) const {
      return {{"type", "unitFloat"}, {"unit", CodeText(v.unit)}, {"value", v.value}};
    }
    Json operator()(bool v) const { return {{"type", "boolean"}, {"value", v}}; }
    Json operator()(const std::string& v) const {
      if (IsUtf8(v)) return {{"type", "text"}, {"value", v}};
      return {{"type", "text"}, {"encoding", "latin1"}, {"value", Latin1ToUtf8(v)}};
    }
    Json operator()(const Enumerated& v) const {
      return {{"type", "enumerated"}, {"enumType", CodeText(v.type)}, {"value", CodeText(v.value)}};
    }
    Json operator()(const ClassId& v) const { return {{"type", "class"}, {"value", CodeText(v.id)}}; }
  };
  return std::visit(Visitor{}, value);
}

const Json& Field(const Json& j, const char* name) {
  const auto it = j.find(name);
  if (it == j.end()) throw std::runtime_error(std::string("no \"") + name + "\"");
  return *it;
}

uint32_t CodeField(const Json& j, const char* name) {
  const Json& f = Field(j, name);
  if (!f.is_string()) throw std::runtime_error(std::string("\"") + name + "\" is not a four-character code");
  return CodeFromText(f.get<std::string>());
}

double NumberField(const Json& j) {
  const Json& v = Field(j, "value");
  if (!v.is_number()) throw std::runtime_error("the value is not a number");
  return v.get<double>();
}

DescriptorValue ValueFromJson(const Json& j) {
  if (!j.is_object()) throw std::runtime_error("not an object with a type and a value");
  const Json& type = Field(j, "type");
  const std::string t = type.is_string() ? type.get<std::string>() : "";
  if (t == "integer") {
    const Json& v = Field(j, "value");
    if (!v.is_number_integer() || (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(INT32_MAX)) ||
        v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX)
      throw std::runtime_error("the value is not a 32-bit integer");
    return int32_t(v.get<int64_t>());
  }
  if (t == "float") return NumberField(j);
  if (t == "unitFloat") return UnitFloat{CodeField(j, "unit"), NumberField(j)};
  if (t == "boolean") {
    const Json& v = Field(j, "value");
    if (!v.is_boolean()) throw std::runtime_error("the value is not true or false");
    return v.get<bool>();
  }
  if (t == "text") {
    const Json& v = Field(j, "value");
    if (!v.is_string()) throw std::runtime_error("the value is not a string");
    const auto enc = j.find("encoding");
    if (enc == j.end()) return v.get<std::string>();
    if (*enc != "latin1") throw std::runtime_error("unknown text encoding");
    return Utf8ToLatin1(v.get<std::string>());
  }
  if (t == "enumerated") return Enumerated{CodeField(j, "enumType"), CodeField(j, "value")};
  if (t == "class") return ClassId{CodeField(j, "value")};
  throw std::runtime_error("unknown type \"" + t +
                           "\" (integer, float, unitFloat, boolean, text, enumerated or class)");
}

}  // namespace

std::string CodeText(uint32_t code) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = char((code >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[11];
      std::snprintf(hex, sizeof hex, "0x%08X", code);
      return hex;
    }
    s += c;
  }
  return s;
}

uint32_t CodeFromText(std::string_view text) {
  if (text.size() == 4) {
    uint32_t code = 0;
    for (const char c : text) code = (code << 8) | uint8_t(c);
    return code;
  }
  if (text.size() == 10 && text.substr(0, 2) == "0x") {
    uint32_t code = 0;
    for (const char c : text.substr(2)) {
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) throw std::runtime_error("'" + std::string(text) + "' is not a four-character code");
      code = (code << 4) | uint32_t(d);
    }
    return code;
  }
  throw std::runtime_error("'" + std::string(text) + "' is not a four-character code");
}

std::string ToJson(const Descriptor& descriptor) {
  Json j = Json::object();
  for (const auto& [key, value] : descriptor.Items()) j[CodeText(key)] = ValueToJson(value);
  return j.dump(2) + "\n";
}

Descriptor FromJson(std::string_view text) {
  const Json j = ParseJson(text);
  if (!j.is_object()) throw std::runtime_error("it is not a JSON object of four-character keys");
  Descriptor d;
  for (const auto& [key, value] : j.items()) {
    try {
      d.Put(CodeFromText(key), ValueFromJson(value));
    } catch (const std::runtime_error& e) {
      throw std::runtime_error("key '" + key + "': " + e.what());
    }
  }
  return d;
}

}  // namespace kv::host

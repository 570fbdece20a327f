#include "hosts/common/descriptor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include "hosts/common/memory_suites.h"

namespace kv::host {

void Descriptor::Put(uint32_t key, DescriptorValue value) {
  for (Item& item : items_)
    if (item.first == key) {
      item.second = std::move(value);
      return;
    }
  items_.emplace_back(key, std::move(value));
}

const DescriptorValue* Descriptor::Find(uint32_t key) const {
  for (const Item& item : items_)
    if (item.first == key) return &item.second;
  return nullptr;
}

void Descriptor::Erase(uint32_t key) {
  items_.erase(std::remove_if(items_.begin(), items_.end(), [key](const Item& i) { return i.first == key; }),
               items_.end());
}

ps::DescType TypeOf(const DescriptorValue& value) {
  static constexpr ps::DescType kTypes[] = {ps::typeInteger,        ps::typeFloat, ps::FourCC("UntF"),
                                            ps::typeBoolean,        ps::typeText,  ps::typeEnumerated,
                                            ps::FourCC("type")};
  return kTypes[value.index()];
}

ps::Handle DescriptorHandle(const Descriptor& descriptor) {
  const std::string json = ToJson(descriptor);
  return NewHandle(json.size(), json);
}

Descriptor HandleDescriptor(ps::Handle handle) {
  if (handle == nullptr) throw std::runtime_error("no descriptor");
  return FromJson(std::string_view(HandleData(handle), HandleSize(handle)));
}

namespace {

struct ReadToken {
  Descriptor descriptor;
  size_t next = 0;
  const DescriptorValue* current = nullptr;
};
struct WriteToken {
  Descriptor descriptor;
};

ReadToken& R(ps::PIReadDescriptor t) { return *reinterpret_cast<ReadToken*>(t); }
WriteToken& W(ps::PIWriteDescriptor t) { return *reinterpret_cast<WriteToken*>(t); }

template <class T>
const T* Current(ps::PIReadDescriptor t) {
  return t != nullptr && R(t).current != nullptr ? std::get_if<T>(R(t).current) : nullptr;
}

// Integers, floats and unit floats read as one another.
bool Number(ps::PIReadDescriptor t, double& out) {
  if (const auto* i = Current<int32_t>(t)) out = *i;
  else if (const auto* d = Current<double>(t)) out = *d;
  else if (const auto* u = Current<UnitFloat>(t)) out = u->value;
  else return false;
  return true;
}

bool Integer(ps::PIReadDescriptor t, int32_t& out) {
  double d;
  if (!Number(t, d) || !(d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()))
    return false;
  out = int32_t(std::lround(d));
  return true;
}

uint32_t Unit(ps::PIReadDescriptor t) {
  const auto* u = Current<UnitFloat>(t);
  return u != nullptr ? u->unit : ps::FourCC("#Nne");
}

template <class T>
ps::OSErr Pinned(T raw, T lo, T hi, T* value) {
  *value = std::clamp(raw, lo, hi);
  return *value == raw ? ps::noErr : ps::coercedParamErr;
}

ps::OSErr Put(ps::PIWriteDescriptor t, uint32_t key, DescriptorValue v) {
  if (t == nullptr) return ps::generalFailure;
  try {
    W(t).descriptor.Put(key, std::move(v));
    return ps::noErr;
  } catch (const std::bad_alloc&) {
    return ps::memFullErr;
  }
}

ps::PIReadDescriptor OpenRead(ps::PIDescriptorHandle handle, ps::DescriptorKeyIDArray) {
  if (handle == nullptr) return nullptr;
  try {
    return reinterpret_cast<ps::PIReadDescriptor>(new ReadToken{HandleDescriptor(handle)});
  } catch (...) {
    return nullptr;
  }
}

ps::Boolean GetKey(ps::PIReadDescriptor t, ps::DescriptorKeyID* key, ps::DescType* type, int32_t* flags) {
  if (t == nullptr) return false;
  ReadToken& r = R(t);
  if (r.next >= r.descriptor.Items().size()) {
    r.current = nullptr;
    return false;
  }
  const Descriptor::Item& item = r.descriptor.Items()[r.next++];
  r.current = &item.second;
  if (key != nullptr) *key = item.first;
  if (type != nullptr) *type = TypeOf(item.second);
  if (flags != nullptr) *flags = 0;
  return true;
}

ps::OSErr CloseWrite(ps::PIWriteDescriptor t, ps::PIDescriptorHandle* handle) {
  if (t == nullptr || handle == nullptr) return ps::generalFailure;
  std::unique_ptr<WriteToken> token(&W(t));
  try {
    *handle = DescriptorHandle(token->descriptor);
  } catch (const std::bad_alloc&) {
    *handle = nullptr;
  }
  return *handle != nullptr ? ps::noErr : ps::memFullErr;
}

std::string PascalText(const unsigned char* s) {
  return s != nullptr ? std::string(reinterpret_cast<const char*>(s + 1), s[0]) : std::string();
}

}  // namespace

ps::ReadDescriptorProcs& ReadSuite() {
  static ps::ReadDescriptorProcs suite{
      ps::kCurrentReadDescriptorProcsVersion,
      ps::kCurrentReadDescriptorProcsCount,
      OpenRead,
      [](ps::PIReadDescriptor t) -> ps::OSErr {
        delete reinterpret_cast<ReadToken*>(t);
        return ps::noErr;
      },
      GetKey,
      [](ps::PIReadDescriptor t, int32_t* v) -> ps::OSErr { return Integer(t, *v) ? ps::noErr : kErrWrongType; },
      [](ps::PIReadDescriptor t, double* v) -> ps::OSErr { return Number(t, *v) ? ps::noErr : kErrWrongType; },
      [](ps::PIReadDescriptor t, ps::DescriptorUnitID* unit, double* v) -> ps::OSErr {
        if (!Number(t, *v)) return kErrWrongType;
        *unit = Unit(t);
        return ps::noErr;
      },
      [](ps::PIReadDescriptor t, ps::Boolean* v) -> ps::OSErr {
        const auto* b = Current<bool>(t);
        if (b == nullptr) return kErrWrongType;
        *v = *b;
        return ps::noErr;
      },
      [](ps::PIReadDescriptor t, ps::Handle* v) -> ps::OSErr {
        const auto* s = Current<std::string>(t);
        if (s == nullptr) return kErrWrongType;
        *v = NewHandle(s->size() + 1, *s);  // with its terminating zero
        return *v != nullptr ? ps::noErr : ps::memFullErr;
      },
      [](ps::PIReadDescriptor, ps::Handle*) -> ps::OSErr { return kErrWrongType; },
      [](ps::PIReadDescriptor t, ps::DescriptorEnumID* v) -> ps::OSErr {
        const auto* e = Current<Enumerated>(t);
        if (e == nullptr) return kErrWrongType;
        *v = e->value;
        return ps::noErr;
      },
      [](ps::PIReadDescriptor t, ps::DescriptorClassID* v) -> ps::OSErr {
        const auto* c = Current<ClassId>(t);
        if (c == nullptr) return kErrWrongType;
        *v = c->id;
        return ps::noErr;
      },
      [](ps::PIReadDescriptor, void*) -> ps::OSErr { return kErrWrongType; },
      [](ps::PIReadDescriptor, ps::DescriptorClassID*, ps::PIDescriptorHandle*) -> ps::OSErr { return kErrWrongType; },
      [](ps::PIReadDescriptor, uint32_t*) -> ps::OSErr { return kErrWrongType; },
      [](ps::PIReadDescriptor t, unsigned char (*v)[256]) -> ps::OSErr {
        const auto* s = Current<std::string>(t);
        if (s == nullptr) return kErrWrongType;
        const size_t n = std::min<size_t>(s->size(), 255);
        (*v)[0] = uint8_t(n);
        std::memcpy(*v + 1, s->data(), n);
        return ps::noErr;
      },
      [](ps::PIReadDescriptor t, int32_t lo, int32_t hi, int32_t* v) -> ps::OSErr {
        int32_t raw;
        return Integer(t, raw) ? Pinned(raw, lo, hi, v) : kErrWrongType;
      },
      [](ps::PIReadDescriptor t, const double* lo, const double* hi, double* v) -> ps::OSErr {
        double raw;
        return Number(t, raw) ? Pinned(raw, *lo, *hi, v) : kErrWrongType;
      },
      [](ps::PIReadDescriptor t, const double* lo, const double* hi, ps::DescriptorUnitID* unit,
         double* v) -> ps::OSErr {
        double raw;
        if (!Number(t, raw)) return kErrWrongType;
        *unit = Unit(t);
        return Pinned(raw, *lo, *hi, v);
      },
  };
  return suite;
}

ps::WriteDescriptorProcs& WriteSuite() {
  static ps::WriteDescriptorProcs suite{
      ps::kCurrentWriteDescriptorProcsVersion,
      ps::kCurrentWriteDescriptorProcsCount,
      []() -> ps::PIWriteDescriptor { return reinterpret_cast<ps::PIWriteDescriptor>(new (std::nothrow) WriteToken); },
      CloseWrite,
      [](ps::PIWriteDescriptor t, uint32_t k, int32_t v) { return Put(t, k, v); },
      [](ps::PIWriteDescriptor t, uint32_t k, const double* v) { return Put(t, k, *v); },
      [](ps::PIWriteDescriptor t, uint32_t k, uint32_t unit, const double* v) {
        return Put(t, k, UnitFloat{unit, *v});
      },
      [](ps::PIWriteDescriptor t, uint32_t k, ps::Boolean v) { return Put(t, k, v != 0); },
      [](ps::PIWriteDescriptor t, uint32_t k, ps::Handle v) -> ps::OSErr {
        if (v == nullptr) return ps::generalFailure;
        const char* bytes = HandleData(v);
        return Put(t, k, std::string(bytes, strnlen(bytes, HandleSize(v))));
      },
      [](ps::PIWriteDescriptor, uint32_t, ps::Handle) { return ps::errPlugInHostInsufficient; },
      [](ps::PIWriteDescriptor t, uint32_t k, uint32_t type, uint32_t v) { return Put(t, k, Enumerated{type, v}); },
      [](ps::PIWriteDescriptor t, uint32_t k, uint32_t v) { return Put(t, k, ClassId{v}); },
      [](ps::PIWriteDescriptor, uint32_t, const void*) { return ps::errPlugInHostInsufficient; },
      [](ps::PIWriteDescriptor, uint32_t, uint32_t, ps::PIDescriptorHandle) { return ps::errPlugInHostInsufficient; },
      [](ps::PIWriteDescriptor, uint32_t, uint32_t) { return ps::errPlugInHostInsufficient; },
      [](ps::PIWriteDescriptor t, uint32_t k, const unsigned char* v) { return Put(t, k, PascalText(v)); },
      [](ps::PIWriteDescriptor t, uint32_t k, uint32_t v) { return Put(t, k, ClassId{v}); },
      [](ps::PIWriteDescriptor, uint32_t, uint32_t, ps::PIDescriptorHandle) { return ps::errPlugInHostInsufficient; },
  };
  return suite;
}

}  // namespace kv::host

#include "hosts/common/core_library.h"

#include <dlfcn.h>

#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <system_error>

#include "hosts/common/build_id.h"
#include "parameters/parameter_io.h"
#include "platform/file_system.h"
#include "platform/string_table.h"
#include "platform/system.h"

namespace kv::host {

namespace {

std::string Quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

constexpr const char* kRebuild = "; build the core and its resources again (cmake --build), or install them together";
// Far beyond the description of fourteen effects.
constexpr size_t kMaxDescriptionBytes = 16 << 20;

CoreDescription ReadDescription(const std::filesystem::path& core, const std::filesystem::path& file,
                                const std::string& loadedId) {
  const std::string rebuild = kRebuild;
  std::string text, why;
  if (!platform::ReadRegularFile(file.string(), kMaxDescriptionBytes, text, why))
    throw CoreError("the effects core " + Quoted(core) + " has no usable description of its effects: " + Quoted(file) +
                    ": " + why + rebuild);
  CoreDescription description;
  try {
    description = ParseDescription(text);
  } catch (const std::runtime_error& e) {
    throw CoreError("cannot read " + Quoted(file) + ", the description of the effects core: " + e.what() + rebuild);
  }
  if (loadedId.empty())
    throw CoreError(Quoted(core) + " carries no build-id, so its description " + Quoted(file) +
                    " cannot be checked against it" + rebuild);
  if (description.buildId != loadedId)
    throw CoreError(Quoted(file) + " describes another build of the effects core (build-id " + description.buildId +
                    ") than " + Quoted(core) + " (build-id " + loadedId + ")" + rebuild);
  return description;
}

// The core cannot run an effect without its texts: a missing or damaged
// table is told here, not as a failure of the first effect run.
void CheckStringTable(const std::filesystem::path& resources) {
  const std::filesystem::path file = resources / strings::kResourceType / "1";
  std::string bytes, why;
  if (!platform::ReadRegularFile(file.string(), strings::kMaxResourceBytes, bytes, why))
    throw CoreError("the effects core's string table " + Quoted(file) + " cannot be read: " + why + kRebuild);
  std::string error;
  strings::Clear();
  const int32_t loaded = strings::LoadFromBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()), error);
  if (loaded == ps::memFullErr) throw std::bad_alloc();
  if (loaded != 0)
    throw CoreError("the effects core's string table " + Quoted(file) + " is damaged at line " +
                    std::to_string(strings::FailedLine()) + kRebuild);
}

}  // namespace

CoreLibrary::CoreLibrary(const std::filesystem::path& file) : file_(file) {
  // dlopen would wait on a pipe for ever.
  std::string why;
  const int fd = platform::OpenRegularFile(file_.string(), SIZE_MAX, why);
  if (fd < 0) throw CoreError("cannot load the effects core " + Quoted(file_) + ": " + why);
  ::close(fd);
  module_ = ::dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) {
    const char* why = ::dlerror();
    throw CoreError("cannot load the effects core " + Quoted(file_) + ": " + (why != nullptr ? why : "unknown error"));
  }
  try {
    const auto find = [this](const char* name) {
      void* symbol = ::dlsym(module_, name);
      if (symbol == nullptr) throw CoreError(Quoted(file_) + " is not a Kalvero core: it has no " + name);
      return symbol;
    };
    entry_ = reinterpret_cast<ps::EntryPointProc>(find("Photoshop_Entry_Point"));
    auto setResources = reinterpret_cast<ps::SetResourceHandleProc>(find("SetResourceHandle"));
    const std::filesystem::path resources = file_.parent_path() / "resources";
    setResources(resources.c_str());
    platform::SetResourceFolder(resources);
    // The name of Last Used and the labels come from the core's own texts.
    CheckStringTable(resources);
    description_ = ReadDescription(file_, resources / kDescriptionFile,
                                   BuildIdOfLoaded(reinterpret_cast<const void*>(entry_)));
  } catch (...) {
    ::dlclose(module_);
    throw;
  }
}

CoreLibrary::~CoreLibrary() {
  if (module_ != nullptr) ::dlclose(module_);
}

const DescribedEffect* CoreLibrary::Find(std::string_view text, std::string& why) const {
  const auto& effects = description_.effects;
  int32_t number = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  const bool numeric = ec == std::errc() && end == text.data() + text.size();
  const std::string wanted = param_io::FoldedName(text);
  const DescribedEffect* byPrefix = nullptr;
  int32_t prefixes = 0;
  for (const DescribedEffect& e : effects) {
    const EffectDescription& d = e.description;
    if (numeric) {
      if (d.number == number) return &e;
      continue;
    }
    const std::string name = param_io::FoldedName(d.name.text), key = param_io::FoldedName(d.name.key),
                      settings = param_io::FoldedName(d.settingsName);
    if (wanted == name || wanted == key || wanted == settings) return &e;
    if (!wanted.empty() && (name.starts_with(wanted) || key.starts_with(wanted) || settings.starts_with(wanted))) {
      byPrefix = &e;
      ++prefixes;
    }
  }
  // The start of one name is enough: "burnt", "tele".
  if (prefixes == 1) return byPrefix;
  std::string names;
  for (const DescribedEffect& e : effects)
    names += (names.empty() ? "" : ", ") + std::to_string(e.description.number) + " " + e.description.name.text;
  why = "no effect '" + std::string(text) + "' in " + Quoted(file_) + "; it has " + names;
  return nullptr;
}

std::filesystem::path ChooseCore(const std::string& option, const std::filesystem::path& installed) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("KALVERO_CORE"); env != nullptr && *env != '\0') return env;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path folder = ec ? std::filesystem::path(".") : self.parent_path();
  const std::filesystem::path beside = folder / kCoreFileName;
  if (installed.empty() || std::filesystem::exists(beside, ec)) return beside;
  return (folder / installed / kCoreFileName).lexically_normal();
}

}  // namespace kv::host

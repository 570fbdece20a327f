#include "hosts/cli/version.h"

#include <dlfcn.h>

#include <cstdio>
#include <regex>

#include "hosts/cli/apply_command.h"
#include "hosts/common/document.h"
#include "hosts/common/filter_host.h"

namespace kv::cli {

using host::CoreError;
using host::DescribeResult;
using host::Document;
using host::FilterHost;
using host::Mode;

namespace {

// The toolkit lies beside the core, where the core looks for it.
constexpr const char* kToolkitFile = "libkalvero-toolkit.so";
constexpr const char* kToolkitVersionSymbol = "KalveroToolkitVersion";

std::string CoreVersion(const std::filesystem::path& file, int& status) {
  try {
    const CoreLibrary core(file);
    std::string about;
    if (const int16_t result = AboutText(core, about); result != 0) {
      status = kExitEffect;
      return "its about box failed: " + DescribeResult(result);
    }
    // "Version: 2.0.0 Release" in whatever language the texts are in.
    std::smatch number;
    if (!std::regex_search(about, number, std::regex(R"(\d+\.\d+(\.\d+)?)"))) return "of no stated version";
    return number.str();
  } catch (const CoreError& e) {
    status = kExitFile;
    return e.what();
  }
}

// The toolkit's version and file, or why there is none. Loading it also
// shows whether the window system it needs is installed.
std::string ToolkitLine(const std::filesystem::path& file) {
  const std::string unavailable = ", so --dialog is unavailable";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return "none: '" + file.string() + "' is missing" + unavailable;
  void* module = ::dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = ::dlerror();
    return std::string("none: ") + (why != nullptr ? why : "it cannot be loaded") + unavailable;
  }
  using VersionProc = const char* (*)();
  const auto version = reinterpret_cast<VersionProc>(::dlsym(module, kToolkitVersionSymbol));
  // The toolkit stays loaded: a window system's libraries do not unload cleanly.
  return std::string(version != nullptr ? version() : "of no stated version") + "  " + file.string();
}

}  // namespace

int16_t AboutText(const CoreLibrary& core, std::string& text) {
  Document one(1, 1, Mode::RGB, false);
  FilterHost host(one, core.Entry(), 0);
  host.hooks.message = [&text](int32_t, const std::string&, const std::string& message) { text += message + "\n"; };
  return host.About();
}

int PrintVersions(const std::filesystem::path& core) {
  int status = kExitOk;
  std::printf("kalvero %s (Brightfold Kalvero 2)\n", KALVERO_VERSION);
  const std::string coreVersion = CoreVersion(core, status);
  if (status != kExitOk) {  // the reason names the file
    std::printf("core    %s\n", coreVersion.c_str());
    return status;
  }
  std::printf("core    %s  %s\n", coreVersion.c_str(), core.string().c_str());
  std::printf("toolkit %s\n", ToolkitLine(core.parent_path() / kToolkitFile).c_str());
  return status;
}

}  // namespace kv::cli

#include "entry/scripting.h"

#include "framework/filter.h"
#include "host/host_calls.h"
#include "host/run_record.h"
#include "parameters/parameters.h"

namespace kv {

namespace {

// Far more keys than any effect has, fewer than a runaway host could send.
constexpr size_t kMaxScriptKeys = 4096;

bool SuitesUsable(const ps::FilterRecord& host) {
  const ps::PIDescriptorParameters* d = host.descriptorParameters;
  if (d == nullptr || d->descriptorParametersVersion != ps::kCurrentDescriptorParametersVersion) return false;
  const ps::ReadDescriptorProcs* r = d->readDescriptorProcs;
  const ps::WriteDescriptorProcs* w = d->writeDescriptorProcs;
  if (r == nullptr || w == nullptr) return false;
  if (r->readDescriptorProcsVersion != ps::kCurrentReadDescriptorProcsVersion ||
      r->numReadDescriptorProcs < ps::kCurrentReadDescriptorProcsCount)
    return false;
  if (w->writeDescriptorProcsVersion != ps::kCurrentWriteDescriptorProcsVersion ||
      w->numWriteDescriptorProcs < ps::kCurrentWriteDescriptorProcsCount)
    return false;
  // The procedures follow the two counts as an array of pointers.
  const auto present = [](const void* first, size_t count) {
    const auto* procs = static_cast<void* const*>(first);
    for (size_t i = 0; i < count; ++i)
      if (procs[i] == nullptr) return false;
    return true;
  };
  return present(&r->openReadDescriptorProc, ps::kCurrentReadDescriptorProcsCount) &&
         present(&w->openWriteDescriptorProc, ps::kCurrentWriteDescriptorProcsCount) && host.handleProcs != nullptr;
}

}  // namespace

int32_t ReadScriptingDescriptor(ps::FilterRecord& host, RunRecord& run, void* block) {
  if (!SuitesUsable(host)) return -1;
  ps::PIDescriptorParameters& d = *host.descriptorParameters;
  const ps::ReadDescriptorProcs& procs = *d.readDescriptorProcs;
  try {
    ParameterList list;
    list.SetResolution(host.imageHRes);
    if (int32_t e = run.filter->BuildParameters(list, block)) return e;
    std::vector<uint32_t> keys = list.Keys();
    keys.push_back(0);
    if (ps::PIReadDescriptor token = procs.openReadDescriptorProc(d.descriptor, keys.data())) {
      run.fromScript = true;
      ps::DescriptorKeyID key = 0;
      ps::DescType type = 0;
      int32_t flags = 0;
      // A value that does not read (another type, a text that is no value
      // of its parameter) leaves that parameter as it was; the rest of the
      // script and its play information still count. A host that never
      // ends its keys is not followed for ever.
      for (size_t read = 0; read < kMaxScriptKeys && procs.getKeyProc(token, &key, &type, &flags); ++read)
        (void)list.ReadDescriptorValue(procs, token, key, *host.handleProcs);
      procs.closeReadDescriptorProc(token);
      hostcall::DisposeHandle(d.descriptor);
      d.descriptor = nullptr;
      for (const auto& p : list) p->Clamp();
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  run.state = d.playInfo == ps::plugInDialogDisplay ? kShowDialog : kNoDialog;
  return 0;
}

int32_t WriteScriptingDescriptor(ps::FilterRecord& host, Filter& filter, void* block) {
  if (!SuitesUsable(host)) return -1;
  ps::PIDescriptorParameters& d = *host.descriptorParameters;
  const ps::WriteDescriptorProcs& procs = *d.writeDescriptorProcs;
  try {
    ParameterList list;
    if (int32_t e = filter.BuildParameters(list, block)) return e;
    ps::PIWriteDescriptor token = procs.openWriteDescriptorProc();
    if (token == nullptr) return -1;
    const int32_t err = list.WriteDescriptor(procs, token, *host.handleProcs);
    ps::PIDescriptorHandle written = nullptr;
    const int16_t closed = procs.closeWriteDescriptorProc(token, &written);
    if (err != 0 || closed != 0) {
      hostcall::DisposeHandle(written);
      return err != 0 ? err : -1;
    }
    hostcall::DisposeHandle(d.descriptor);
    d.descriptor = written;
    d.recordInfo = ps::plugInDialogOptional;
    return 0;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

}  // namespace kv

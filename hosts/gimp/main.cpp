// kalvero-gimp: the suite's effects in GIMP 2.10's Filters menu. GIMP starts
// it to learn its procedures and again for every call of one; each call is
// a run of the core through the filter protocol, as kalvero makes it.
#include <libgimp/gimp.h>

#include <clocale>
#include <string>

#include "hosts/common/core_library.h"
#include "hosts/gimp/procedures.h"
#include "hosts/gimp/run_effect.h"

namespace {

void Query() {
  try {
    const kv::host::CoreLibrary core(kv::host::ChooseCore({}));
    kv::gimp::InstallProcedures(core.Description());
  } catch (const std::exception& e) {
    g_printerr("kalvero-gimp: %s\n", e.what());
  }
}

void Run(const gchar* name, gint count, const GimpParam* params, gint* returnCount, GimpParam** returned) {
  // GIMP reads the answer after this returns.
  static GimpParam answer[2];
  static std::string message;
  gegl_init(nullptr, nullptr);
  // libgimp takes the user's locale; numbers in values, settings and scripts
  // are written with a point.
  std::setlocale(LC_NUMERIC, "C");
  kv::gimp::Answer a{GIMP_PDB_CALLING_ERROR, "expected run mode, image, drawable and values"};
  // A pick from the menu hands over the first three only.
  if (count >= 3) {
    const gchar* values = count >= 4 ? params[3].data.d_string : nullptr;
    a = kv::gimp::RunEffect({name, GimpRunMode(params[0].data.d_int32), params[1].data.d_image,
                             params[2].data.d_drawable, values != nullptr ? values : ""});
  }
  message = a.message;
  answer[0].type = GIMP_PDB_STATUS;
  answer[0].data.d_status = a.status;
  answer[1].type = GIMP_PDB_STRING;
  answer[1].data.d_string = message.data();
  *returnCount = a.status != GIMP_PDB_SUCCESS && !message.empty() ? 2 : 1;
  *returned = answer;
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()

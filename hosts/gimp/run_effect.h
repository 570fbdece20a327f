// One call of an effect's procedure: the values from the call's text, the
// run through the core as an editor sends it, and GIMP's answer.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>
#include <string>

namespace kv::gimp {

struct Call {
  std::string procedure;
  GimpRunMode mode = GIMP_RUN_INTERACTIVE;
  int32_t image = -1, drawable = -1;
  std::string values;  // NAME=VALUE assignments
};

struct Answer {
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  std::string message;  // why it failed
};

Answer RunEffect(const Call& call);

}  // namespace kv::gimp

#include "hosts/gimp/procedures.h"

#include <libgimp/gimp.h>

#include <cctype>

#include "hosts/common/effect_values.h"
#include "platform/string_table.h"

namespace kv::gimp {

namespace {

constexpr const char* kMenu = "<Image>/Filters/Brightfold Kalvero 2";

const GimpParamDef kArguments[] = {
    {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
     const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
    {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
    {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
    {GIMP_PDB_STRING, const_cast<gchar*>("values"),
     const_cast<gchar*>("NAME=VALUE assignments separated by ';' or new lines, over the defaults; empty for the "
                        "effect's Last Used values or, without them, the defaults")},
};

std::string Help(const DescribedEffect& effect) {
  return "Values are given as NAME=VALUE, separated by ';' or new lines, for example \"Random Seed=7\". Lengths may "
         "carry a unit (12, 0.5 cm, 1 in), colours are #rrggbb or r,g,b, and positions are image pixels x,y or "
         "x%,y% of the working area. The parameters:\n\n" +
         host::ParametersText(effect);
}

}  // namespace

std::string ProcedureName(const EffectDescription& effect) {
  std::string name = "plug-in-kalvero-";
  for (char c : effect.name.key) name += std::isalnum(static_cast<unsigned char>(c)) ? char(std::tolower(c)) : '-';
  return name;
}

const DescribedEffect* EffectOfProcedure(const CoreDescription& core, std::string_view procedure) {
  for (const DescribedEffect& e : core.effects)
    if (ProcedureName(e.description) == procedure) return &e;
  return nullptr;
}

void InstallProcedures(const CoreDescription& core) {
  for (const DescribedEffect& e : core.effects) {
    const std::string name = ProcedureName(e.description);
    const std::string blurb = strings::Text(e.description.name.key + " Help");
    const std::string help = Help(e);
    const std::string label = e.description.name.text + "...";
    gimp_install_procedure(name.c_str(), blurb.c_str(), help.c_str(), "Brightfold", "Brightfold", KALVERO_VERSION,
                           label.c_str(), "RGB*, GRAY*", GIMP_PLUGIN, G_N_ELEMENTS(kArguments), 0, kArguments, nullptr);
    gimp_plugin_menu_register(name.c_str(), kMenu);
  }
}

}  // namespace kv::gimp

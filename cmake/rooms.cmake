# The rooms of the source tree and the rooms each may use, lowest first.
# A room is a folder (or one header) and one target. Its target links exactly
# the rooms named here, and the layering test reads every #include against
# this table, so a room can never reach up without the build saying so.
#
#   folder                         target                         uses
set(KV_ROOMS
  "platform                        kv_platform"
  "image                           kv_image                       platform"
  "g3d                             kv_g3d                         image"
  "parameters                      kv_parameters                  image"
  "host                            kv_host                        parameters"
  "framework                       kv_framework                   host"
  "effects/burnt_edges             kv_effect_burnt_edges          framework"
  "effects/classic_mosaic          kv_effect_classic_mosaic       framework"
  "effects/constellation           kv_effect_constellation        framework"
  "effects/cracks                  kv_effect_cracks               framework"
  "effects/crumple                 kv_effect_crumple              framework"
  "effects/electrify               kv_effect_electrify            effects/lightning"
  "effects/flag                    kv_effect_flag                 framework"
  "effects/lightning               kv_effect_lightning            framework"
  "effects/puzzle                  kv_effect_puzzle               framework"
  "effects/rip_open                kv_effect_rip_open             framework"
  "effects/rirazi_vevora_didura    kv_effect_rirazi_vevora_didura framework"
  "effects/shatter                 kv_effect_shatter              framework g3d"
  "effects/stain                   kv_effect_stain                framework"
  "effects/television              kv_effect_television           framework"
  "effects                         kv_effects                     effects/burnt_edges effects/classic_mosaic effects/constellation effects/cracks effects/crumple effects/electrify effects/flag effects/lightning effects/puzzle effects/rip_open effects/rirazi_vevora_didura effects/shatter effects/stain effects/television"
  "ui/toolkit_api.h                kv_toolkit_seam                parameters"
  "ui                              kv_ui                          ui/toolkit_api.h effects"
  "entry                           kv_entry                       ui"
  "plugins                         kalvero_plugins                platform"
  "toolkit                         kalvero-toolkit                ui/toolkit_api.h"
  "hosts/common                    kv_hosts_common                parameters"
  "hosts/cli                       kv_cli_host                    hosts/common"
  "hosts/gimp                      kv_gimp_host                   hosts/common"
  "tools                           kalvero-describe               hosts/common effects"
  "samples                         make_samples"
  "bench                           kalvero_bench                  tests/effects hosts/cli"
  "tests/support                   kv_test_support                platform image"
  "tests/platform                  test_platform                  platform tests/support"
  "tests/image                     test_image                     image tests/support"
  "tests/g3d                       test_g3d                       g3d tests/support"
  "tests/parameters                test_parameters                parameters tests/support"
  "tests/host                      test_host                      host tests/support"
  "tests/framework                 test_framework                 framework tests/support"
  "tests/ui                        test_ui                        ui tests/framework tests/support"
  "tests/effects                   test_effects                   entry tests/ui tests/g3d tests/support"
  "tests/entry                     test_entry                     entry tests/ui tests/framework tests/support"
  "tests/cli                       test_cli                       hosts/cli tests/ui tests/framework tests/support"
  "tests/gimp                      test_gimp                      hosts/cli tests/cli tests/toolkit tests/support"
  "tests/toolkit                   test_toolkit                   ui/toolkit_api.h"
  "tests/fuzz                      kv_fuzz_support                hosts/cli entry tests/g3d"
)

# Splits the table into KV_ROOM_TARGET_<folder> and KV_ROOM_USES_<folder>,
# and KV_ROOM_FOLDERS, in table order.
set(KV_ROOM_FOLDERS "")
foreach(line IN LISTS KV_ROOMS)
  string(STRIP "${line}" line)
  string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
  list(POP_FRONT fields folder target)
  list(APPEND KV_ROOM_FOLDERS ${folder})
  set(KV_ROOM_TARGET_${folder} ${target})
  set(KV_ROOM_USES_${folder} ${fields})
endforeach()

# Everything `folder` may use, directly or through the rooms it uses.
function(kv_room_closure folder out)
  set(result "")
  set(pending ${KV_ROOM_USES_${folder}})
  while(pending)
    list(POP_FRONT pending next)
    if(NOT next IN_LIST result)
      list(APPEND result ${next})
      list(APPEND pending ${KV_ROOM_USES_${next}})
    endif()
  endwhile()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The targets of the rooms `folder` uses, for target_link_libraries.
function(kv_room_links folder out)
  set(result "")
  foreach(used IN LISTS KV_ROOM_USES_${folder})
    list(APPEND result ${KV_ROOM_TARGET_${used}})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

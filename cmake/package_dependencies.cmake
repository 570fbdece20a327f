# Read by cpack: the package's dependencies, from the libraries the built
# files link, as dpkg-shlibdeps names their packages on this system. What
# kalvero and the core link is needed; what only the dialog's toolkit links
# (GTK) is recommended, as are the GL libraries Shatter loads when it runs:
# a cluster node renders without either.
cmake_policy(SET CMP0057 NEW)  # IN_LIST, in a script cpack reads
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

# The packages FILES need, as a list of "name (>= version)".
function(kv_shlibdeps out)
  set(folder ${CPACK_KALVERO_BUILD_DIR}/shlibdeps)
  file(MAKE_DIRECTORY ${folder}/debian)
  file(TOUCH ${folder}/debian/control)
  execute_process(COMMAND dpkg-shlibdeps -O ${ARGN} WORKING_DIRECTORY ${folder}
                  OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-shlibdeps failed on ${ARGN}:\n${errors}")
  endif()
  string(REGEX REPLACE "^shlibs:Depends=" "" text "${text}")
  string(STRIP "${text}" text)
  string(REPLACE ", " ";" text "${text}")
  set(${out} ${text} PARENT_SCOPE)
endfunction()

set(build ${CPACK_KALVERO_BUILD_DIR})
file(GLOB plugins ${build}/Kalvero2-*.so)
kv_shlibdeps(depends ${build}/kalvero ${build}/libkalvero-core.so ${plugins})

set(recommends "")
if(EXISTS ${build}/libkalvero-toolkit.so)
  set(needed "")
  foreach(entry IN LISTS depends)
    string(REGEX REPLACE " .*" "" name "${entry}")
    list(APPEND needed ${name})
  endforeach()
  kv_shlibdeps(toolkit ${build}/libkalvero-toolkit.so)
  foreach(entry IN LISTS toolkit)
    string(REGEX REPLACE " .*" "" name "${entry}")
    if(NOT name IN_LIST needed)
      list(APPEND recommends "${entry}")
    endif()
  endforeach()
endif()
list(APPEND recommends libosmesa6 libglu1-mesa)

list(JOIN depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
list(JOIN recommends ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)

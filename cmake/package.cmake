# `cpack -G DEB` in the build folder: one Debian package of kalvero, its core,
# the plug-in modules, the toolkit, the resources, the manual page and the
# shell completion, installed under /usr.
set(CPACK_PACKAGE_NAME kalvero)
set(CPACK_PACKAGE_VENDOR Brightfold)
set(CPACK_PACKAGE_CONTACT "Brightfold <kalvero@brightfold.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brightfold Kalvero 2 image effects for PNG, JPEG and TIFF files")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kalvero applies the fourteen Brightfold Kalvero 2 effects to image files,
one at a time or in batches over folders, in parallel and across machines.
The effects core also serves image editors through the filter plug-in protocol.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};kalvero;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The dependencies are worked out by cpack from the built files; see there.
set(CPACK_KALVERO_BUILD_DIR ${CMAKE_BINARY_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_dependencies.cmake)
include(CPack)

# A Debian package: `cpack -G DEB` in a build folder (or `cpack --config
# BUILD/CPackConfig.cmake`). The version comes from project(VERSION); the runtime
# dependencies are computed by dpkg-shlibdeps from the installed programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumarok)
set(CPACK_PACKAGE_VENDOR "The Lumarok developers")
set(CPACK_PACKAGE_CONTACT "The Lumarok developers <developers@lumarok.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Everything but the service (see Install.cmake): the install rules without a component.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; cpack indents this extended part.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Lumarok plays a laser show: a pre-authored 2-D vector animation
run through a fixed script of timed effects, kept in step with music over OSC,
sent to a laser projector on the network or to a preview window, or rendered to
PNG, SVG or JSON files. Includes a demo show and lumarok-cube, a virtual
projector for rehearsing shows without hardware.")
include(CPack)

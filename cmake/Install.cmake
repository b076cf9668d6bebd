# What `cmake --install` (and so the package) puts where. Use `cmake --install BUILD
# --strip` for stripped programs; the package strips them itself.
include(GNUInstallDirs)

# Installing and packaging take what is built and never start a build of everything:
# build first (the package test runs cpack beside the suite).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS lumarok RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# lumarok-cube installs itself from tools/lumarok_cube.

# The demo show: played when the working directory has no data/, found relative to
# the program as ../share/lumarok/demo, so any prefix or an unpacked package works.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/lumarok/demo)

# Manual pages: docs/man/<page>.1 with @VERSION@ filled in.
foreach(page lumarok lumarok-cube)
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1
        @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumarok.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

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

# Manual pages: docs/man/<page>.1 with @PROJECT_VERSION@ filled in.
foreach(page lumarok lumarok-cube)
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${PROJECT_BINARY_DIR}/man/${page}.1
        @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumarok.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The service: a systemd unit that plays the show with the settings of the example
# configuration file (a conffile in /etc when the prefix is /usr, as Debian's build
# passes it), run by the system user that the sysusers.d file creates. The unit names
# the configured paths, so the cpack package, which moves the prefix to /usr, leaves
# the component "service" out; debian/ builds the package with the service.
set(LUMAROK_SYSTEMD_UNIT_DIR lib/systemd/system CACHE STRING "Where the systemd unit goes")
set(LUMAROK_SYSUSERS_DIR lib/sysusers.d CACHE STRING "Where the sysusers.d file goes")
configure_file(${PROJECT_SOURCE_DIR}/packaging/lumarok.service.in
    ${PROJECT_BINARY_DIR}/packaging/lumarok.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/lumarok.service
    DESTINATION ${LUMAROK_SYSTEMD_UNIT_DIR} COMPONENT service)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumarok.sysusers
    DESTINATION ${LUMAROK_SYSUSERS_DIR} RENAME lumarok.conf COMPONENT service)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumarok.toml
    DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/lumarok COMPONENT service)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

# An example venue file (--venue), neutral, beside the demo show.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/venue.toml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lumarok/demo)

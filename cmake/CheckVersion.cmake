# Fails when the version in project() of CMakeLists.txt and the newest entry of
# debian/changelog disagree: the version is set in project() only, and a release also
# needs a changelog entry for it. Run as: cmake -DSOURCE_DIR=<checkout> -P CheckVersion.cmake
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "CheckVersion.cmake needs -DSOURCE_DIR=<checkout>")
endif()
file(READ ${SOURCE_DIR}/CMakeLists.txt lists)
if(NOT lists MATCHES "project\\(lumarok VERSION ([0-9.]+)")
    message(FATAL_ERROR "no 'project(lumarok VERSION X.Y.Z' in ${SOURCE_DIR}/CMakeLists.txt")
endif()
set(project_version ${CMAKE_MATCH_1})
file(STRINGS ${SOURCE_DIR}/debian/changelog first_line LIMIT_COUNT 1)
# "lumarok (EPOCH:UPSTREAM-REVISION) ...": the upstream part is what project() says.
if(NOT first_line MATCHES "^lumarok \\(([0-9]+:)?([^ )-]+)(-[^ )]+)?\\)")
    message(FATAL_ERROR "debian/changelog does not start with 'lumarok (VERSION)': ${first_line}")
endif()
set(changelog_version ${CMAKE_MATCH_2})
if(NOT project_version STREQUAL changelog_version)
    message(FATAL_ERROR "CMakeLists.txt says version ${project_version}, debian/changelog "
        "${changelog_version}: add a changelog entry (dch -v ${project_version}) or fix project()")
endif()
message(STATUS "version ${project_version} in CMakeLists.txt and debian/changelog")

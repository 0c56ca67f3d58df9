# Install rules and the Debian package.
#
#   cmake --install build            -> <prefix>/bin/tavrel, <prefix>/share/man/man1/tavrel.1
#   cd build && cpack                -> tavrel_<version>_<arch>.deb
#
# The package is laid out as Debian policy wants it: the man page compressed,
# and /usr/share/doc/tavrel/ with the machine-readable copyright file and the
# changelog (changelog.gz: the version has no Debian revision, so it is a
# native package). Those files form the component "debian", which a plain
# `cmake --install` leaves out; the package takes the components "program"
# and "debian" only, so it never holds the uncompressed man page.
#
# The package installs under /usr. Its run-time dependencies are read off the
# binary by dpkg-shlibdeps (package dpkg-dev), which CPack finds with the
# `file` utility; cmake/CPackChecks.cmake refuses to build a package when
# either is missing instead of silently leaving the Depends field empty.

include(GNUInstallDirs)

# Directories created by the install get the usual modes whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tavrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/doc/tavrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT manual)

# gzip -9n: best compression and no name or time stamp in the header, so the
# package holds the same bytes whenever and wherever it is built. Made when
# CMake configures, and again whenever a source file changes.
set(TAVREL_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${TAVREL_DEBIAN_DIR})
foreach(pair "doc/tavrel.1;tavrel.1.gz" "packaging/changelog;changelog.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
  execute_process(COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source}
                  OUTPUT_FILE ${TAVREL_DEBIAN_DIR}/${target} RESULT_VARIABLE gzip_status)
  if(NOT gzip_status EQUAL 0)
    message(FATAL_ERROR "gzip -9n failed on ${source}")
  endif()
endforeach()

# The changelog's newest entry must name the version being packaged.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^tavrel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with \"${changelog_head}\", "
                      "not with an entry for version ${PROJECT_VERSION}")
endif()

set(TAVREL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavrel)
install(FILES ${TAVREL_DEBIAN_DIR}/tavrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${TAVREL_DEBIAN_DIR}/changelog.gz
        DESTINATION ${TAVREL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};program;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")
set(CPACK_PACKAGE_NAME tavrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrel developers")
set(CPACK_PACKAGE_CONTACT "Tavrel developers <tavrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrel turns one colour photo in raw PPM format into a progression of
colour-reduced images. It clusters the photo's distinct colours bottom-up by
a perceptual merge cost (the CIE 1976 colour difference in CIELAB, weighted
by the pixel counts of the two clusters), then undoes the merges top-down and
writes one image for every colour count from 2 up to the count asked for.
Every image refines the palette of the one before it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackChecks.cmake)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

include(CPack)

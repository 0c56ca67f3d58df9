# Install rules and the Debian package.
#
#   cmake --install build            -> <prefix>/bin/tavrel, <prefix>/share/man/man1/tavrel.1
#   cd build && cpack                -> tavrel_<version>_<arch>.deb
#
# The package installs under /usr. Its run-time dependencies are read off the
# binary by dpkg-shlibdeps (package dpkg-dev), which CPack finds with the
# `file` utility; cmake/CPackChecks.cmake refuses to build a package when
# either is missing instead of silently leaving the Depends field empty.

include(GNUInstallDirs)

# Directories created by the install get the usual modes whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tavrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/tavrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
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

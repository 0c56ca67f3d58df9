# Install rules and the Debian packages.
#
#   cmake --install build   -> <prefix>/bin/tavrel, <prefix>/share/man/man1/tavrel.1,
#                              and the library's files (cmake/Library.cmake)
#   cd build && cpack       -> tavrel_<version>_<arch>.deb (the program),
#                              libtavrel0_<version>_<arch>.deb (the shared library),
#                              libtavrel-dev_<version>_<arch>.deb (headers, the .so
#                              link, the CMake package and tavrel.pc),
#                              python3-tavrel_<version>_<arch>.deb (the Python
#                              module, where it is built: cmake/Python.cmake)
#
# The packages are laid out as Debian policy wants them: the man page
# compressed, and in /usr/share/doc/<package>/ the machine-readable copyright
# file and the changelog (changelog.gz: the version has no Debian revision,
# so these are native packages). Each package is a CPack component group; the
# Debian-only files form components of their own ("debian", "library-debian",
# "development-debian") that a plain `cmake --install` leaves out, and the
# uncompressed man page ("manual") is in no package.
#
# The packages install under /usr. Their run-time dependencies are read off
# the binaries by dpkg-shlibdeps (package dpkg-dev), which CPack finds with the
# `file` utility; cmake/CPackChecks.cmake refuses to build a package when
# either is missing instead of silently leaving the Depends field empty. The
# program links the engine statically and does not need libtavrel0.

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

# Every package carries the copyright file and the changelog in its own
# documentation folder.
set(tavrel_packages tavrel)
if(TARGET tavrel_shared)
  list(APPEND tavrel_packages libtavrel0 libtavrel-dev)
endif()
if(TAVREL_PYTHON_MODULE)
  list(APPEND tavrel_packages python3-tavrel)
endif()
foreach(package IN LISTS tavrel_packages)
  set(component debian)
  if(package STREQUAL "libtavrel0")
    set(component library-debian)
  elseif(package STREQUAL "libtavrel-dev")
    set(component development-debian)
  elseif(package STREQUAL "python3-tavrel")
    set(component python-debian)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${TAVREL_DEBIAN_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${TAVREL_DEBIAN_DIR}/tavrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrel developers")
set(CPACK_PACKAGE_CONTACT "Tavrel developers <tavrel@example.org>")
# CPack puts this summary in front of every package's description unless it
# is CPack's own default; each package below begins with a summary of its own.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackChecks.cmake)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENTS_ALL program debian)
set(CPACK_COMPONENT_PROGRAM_GROUP tool)
set(CPACK_COMPONENT_DEBIAN_GROUP tool)
if(TARGET tavrel_shared)
  list(APPEND CPACK_COMPONENTS_ALL library library-debian development development-debian)
  set(CPACK_COMPONENT_LIBRARY_GROUP runtime)
  set(CPACK_COMPONENT_LIBRARY-DEBIAN_GROUP runtime)
  set(CPACK_COMPONENT_DEVELOPMENT_GROUP dev)
  set(CPACK_COMPONENT_DEVELOPMENT-DEBIAN_GROUP dev)
endif()
# The Python package's files for /usr (python/CMakeLists.txt), not those of a
# plain install, which go where the prefix says.
if(TAVREL_PYTHON_MODULE)
  list(APPEND CPACK_COMPONENTS_ALL python-package python-debian)
  set(CPACK_COMPONENT_PYTHON-PACKAGE_GROUP python)
  set(CPACK_COMPONENT_PYTHON-DEBIAN_GROUP python)
endif()

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SOURCE tavrel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(tavrel_what_it_does
    "It clusters a photo's distinct colours bottom-up by a perceptual merge
cost (the CIE 1976 colour difference in CIELAB, weighted by the pixel counts
of the two clusters), then undoes the merges top-down: every colour count
from 1 up refines the palette of the one before it.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tavrel)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_TOOL_DESCRIPTION
    "${PROJECT_DESCRIPTION}
Tavrel turns one colour photo in raw PPM format into a progression of
colour-reduced images. It clusters the photo's distinct colours bottom-up by
a perceptual merge cost (the CIE 1976 colour difference in CIELAB, weighted
by the pixel counts of the two clusters), then undoes the merges top-down and
writes one image for every colour count from 2 up to the count asked for.
Every image refines the palette of the one before it.")

# What both library packages say first.
set(tavrel_library_lead
    "Tavrel builds the cluster tree of a photo's colours once, from pixels in
memory, and then answers for any number of colours: the palette, the image
painted into the caller's buffer, the mean colour difference of every size.
${tavrel_what_it_does}")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtavrel0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "nested colour reduction of a photo - shared library
${tavrel_library_lead}
.
This package holds the shared library.")
# The shlibs file: a program built against this version needs at least it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The loader's cache is refreshed by libc's ldconfig trigger, as policy asks,
# not by the postinst and postrm that CPack writes to call ldconfig. CPack
# writes neither when the extra control files name one of that name; these
# two names point at no file, so nothing is added in their place (cpack warns
# of each missing file and goes on).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/no-maintainer-scripts/postinst
    ${PROJECT_BINARY_DIR}/no-maintainer-scripts/postrm
    ${PROJECT_SOURCE_DIR}/packaging/triggers)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtavrel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libtavrel0 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "nested colour reduction of a photo - development files
${tavrel_library_lead}
.
This package holds the C++ header tavrel/tavrel.hpp, the C header
tavrel/tavrel.h, the CMake package (find_package(tavrel) gives the target
tavrel::tavrel) and the pkg-config file tavrel.pc.")

# The Python module links the engine statically, like the program. It is
# built for one Python version, and reads numpy's arrays through numpy's own
# interface at run time; Pillow and scipy are only needed by the calls that
# hand over to them.
if(TAVREL_PYTHON_MODULE)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tavrel)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${TAVREL_PYTHON_NEXT_MINOR}), python3-numpy")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pil, python3-scipy")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "nested colour reduction of a photo - Python 3 module
Tavrel builds the cluster tree of a photo's colours once and then answers for
any number of colours: the palette, the image, the palette indices, the mean
colour difference of every size, and the tree as a linkage matrix for scipy.
${tavrel_what_it_does}
.
This package holds the Python 3 module tavrel: numpy arrays or Pillow images
in, numpy arrays or indexed Pillow images out.")
endif()

include(CPack)

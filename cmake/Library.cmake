# The library as other programs use it: a shared library that exports the
# public API and nothing else, its headers, a CMake package and a pkg-config
# file. A plain `cmake --install build` puts under the prefix
#
#   include/tavrel/{tavrel.hpp,tavrel.h,version.h,export.h}
#   <libdir>/libtavrel.so.<version>, libtavrel.so.0 -> it, libtavrel.so -> .so.0
#   <libdir>/cmake/tavrel/   find_package(tavrel) gives the target tavrel::tavrel
#   <libdir>/pkgconfig/tavrel.pc
#
# The shared library is the static engine linked whole: every object of it,
# with every symbol hidden but those the headers mark TAVREL_API, and a
# version script that lets out only the C calls (tavrel_*) and the C++
# namespace tavrel, whatever the compiler made visible (the standard library's
# template instances carry default visibility even in a hidden build).

# On a multiarch system (Debian and its kin) the library goes to
# lib/<triplet>, under any prefix: the loader, pkg-config and find_package all
# look there, and the Debian packages must use it. GNUInstallDirs alone picks
# it for the prefix /usr only, and the packages are staged from this tree.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
      "Object code libraries (lib)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The version a program sees in include/tavrel/version.h must be the one the
# build installs and packages.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/tavrel/version.h tavrel_version_lines
     REGEX "^#define TAVREL_VERSION_(MAJOR|MINOR|PATCH|STRING) ")
set(tavrel_header_version "")
foreach(part MAJOR MINOR PATCH)
  string(REGEX MATCH "TAVREL_VERSION_${part} ([0-9]+)" _ "${tavrel_version_lines}")
  list(APPEND tavrel_header_version "${CMAKE_MATCH_1}")
endforeach()
list(JOIN tavrel_header_version "." tavrel_header_version)
string(REGEX MATCH "TAVREL_VERSION_STRING \"([^\"]*)\"" _ "${tavrel_version_lines}")
if(NOT tavrel_header_version STREQUAL PROJECT_VERSION
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "include/tavrel/version.h says ${tavrel_header_version} "
                      "(\"${CMAKE_MATCH_1}\"), the project ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/include/tavrel/version.h)

if(NOT TARGET tavrel_engine)
  message(STATUS "No target tavrel_engine: the shared library is not built")
  return()
endif()

add_library(tavrel_shared SHARED ${PROJECT_SOURCE_DIR}/packaging/library_version.cpp)
add_library(tavrel::tavrel ALIAS tavrel_shared)
target_link_libraries(tavrel_shared PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,tavrel_engine>")
target_compile_definitions(tavrel_shared PRIVATE
  TAVREL_PROJECT_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  TAVREL_PROJECT_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  TAVREL_PROJECT_VERSION_PATCH=${PROJECT_VERSION_PATCH})
# The C++ header uses defaulted comparisons; the C header needs C99 only.
target_compile_features(tavrel_shared PUBLIC cxx_std_20)
target_include_directories(tavrel_shared PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set(tavrel_version_script ${PROJECT_SOURCE_DIR}/packaging/libtavrel.map)
target_link_options(tavrel_shared PRIVATE
  -Wl,--version-script=${tavrel_version_script} -Wl,--no-undefined)
set_target_properties(tavrel_shared PROPERTIES
  OUTPUT_NAME tavrel
  EXPORT_NAME tavrel
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  LINK_DEPENDS ${tavrel_version_script})
tavrel_set_warnings(tavrel_shared)

# Components: "library" is what a program needs at run time, "development"
# what it needs to be built; the Debian packages libtavrel0 and libtavrel-dev
# take one each (cmake/Packaging.cmake).
install(TARGETS tavrel_shared EXPORT tavrelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                NAMELINK_COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/tavrel/tavrel.hpp include/tavrel/tavrel.h include/tavrel/version.h
              include/tavrel/export.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavrel COMPONENT development)

set(tavrel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tavrel)
install(EXPORT tavrelTargets NAMESPACE tavrel:: DESTINATION ${tavrel_cmake_dir}
        COMPONENT development)
# 0.x releases may change the interface with every minor version, so a
# request for 0.1 is met by 0.1.z only.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tavrelConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES packaging/tavrelConfig.cmake ${PROJECT_BINARY_DIR}/tavrelConfigVersion.cmake
        DESTINATION ${tavrel_cmake_dir} COMPONENT development)

# tavrel.pc names the prefix the files are installed under, which
# `cmake --install --prefix` and the packages choose only when they install:
# so it is written then, from the template, before it is copied.
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(PROJECT_DESCRIPTION \"${PROJECT_DESCRIPTION}\")
  set(TAVREL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(TAVREL_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(TAVREL_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/tavrel.pc.in\"
                 \"${PROJECT_BINARY_DIR}/tavrel.pc\" @ONLY)"
  COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/tavrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

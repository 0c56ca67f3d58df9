# Read by cpack before it builds a package. Without dpkg-shlibdeps CPack would
# still write a .deb, only with no Depends field at all: a package that
# installs anywhere and may then fail to start. Stop instead.

if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  find_program(TAVREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(TAVREL_FILE_UTILITY file)
  if(NOT TAVREL_DPKG_SHLIBDEPS OR NOT TAVREL_FILE_UTILITY)
    message(FATAL_ERROR
      "The Debian package needs dpkg-shlibdeps and file to work out its dependencies: "
      "apt-get install dpkg-dev file")
  endif()
endif()

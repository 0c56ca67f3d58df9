# Whether the Python module can be built: python3 with its headers
# (Debian: python3-dev) and pybind11 (pybind11-dev). Debian's own python3
# unless -DPython3_EXECUTABLE names another. Sets TAVREL_PYTHON_MODULE, read by
# the packaging and by the root CMakeLists.txt, which adds python/ last.
#
# A sanitizer build leaves the module out: python3 cannot load a module built
# with AddressSanitizer, and the Python tests go with it.
set(TAVREL_PYTHON_MODULE OFF)
if(TAVREL_SANITIZE OR TAVREL_TSAN)
  return()
endif()
if(EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The python3 to build the module for")
endif()
find_package(Python3 COMPONENTS Interpreter Development.Module)
find_package(pybind11 CONFIG QUIET)
if(Python3_Development.Module_FOUND AND pybind11_FOUND)
  set(TAVREL_PYTHON_MODULE ON)
  # Where `cmake --install` puts the package tavrel/ so that Debian's python3
  # finds it: lib/python3/dist-packages under /usr (the place of Debian's own
  # modules), lib/python3.X/dist-packages under /usr/local; under any other
  # prefix that folder too, to be put on PYTHONPATH.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(dir lib/python3/dist-packages)
  else()
    set(dir lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/dist-packages)
  endif()
  math(EXPR TAVREL_PYTHON_NEXT_MINOR "${Python3_VERSION_MINOR} + 1")  # for the package's Depends
  set(TAVREL_PYTHON_INSTALL_DIR ${dir} CACHE STRING
      "Folder under the prefix for the Python package tavrel/")
else()
  message(STATUS "python3 headers or pybind11 not found: no Python module "
                 "(Debian: apt-get install python3-dev pybind11-dev)")
endif()

# find_package(tavrel) gives the imported target tavrel::tavrel: the shared
# library with its include directory. It needs nothing else at build time.
include(${CMAKE_CURRENT_LIST_DIR}/tavrelTargets.cmake)

# Floating point is part of the output: merge costs decide the cluster tree, so
# the compiler must not fuse multiply-adds or reassociate. Never add
# -ffast-math or -march=native here.
option(TAVREL_WERROR "Treat warnings as errors" OFF)

add_compile_options(-ffp-contract=off)

function(tavrel_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TAVREL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

option(TAVREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(TAVREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The engine's second thread (first rows, stale rows searched ahead) checked
# for data races; `make test-tsan` runs the differential tests built this way.
option(TAVREL_TSAN "Build with ThreadSanitizer" OFF)
if(TAVREL_TSAN)
  add_compile_options(-fsanitize=thread)
  add_link_options(-fsanitize=thread)
endif()

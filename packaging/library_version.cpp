// CMake wants at least one source of a library's own; everything libtavrel.so
// holds comes from the engine, linked whole (cmake/Library.cmake).

// Two halves of a piece of work on two threads, where the machine has a core
// for the second and the work is large enough to pay for starting it.
#pragma once

#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>

#include "progression/merge_tree.h"

namespace tavrel {

// Whether work of about this many simple steps is worth a second thread.
inline bool worthTwoThreads(std::size_t steps) {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  (void)steps;
  return false;  // no threads in a build without shared memory
#else
  return steps >= (std::size_t{1} << 16) && availableCores() > 1;
#endif
}

// Runs first here and second on a thread of its own when twoThreads (or
// after first when no thread can be had); either's exception is rethrown
// once both are done.
template <class First, class Second>
void inTwo(bool twoThreads, First&& first, Second&& second) {
  if (!twoThreads) {
    first();
    second();
    return;
  }
  std::exception_ptr failed;
  std::thread other;
  try {
    other = std::thread([&] {
      try {
        second();
      } catch (...) {
        failed = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    first();
    second();
    return;
  }
  try {
    first();
  } catch (...) {
    other.join();
    throw;
  }
  other.join();
  if (failed) std::rethrow_exception(failed);
}

}  // namespace tavrel

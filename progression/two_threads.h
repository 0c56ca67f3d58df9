// Two halves of a piece of work on two threads, where the machine has a core
// for the second and the work is large enough to pay for starting it.
#pragma once

#include <atomic>
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

// Two phases of work in pieces, shared between this thread and, when
// twoThreads, a second one: each takes the next piece of the first phase as
// it finishes one, waits until every piece of the first phase is done, then
// does the same with the second. first(piece, worker) and second(piece,
// worker) run on two threads at once, worker 0 or 1 saying which; they must
// not throw.
template <class First, class Second>
void inTwoPhases(bool twoThreads, std::size_t firstPieces, First&& first, std::size_t secondPieces,
                 Second&& second) {
  std::atomic<std::size_t> nextFirst{0}, nextSecond{0};
  std::atomic<int> started{0}, arrived{0};
  const auto work = [&](int worker) {
    // A worker that has not started by the time the other arrives has taken
    // no piece, so those that have started are all there is to wait for.
    started.fetch_add(1);
    for (std::size_t p; (p = nextFirst.fetch_add(1)) < firstPieces;) first(p, worker);
    arrived.fetch_add(1);
    while (arrived.load() < started.load()) std::this_thread::yield();
    for (std::size_t p; (p = nextSecond.fetch_add(1)) < secondPieces;) second(p, worker);
  };
  inTwo(
      twoThreads, [&] { work(0); }, [&] { work(1); });
}

}  // namespace tavrel

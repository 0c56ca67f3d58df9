// Threads: two builds at once, and many readers of one hierarchy, each giving
// what it gives alone. `make test-tsan` runs these under ThreadSanitizer.
#include <gtest/gtest.h>

#include <thread>

#include "library/library_support.h"

namespace tavrel {
namespace {

const std::string kSample = TAVREL_TEST_DATA "/../../examples/coffee-320x240.ppm";

TEST(LibraryThreads, TwoBuildsAtOnceGiveTheTreesOfOne) {
  const test::Photo photos[2] = {test::readPhoto(kSample),
                                 test::readPhoto(test::dataPath("coffee-24x16.ppm"))};
  std::vector<double> alone[2], together[2];
  for (int i = 0; i < 2; ++i) alone[i] = Hierarchy(photos[i].pixels(), {{}, 1}).linkage();
  // Each build may start the engine's second thread as well.
  std::thread other([&] { together[1] = Hierarchy(photos[1].pixels(), {{}, 2}).linkage(); });
  together[0] = Hierarchy(photos[0].pixels(), {{}, 2}).linkage();
  other.join();
  EXPECT_EQ(together[0], alone[0]);
  EXPECT_EQ(together[1], alone[1]);
}

TEST(LibraryThreads, ManyReadersOfOneHierarchy) {
  const test::Photo photo = test::readPhoto(test::dataPath("coffee-24x16.ppm"));
  const Hierarchy h(photo.pixels());
  // What each reader asks, answered once alone.
  auto ask = [&](std::uint32_t seed) {
    const std::uint32_t k = 2 + seed * 37 % (h.colours() - 1);
    std::vector<std::uint8_t> from(h.outputSize(OutputFormat::Rgb)), by(from.size());
    h.paint(k, {from.data(), from.size()});
    Cursor cursor(h, 1, {by.data(), by.size()});
    cursor.advanceTo(k);
    std::string answer(from.begin(), from.end());
    answer += std::string(by.begin(), by.end()) + h.pathLabel(k - 2);
    for (double m : h.meanDeltaE(k)) answer += std::to_string(m);
    answer += std::to_string(h.fewestColours(seed)) + std::to_string(h.palette(k).size());
    return answer;
  };
  constexpr int kReaders = 6;
  std::vector<std::string> alone, together(kReaders);
  for (int i = 0; i < kReaders; ++i) alone.push_back(ask(i));
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&, i] {
      for (int round = 0; round < 3; ++round) together[i] = ask(i);
    });
  }
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(together, alone);
}

}  // namespace
}  // namespace tavrel

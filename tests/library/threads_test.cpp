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

// Readers of a fresh hierarchy also make its CIELAB values together.
TEST(LibraryThreads, ManyReadersOfOneHierarchy) {
  const test::Photo photo = test::readPhoto(test::dataPath("coffee-24x16.ppm"));
  const Hierarchy first(photo.pixels()), fresh(photo.pixels());
  // What each reader asks, answered once alone.
  auto ask = [&](const Hierarchy& h, std::uint32_t seed) {
    const std::uint32_t k = 2 + seed * 37 % (h.colours() - 1);
    std::vector<std::uint8_t> from(h.outputSize(OutputFormat::Rgb)), by(from.size());
    h.paint(k, {from.data(), from.size()});
    Cursor cursor(h, 1, {by.data(), by.size()});
    cursor.advanceTo(k);
    std::string answer(from.begin(), from.end());
    answer += std::string(by.begin(), by.end()) + h.pathLabel(k - 2);
    for (double m : h.meanDeltaE(k)) answer += std::to_string(m);
    answer += std::to_string(h.fewestColours(seed)) + std::to_string(h.palette(k).size());
    h.paint(k, {from.data(), from.size()}, Remap::Nearest);
    answer += std::string(from.begin(), from.end()) + std::to_string(h.memoryBytes() > 0);
    for (double m : h.meanDeltaE(std::min(k, 9u), Remap::Nearest)) answer += std::to_string(m);
    return answer;
  };
  constexpr int kReaders = 6;
  std::vector<std::string> alone, together(kReaders);
  for (int i = 0; i < kReaders; ++i) alone.push_back(ask(first, i));
  std::vector<std::thread> readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.emplace_back([&, i] {
      for (int round = 0; round < 3; ++round) together[i] = ask(fresh, i);
    });
  }
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(together, alone);
}

// A photo with enough colours and pixels for nearest-colour painting to
// split both its search and its painting between two threads, against a
// plain search.
TEST(LibraryThreads, NearestPaintingInTwoHalvesMatchesAPlainSearch) {
  test::Photo photo{512, 512, {}};
  for (std::uint32_t y = 0; y < 512; ++y) {
    for (std::uint32_t x = 0; x < 512; ++x) {
      photo.rgb.insert(photo.rgb.end(), {static_cast<std::uint8_t>(x * 3 + y),
                                         static_cast<std::uint8_t>(y * 5 + x / 2),
                                         static_cast<std::uint8_t>(40 + y / 256 * 90)});
    }
  }
  const Hierarchy h(photo.pixels());
  ASSERT_GE(h.colours(), 65536u);
  int ties = 0;
  for (std::uint32_t k : {3u, 200u}) {
    std::vector<std::uint32_t> index(512 * 512);
    h.paint(k, {index.data(), index.size() * 4, 0, OutputFormat::Index32}, Remap::Nearest);
    EXPECT_EQ(index, test::nearestByBruteForce(photo, h.palette(k), ties)) << k;
  }
}

}  // namespace
}  // namespace tavrel

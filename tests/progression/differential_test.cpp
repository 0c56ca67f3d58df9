// The shipped engine against the literal reference engine, on seeded inputs:
// the same merges (pairs, costs to the bit, colours) and the same whole runs
// (messages, result, output image, dump files). Failures name their seed.
#include <gtest/gtest.h>

#include <random>

#include "cmdline/options.h"
#include "color/colour_difference.h"
#include "progression/colour_histogram.h"
#include "progression/merge_tree.h"
#include "reference/splitting.h"
#include "shell/progression_run.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

using test::Colours;
using test::pack;
using Counts = std::vector<std::int64_t>;

struct Merge {
  std::uint32_t left, right;
  double cost;
  PackedColor colour;
  bool operator==(const Merge& m) const {
    return std::tie(left, right, colour) == std::tie(m.left, m.right, m.colour) &&
           std::bit_cast<std::uint64_t>(cost) == std::bit_cast<std::uint64_t>(m.cost);
  }
};

std::ostream& operator<<(std::ostream& os, const Merge& m) {
  return os << m.left << "+" << m.right << " at " << std::hexfloat << m.cost << std::hex << " -> "
            << m.colour;
}

std::vector<Merge> shippedMerges(const Colours& colours, const Counts& counts, unsigned threads = 0,
                                 const EngineTest& test = {}) {
  const MergeTree tree = buildMergeTree(colours, counts, threads, test);
  std::vector<Merge> merges;
  for (std::uint32_t k = 0, node = tree.leafCount; k < tree.left.size(); ++k, ++node) {
    merges.push_back({tree.left[k], tree.right[k], tree.cost[node], tree.colour[node]});
  }
  return merges;
}

// The reference's merges, its nodes numbered as the shipped engine numbers
// them: colours by discovery, merged clusters by creation.
std::vector<Merge> referenceMerges(const Colours& colours, const Counts& counts) {
  using namespace reference;
  const std::uint32_t n = static_cast<std::uint32_t>(colours.size());
  ColorCluster* list = nullptr;  // newest first, as the histogram leaves it
  for (std::uint32_t i = 0; i < n; ++i) {
    ColorCluster* cluster = makeColorCluster();
    const PackedColor c = colours[i];
    addColorEntry(cluster, c & 0xFF, (c >> 8) & 0xFF, c >> 16, static_cast<int>(counts[i]));
    cluster->color = c;
    cluster->next = std::exchange(list, cluster);
  }
  ClusterNode* leaves = makeLeafNodes(list, static_cast<int>(n));
  std::map<const ClusterNode*, std::uint32_t> id;
  for (std::uint32_t i = 0; i < n; ++i) id[&leaves[i]] = n - 1 - i;
  std::vector<Merge> merges;
  ClusterNode* root = buildClusterTree(list, [&](const ClusterNode& inner) {
    id[&inner] = n + static_cast<std::uint32_t>(merges.size());
    merges.push_back(
        {id[inner.left], id[inner.right], inner.cluster->mergeCost, inner.cluster->color});
  });
  releaseClusterTree(root, leaves, static_cast<int>(n));
  return merges;
}

// A plain oracle for sets too large for the literal reference: every cluster
// keeps its cheapest older partner, ties to the newest (partners only ever
// disappear), and each merge takes the cheapest row, ties to the newest.
// LargeColourSets checks it against the reference first.
std::vector<Merge> rowMerges(const Colours& colours, const Counts& counts) {
  Colours colour = colours;
  std::vector<std::uint64_t> pixels(counts.begin(), counts.end()), sum[3];
  std::vector<LabColor> lab;  // black is measured as (1,1,1)
  const auto add = [&](PackedColor c) {
    colour.resize(std::max(colour.size(), lab.size() + 1), c);
    lab.push_back(c ? colourToLab(4, c & 0xFF, c >> 8 & 0xFF, c >> 16) : colourToLab(4, 1, 1, 1));
  };
  for (std::size_t i = 0; i < colours.size(); ++i) {
    add(colours[i]);
    for (int ch = 0; ch < 3; ++ch) sum[ch].push_back(pixels[i] * (colours[i] >> 8 * ch & 0xFF));
  }
  std::vector<char> alive(colour.size(), 1);
  std::vector<std::uint32_t> partner(colour.size());
  std::vector<double> best(colour.size());
  const auto refresh = [&](std::uint32_t x) {
    partner[x] = x;
    for (std::uint32_t y = x; y-- > 0;) {
      const double na = static_cast<double>(pixels[x]), nb = static_cast<double>(pixels[y]);
      const double cost = na * nb / (na + nb) * labDistance(lab[x], lab[y]);
      if (alive[y] && (partner[x] == x || cost < best[x])) best[x] = cost, partner[x] = y;
    }
  };
  for (std::uint32_t x = 0; x < colour.size(); ++x) refresh(x);
  std::vector<Merge> merges;
  for (std::size_t live = colours.size(); live > 1; --live) {
    std::uint32_t x = static_cast<std::uint32_t>(colour.size());
    for (std::uint32_t r = x; r-- > 0;) {
      if (alive[r] && partner[r] != r && (x == colour.size() || best[r] < best[x])) x = r;
    }
    const std::uint32_t y = partner[x], m = static_cast<std::uint32_t>(colour.size());
    alive[x] = alive[y] = 0;
    pixels.push_back(pixels[x] + pixels[y]);
    for (auto& s : sum) s.push_back(s[x] + s[y]);
    add(pack(static_cast<int>(sum[0][m] / pixels[m]), static_cast<int>(sum[1][m] / pixels[m]),
             static_cast<int>(sum[2][m] / pixels[m])));
    alive.push_back(1), partner.push_back(m), best.push_back(0);
    merges.push_back({x, y, best[x], colour[m]});
    for (std::uint32_t r = 0; r < m; ++r) {
      if (alive[r] && (partner[r] == x || partner[r] == y)) refresh(r);
    }
    refresh(m);
  }
  return merges;
}

void expectSameMerges(const std::vector<Merge>& got, const std::vector<Merge>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], want[k]) << "merge " << k;
}

using Engine = int (*)(ImageBuffer*, ImageBuffer*, const std::string&, int, bool*);

// A whole run in a fresh folder as one text: result, failure, messages, the
// output image and every file written.
std::string runEngine(Engine engine, std::uint32_t width, const Colours& pixels, int quietLevel,
                      int limit) {
  const std::uint32_t height = static_cast<std::uint32_t>(pixels.size()) / width;
  test::TempDir folder;
  test::MemoryImage input(width, height, pixels), output(width, height, {});
  const test::fs::path home = test::fs::current_path();
  test::fs::current_path(folder.path());  // dump names go in front of the output name
  setOptionValue(QuietLevelOption, quietLevel);
  bool failed = false;
  test::CapturedConsole console;
  std::string run = std::to_string(engine(input.get(), output.get(), "out.ppm", limit, &failed));
  run += (failed ? " failed\n" : "\n") + console.out() + "stderr: " + console.err() + "\n";
  resetOptions();
  test::fs::current_path(home);
  run += test::makePpm(width, height, output.pixels());
  for (const auto& [name, bytes] : test::entriesBelow(folder.path()))
    run += "\n" + name + ": " + bytes;
  return run;
}

// Few levels, mirrored pairs, black beside its stand-in (1,1,1), colours in
// arithmetic steps (truncated means land on colours that exist), grey ramps
// and plain noise; half the images give every colour the same pixel count.
TEST(Differential, TieProneImages) {
  const int limits[] = {0, 2, 3, 5, 256};
  for (unsigned seed = 1; seed <= 400 && !HasFailure(); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int size = 2 + below(14), levels = 2 + below(3), step = 1 + below(4);
    const int r = below(200), g = below(200), b = below(200);
    Colours palette;
    for (int i = 0; i < size; ++i) {
      const int m[] = {below(256), below(256), below(256)};
      const auto level = [&] { return below(levels) * 255 / (levels - 1); };
      const Colours kinds[] = {{pack(level(), level(), level())},
                               {pack(m[0], m[1], m[2]), pack(255 - m[0], 255 - m[1], 255 - m[2])},
                               {0, pack(1, 1, 1), pack(below(3), below(3), below(3))},
                               {pack(r + i * step % 50, g, b + i * step % 50)},
                               {pack(i * 17, i * 17, i * 17)},
                               {static_cast<PackedColor>(rng() & 0xFFFFFF)}};
      palette.insert(palette.end(), kinds[seed % 6].begin(), kinds[seed % 6].end());
    }
    for (std::size_t i = palette.size(); i-- > 0;) {  // each colour once, in order
      if (std::find(palette.begin(), palette.begin() + i, palette[i]) != palette.begin() + i) {
        palette.erase(palette.begin() + i);
      }
    }
    const std::uint32_t width = 1 + below(12);
    const bool evenCounts = rng() % 2;
    Colours pixels(width * (1 + below(10)));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      pixels[i] = palette[evenCounts ? i % palette.size() : rng() % palette.size()];
    }
    test::MemoryImage image(width, static_cast<std::uint32_t>(pixels.size()) / width, pixels);
    const ColourHistogram histogram = imageHistogram(image.get(), false);
    expectSameMerges(shippedMerges(histogram.colours, histogram.counts),
                     referenceMerges(histogram.colours, histogram.counts));
    const int quietLevel = 3, limit = limits[seed % 5];  // the paths show the split order
    EXPECT_EQ(runEngine(&runProgression, width, pixels, quietLevel, limit),
              runEngine(&reference::runProgression, width, pixels, quietLevel, limit))
        << "-Q" << quietLevel << " -C" << limit;
  }
}

// Colour sets where the partner search discards whole regions: spread or in
// tight groups, heavy-tailed pixel counts as in photos, and now and then a
// count in the billions (costs above 1e10, channel sums beyond 32 bits). Up to
// 200 colours against the reference, then up to 2,000 against the row oracle
// (its tie rules checked by the sets of repeated colours).
TEST(Differential, LargeColourSets) {
  for (unsigned seed = 1; seed <= 18 && !HasFailure(); ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::size_t n = seed <= 12 ? 60 + rng() % 140 : 500 + rng() % 1500;
    Colours colours;
    Counts counts;
    PackedColor centre = 0;
    while (colours.size() < n) {
      if (seed % 2 || colours.size() % 20 == 0) centre = rng() & 0xFFFFFF;
      PackedColor c = centre;
      for (int shift = 0; seed % 2 == 0 && shift < 24; shift += 8) {
        const int v = static_cast<int>(centre >> shift & 0xFF) + static_cast<int>(rng() % 7) - 3;
        c = (c & ~(0xFFu << shift)) | static_cast<PackedColor>(std::clamp(v, 0, 255)) << shift;
      }
      // Every third set repeats a few colours: exact ties everywhere, which
      // only the tie rules decide (an image never repeats a colour).
      if (seed % 3 == 0) c = pack(rng() % 3 * 127, rng() % 3 * 127, rng() % 2);
      if (seed % 3 && std::find(colours.begin(), colours.end(), c) != colours.end()) continue;
      colours.push_back(c);
      const unsigned r = rng() % 1000;
      counts.push_back(r < 700   ? 1
                       : r < 950 ? 1 + rng() % 20
                       : r < 998 ? 1 + rng() % 5000
                                 : 1u << 30);
    }
    const std::vector<Merge> expected =
        seed <= 12 ? referenceMerges(colours, counts) : rowMerges(colours, counts);
    if (seed <= 12) expectSameMerges(rowMerges(colours, counts), expected);
    expectSameMerges(shippedMerges(colours, counts), expected);
    // The second thread (half the first rows, then stale rows searched
    // ahead) only starts on photo-sized sets; forced here, it must build the
    // same tree.
    expectSameMerges(shippedMerges(colours, counts, 2), expected);
    // A helper that is always ahead serves every stale row it can; with
    // room for only 64 results, results for different rows share places in
    // the table. One allowed to fall only a few reports behind gives up
    // somewhere in the run and the loop goes on alone. All must build the
    // same tree.
    expectSameMerges(shippedMerges(colours, counts, 2, {.helperInStep = true}), expected);
    if (seed > 12) {
      expectSameMerges(shippedMerges(colours, counts, 2, {.helperInStep = true, .helperTable = 64}),
                       expected);
      expectSameMerges(shippedMerges(colours, counts, 2, {.helperLag = 4u << (seed % 4)}),
                       expected);
    }
  }
}

}  // namespace
}  // namespace tavrel

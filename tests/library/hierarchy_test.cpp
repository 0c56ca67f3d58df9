// The library against the command line on real photos: every image from
// scratch and by the cursor against the dumps, the split records against the
// step lines, the linkage and leaf colours against the photo's own colours,
// and the quality curve against a plain per-pixel measure.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

#include "library/library_support.h"

namespace tavrel {
namespace {

using test::Photo;

// The small photos and the sample photo.
void forEachPhoto(
    const std::function<void(const Photo&, const Hierarchy&, const std::string& path)>& check) {
  for (const char* name :
       {"chelsea-16x16.ppm", "coffee-24x16.ppm", "coffee-post-48x32.ppm", "motorcycle-16x16.ppm",
        "coffee-post1500-48x36.ppm", "hundred.ppm", "four.ppm", "two.ppm", "photo.ppm",
        "../../examples/coffee-320x240.ppm"}) {
    const std::string path = test::dataPath(name);
    SCOPED_TRACE(path);
    const Photo photo = test::readPhoto(path);
    check(photo, Hierarchy(photo.pixels()), path);
  }
}

std::vector<std::uint8_t> painted(const Hierarchy& h, std::uint32_t k) {
  std::vector<std::uint8_t> rgb(h.outputSize(OutputFormat::Rgb));
  h.paint(k, {rgb.data(), rgb.size(), 0, OutputFormat::Rgb});
  return rgb;
}

// Packed RGB rows out of a buffer of any format and stride, indices looked
// up in the palette for k; an alpha other than 255 spoils the pixel.
std::vector<std::uint8_t> unpacked(const Hierarchy& h, std::uint32_t k, const Output& out) {
  const std::vector<Colour> palette = h.palette(k);
  const std::size_t bytes = h.outputSize(out.format) / (h.width() * h.height());
  const std::size_t stride = out.rowStride ? out.rowStride : h.width() * bytes;
  std::vector<std::uint8_t> rgb;
  for (std::size_t y = 0; y < h.height(); ++y) {
    for (std::size_t x = 0; x < h.width(); ++x) {
      const std::uint8_t* p = static_cast<const std::uint8_t*>(out.data) + y * stride + x * bytes;
      std::uint32_t entry = 0;
      if (out.format == OutputFormat::Rgb || out.format == OutputFormat::Rgba) {
        rgb.insert(rgb.end(), p, p + 3);
        if (bytes == 4 && p[3] != 255) rgb.back() ^= 1;  // spoils the pixel: one failure, not many
        continue;
      }
      std::memcpy(&entry, p, bytes);  // little-endian
      EXPECT_LT(entry, k);
      rgb.insert(rgb.end(), {palette[entry].r, palette[entry].g, palette[entry].b});
    }
  }
  return rgb;
}

std::string colourText(const Colour& c) {
  return std::to_string(c.r) + ":" + std::to_string(c.g) + ":" + std::to_string(c.b);
}

TEST(Library, EveryImageMatchesTheCommandLinesDumps) {
  forEachPhoto([](const Photo& photo, const Hierarchy& h, const std::string& path) {
    const std::uint32_t n = h.colours(), limit = std::min(n, 256u);
    const test::CommandLineRun run = test::runCommandLine(path, 256);
    ASSERT_EQ(run.dumps.size(), limit - 1);

    // Three cursors at once: RGBA in padded rows, 8-bit and 32-bit indices.
    const std::size_t padded = photo.width * 4 + 5;
    std::vector<std::uint8_t> rgbaRows(h.outputSize(OutputFormat::Rgba, padded), 0xEE);
    std::vector<std::uint8_t> index8(h.outputSize(OutputFormat::Index8));
    std::vector<std::uint32_t> index32(photo.width * photo.height);
    const Output rgbaOut{rgbaRows.data(), rgbaRows.size(), padded, OutputFormat::Rgba};
    const Output index8Out{index8.data(), index8.size(), 0, OutputFormat::Index8};
    const Output index32Out{index32.data(), index32.size() * 4, 0, OutputFormat::Index32};
    Cursor rgbaCursor(h, 1, rgbaOut), index8Cursor(h, 1, index8Out),
        index32Cursor(h, 1, index32Out);

    const std::vector<std::uint8_t> one = painted(h, 1);
    for (std::size_t i = 0; i < one.size(); ++i) ASSERT_EQ(one[i], one[i % 3]) << i;
    EXPECT_EQ(unpacked(h, 1, rgbaOut), one);
    for (std::uint32_t k = 2; k <= limit; ++k) {
      SCOPED_TRACE("k = " + std::to_string(k));
      ASSERT_TRUE(rgbaCursor.next() && index8Cursor.next() && index32Cursor.next());
      const std::vector<std::uint8_t>& dump = run.dumps.at(k);
      ASSERT_EQ(painted(h, k), dump);
      ASSERT_EQ(unpacked(h, k, rgbaOut), dump);
      ASSERT_EQ(unpacked(h, k, index8Out), dump);
      ASSERT_EQ(unpacked(h, k, index32Out), dump);
    }
    // From scratch into the cursor's rows, and as RGB into rows padded as
    // much; neither touched the bytes between.
    h.paint(limit, rgbaOut);
    EXPECT_EQ(unpacked(h, limit, rgbaOut), run.dumps.at(limit));
    std::vector<std::uint8_t> rgbRows(h.outputSize(OutputFormat::Rgb, padded), 0xEE);
    const Output rgbOut{rgbRows.data(), rgbRows.size(), padded, OutputFormat::Rgb};
    h.paint(limit, rgbOut);
    EXPECT_EQ(unpacked(h, limit, rgbOut), run.dumps.at(limit));
    for (const std::vector<std::uint8_t>* rows : {&rgbaRows, &rgbRows}) {
      const std::size_t gap = rows == &rgbaRows ? 5 : photo.width + 5;
      for (std::size_t end = padded; end < rows->size(); end += padded) {
        ASSERT_EQ(std::string(rows->begin() + end - gap, rows->begin() + end),
                  std::string(gap, '\xEE'));
      }
    }
    // The photo itself at k = colours, painted from scratch in every format
    // that can hold n entries, and reached by a jump that repaints all.
    EXPECT_EQ(painted(h, n), photo.rgb);
    for (const OutputFormat format :
         {OutputFormat::Rgba, OutputFormat::Index8, OutputFormat::Index16, OutputFormat::Index32}) {
      if (format == OutputFormat::Index8 && n > 256) continue;  // all have fewer than 65,536
      std::vector<std::uint8_t> out(h.outputSize(format));
      const Output whole{out.data(), out.size(), 0, format};
      h.paint(n, whole);
      EXPECT_EQ(unpacked(h, n, whole), photo.rgb) << static_cast<int>(format);
    }
    index32Cursor.advanceTo(n);
    EXPECT_EQ(unpacked(h, n, index32Out), photo.rgb);
    EXPECT_FALSE(index32Cursor.next());

    // The split records and their paths as the steps print them.
    ASSERT_EQ(h.splits().size(), n - 1);
    ASSERT_EQ(run.pathLines.size(), limit - 1);
    for (std::uint32_t s = 0; s + 1 < limit; ++s) {
      const Split split = h.split(s);
      EXPECT_EQ(std::to_string(split.pixels), run.pixelLines[s]);
      EXPECT_EQ(colourText(split.left) + " " + colourText(split.right), run.colourLines[s]);
      EXPECT_EQ(h.pathLabel(s), run.pathLines[s]);
    }
  });
}

// The linkage and the leaf colours rebuilt from the photo alone: leaves in
// order of first appearance, each merge's colours below, and each split
// child's colour as the truncated pixel-weighted mean of its leaves; the
// layouts of the input (rows with padding, 4-byte pixels) change nothing.
TEST(Library, LinkageAndLeavesAgreeWithThePhotoAndTheSplits) {
  forEachPhoto([](const Photo& photo, const Hierarchy& h, const std::string&) {
    const std::uint32_t n = h.colours();
    // Per node: colours below, pixels and channel sums.
    std::vector<std::array<std::uint64_t, 5>> node;
    std::vector<Colour> leaves;
    std::map<std::uint32_t, std::uint32_t> leafOf;
    for (std::size_t i = 0; i < photo.rgb.size(); i += 3) {
      const std::uint8_t* p = &photo.rgb[i];
      const auto [at, fresh] = leafOf.emplace(p[0] | p[1] << 8 | p[2] << 16, leaves.size());
      if (fresh) leaves.push_back({p[0], p[1], p[2]}), node.push_back({1, 0, 0, 0, 0});
      auto& leaf = node[at->second];
      leaf[1] += 1, leaf[2] += p[0], leaf[3] += p[1], leaf[4] += p[2];
    }
    ASSERT_EQ(h.leafColours(), leaves);
    const std::vector<double> rows = h.linkage();
    ASSERT_EQ(rows.size(), 4u * (n - 1));
    std::vector<int> used(2 * n - 1, 0);
    auto colourOf = [&](double id) {
      const auto& s = node[static_cast<std::size_t>(id)];
      return Colour{static_cast<std::uint8_t>(s[2] / s[1]), static_cast<std::uint8_t>(s[3] / s[1]),
                    static_cast<std::uint8_t>(s[4] / s[1])};
    };
    for (std::uint32_t r = 0; r + 1 < n; ++r) {
      const auto left = static_cast<std::uint32_t>(rows[4 * r]);
      const auto right = static_cast<std::uint32_t>(rows[4 * r + 1]);
      ASSERT_LT(std::max(left, right), n + r);
      ASSERT_EQ(++used[left] + ++used[right], 2);
      node.emplace_back();
      for (int i = 0; i < 5; ++i) node.back()[i] = node[left][i] + node[right][i];
      EXPECT_EQ(rows[4 * r + 3], static_cast<double>(node.back()[0]));
    }
    for (const Split& s : h.splits()) {
      const std::uint32_t r = s.node - n;
      EXPECT_EQ(s.cost, rows[4 * r + 2]);
      EXPECT_EQ(s.pixels, node[s.node][1]);
      EXPECT_EQ(s.left, colourOf(rows[4 * r]));
      EXPECT_EQ(s.right, colourOf(rows[4 * r + 1]));
    }
    EXPECT_EQ(h.palette(1)[0], colourOf(2 * n - 2));
    EXPECT_LE(h.memoryBytes(), 4u * photo.width * photo.height + 64u * n + 1024);
    for (const auto& [bytes, pad] : {std::pair{3u, 7u}, {4u, 0u}}) {
      const std::size_t stride = photo.width * bytes + pad;
      const std::vector<std::uint8_t> data = test::relaid(photo, bytes, stride);
      const Hierarchy other({data.data(), photo.width, photo.height, stride,
                             bytes == 4 ? PixelFormat::Rgbx : PixelFormat::Rgb});
      EXPECT_EQ(other.leafColours(), leaves);
      EXPECT_EQ(other.linkage(), rows);
    }
  });
}

// Both curves against the mean of the painted images pixel by pixel, and the
// fewest colours just above and just below curve values (a curve need not
// fall at every k). Nearest-colour painting against a plain search (the black
// and (1, 1, 1) of some photos are ties at difference 0, and palettes that
// repeat a colour give more); its curve never above the painting by cluster.
TEST(Library, QualityCurvesAndNearestPaintingAgreeWithPlainComputations) {
  int ties = 0;
  forEachPhoto([&](const Photo& photo, const Hierarchy& h, const std::string&) {
    const std::uint32_t n = h.colours(), kmax = std::min(n, 300u);
    const std::vector<double> curve = h.meanDeltaE(n), nearest = h.meanDeltaE(kmax, Remap::Nearest);
    ASSERT_EQ(curve.size(), n);
    ASSERT_EQ(nearest.size(), kmax);
    EXPECT_EQ(h.meanDeltaE(std::min(n, 7u)),
              std::vector<double>(curve.begin(), curve.begin() + std::min(n, 7u)));
    auto expectCurveAt = [&](const std::vector<double>& c, Remap remap, std::uint32_t k,
                             const std::vector<std::uint8_t>& rgb) {
      const double plain = test::perPixelMean(photo.rgb, rgb);
      EXPECT_LE(std::fabs(c[k - 1] - plain), 1e-9 * std::max(c[k - 1], plain)) << plain;
      for (double target : {c[k - 1] * (1 + 1e-7), c[k - 1] * (1 - 1e-7)}) {
        const auto first = std::find_if(c.begin(), c.end(), [&](double m) { return m <= target; });
        const auto fewest = static_cast<std::uint32_t>(first - c.begin() + 1);
        EXPECT_TRUE(first == c.end() || h.fewestColours(target, remap) == fewest) << target;
      }
    };
    std::vector<std::uint32_t> ks;
    for (std::uint32_t k = 1; k <= n; k += k < 40 ? 1 : k < 300 ? 37 : n / 7 + 1) ks.push_back(k);
    ks.insert(ks.end(), {kmax, n - 1 > 0 ? n - 1 : 1, n});
    for (std::uint32_t k : ks) {
      SCOPED_TRACE("k = " + std::to_string(k));
      expectCurveAt(curve, Remap::Cluster, k, painted(h, k));
      // A plain search costs colours × k: on the large photo, a few k only.
      if (n > 2000 ? k > 6 && k != 114 && k != kmax : k > kmax && k < n) continue;
      const std::vector<Colour> palette = h.palette(k);
      const std::vector<std::uint32_t> expected = test::nearestByBruteForce(photo, palette, ties);
      std::vector<std::uint32_t> index(expected.size());
      h.paint(k, {index.data(), index.size() * 4, 0, OutputFormat::Index32}, Remap::Nearest);
      ASSERT_EQ(index, expected);
      std::vector<std::uint8_t> rgb;
      for (std::uint32_t e : expected)
        rgb.insert(rgb.end(), {palette[e].r, palette[e].g, palette[e].b});
      const std::size_t padded = photo.width * 4 + 3;
      std::vector<std::uint8_t> rgba(h.outputSize(OutputFormat::Rgba, padded));
      const Output rgbaOut{rgba.data(), rgba.size(), padded, OutputFormat::Rgba};
      h.paint(k, rgbaOut, Remap::Nearest);
      EXPECT_EQ(unpacked(h, k, rgbaOut), rgb);
      if (k > kmax) continue;
      expectCurveAt(nearest, Remap::Nearest, k, rgb);
      EXPECT_LE(nearest[k - 1], curve[k - 1] * (1 + 1e-12));
    }
    EXPECT_EQ(curve[n - 1], 0.0);
    EXPECT_EQ(h.fewestColours(1e300), 1u);
    EXPECT_EQ(h.fewestColours(1e300, Remap::Nearest), 1u);
  });
  EXPECT_GT(ties, 0);
}

// Rows longer than the stretch between two looks at the clock, and a
// column; the colours and the photo come back whole.
TEST(Library, VeryWideAndVeryTallImages) {
  for (const auto& [width, height] : {std::pair{200000u, 2u}, {1u, 70000u}}) {
    Photo photo{width, height, {}};
    for (std::uint32_t i = 0; i < width * height; ++i) {
      photo.rgb.insert(photo.rgb.end(), {static_cast<std::uint8_t>(i / 1000 % 7 * 30),
                                         static_cast<std::uint8_t>(i % 3 * 90), 17});
    }
    const Hierarchy h(photo.pixels());
    EXPECT_EQ(h.colours(), 21u);
    EXPECT_EQ(painted(h, 21), photo.rgb);
  }
}

}  // namespace
}  // namespace tavrel

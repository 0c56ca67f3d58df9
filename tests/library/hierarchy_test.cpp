// The library against the command line on real photos: every image from
// scratch and by the cursor against the dumps, the split records against the
// step lines, the linkage and leaf colours against the photo's own colours,
// and the quality curve against a plain per-pixel measure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "library/library_support.h"

namespace tavrel {
namespace {

using test::Photo;

const std::string kSample = TAVREL_TEST_DATA "/../../examples/coffee-320x240.ppm";
const std::vector<std::string> kPhotos = {"chelsea-16x16.ppm",
                                          "coffee-24x16.ppm",
                                          "coffee-post-48x32.ppm",
                                          "motorcycle-16x16.ppm",
                                          "coffee-post1500-48x36.ppm",
                                          "hundred.ppm",
                                          "four.ppm",
                                          "two.ppm",
                                          "photo.ppm"};

std::string pathOf(const std::string& name) {
  return name.starts_with("/") ? name : test::dataPath(name);
}

std::string ppm(const Photo& photo, const std::vector<std::uint8_t>& rgb) {
  const std::string header =
      "P6\n" + std::to_string(photo.width) + " " + std::to_string(photo.height) + "\n255\n";
  return header + std::string(rgb.begin(), rgb.end());
}

std::vector<std::uint8_t> painted(const Hierarchy& h, std::uint32_t k) {
  std::vector<std::uint8_t> rgb(h.outputSize(OutputFormat::Rgb));
  h.paint(k, {rgb.data(), rgb.size(), 0, OutputFormat::Rgb});
  return rgb;
}

// Packed RGB rows out of a buffer of any format and stride, indices looked
// up in the palette for k.
std::vector<std::uint8_t> unpacked(const Hierarchy& h, std::uint32_t k, const Output& out) {
  const std::vector<Colour> palette = h.palette(k);
  const std::size_t bytes = out.format == OutputFormat::Rgb       ? 3
                            : out.format == OutputFormat::Index8  ? 1
                            : out.format == OutputFormat::Index16 ? 2
                                                                  : 4;
  const std::size_t stride = out.rowStride ? out.rowStride : h.width() * bytes;
  std::vector<std::uint8_t> rgb;
  for (std::size_t y = 0; y < h.height(); ++y) {
    for (std::size_t x = 0; x < h.width(); ++x) {
      const std::uint8_t* p = static_cast<const std::uint8_t*>(out.data) + y * stride + x * bytes;
      std::uint32_t entry = 0;
      switch (out.format) {
        case OutputFormat::Rgb:
        case OutputFormat::Rgba:
          rgb.insert(rgb.end(), p, p + 3);
          if (out.format == OutputFormat::Rgba) {
            EXPECT_EQ(p[3], 255);
          }
          continue;
        default:
          std::memcpy(&entry, p, bytes);  // little-endian
      }
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
  std::vector<std::string> photos = kPhotos;
  photos.push_back(kSample);
  for (const std::string& name : photos) {
    SCOPED_TRACE(name);
    const Photo photo = test::readPhoto(pathOf(name));
    const Hierarchy h(photo.pixels());
    const std::uint32_t n = h.colours(), limit = std::min(n, 256u);
    const test::CommandLineRun run = test::runCommandLine(pathOf(name), 256);
    ASSERT_EQ(run.dumps.size(), limit - 1);

    // Three cursors at once: RGB in padded rows, 8-bit and 32-bit indices.
    const std::size_t padded = photo.width * 3 + 5;
    std::vector<std::uint8_t> rgbRows(h.outputSize(OutputFormat::Rgb, padded), 0xEE);
    std::vector<std::uint8_t> index8(h.outputSize(OutputFormat::Index8));
    std::vector<std::uint32_t> index32(photo.width * photo.height);
    const Output rgbOut{rgbRows.data(), rgbRows.size(), padded, OutputFormat::Rgb};
    const Output index8Out{index8.data(), index8.size(), 0, OutputFormat::Index8};
    const Output index32Out{index32.data(), index32.size() * 4, 0, OutputFormat::Index32};
    Cursor rgbCursor(h, 1, rgbOut), index8Cursor(h, 1, index8Out), index32Cursor(h, 1, index32Out);

    const std::vector<std::uint8_t> one = painted(h, 1);
    for (std::size_t i = 0; i < one.size(); ++i) ASSERT_EQ(one[i], one[i % 3]) << i;
    EXPECT_EQ(unpacked(h, 1, rgbOut), one);
    for (std::uint32_t k = 2; k <= limit; ++k) {
      SCOPED_TRACE("k = " + std::to_string(k));
      ASSERT_TRUE(rgbCursor.next() && index8Cursor.next() && index32Cursor.next());
      const std::string& dump = run.dumps.at(static_cast<int>(k));
      ASSERT_EQ(ppm(photo, painted(h, k)), dump);
      ASSERT_EQ(ppm(photo, unpacked(h, k, rgbOut)), dump);
      ASSERT_EQ(ppm(photo, unpacked(h, k, index8Out)), dump);
      ASSERT_EQ(ppm(photo, unpacked(h, k, index32Out)), dump);
    }
    // From scratch into the cursor's rows; neither touched the bytes between.
    h.paint(limit, rgbOut);
    EXPECT_EQ(ppm(photo, unpacked(h, limit, rgbOut)), run.dumps.at(static_cast<int>(limit)));
    for (std::size_t end = padded; end < rgbRows.size(); end += padded) {
      ASSERT_EQ(std::string(rgbRows.begin() + end - 5, rgbRows.begin() + end),
                "\xEE\xEE\xEE\xEE\xEE");
    }
    // The photo itself at k = colours, painted from scratch in every format
    // that can hold n entries, and reached by a jump that repaints all.
    EXPECT_EQ(painted(h, n), photo.rgb);
    for (const OutputFormat format :
         {OutputFormat::Rgba, OutputFormat::Index8, OutputFormat::Index16, OutputFormat::Index32}) {
      if ((format == OutputFormat::Index8 && n > 256) ||
          (format == OutputFormat::Index16 && n > 65536)) {
        continue;
      }
      std::vector<std::uint8_t> out(h.outputSize(format));
      const Output whole{out.data(), out.size(), 0, format};
      h.paint(n, whole);
      EXPECT_EQ(unpacked(h, n, whole), photo.rgb) << static_cast<int>(format);
    }
    index32Cursor.advanceTo(n);
    EXPECT_EQ(unpacked(h, n, index32Out), photo.rgb);
    EXPECT_FALSE(index32Cursor.next());
    EXPECT_EQ(index32Cursor.k(), n);
    EXPECT_THROW(index8Cursor.advanceTo(257), InvalidArgument);

    // The split records and their paths as the steps print them.
    const std::vector<Split> splits = h.splits();
    ASSERT_EQ(splits.size(), n - 1);
    ASSERT_EQ(run.pathLines.size(), limit - 1);
    for (std::uint32_t s = 0; s + 1 < limit; ++s) {
      EXPECT_EQ(std::to_string(splits[s].pixels), run.pixelLines[s]);
      EXPECT_EQ(colourText(splits[s].left) + " " + colourText(splits[s].right), run.colourLines[s]);
      EXPECT_EQ(h.pathLabel(s), run.pathLines[s]);
    }
  }
}

// Every palette differs from the one before in one entry and one more, and
// the layouts of the input (rows with padding, 4-byte pixels) change nothing.
TEST(Library, PalettesAreNestedAndInputLayoutsAgree) {
  for (const std::string& name : kPhotos) {
    SCOPED_TRACE(name);
    const Photo photo = test::readPhoto(pathOf(name));
    const Hierarchy h(photo.pixels());
    std::vector<Colour> before = h.palette(1);
    for (std::uint32_t k = 2; k <= h.colours(); ++k) {
      const std::vector<Colour> palette = h.palette(k);
      ASSERT_EQ(palette.size(), k);
      int changed = 0;
      for (std::uint32_t e = 0; e + 1 < k; ++e) changed += palette[e] == before[e] ? 0 : 1;
      ASSERT_LE(changed, 1) << "k = " << k;
      before = palette;
    }
    for (const auto& [bytes, pad] : {std::pair{3u, 7u}, {4u, 0u}, {4u, 12u}}) {
      const std::vector<std::uint8_t> data = test::relaid(photo, bytes, photo.width * bytes + pad);
      const Hierarchy other({data.data(), photo.width, photo.height, photo.width * bytes + pad,
                             bytes == 4 ? PixelFormat::Rgbx : PixelFormat::Rgb});
      EXPECT_EQ(other.leafColours(), h.leafColours());
      EXPECT_EQ(other.linkage(), h.linkage());
      EXPECT_EQ(painted(other, other.colours()), photo.rgb);
    }
  }
}

// The linkage and the leaf colours rebuilt from the photo alone: leaves in
// order of first appearance, each merge's colours below, and each split
// child's colour as the truncated pixel-weighted mean of its leaves.
TEST(Library, LinkageAndLeavesAgreeWithThePhotoAndTheSplits) {
  std::vector<std::string> photos = kPhotos;
  photos.push_back(kSample);
  for (const std::string& name : photos) {
    SCOPED_TRACE(name);
    const Photo photo = test::readPhoto(pathOf(name));
    const Hierarchy h(photo.pixels());
    const std::uint32_t n = h.colours();
    std::vector<Colour> leaves;
    std::map<std::uint32_t, std::uint32_t> leafOf;
    std::vector<std::uint64_t> count;
    for (std::size_t i = 0; i < photo.rgb.size(); i += 3) {
      const std::uint32_t key = photo.rgb[i] | photo.rgb[i + 1] << 8 | photo.rgb[i + 2] << 16;
      if (leafOf.emplace(key, leaves.size()).second) {
        leaves.push_back({photo.rgb[i], photo.rgb[i + 1], photo.rgb[i + 2]});
        count.push_back(0);
      }
      ++count[leafOf[key]];
    }
    ASSERT_EQ(h.leafColours(), leaves);
    const std::vector<double> rows = h.linkage();
    ASSERT_EQ(rows.size(), 4u * (n - 1));
    // Per node: colours below, pixels and channel sums.
    std::vector<std::uint64_t> below(n, 1), pixels = count, sum[3];
    for (std::uint32_t i = 0; i < n; ++i) {
      sum[0].push_back(count[i] * leaves[i].r);
      sum[1].push_back(count[i] * leaves[i].g);
      sum[2].push_back(count[i] * leaves[i].b);
    }
    std::vector<int> used(2 * n - 1, 0);
    auto colourOf = [&](std::size_t node) {
      return Colour{static_cast<std::uint8_t>(sum[0][node] / pixels[node]),
                    static_cast<std::uint8_t>(sum[1][node] / pixels[node]),
                    static_cast<std::uint8_t>(sum[2][node] / pixels[node])};
    };
    for (std::uint32_t r = 0; r + 1 < n; ++r) {
      const auto left = static_cast<std::uint32_t>(rows[4 * r]);
      const auto right = static_cast<std::uint32_t>(rows[4 * r + 1]);
      ASSERT_LT(std::max(left, right), n + r);
      ASSERT_EQ(++used[left] + ++used[right], 2);
      below.push_back(below[left] + below[right]);
      pixels.push_back(pixels[left] + pixels[right]);
      for (auto& s : sum) s.push_back(s[left] + s[right]);
      EXPECT_EQ(rows[4 * r + 3], static_cast<double>(below.back()));
    }
    EXPECT_EQ(below.back(), n);
    for (const Split& s : h.splits()) {
      const std::uint32_t r = s.node - n;
      EXPECT_EQ(s.cost, rows[4 * r + 2]);
      EXPECT_EQ(s.pixels, pixels[s.node]);
      EXPECT_EQ(s.left, colourOf(static_cast<std::size_t>(rows[4 * r])));
      EXPECT_EQ(s.right, colourOf(static_cast<std::size_t>(rows[4 * r + 1])));
    }
    EXPECT_EQ(h.palette(1)[0], colourOf(2 * n - 2));
    EXPECT_LE(h.memoryBytes(), 4u * photo.width * photo.height + 64u * n + 1024);
  }
}

double relativeGap(double a, double b) {
  return a == b ? 0 : std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
}

// The curve against the mean of the painted images pixel by pixel; the
// fewest colours just above and just below curve values, where the curve
// need not fall at every k.
TEST(Library, QualityCurveAgreesWithAPerPixelMeasure) {
  std::vector<std::string> photos = kPhotos;
  photos.push_back(kSample);
  for (const std::string& name : photos) {
    SCOPED_TRACE(name);
    const Photo photo = test::readPhoto(pathOf(name));
    const Hierarchy h(photo.pixels());
    const std::uint32_t n = h.colours();
    const std::vector<double> curve = h.meanDeltaE(n);
    ASSERT_EQ(curve.size(), n);
    EXPECT_EQ(h.meanDeltaE(std::min(n, 7u)),
              std::vector<double>(curve.begin(), curve.begin() + std::min(n, 7u)));
    std::vector<std::uint32_t> ks;
    for (std::uint32_t k = 1; k <= n; k += k < 40 ? 1 : k < 300 ? 37 : n / 7 + 1) ks.push_back(k);
    ks.insert(ks.end(), {n - 1 > 0 ? n - 1 : 1, n});
    for (std::uint32_t k : ks) {
      SCOPED_TRACE("k = " + std::to_string(k));
      const double plain = test::perPixelMean(photo.rgb, painted(h, k));
      EXPECT_LT(relativeGap(curve[k - 1], plain), 1e-9) << curve[k - 1] << " " << plain;
    }
    EXPECT_EQ(curve[n - 1], 0.0);
    auto firstAtOrBelow = [&](double target) {
      std::uint32_t k = 1;
      while (curve[k - 1] > target) ++k;
      return k;
    };
    for (std::uint32_t k : ks) {
      for (double factor : {1 + 1e-7, 1 - 1e-7}) {
        const double target = curve[k - 1] * factor;
        EXPECT_EQ(h.fewestColours(target), firstAtOrBelow(target))
            << "k = " << k << " x " << factor;
      }
    }
    EXPECT_EQ(h.fewestColours(0), firstAtOrBelow(0));  // black and (1, 1, 1) measure alike
    EXPECT_EQ(h.fewestColours(1e300), 1u);
  }
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

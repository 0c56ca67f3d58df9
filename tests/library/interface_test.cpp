// The calls' contracts: one table of bad arguments for the C++ and the C
// interface, the C interface against the C++ one, and cancellation at every
// report a build makes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "library/library_support.h"
#include "tavrel/tavrel.h"

namespace tavrel {
namespace {

// 300 colours in a 30 × 10 image: more than 8-bit indices hold.
test::Photo manyColours() {
  test::Photo photo{30, 10, {}};
  for (int i = 0; i < 300; ++i) {
    photo.rgb.insert(photo.rgb.end(), {static_cast<std::uint8_t>(i % 17 * 15),
                                       static_cast<std::uint8_t>(i / 17 * 14), 99});
  }
  return photo;
}

TEST(LibraryInterface, BadArgumentsAreRefusedByBothInterfaces) {
  const test::Photo photo = manyColours();
  const Hierarchy h(photo.pixels());
  tavrel_hierarchy* c = nullptr;
  ASSERT_EQ(tavrel_build(photo.rgb.data(), 30, 10, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 0, &c,
                         nullptr),
            TAVREL_OK);
  ASSERT_EQ(h.colours(), 300u);
  std::vector<std::uint8_t> buffer(30 * 10 * 4 + 64, 0x5A);
  const std::vector<std::uint8_t> untouched = buffer;
  std::uint8_t* out = buffer.data();
  const std::size_t rgbSize = 30 * 10 * 3;
  const auto format = static_cast<OutputFormat>(9);
  const auto cFormat = static_cast<tavrel_output_format>(9);
  const double nan = std::nan("");
  const std::uint8_t* px = photo.rgb.data();
  tavrel_hierarchy* built = nullptr;
  tavrel_cursor* cursor = nullptr;
  std::uint32_t k = 77;
  double means[300];
  tavrel_split split{};
  char text[4];
  const struct {
    const char* what;
    std::function<void()> cxx;
    std::function<tavrel_status()> c;
  } cases[] = {
      {"no pixel data",
       [&] {
         Hierarchy({nullptr, 30, 10});
       },
       [&] {
         return tavrel_build(nullptr, 30, 10, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 0, &built,
                             nullptr);
       }},
      {"zero width",
       [&] {
         Hierarchy({px, 0, 10});
       },
       [&] {
         return tavrel_build(px, 0, 10, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 0, &built, nullptr);
       }},
      {"zero height",
       [&] {
         Hierarchy({px, 30, 0});
       },
       [&] {
         return tavrel_build(px, 30, 0, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 0, &built, nullptr);
       }},
      {"RGB stride below 3 a pixel",
       [&] {
         Hierarchy({px, 30, 10, 89});
       },
       [&] {
         return tavrel_build(px, 30, 10, 89, TAVREL_PIXELS_RGB, nullptr, nullptr, 0, &built,
                             nullptr);
       }},
      {"RGBX stride below 4 a pixel",
       [&] {
         Hierarchy({px, 30, 10, 119, PixelFormat::Rgbx});
       },
       [&] {
         return tavrel_build(px, 30, 10, 119, TAVREL_PIXELS_RGBX, nullptr, nullptr, 0, &built,
                             nullptr);
       }},
      {"rows beyond the address space",
       [&] {
         Hierarchy({px, 30, 10, SIZE_MAX / 4});
       },
       [&] {
         return tavrel_build(px, 30, 10, SIZE_MAX / 4, TAVREL_PIXELS_RGB, nullptr, nullptr, 0,
                             &built, nullptr);
       }},
      {"unknown pixel format",
       [&] {
         Hierarchy({px, 30, 10, 0, static_cast<PixelFormat>(7)});
       },
       [&] {
         return tavrel_build(px, 30, 10, 0, static_cast<tavrel_pixel_format>(7), nullptr, nullptr,
                             0, &built, nullptr);
       }},
      {"palette of 0", [&] { h.palette(0); }, [&] { return tavrel_palette(c, 0, out, 900); }},
      {"palette beyond the colours", [&] { h.palette(301); },
       [&] { return tavrel_palette(c, 301, out, 903); }},
      {"palette buffer too small", nullptr, [&] { return tavrel_palette(c, 5, out, 14); }},
      {"paint k 0",
       [&] {
         h.paint(0, {out, rgbSize});
       },
       [&] { return tavrel_paint(c, 0, TAVREL_OUTPUT_RGB, out, rgbSize, 0); }},
      {"paint beyond the colours",
       [&] {
         h.paint(301, {out, rgbSize});
       },
       [&] { return tavrel_paint(c, 301, TAVREL_OUTPUT_RGB, out, rgbSize, 0); }},
      {"paint without a buffer",
       [&] {
         h.paint(2, {nullptr, rgbSize});
       },
       [&] { return tavrel_paint(c, 2, TAVREL_OUTPUT_RGB, nullptr, rgbSize, 0); }},
      {"paint buffer a byte short",
       [&] {
         h.paint(2, {out, rgbSize - 1});
       },
       [&] { return tavrel_paint(c, 2, TAVREL_OUTPUT_RGB, out, rgbSize - 1, 0); }},
      {"padded rows a byte short",
       [&] {
         h.paint(2, {out, 9 * 95 + 90 - 1, 95});
       },
       [&] { return tavrel_paint(c, 2, TAVREL_OUTPUT_RGB, out, 9 * 95 + 90 - 1, 95); }},
      {"paint stride too small",
       [&] {
         h.paint(2, {out, rgbSize, 89});
       },
       [&] { return tavrel_paint(c, 2, TAVREL_OUTPUT_RGB, out, rgbSize, 89); }},
      {"16-bit stride not a multiple of 2",
       [&] {
         h.paint(2, {out, 1000, 61, OutputFormat::Index16});
       },
       [&] { return tavrel_paint(c, 2, TAVREL_OUTPUT_INDEX16, out, 1000, 61); }},
      {"8-bit indices for 257 colours",
       [&] {
         h.paint(257, {out, 300, 0, OutputFormat::Index8});
       },
       [&] { return tavrel_paint(c, 257, TAVREL_OUTPUT_INDEX8, out, 300, 0); }},
      {"unknown output format",
       [&] {
         h.paint(2, {out, 1200, 0, format});
       },
       [&] { return tavrel_paint(c, 2, cFormat, out, 1200, 0); }},
      {"output size of a stride too small", [&] { h.outputSize(OutputFormat::Rgba, 119); },
       [&] {
         return tavrel_output_size(c, TAVREL_OUTPUT_RGBA, 119) == 0 ? TAVREL_INVALID_ARGUMENT
                                                                    : TAVREL_OK;
       }},
      {"split beyond the last step", [&] { h.split(299); },
       [&] { return tavrel_split_at(c, 299, &split); }},
      {"split without a place", nullptr, [&] { return tavrel_split_at(c, 0, nullptr); }},
      {"path beyond the last step", [&] { h.pathLabel(299); },
       [&] { return tavrel_path_label(c, 299, text, 4, nullptr); }},
      {"means for 0", [&] { h.meanDeltaE(0); },
       [&] { return tavrel_mean_delta_e(c, 0, means, 300); }},
      {"means beyond the colours", [&] { h.meanDeltaE(301); },
       [&] { return tavrel_mean_delta_e(c, 301, means, 301); }},
      {"means buffer too small", nullptr, [&] { return tavrel_mean_delta_e(c, 20, means, 19); }},
      {"negative target", [&] { h.fewestColours(-0.5); },
       [&] { return tavrel_fewest_colours(c, -0.5, &k); }},
      {"NaN target", [&] { h.fewestColours(nan); },
       [&] { return tavrel_fewest_colours(c, nan, &k); }},
      {"linkage buffer too small", nullptr, [&] { return tavrel_linkage(c, means, 299 * 4 - 1); }},
      {"leaf colours buffer too small", nullptr, [&] { return tavrel_leaf_colours(c, out, 899); }},
      {"cursor at 0",
       [&] {
         Cursor(h, 0, {out, rgbSize});
       },
       [&] { return tavrel_cursor_new(c, 0, TAVREL_OUTPUT_RGB, out, rgbSize, 0, &cursor); }},
      {"cursor without a buffer",
       [&] {
         Cursor(h, 3, {nullptr, rgbSize});
       },
       [&] { return tavrel_cursor_new(c, 3, TAVREL_OUTPUT_RGB, nullptr, rgbSize, 0, &cursor); }},
      {"no handle", nullptr,
       [&] { return tavrel_paint(nullptr, 2, TAVREL_OUTPUT_RGB, out, rgbSize, 0); }},
      {"no cursor", nullptr, [&] { return tavrel_cursor_advance(nullptr, 2); }},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.what);
    if (row.cxx) {
      EXPECT_THROW(row.cxx(), InvalidArgument);
    }
    EXPECT_EQ(row.c(), TAVREL_INVALID_ARGUMENT);
    EXPECT_EQ(buffer, untouched);
    EXPECT_TRUE(built == nullptr && cursor == nullptr && k == 77);
  }

  // A cursor refuses to go back, beyond the colours, or past its index width.
  Cursor back(h, 5, {out, 300, 0, OutputFormat::Index8});
  EXPECT_THROW(back.advanceTo(4), InvalidArgument);
  EXPECT_THROW(back.advanceTo(301), InvalidArgument);
  back.advanceTo(256);
  EXPECT_THROW(back.next(), InvalidArgument);
  EXPECT_EQ(back.k(), 256u);
  ASSERT_EQ(tavrel_cursor_new(c, 5, TAVREL_OUTPUT_INDEX16, out, 600, 0, &cursor), TAVREL_OK);
  EXPECT_EQ(tavrel_cursor_advance(cursor, 4), TAVREL_INVALID_ARGUMENT);
  EXPECT_EQ(tavrel_cursor_k(cursor), 5u);
  tavrel_cursor_free(cursor);

  // A label too long for its buffer still tells its length.
  std::size_t length = 0;
  EXPECT_EQ(tavrel_path_label(c, 298, text, 4, &length), TAVREL_INVALID_ARGUMENT);
  EXPECT_EQ(length, h.pathLabel(298).size());
  EXPECT_GT(length, 3u);
  EXPECT_EQ(tavrel_width(nullptr) + tavrel_colours(nullptr) + tavrel_memory_bytes(nullptr), 0u);
  EXPECT_STREQ(tavrel_status_text(TAVREL_CANCELLED), "cancelled");
  tavrel_free(c);
}

// Every C call gives what its C++ counterpart gives.
TEST(LibraryInterface, TheCInterfaceAnswersAsTheCppOne) {
  const test::Photo photo = test::readPhoto(test::dataPath("chelsea-16x16.ppm"));
  const std::vector<std::uint8_t> rgbx = test::relaid(photo, 4, 16 * 4 + 8);
  const Hierarchy h(photo.pixels());
  const std::uint32_t n = h.colours();
  tavrel_hierarchy* c = nullptr;
  std::uint32_t colours = 0;
  ASSERT_EQ(
      tavrel_build(rgbx.data(), 16, 16, 72, TAVREL_PIXELS_RGBX, nullptr, nullptr, 1, &c, &colours),
      TAVREL_OK);
  EXPECT_EQ(colours, n);
  EXPECT_EQ(tavrel_width(c) * 100 + tavrel_height(c), 1616u);
  EXPECT_EQ(tavrel_memory_bytes(c), h.memoryBytes());
  EXPECT_STREQ(tavrel_version(), TAVREL_VERSION_STRING);

  std::vector<std::uint8_t> rgb(3 * n);
  ASSERT_EQ(tavrel_leaf_colours(c, rgb.data(), rgb.size()), TAVREL_OK);
  for (std::uint32_t i = 0; i < n; ++i) {
    EXPECT_EQ((Colour{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]}), h.leafColours()[i]);
  }
  ASSERT_EQ(tavrel_palette(c, 9, rgb.data(), 27), TAVREL_OK);
  for (std::uint32_t i = 0; i < 9; ++i) {
    EXPECT_EQ((Colour{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]}), h.palette(9)[i]);
  }
  std::vector<double> linkage((n - 1) * 4), means(n);
  ASSERT_EQ(tavrel_linkage(c, linkage.data(), linkage.size()), TAVREL_OK);
  EXPECT_EQ(linkage, h.linkage());
  ASSERT_EQ(tavrel_mean_delta_e(c, n, means.data(), n), TAVREL_OK);
  EXPECT_EQ(means, h.meanDeltaE(n));
  std::uint32_t k = 0;
  ASSERT_EQ(tavrel_fewest_colours(c, 3.0, &k), TAVREL_OK);
  EXPECT_EQ(k, h.fewestColours(3.0));
  for (std::uint32_t step : {0u, 7u, n - 2}) {
    tavrel_split s;
    ASSERT_EQ(tavrel_split_at(c, step, &s), TAVREL_OK);
    const Split want = h.split(step);
    EXPECT_EQ(s.node, want.node);
    EXPECT_EQ(s.pixels, want.pixels);
    EXPECT_EQ((Colour{s.left[0], s.left[1], s.left[2]}), want.left);
    EXPECT_EQ((Colour{s.right[0], s.right[1], s.right[2]}), want.right);
    EXPECT_EQ(s.cost, want.cost);
    char label[64];
    std::size_t length = 0;
    ASSERT_EQ(tavrel_path_label(c, step, label, sizeof label, &length), TAVREL_OK);
    EXPECT_EQ(std::string(label), h.pathLabel(step));
    EXPECT_EQ(length, h.pathLabel(step).size());
  }
  // A cursor outlives the handle it came from.
  std::vector<std::uint16_t> indices(16 * 18), want(16 * 18);
  const std::size_t size = tavrel_output_size(c, TAVREL_OUTPUT_INDEX16, 36);
  EXPECT_EQ(size, h.outputSize(OutputFormat::Index16, 36));
  tavrel_cursor* cursor = nullptr;
  ASSERT_EQ(tavrel_cursor_new(c, 2, TAVREL_OUTPUT_INDEX16, indices.data(), size, 36, &cursor),
            TAVREL_OK);
  tavrel_free(c);
  ASSERT_EQ(tavrel_cursor_advance(cursor, 40), TAVREL_OK);
  EXPECT_EQ(tavrel_cursor_k(cursor), 40u);
  h.paint(40, {want.data(), size, 36, OutputFormat::Index16});
  EXPECT_EQ(indices, want);
  tavrel_cursor_free(cursor);
}

// A build asked to stop at its first report, its second, and further on
// until one completes (through the counting, the merges and the layout): each
// stop is Cancelled with nothing left behind (the leak checker sees to that),
// and the reports climb from 0 to 1.
TEST(LibraryInterface, ABuildStopsAtAnyReport) {
  test::Photo photo{1500, 1000, {}};
  for (std::uint32_t i = 0; i < 1500 * 1000; ++i) {
    const std::uint32_t x = i % 1500, y = i / 1500;
    photo.rgb.insert(photo.rgb.end(),
                     {static_cast<std::uint8_t>(x / 12), static_cast<std::uint8_t>(y / 8),
                      static_cast<std::uint8_t>(x % 3)});
  }
  for (int stopAt = 1;; stopAt += 1 + stopAt / 3) {
    SCOPED_TRACE("stop at report " + std::to_string(stopAt));
    std::vector<double> reports;
    BuildOptions options;
    options.progress = [&](double f) {
      reports.push_back(f);
      return static_cast<int>(reports.size()) < stopAt;
    };
    try {
      const Hierarchy h(photo.pixels(), options);
      EXPECT_EQ(h.colours(), 125u * 125u * 3u);
      EXPECT_EQ(reports.back(), 1.0);
      EXPECT_GE(stopAt, 4);  // counting, the merges, the layout, done
      break;
    } catch (const Cancelled&) {
      EXPECT_EQ(static_cast<int>(reports.size()), stopAt);
    }
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_GE(reports.front(), 0.0);
    ASSERT_LT(stopAt, 100000);
  }
  // Through C: the status, and no handle.
  tavrel_hierarchy* c = nullptr;
  int calls = 0;
  auto stop = [](double, void* user) { return ++*static_cast<int*>(user) < 2 ? 1 : 0; };
  EXPECT_EQ(tavrel_build(photo.rgb.data(), 1500, 1000, 0, TAVREL_PIXELS_RGB, stop, &calls, 0, &c,
                         nullptr),
            TAVREL_CANCELLED);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace tavrel

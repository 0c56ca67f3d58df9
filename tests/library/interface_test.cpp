// The calls' contracts: one table of bad arguments for the C++ and the C
// interface, the C interface against the C++ one, and cancellation at every
// report a build makes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

#include "library/library_support.h"
#include "tavrel/tavrel.h"

namespace tavrel {
namespace {

TEST(LibraryInterface, BadArgumentsAreRefusedByBothInterfaces) {
  // 300 colours in a 30 × 10 image: more than 8-bit indices hold.
  test::Photo photo{30, 10, {}};
  for (int i = 0; i < 300; ++i) {
    photo.rgb.insert(photo.rgb.end(), {static_cast<std::uint8_t>(i % 17 * 15),
                                       static_cast<std::uint8_t>(i / 17 * 14), 99});
  }
  const Hierarchy h(photo.pixels());
  tavrel_hierarchy* c = nullptr;
  ASSERT_EQ(tavrel_build(photo.rgb.data(), 30, 10, 0, TAVREL_PIXELS_RGB, nullptr, nullptr, 0, &c,
                         nullptr),
            TAVREL_OK);
  std::vector<std::uint8_t> buffer(30 * 10 * 4 + 64, 0x5A);
  const std::vector<std::uint8_t> untouched = buffer;
  std::uint8_t* out = buffer.data();
  const std::uint8_t* px = photo.rgb.data();
  tavrel_hierarchy* built = nullptr;
  tavrel_cursor* cursor = nullptr;
  std::uint32_t k = 77;
  double means[300];
  tavrel_split split{};
  char text[4];
  auto refused = [&](const std::string& what, const std::function<void()>& cxx,
                     const std::function<tavrel_status()>& cCall) {
    SCOPED_TRACE(what);
    if (cxx) {
      EXPECT_THROW(cxx(), InvalidArgument);
    }
    EXPECT_EQ(cCall(), TAVREL_INVALID_ARGUMENT);
    EXPECT_EQ(buffer, untouched);
    EXPECT_TRUE(built == nullptr && cursor == nullptr && k == 77);
  };
  // Builds: no data, zero sizes, strides below a pixel, rows beyond the
  // address space, an unknown pixel format.
  for (const Pixels& p : std::initializer_list<Pixels>{{nullptr, 30, 10},
                                                       {px, 0, 10},
                                                       {px, 30, 0},
                                                       {px, 30, 10, 89},
                                                       {px, 30, 10, 119, PixelFormat::Rgbx},
                                                       {px, 30, 10, SIZE_MAX / 4},
                                                       {px, 30, 10, 0, PixelFormat(7)}}) {
    refused(
        "build " + std::to_string(p.width) + "x" + std::to_string(p.height) + " stride " +
            std::to_string(p.rowStride),
        [&] { Hierarchy{p}; },
        [&] {
          return tavrel_build(static_cast<const std::uint8_t*>(p.data), p.width, p.height,
                              p.rowStride, tavrel_pixel_format(p.format), nullptr, nullptr, 0,
                              &built, nullptr);
        });
  }
  // Painting and cursors: k out of range, no buffer, a buffer a byte short,
  // a stride too small or not a multiple of the index, 8-bit indices for 257
  // colours, an unknown format.
  const std::size_t rgbSize = 30 * 10 * 3;
  for (const auto& [kk, o] : std::initializer_list<std::pair<std::uint32_t, Output>>{
           {0, {out, rgbSize}},
           {301, {out, rgbSize}},
           {2, {nullptr, rgbSize}},
           {2, {out, rgbSize - 1}},
           {2, {out, 9 * 95 + 90 - 1, 95}},
           {2, {out, rgbSize, 89}},
           {2, {out, 1000, 61, OutputFormat::Index16}},
           {257, {out, 300, 0, OutputFormat::Index8}},
           {2, {out, 1200, 0, OutputFormat(9)}}}) {
    const std::string what = "k " + std::to_string(kk) + " size " + std::to_string(o.size) +
                             " stride " + std::to_string(o.rowStride);
    const auto cFormat = tavrel_output_format(o.format);
    auto* data = static_cast<std::uint8_t*>(o.data);
    refused(
        "paint " + what, [&] { h.paint(kk, o); },
        [&] { return tavrel_paint(c, kk, cFormat, data, o.size, o.rowStride); });
    refused(
        "cursor " + what, [&] { Cursor(h, kk, o); },
        [&] { return tavrel_cursor_new(c, kk, cFormat, data, o.size, o.rowStride, &cursor); });
  }
  // The other calls: k, steps and targets out of range, buffers too small,
  // no handle. The trace names the C call.
// clang-format off
#define REFUSED(cxxCall, cCall) refused(#cCall, [&] { cxxCall; }, [&] { return cCall; })
// clang-format on
#define REFUSED_IN_C(cCall) refused(#cCall, nullptr, [&] { return cCall; })
  REFUSED(h.palette(0), tavrel_palette(c, 0, out, 900));
  REFUSED(h.palette(301), tavrel_palette(c, 301, out, 903));
  REFUSED_IN_C(tavrel_palette(c, 5, out, 14));
  REFUSED(h.outputSize(OutputFormat::Rgba, 119),
          tavrel_output_size(c, TAVREL_OUTPUT_RGBA, 119) ? TAVREL_OK : TAVREL_INVALID_ARGUMENT);
  REFUSED(h.split(299), tavrel_split_at(c, 299, &split));
  REFUSED_IN_C(tavrel_split_at(c, 0, nullptr));
  REFUSED(h.pathLabel(299), tavrel_path_label(c, 299, text, 4, nullptr));
  REFUSED(h.meanDeltaE(0), tavrel_mean_delta_e(c, 0, means, 300));
  REFUSED(h.meanDeltaE(301), tavrel_mean_delta_e(c, 301, means, 301));
  REFUSED_IN_C(tavrel_mean_delta_e(c, 20, means, 19));
  REFUSED(h.fewestColours(-0.5), tavrel_fewest_colours(c, -0.5, &k));
  REFUSED(h.fewestColours(std::nan("")), tavrel_fewest_colours(c, std::nan(""), &k));
  REFUSED(h.paint(2, {out, rgbSize}, Remap(4)),
          tavrel_paint_remapped(c, 2, tavrel_remap(4), TAVREL_OUTPUT_RGB, out, rgbSize, 0));
  REFUSED(h.meanDeltaE(5, Remap(4)), tavrel_mean_delta_e_remapped(c, tavrel_remap(4), 5, means, 5));
  REFUSED(h.fewestColours(1, Remap(4)), tavrel_fewest_colours_remapped(c, tavrel_remap(4), 1, &k));
  REFUSED(h.meanDeltaE(301, Remap::Nearest),
          tavrel_mean_delta_e_remapped(c, TAVREL_REMAP_NEAREST, 301, means, 301));
  REFUSED_IN_C(tavrel_linkage(c, means, 299 * 4 - 1));
  REFUSED_IN_C(tavrel_leaf_colours(c, out, 899));
  REFUSED_IN_C(tavrel_paint(nullptr, 2, TAVREL_OUTPUT_RGB, out, rgbSize, 0));
  REFUSED_IN_C(tavrel_cursor_advance(nullptr, 2));
#undef REFUSED
#undef REFUSED_IN_C

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
  EXPECT_EQ(tavrel_width(nullptr) + tavrel_colours(nullptr) + tavrel_memory_bytes(nullptr), 0u);
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
  EXPECT_EQ(tavrel_memory_bytes(c), h.memoryBytes());
  EXPECT_STREQ(tavrel_version(), TAVREL_VERSION_STRING);

  // Colours as the C calls write them: three bytes each.
  static_assert(sizeof(Colour) == 3);
  std::vector<Colour> leaves(n), palette(9);
  auto bytes = [](std::vector<Colour>& v) { return reinterpret_cast<std::uint8_t*>(v.data()); };
  ASSERT_EQ(tavrel_leaf_colours(c, bytes(leaves), 3 * n), TAVREL_OK);
  EXPECT_EQ(leaves, h.leafColours());
  ASSERT_EQ(tavrel_palette(c, 9, bytes(palette), 27), TAVREL_OK);
  EXPECT_EQ(palette, h.palette(9));
  std::vector<double> linkage((n - 1) * 4), means(n);
  ASSERT_EQ(tavrel_linkage(c, linkage.data(), linkage.size()), TAVREL_OK);
  EXPECT_EQ(linkage, h.linkage());
  ASSERT_EQ(tavrel_mean_delta_e(c, n, means.data(), n), TAVREL_OK);
  EXPECT_EQ(means, h.meanDeltaE(n));
  ASSERT_EQ(tavrel_mean_delta_e_remapped(c, TAVREL_REMAP_NEAREST, 30, means.data(), n), TAVREL_OK);
  EXPECT_EQ(std::vector<double>(means.begin(), means.begin() + 30),
            h.meanDeltaE(30, Remap::Nearest));
  std::uint32_t fewest = 0;
  ASSERT_EQ(tavrel_fewest_colours_remapped(c, TAVREL_REMAP_NEAREST, 3.0, &fewest), TAVREL_OK);
  EXPECT_EQ(fewest, h.fewestColours(3.0, Remap::Nearest));
  std::vector<std::uint8_t> nearest(16 * 16 * 4), nearestWant(nearest.size());
  ASSERT_EQ(tavrel_paint_remapped(c, 12, TAVREL_REMAP_NEAREST, TAVREL_OUTPUT_RGBA, nearest.data(),
                                  nearest.size(), 0),
            TAVREL_OK);
  h.paint(12, {nearestWant.data(), nearestWant.size(), 0, OutputFormat::Rgba}, Remap::Nearest);
  EXPECT_EQ(nearest, nearestWant);
  for (std::uint32_t step : {0u, 7u, n - 2}) {
    tavrel_split s;
    char label[64];
    ASSERT_EQ(tavrel_split_at(c, step, &s), TAVREL_OK);
    ASSERT_EQ(tavrel_path_label(c, step, label, sizeof label, nullptr), TAVREL_OK);
    const Split w = h.split(step);
    const Colour left{s.left[0], s.left[1], s.left[2]}, right{s.right[0], s.right[1], s.right[2]};
    EXPECT_EQ(std::make_tuple(s.node, s.pixels, s.cost, left, right, std::string(label)),
              std::make_tuple(w.node, w.pixels, w.cost, w.left, w.right, h.pathLabel(step)));
  }
  // A cursor outlives the handle it came from.
  std::vector<std::uint16_t> indices(16 * 18), want(16 * 18);
  const std::size_t size = tavrel_output_size(c, TAVREL_OUTPUT_INDEX16, 36);
  tavrel_cursor* cursor = nullptr;
  ASSERT_EQ(tavrel_cursor_new(c, 2, TAVREL_OUTPUT_INDEX16, indices.data(), size, 36, &cursor),
            TAVREL_OK);
  tavrel_free(c);
  ASSERT_EQ(tavrel_cursor_advance(cursor, 40), TAVREL_OK);
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
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()) && reports.front() >= 0.0);
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

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "reference/cluster_tree.h"
#include "support/progression_test_util.h"

namespace tavrel::reference {
namespace {

using test::MemoryImage;
using test::pack;

// The histogram of an image with the leaves made, released at the end.
struct Histogram {
  explicit Histogram(ImageBuffer* image) {
    workList = makeColorCluster();
    count = buildColorHistogram(image, workList);
    leaves = makeLeafNodes(workList, count);
  }
  ~Histogram() { releaseLeafNodes(leaves, count); }
  Histogram(const Histogram&) = delete;
  Histogram& operator=(const Histogram&) = delete;

  std::vector<ColorCluster*> clusters() const {
    std::vector<ColorCluster*> all;
    for (ColorCluster* c = workList; c; c = c->next) all.push_back(c);
    return all;
  }

  ColorCluster* workList = nullptr;
  int count = 0;
  ClusterNode* leaves = nullptr;
};

void expectHistogramCluster(const ColorCluster* cluster, PackedColor color, int pixels) {
  ASSERT_NE(cluster->entries, nullptr);
  EXPECT_EQ(cluster->entryCount, 1);
  EXPECT_EQ(cluster->entries->next, nullptr);
  EXPECT_EQ(pack(cluster->entries->red, cluster->entries->green, cluster->entries->blue), color);
  EXPECT_EQ(cluster->entries->pixelCount, pixels);
  EXPECT_EQ(cluster->color, color);
  EXPECT_EQ(cluster->mergeCost, -1.0);
  EXPECT_TRUE(cluster->label.empty());
}

TEST(ColorHistogramTest, OneColourGivesTheSeedAlone) {
  const PackedColor c = pack(7, 8, 9);
  MemoryImage image(5, 3, std::vector<PackedColor>(15, c));
  Histogram histogram(image.get());
  EXPECT_EQ(histogram.count, 1);
  ASSERT_EQ(histogram.clusters().size(), 1u);
  expectHistogramCluster(histogram.workList, c, 15);
}

TEST(ColorHistogramTest, NewestColourStandsFirstAndTheSeedLast) {
  MemoryImage image(2, 1, {pack(1, 2, 3), pack(4, 5, 6)});
  Histogram histogram(image.get());
  EXPECT_EQ(histogram.count, 2);
  const auto clusters = histogram.clusters();
  ASSERT_EQ(clusters.size(), 2u);
  expectHistogramCluster(clusters[0], pack(4, 5, 6), 1);
  expectHistogramCluster(clusters[1], pack(1, 2, 3), 1);
}

TEST(ColorHistogramTest, ColoursDifferingInOneChannelByOneAreSeparate) {
  const PackedColor base = pack(100, 100, 100);
  for (PackedColor other : {pack(101, 100, 100), pack(100, 99, 100), pack(100, 100, 101)}) {
    SCOPED_TRACE(other);
    MemoryImage image(3, 1, {base, other, base});
    Histogram histogram(image.get());
    EXPECT_EQ(histogram.count, 2);
    const auto clusters = histogram.clusters();
    ASSERT_EQ(clusters.size(), 2u);
    expectHistogramCluster(clusters[0], other, 1);
    expectHistogramCluster(clusters[1], base, 2);
  }
}

TEST(ColorHistogramTest, CountsAddUpAndColoursComeInReverseDiscoveryOrder) {
  // Row by row: the colours are found in the order a, b, c, d.
  const PackedColor a = pack(0, 0, 0), b = pack(255, 255, 255), c = pack(9, 0, 0),
                    d = pack(0, 0, 9);
  MemoryImage image(4, 3,
                    {a, b, a, b,  //
                     c, a, a, a,  //
                     b, c, d, a});
  Histogram histogram(image.get());
  EXPECT_EQ(histogram.count, 4);
  const auto clusters = histogram.clusters();
  ASSERT_EQ(clusters.size(), 4u);
  expectHistogramCluster(clusters[0], d, 1);
  expectHistogramCluster(clusters[1], c, 2);
  expectHistogramCluster(clusters[2], b, 3);
  expectHistogramCluster(clusters[3], a, 6);
  std::int64_t total = 0;
  for (const ColorCluster* cluster : clusters) total += pixelTotal(cluster);
  EXPECT_EQ(total, 12);
}

TEST(ColorHistogramTest, LeavesAndClustersLinkBothWays) {
  std::vector<PackedColor> pixels;
  for (int i = 0; i < 30; ++i) pixels.push_back(pack(i % 7, i % 5, 0));
  MemoryImage image(6, 5, pixels);
  Histogram histogram(image.get());
  EXPECT_EQ(histogram.count, 30);  // (i % 7, i % 5) repeats only after 35 pixels
  const auto clusters = histogram.clusters();
  ASSERT_EQ(static_cast<int>(clusters.size()), histogram.count);
  for (int i = 0; i < histogram.count; ++i) {
    const ClusterNode& leaf = histogram.leaves[i];
    EXPECT_EQ(leaf.cluster, clusters[static_cast<std::size_t>(i)]);
    EXPECT_EQ(leaf.cluster->node, &leaf);
    EXPECT_EQ(leaf.left, nullptr);
    EXPECT_EQ(leaf.right, nullptr);
  }
}

TEST(ColorHistogramTest, AnImageOfAnotherModelReadsAsBlack) {
  ImageBuffer gray;
  setImageSize(&gray, 4, 2);
  ASSERT_EQ(openImage("memory", &gray, Create, 0, WholeImage, Gray, 0, 256), 1);
  {
    Histogram histogram(&gray);
    EXPECT_EQ(histogram.count, 1);
    expectHistogramCluster(histogram.workList, 0, 8);
  }
  destroyImage(&gray);
}

}  // namespace
}  // namespace tavrel::reference

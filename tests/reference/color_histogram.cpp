// Cluster records, the colour histogram and the leaf level of the tree.
#include <cstdint>

#include "reference/cluster_tree.h"

namespace tavrel::reference {

ColorEntry* makeColorEntry() {
  ColorEntry* entry = new ColorEntry;
  entry->red = -1;
  entry->green = -1;
  entry->blue = -1;
  entry->pixelCount = 0;
  entry->next = nullptr;
  return entry;
}

void addColorEntry(ColorCluster* cluster, int red, int green, int blue, int pixelCount) {
  ColorEntry* entry = makeColorEntry();
  entry->red = red;
  entry->green = green;
  entry->blue = blue;
  entry->pixelCount = pixelCount;
  entry->next = cluster->entries;
  cluster->entries = entry;
  cluster->entryCount += 1;
}

ColorCluster* makeColorCluster() {
  ColorCluster* cluster = new ColorCluster;
  cluster->entryCount = 0;
  cluster->node = nullptr;
  cluster->entries = nullptr;
  cluster->label.clear();
  cluster->color = 0;
  cluster->mergeCost = -1.0;
  cluster->next = nullptr;
  return cluster;
}

void releaseCluster(ColorCluster* cluster) {
  if (!cluster) return;
  ColorEntry* entry = cluster->entries;
  while (entry) {
    ColorEntry* next = entry->next;
    delete entry;
    entry = next;
  }
  delete cluster;
}

int buildColorHistogram(ImageBuffer* image, ColorCluster*& workList) {
  // The seed takes the colour of pixel (1, 1) with no pixels yet: the scan
  // below counts that pixel like every other.
  const PackedColor first = getColorPixel(image, 1, 1);
  addColorEntry(workList, first & 0xFF, (first >> 8) & 0xFF, (first >> 16) & 0xFF, 0);
  workList->color = first;
  int count = 1;

  for (std::uint32_t y = 1; y <= image->height; ++y) {
    for (std::uint32_t x = 1; x <= image->width; ++x) {
      const PackedColor p = getColorPixel(image, x, y);
      const int red = p & 0xFF;
      const int green = (p >> 8) & 0xFF;
      const int blue = (p >> 16) & 0xFF;

      // Every cluster holds one entry during this pass, so comparing each
      // cluster's first entry is a search over the colours found so far,
      // the most recent first.
      ColorCluster* match = workList;
      while (match && !(match->entries->red == red && match->entries->green == green &&
                        match->entries->blue == blue)) {
        match = match->next;
      }
      if (match) {
        match->entries->pixelCount += 1;
        continue;
      }

      ColorCluster* cluster = makeColorCluster();
      addColorEntry(cluster, red, green, blue, 1);
      cluster->color = p;
      cluster->next = workList;
      workList = cluster;
      count += 1;
    }
  }
  return count;
}

ClusterNode* makeLeafNodes(ColorCluster* workList, int count) {
  ClusterNode* leaves = new ClusterNode[count];
  for (int i = 0; i < count; ++i) {
    leaves[i].left = nullptr;
    leaves[i].right = nullptr;
    leaves[i].cluster = nullptr;
  }
  ColorCluster* cluster = workList;
  for (int i = 0; i < count && cluster; ++i, cluster = cluster->next) {
    leaves[i].cluster = cluster;
    cluster->node = &leaves[i];
  }
  return leaves;
}

void releaseLeafNodes(ClusterNode* leaves, int count) {
  if (!leaves) return;
  for (int i = 0; i < count; ++i) {
    if (leaves[i].cluster) {
      releaseCluster(leaves[i].cluster);
      leaves[i].cluster = nullptr;
    }
  }
  delete[] leaves;
}

}  // namespace tavrel::reference

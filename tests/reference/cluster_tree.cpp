// Bottom-up merging of the histogram clusters into the cluster tree.
#include "reference/cluster_tree.h"

#include <cstdint>

#include "color/colour_difference.h"

namespace tavrel::reference {

std::int64_t pixelTotal(const ColorCluster* cluster) {
  // 64 bits: the total of a large cluster must not wrap.
  std::int64_t total = 0;
  for (const ColorEntry* entry = cluster->entries; entry; entry = entry->next) {
    total += entry->pixelCount;
  }
  return total;
}

double pairMergeCost(const ColorCluster* first, const ColorCluster* second) {
  const std::int64_t nA = pixelTotal(first);
  const std::int64_t nB = pixelTotal(second);
  const PackedColor a = first->color;
  const PackedColor b = second->color;
  const double d = ColourDifference(
      kD65WhitePoint, static_cast<int>(a & 0xFF), static_cast<int>((a >> 8) & 0xFF),
      static_cast<int>((a >> 16) & 0xFF), static_cast<int>(b & 0xFF),
      static_cast<int>((b >> 8) & 0xFF), static_cast<int>((b >> 16) & 0xFF));
  // Formed in double from the start: the product of two pixel totals
  // overflows 32 bits on ordinary photos.
  const double product = static_cast<double>(nB) * static_cast<double>(nA);
  const double sum = static_cast<double>(nB) + static_cast<double>(nA);
  return product / sum * d;
}

namespace {

// Copies every entry of the source, head to tail, to the head of the merged
// list, and adds them to the channel sums. 64-bit sums stay exact for any
// cluster size and equal the 32-bit ones wherever those do not wrap.
struct ChannelSums {
  std::uint64_t pixels = 0;
  std::uint64_t red = 0;
  std::uint64_t green = 0;
  std::uint64_t blue = 0;
};

void copyEntries(ColorCluster* merged, const ColorCluster* source, ChannelSums& sums) {
  for (const ColorEntry* entry = source->entries; entry; entry = entry->next) {
    addColorEntry(merged, entry->red, entry->green, entry->blue, entry->pixelCount);
    const auto count = static_cast<std::uint64_t>(entry->pixelCount);
    sums.pixels += count;
    sums.red += count * static_cast<std::uint64_t>(entry->red);
    sums.green += count * static_cast<std::uint64_t>(entry->green);
    sums.blue += count * static_cast<std::uint64_t>(entry->blue);
  }
}

// Takes A and B out of the list that starts at the merged cluster. B always
// lies behind A, so the walk ends once B is gone.
void unlinkPair(ColorCluster* merged, ColorCluster* a, ColorCluster* b) {
  ColorCluster* at = merged;
  while (at->next) {
    if (at->next == a) {
      at->next = a->next;
    } else if (at->next == b) {
      at->next = b->next;
      break;
    } else {
      at = at->next;
    }
  }
  a->next = nullptr;
  b->next = nullptr;
}

}  // namespace

ClusterNode* buildClusterTree(ColorCluster*& workList, const MergeObserver& observer) {
  ClusterNode* root = nullptr;
  while (workList && workList->next) {
    // The first pair is taken whatever its cost, later ones only when
    // strictly cheaper: the first least-cost pair in list order wins, and a
    // merge always finds a pair, however large the costs.
    ColorCluster* bestA = nullptr;
    ColorCluster* bestB = nullptr;
    double bestCost = 0.0;
    for (ColorCluster* a = workList; a; a = a->next) {
      for (ColorCluster* b = a->next; b; b = b->next) {
        const double cost = pairMergeCost(a, b);
        if (!bestA || cost < bestCost) {
          bestCost = cost;
          bestA = a;
          bestB = b;
        }
      }
    }

    ColorCluster* merged = makeColorCluster();
    ChannelSums sums;
    copyEntries(merged, bestA, sums);
    copyEntries(merged, bestB, sums);
    merged->color = static_cast<PackedColor>((sums.red / sums.pixels) & 0xFF) |
                    static_cast<PackedColor>((sums.green / sums.pixels) & 0xFF) << 8 |
                    static_cast<PackedColor>((sums.blue / sums.pixels) & 0xFF) << 16;
    merged->mergeCost = bestCost;

    ClusterNode* inner = new ClusterNode;
    inner->left = bestA->node;
    inner->right = bestB->node;
    inner->cluster = merged;
    merged->node = inner;

    merged->next = workList;
    workList = merged;
    unlinkPair(merged, bestA, bestB);

    root = inner;
    if (observer) observer(*inner);
  }
  return root;
}

}  // namespace tavrel::reference

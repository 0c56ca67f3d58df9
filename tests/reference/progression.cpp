// Progressive splitting: undoes the merges of the cluster tree in order of
// decreasing cost, repainting the output image and writing one dump per
// colour count.
#include <cstdint>
#include <string>

#include "cmdline/options.h"
#include "reference/cluster_tree.h"
#include "reference/splitting.h"
#include "shell/console.h"

namespace tavrel::reference {
namespace {

bool listHolds(const ColorEntry* entry, int red, int green, int blue) {
  for (; entry; entry = entry->next) {
    if (entry->red == red && entry->green == green && entry->blue == blue) return true;
  }
  return false;
}

// An inner node's cluster came from a merge and holds at least two colours;
// a leaf's histogram cluster holds exactly one.
bool isInnerNode(const ClusterNode* node) {
  return node && node->cluster && node->cluster->entryCount > 1;
}

}  // namespace

ClusterNode* findNextSplit(ClusterNode* node, PathLabel& out) {
  if (node->cluster->label.empty()) return node;

  PathLabel labelLeft;
  PathLabel labelRight;
  ClusterNode* left = findNextSplit(node->left, labelLeft);
  ClusterNode* right = findNextSplit(node->right, labelRight);
  if (left->cluster->mergeCost > right->cluster->mergeCost) {
    out = labelLeft.empty() ? node->cluster->label + "1" : labelLeft;
    return left;
  }
  out = labelRight.empty() ? node->cluster->label + "0" : labelRight;
  return right;
}

int recolorSplit(ImageBuffer* output, ImageBuffer* input, ClusterNode* node) {
  const ColorCluster* cluster = node->cluster;
  const ColorCluster* left = node->left->cluster;
  const ColorCluster* right = node->right->cluster;
  int repainted = 0;
  for (std::uint32_t y = 1; y <= input->height; ++y) {
    for (std::uint32_t x = 1; x <= input->width; ++x) {
      const PackedColor p = getColorPixel(input, x, y);
      const int red = p & 0xFF;
      const int green = (p >> 8) & 0xFF;
      const int blue = (p >> 16) & 0xFF;
      if (!listHolds(cluster->entries, red, green, blue)) continue;
      // Every colour of the cluster that is not the left child's is the
      // right child's, so only the left list is searched.
      if (listHolds(left->entries, red, green, blue)) {
        setColorPixel(output, x, y, left->color);
      } else {
        setColorPixel(output, x, y, right->color);
      }
      repainted += 1;
    }
  }
  if (optionValue(QuietLevelOption) > 2) progressLog("Pixels updated : %i\n", repainted);
  return repainted;
}

void releaseSubtree(ClusterNode* node) {
  releaseCluster(node->cluster);
  node->cluster = nullptr;
  if (isInnerNode(node->left)) {
    releaseSubtree(node->left);
    delete node->left;
    node->left = nullptr;
  }
  if (isInnerNode(node->right)) {
    releaseSubtree(node->right);
    delete node->right;
    node->right = nullptr;
  }
}

void releaseClusterTree(ClusterNode* root, ClusterNode* leaves, int leafCount) {
  // The root is an inner node whenever it exists; with a single colour there
  // is none, and the lone histogram cluster belongs to the leaf array.
  if (root) {
    releaseSubtree(root);
    delete root;
  }
  releaseLeafNodes(leaves, leafCount);
}

int runProgression(ImageBuffer* input, ImageBuffer* output, const std::string& outputName,
                   int limit, bool* failed) {
  const int quietLevel = optionValue(QuietLevelOption);

  ColorCluster* workList = makeColorCluster();
  const int colourCount = buildColorHistogram(input, workList);
  ClusterNode* leaves = makeLeafNodes(workList, colourCount);
  ClusterNode* root = buildClusterTree(workList);

  int count = colourCount;
  if (limit != 0 && limit < count) count = limit;
  const int steps = count - 1;

  for (int step = 0; step < steps; ++step) {
    if (quietLevel >= 2) {
      const int percent =
          static_cast<int>(static_cast<double>(step) / static_cast<double>(count) * 100.0);
      progressLog("Processing step %i - %i%%\n", step, percent);
    }

    PathLabel label;
    ClusterNode* node = findNextSplit(root, label);
    node->cluster->label = step == 0 ? PathLabel("R") : label;

    recolorSplit(output, input, node);

    if (quietLevel > 2) {
      const PackedColor l = node->left->cluster->color;
      const PackedColor r = node->right->cluster->color;
      progressLog("Colors : %i:%i:%i %i:%i:%i\n", static_cast<int>(l & 0xFF),
                  static_cast<int>((l >> 8) & 0xFF), static_cast<int>((l >> 16) & 0xFF),
                  static_cast<int>(r & 0xFF), static_cast<int>((r >> 8) & 0xFF),
                  static_cast<int>((r >> 16) & 0xFF));
      progressLog("Path : %s\n", node->cluster->label.c_str());
    }

    if (step <= limit - 2) {
      // The number in the name is the number of colours the image now has.
      const std::string dumpName = "dump" + std::to_string(step + 2) + "_" + outputName;
      if (!copyImageToFile(output, dumpName.c_str()) && failed) *failed = true;
    }
  }

  releaseClusterTree(root, leaves, colourCount);
  return 0;
}

}  // namespace tavrel::reference

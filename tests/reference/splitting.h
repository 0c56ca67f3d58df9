// The top-down half of the progression: choosing the next node to split,
// repainting its pixels, and releasing the tree.
#pragma once

#include <string>

#include "image/image_store.h"
#include "reference/cluster_tree.h"

namespace tavrel::reference {

// The literal progression run, kept as the oracle for the shipped engine: the
// same messages, dumps and result, computed the slow, obvious way.
int runProgression(ImageBuffer* input, ImageBuffer* output, const std::string& outputName,
                   int limit, bool* failed = nullptr);

// Returns the unsplit node below (or at) node whose parent is split and whose
// merge cost is largest; equal costs go to the right. When that node lies
// below node, writes its path label into out; leaves out alone when node
// itself is unsplit.
ClusterNode* findNextSplit(ClusterNode* node, PathLabel& out);

// Repaints every pixel whose input colour belongs to the node's cluster with
// the colour of the child cluster that holds it. Returns the number of pixels
// repainted.
int recolorSplit(ImageBuffer* output, ImageBuffer* input, ClusterNode* node);

// Releases the clusters of node and of every inner node below it, and the
// records of those inner nodes (not node's own record). Leaves are left to
// releaseLeafNodes.
void releaseSubtree(ClusterNode* node);

// Releases the whole tree and the leaf array. root may be null (a single
// colour has no tree).
void releaseClusterTree(ClusterNode* root, ClusterNode* leaves, int leafCount);

}  // namespace tavrel::reference

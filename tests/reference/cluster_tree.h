// The records of the colour progression and the two passes that build its
// tree: the colour histogram (one cluster per distinct colour, each held by a
// leaf node) and the bottom-up merging of those clusters by least weighted
// CIELAB difference.
//
// This is the plain reference form of the algorithm: linked lists searched
// linearly, every cost computed from scratch. It is kept literal on purpose so
// that faster engines can be checked against it merge by merge.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "image/image_store.h"

namespace tavrel::reference {

struct ClusterNode;

// One distinct colour of a cluster, with the number of pixels that have it.
struct ColorEntry {
  std::int32_t red;
  std::int32_t green;
  std::int32_t blue;
  std::int32_t pixelCount;
  ColorEntry* next;  // next entry of the same colour list
};

// "R" for the root, then one digit per step down: "1" to the left child, "0"
// to the right. Empty while the cluster's node has not been split. It grows
// to whatever depth the tree has.
using PathLabel = std::string;

// A set of colours treated as one.
struct ColorCluster {
  std::int32_t entryCount;  // distinct colours in entries
  ClusterNode* node;        // the tree node holding this cluster; not owned
  ColorEntry* entries;      // owned colour list, newest entry first
  PathLabel label;
  PackedColor color;   // representative colour
  double mergeCost;    // cost of the merge that made it; -1.0 for a histogram cluster
  ColorCluster* next;  // next cluster of the work list
};

// A node of the cluster tree: both children or none. The node owns its
// cluster; inner nodes are made one by one, leaves live in one array.
struct ClusterNode {
  ClusterNode* left;
  ClusterNode* right;
  ColorCluster* cluster;
};

// An entry of channels -1 and no pixels; the caller fills it in.
ColorEntry* makeColorEntry();

// Puts a new entry with the given values at the head of the cluster's list.
void addColorEntry(ColorCluster* cluster, int red, int green, int blue, int pixelCount);

// An empty cluster: no entries, empty label, merge cost -1.0. The caller
// sets node, color and next.
ColorCluster* makeColorCluster();

// Releases the cluster's entries, its label and the record itself.
void releaseCluster(ColorCluster* cluster);

// Collects the distinct colours of the image. workList must hold exactly the
// seed cluster (empty, no next); afterwards it holds one cluster per distinct
// colour, newest first, the seed (the colour of pixel (1, 1)) at the tail.
// Returns the number of clusters.
int buildColorHistogram(ImageBuffer* image, ColorCluster*& workList);

// One leaf node per work-list cluster, in list order, each linked both ways
// with its cluster. Release with releaseLeafNodes.
ClusterNode* makeLeafNodes(ColorCluster* workList, int count);

// Releases every cluster still held by a leaf, then the array.
void releaseLeafNodes(ClusterNode* leaves, int count);

// Sum of the pixel counts of the cluster's colour list.
std::int64_t pixelTotal(const ColorCluster* cluster);

// Merge cost of two clusters: nA * nB / (nA + nB) times their colour
// difference under D65, first being the cluster nearer the work-list head.
double pairMergeCost(const ColorCluster* first, const ColorCluster* second);

// Called once per merge with the new inner node, in merge order.
using MergeObserver = std::function<void(const ClusterNode& inner)>;

// Merges the work list down to one cluster and returns the root, or null when
// the list holds a single cluster. Each merge takes the least-cost pair, the
// first one met in list order on ties, and puts the merged cluster at the
// head of the list.
ClusterNode* buildClusterTree(ColorCluster*& workList, const MergeObserver& observer = nullptr);

}  // namespace tavrel::reference

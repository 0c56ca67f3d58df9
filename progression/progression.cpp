#include "progression/progression.h"

#include <memory>
#include <new>
#include <queue>
#include <vector>

#include "cmdline/options.h"
#include "image/rgb_file.h"
#include "progression/colour_histogram.h"
#include "progression/merge_tree.h"
#include "shell/console.h"

namespace tavrel {
namespace {

constexpr std::uint32_t kNoParent = 0xFFFFFFFFu;

// Where every node sits once the pixels are sorted by the tree's leaf order:
// a node's pixels are the contiguous range [first, first + pixels).
struct TreeLayout {
  std::vector<std::int64_t> first;
  std::vector<std::uint32_t> parent;
};

TreeLayout layOut(const MergeTree& tree) {
  TreeLayout layout;
  layout.first.assign(tree.nodeCount(), 0);
  layout.parent.assign(tree.nodeCount(), kNoParent);
  std::vector<std::uint32_t> stack{tree.root()};
  while (!stack.empty()) {
    const std::uint32_t node = stack.back();
    stack.pop_back();
    if (tree.isLeaf(node)) continue;
    const std::uint32_t left = tree.leftOf(node);
    const std::uint32_t right = tree.rightOf(node);
    layout.parent[left] = node;
    layout.parent[right] = node;
    layout.first[left] = layout.first[node];
    layout.first[right] = layout.first[node] + tree.pixels[left];
    stack.push_back(right);
    stack.push_back(left);
  }
  return layout;
}

// The path label of a node: "R" for the root, then 1 for every step to a
// left child and 0 for every step to a right child.
std::string pathLabel(const MergeTree& tree, const TreeLayout& layout, std::uint32_t node) {
  std::string digits;
  for (std::uint32_t n = node; layout.parent[n] != kNoParent; n = layout.parent[n]) {
    digits.push_back(tree.leftOf(layout.parent[n]) == n ? '1' : '0');
  }
  std::string label(1, 'R');
  label.append(digits.rbegin(), digits.rend());
  return label;
}

// The frontier of unsplit nodes. The next split is the node with the largest
// merge cost; among equal costs the one further right in the tree, which is
// the one whose pixel range starts later.
struct FrontierEntry {
  double cost;
  std::int64_t first;
  std::uint32_t node;
};
struct SplitsLater {
  bool operator()(const FrontierEntry& a, const FrontierEntry& b) const {
    if (a.cost != b.cost) return a.cost < b.cost;
    return a.first < b.first;
  }
};

// The output image as the bytes of a P6 body, repainted one cluster at a time
// through the pixel order of the tree.
class Canvas {
 public:
  Canvas(const ColourHistogram& histogram, const MergeTree& tree, const TreeLayout& layout)
      : rgb_(histogram.pixelIds.size() * 3, 0xFF), order_(histogram.pixelIds.size()) {
    std::vector<std::int64_t> next(tree.leafCount);
    for (std::uint32_t leaf = 0; leaf < tree.leafCount; ++leaf) next[leaf] = layout.first[leaf];
    for (std::size_t pixel = 0; pixel < histogram.pixelIds.size(); ++pixel) {
      order_[next[histogram.pixelIds[pixel]]++] = static_cast<std::uint32_t>(pixel);
    }
  }

  void paint(const MergeTree& tree, const TreeLayout& layout, std::uint32_t node,
             PackedColor colour) {
    const std::uint8_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    const std::int64_t end = layout.first[node] + tree.pixels[node];
    for (std::int64_t i = layout.first[node]; i < end; ++i) {
      std::uint8_t* p = &rgb_[static_cast<std::size_t>(order_[i]) * 3];
      p[0] = r;
      p[1] = g;
      p[2] = b;
    }
  }

  const std::uint8_t* bytes() const { return rgb_.data(); }

 private:
  std::vector<std::uint8_t> rgb_;
  std::vector<std::uint32_t> order_;
};

PackedColor pixelOf(ImageBuffer* image, std::uint32_t x, std::uint32_t y) {
  if (const std::uint8_t* line = wholeColourLine(image, y)) {
    const std::uint8_t* p = line + 4 * static_cast<std::size_t>(x - 1);
    return p[0] | p[1] << 8 | static_cast<PackedColor>(p[2]) << 16;
  }
  return getColorPixel(image, x, y);
}

// Leaves the output image as the steps painted it: the canvas after the last
// step, or, when every merge was undone, the input itself.
void paintFinalState(ImageBuffer* output, ImageBuffer* input, const Canvas* canvas) {
  for (std::uint32_t y = 1; y <= output->height; ++y) {
    std::uint8_t* line = wholeColourLine(output, y);
    for (std::uint32_t x = 1; x <= output->width; ++x) {
      PackedColor colour;
      if (canvas) {
        const std::uint8_t* p =
            canvas->bytes() + 3 * ((static_cast<std::size_t>(y) - 1) * input->width + (x - 1));
        colour = p[0] | p[1] << 8 | static_cast<PackedColor>(p[2]) << 16;
      } else {
        colour = pixelOf(input, x, y);
      }
      if (line) {
        std::uint8_t* q = line + 4 * static_cast<std::size_t>(x - 1);
        q[0] = colour & 0xFF;
        q[1] = (colour >> 8) & 0xFF;
        q[2] = (colour >> 16) & 0xFF;
      } else {
        setColorPixel(output, x, y, colour);
      }
    }
  }
}

int channel(PackedColor colour, int shift) {
  return static_cast<int>((colour >> shift) & 0xFF);
}

int runSteps(ImageBuffer* input, ImageBuffer* output, const std::string& outputName, int limit,
             bool* failed, std::uint32_t* colours) {
  const int quietLevel = optionValue(QuietLevelOption);
  // With a limit of 2 or more every step writes a dump; otherwise no image
  // of the run is ever seen, so nothing is painted.
  const bool dumps = limit >= 2;

  ColourHistogram histogram = collectColours(input, dumps);
  *colours = static_cast<std::uint32_t>(histogram.colours.size());
  const MergeTree tree = buildMergeTree(histogram.colours, histogram.counts);
  int count = static_cast<int>(tree.leafCount);
  if (limit != 0 && limit < count) count = limit;
  const int steps = count - 1;
  if (steps <= 0) return 0;

  const TreeLayout layout = layOut(tree);
  std::unique_ptr<Canvas> canvas;
  if (dumps) {
    canvas = std::make_unique<Canvas>(histogram, tree, layout);
    histogram.pixelIds = std::vector<std::uint32_t>();
  }

  std::priority_queue<FrontierEntry, std::vector<FrontierEntry>, SplitsLater> frontier;
  auto enter = [&](std::uint32_t node) {
    // A leaf is never split: there are fewer steps than colours.
    if (!tree.isLeaf(node)) frontier.push(FrontierEntry{tree.cost[node], layout.first[node], node});
  };
  enter(tree.root());

  for (int step = 0; step < steps; ++step) {
    if (quietLevel >= 2) {
      const int percent = static_cast<int>(static_cast<double>(step) / count * 100.0);
      progressLog("Processing step %i - %i%%\n", step, percent);
    }
    const std::uint32_t node = frontier.top().node;
    frontier.pop();
    const std::uint32_t left = tree.leftOf(node);
    const std::uint32_t right = tree.rightOf(node);
    enter(left);
    enter(right);

    if (canvas) {
      canvas->paint(tree, layout, left, tree.colour[left]);
      canvas->paint(tree, layout, right, tree.colour[right]);
    }
    if (quietLevel > 2) {
      progressLog("Pixels updated : %i\n", static_cast<int>(tree.pixels[node]));
      const PackedColor l = tree.colour[left];
      const PackedColor r = tree.colour[right];
      progressLog("Colors : %i:%i:%i %i:%i:%i\n", channel(l, 0), channel(l, 8), channel(l, 16),
                  channel(r, 0), channel(r, 8), channel(r, 16));
      progressLog("Path : %s\n", pathLabel(tree, layout, node).c_str());
    }
    if (step <= limit - 2) {
      const std::string name = formatString("dump%i_%s", step + 2, outputName.c_str());
      if (!writeRgbFile(name.c_str(), input->width, input->height, canvas->bytes()) && failed) {
        *failed = true;
      }
    }
  }
  paintFinalState(output, input, canvas.get());
  return 0;
}

}  // namespace

int runProgression(ImageBuffer* input, ImageBuffer* output, const std::string& outputName,
                   int limit, bool* failed) {
  std::uint32_t colours = 0;
  try {
    return runSteps(input, output, outputName, limit, failed, &colours);
  } catch (const std::bad_alloc&) {
    // Everything the run built is released by now; the driver reports it.
    if (colours == 0) throw;
    throw OutOfMemoryWithColours(colours);
  }
}

}  // namespace tavrel

#include "progression/progression.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <queue>
#include <string>
#include <thread>
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
// through the pixel order of the tree. With a second buffer, one buffer can be
// written out while the other is painted; each buffer catches up on the
// splits it has not shown yet.
class Canvas {
 public:
  Canvas(const ColourHistogram& histogram, const MergeTree& tree, const TreeLayout& layout)
      : tree_(tree), layout_(layout), order_(histogram.pixelIds.size()) {
    std::vector<std::int64_t> next(tree.leafCount);
    for (std::uint32_t leaf = 0; leaf < tree.leafCount; ++leaf) next[leaf] = layout.first[leaf];
    for (std::size_t pixel = 0; pixel < histogram.pixelIds.size(); ++pixel) {
      order_[next[histogram.pixelIds[pixel]]++] = static_cast<std::uint32_t>(pixel);
    }
    buffers_.emplace_back(order_.size() * 3, 0xFF);
  }

  void addSecondBuffer() { buffers_.emplace_back(order_.size() * 3, 0xFF); }
  std::size_t bufferCount() const { return buffers_.size(); }

  // Brings a buffer to the image after the given splits, in their order.
  // Where the other buffer is further on, copying it and painting the rest
  // is cheaper than replaying a large split.
  const std::uint8_t* show(std::size_t buffer, const std::vector<std::uint32_t>& splits) {
    Buffer& target = buffers_[buffer];
    if (buffers_.size() == 2) {
      const Buffer& other = buffers_[1 - buffer];
      if (other.shown > target.shown && other.shown <= splits.size()) {
        std::int64_t replay = 0;
        for (std::size_t i = target.shown; i < other.shown; ++i) replay += tree_.pixels[splits[i]];
        // A copy streams 3 bytes a pixel; a replay writes 3 bytes at a
        // scattered place for each pixel of the splits.
        if (replay * 8 > static_cast<std::int64_t>(order_.size())) {
          std::copy(other.rgb.begin(), other.rgb.end(), target.rgb.begin());
          target.shown = other.shown;
        }
      }
    }
    for (; target.shown < splits.size(); ++target.shown) {
      const std::uint32_t node = splits[target.shown];
      paint(target.rgb, tree_.leftOf(node));
      paint(target.rgb, tree_.rightOf(node));
    }
    return target.rgb.data();
  }

 private:
  struct Buffer {
    Buffer(std::size_t bytes, std::uint8_t value) : rgb(bytes, value) {}
    std::vector<std::uint8_t> rgb;
    std::size_t shown = 0;  // splits painted so far
  };

  void paint(std::vector<std::uint8_t>& rgb, std::uint32_t node) const {
    const PackedColor colour = tree_.colour[node];
    const std::uint8_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    const std::int64_t end = layout_.first[node] + tree_.pixels[node];
    std::uint8_t* bytes = rgb.data();
    for (std::int64_t i = layout_.first[node]; i < end; ++i) {
      std::uint8_t* p = bytes + static_cast<std::size_t>(order_[i]) * 3;
      p[0] = r;
      p[1] = g;
      p[2] = b;
    }
  }

  const MergeTree& tree_;
  const TreeLayout& layout_;
  std::vector<std::uint32_t> order_;
  std::vector<Buffer> buffers_;
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
void paintFinalState(ImageBuffer* output, ImageBuffer* input, const std::uint8_t* canvas) {
  for (std::uint32_t y = 1; y <= output->height; ++y) {
    std::uint8_t* line = wholeColourLine(output, y);
    for (std::uint32_t x = 1; x <= output->width; ++x) {
      PackedColor colour;
      if (canvas) {
        const std::uint8_t* p =
            canvas + 3 * ((static_cast<std::size_t>(y) - 1) * input->width + (x - 1));
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

// The step messages. Without dumps nothing else is written while the steps
// run, so the messages are collected and written in large blocks; the bytes
// and their order are the same as one flushed write per message. With dumps
// every message is flushed at once, so that it stands before whatever the
// dump writer may report.
class StepLog {
 public:
  explicit StepLog(bool batched) : batched_(batched) {}
  ~StepLog() { flush(); }

  void step(int step, int percent) {
    if (!batched_) {
      progressLog("Processing step %i - %i%%\n", step, percent);
      return;
    }
    text_ += "Processing step ";
    appendNumber(step);
    text_ += " - ";
    appendNumber(percent);
    text_ += "%\n";
    if (text_.size() >= kBlock) flush();
  }

  void line(const std::string& message) {
    if (!batched_) {
      progressLog("%s", message.c_str());
      return;
    }
    text_ += message;
    if (text_.size() >= kBlock) flush();
  }

  void flush() {
    if (text_.empty()) return;
    std::FILE* out = consoleOut();
    std::fwrite(text_.data(), 1, text_.size(), out);
    std::fflush(out);
    text_.clear();
  }

 private:
  static constexpr std::size_t kBlock = 1 << 16;

  void appendNumber(int value) {
    if (value < 0) {
      text_ += '-';
      value = -value;  // steps and percentages are small: no overflow
    }
    char digits[12];
    int length = 0;
    do {
      digits[length++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0);
    while (length > 0) text_ += digits[--length];
  }

  bool batched_;
  std::string text_;
};

// Writes the dumps on a second thread, one at a time, while the next step is
// painted. Each canvas buffer is brought up to the step it is to show by
// replaying the splits it has not seen yet, so the writer never reads a buffer
// that is being painted. finish() returns only when the dump handed over last
// has been written, so the caller can keep the order of its messages.
class DumpWriter {
 public:
  DumpWriter(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {
    thread_ = std::thread([this] { run(); });
  }
  ~DumpWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void start(std::string name, const std::uint8_t* rgb) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      name_ = std::move(name);
      rgb_ = rgb;
      busy_ = true;
    }
    wake_.notify_all();
  }

  // Waits for the dump in hand; returns whether it was written.
  bool finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
    const bool ok = ok_;
    ok_ = true;
    return ok;
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return busy_ || stop_; });
      if (busy_) {
        const std::string name = name_;
        const std::uint8_t* rgb = rgb_;
        lock.unlock();
        const bool ok = writeRgbFile(name.c_str(), width_, height_, rgb) != 0;
        lock.lock();
        ok_ = ok;
        busy_ = false;
        done_.notify_all();
        continue;
      }
      if (stop_) return;
    }
  }

  std::uint32_t width_;
  std::uint32_t height_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::string name_;
  const std::uint8_t* rgb_ = nullptr;
  bool busy_ = false;
  bool ok_ = true;
  bool stop_ = false;
  std::thread thread_;
};

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
  std::unique_ptr<DumpWriter> writer;
  if (dumps) {
    canvas = std::make_unique<Canvas>(histogram, tree, layout);
    histogram.pixelIds = std::vector<std::uint32_t>();
    // Writing a dump while the next step is painted needs a second core; on
    // one core it would only add painting.
    if (steps >= 2 && availableCores() >= 2) {
      try {
        writer = std::make_unique<DumpWriter>(input->width, input->height);
        canvas->addSecondBuffer();
      } catch (const std::system_error&) {
        writer.reset();
      }
    }
  }

  std::priority_queue<FrontierEntry, std::vector<FrontierEntry>, SplitsLater> frontier;
  auto enter = [&](std::uint32_t node) {
    // A leaf is never split: there are fewer steps than colours.
    if (!tree.isLeaf(node)) frontier.push(FrontierEntry{tree.cost[node], layout.first[node], node});
  };
  enter(tree.root());

  StepLog log(!dumps);
  std::vector<std::uint32_t> splits;
  const std::uint8_t* shown = nullptr;
  auto dumpWritten = [&](bool ok) {
    if (!ok && failed) *failed = true;
  };
  for (int step = 0; step < steps; ++step) {
    const std::uint32_t node = frontier.top().node;
    frontier.pop();
    const std::uint32_t left = tree.leftOf(node);
    const std::uint32_t right = tree.rightOf(node);
    enter(left);
    enter(right);
    splits.push_back(node);

    // Painting prints nothing, so it may run ahead of the messages; they wait
    // until the previous dump is complete.
    if (canvas)
      shown = canvas->show(static_cast<std::size_t>(step) % canvas->bufferCount(), splits);
    if (writer && step > 0) dumpWritten(writer->finish());

    if (quietLevel >= 2) {
      const int percent = static_cast<int>(static_cast<double>(step) / count * 100.0);
      log.step(step, percent);
    }
    if (quietLevel > 2) {
      log.line(formatString("Pixels updated : %i\n", static_cast<int>(tree.pixels[node])));
      const PackedColor l = tree.colour[left];
      const PackedColor r = tree.colour[right];
      log.line(formatString("Colors : %i:%i:%i %i:%i:%i\n", channel(l, 0), channel(l, 8),
                            channel(l, 16), channel(r, 0), channel(r, 8), channel(r, 16)));
      log.line(formatString("Path : %s\n", pathLabel(tree, layout, node).c_str()));
    }
    if (step <= limit - 2) {
      std::string name = formatString("dump%i_%s", step + 2, outputName.c_str());
      if (writer) {
        writer->start(std::move(name), shown);
      } else {
        dumpWritten(writeRgbFile(name.c_str(), input->width, input->height, shown) != 0);
      }
    }
  }
  if (writer) dumpWritten(writer->finish());
  log.flush();
  paintFinalState(output, input, shown);
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

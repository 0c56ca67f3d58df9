#include "shell/progression_run.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "cmdline/options.h"
#include "image/rgb_file.h"
#include "progression/colour_histogram.h"
#include "progression/merge_tree.h"
#include "progression/painting.h"
#include "progression/split_tree.h"
#include "shell/console.h"

namespace tavrel {
namespace {

// The output image as the bytes of a P6 body, repainted one cluster at a time
// through the pixel order of the tree. With a second buffer, one buffer can be
// written out while the other is painted; each buffer catches up on the
// splits it has not shown yet.
class Canvas {
 public:
  Canvas(const SplitTree& tree, const std::vector<std::uint32_t>& pixelRanks, std::uint32_t width,
         std::uint32_t height)
      : tree_(tree), order_(tree, pixelRanks), width_(width), height_(height) {
    buffers_.emplace_back(pixelRanks.size() * 3, 0xFF);
  }

  void addSecondBuffer() { buffers_.emplace_back(buffers_[0].rgb.size(), 0xFF); }
  std::size_t bufferCount() const { return buffers_.size(); }

  // Brings a buffer to the image after the first `steps` splits. Where the
  // other buffer is further on, copying it and painting the rest is cheaper
  // than replaying a large split.
  const std::uint8_t* show(std::size_t buffer, std::uint32_t steps) {
    Buffer& target = buffers_[buffer];
    if (buffers_.size() == 2) {
      const Buffer& other = buffers_[1 - buffer];
      if (other.shown > target.shown && other.shown <= steps) {
        std::uint64_t replay = 0;
        for (std::uint32_t i = target.shown; i < other.shown; ++i) {
          replay += tree_.pixelsOf(tree_.splitNode[i]);
        }
        // A copy streams 3 bytes a pixel; a replay writes 3 bytes at a
        // scattered place for each pixel of the splits.
        if (replay * 8 > target.rgb.size() / 3) {
          std::copy(other.rgb.begin(), other.rgb.end(), target.rgb.begin());
          target.shown = other.shown;
        }
      }
    }
    const PaintTarget rgb{target.rgb.data(), static_cast<std::size_t>(width_) * 3, width_, height_,
                          PaintFormat::Rgb};
    for (; target.shown < steps; ++target.shown) {
      const std::uint32_t node = tree_.splitNode[target.shown];
      const std::uint32_t left = tree_.leftOf(node), right = tree_.rightOf(node);
      order_.paint(tree_, left, tree_.colour[left], rgb);
      order_.paint(tree_, right, tree_.colour[right], rgb);
    }
    return target.rgb.data();
  }

 private:
  struct Buffer {
    Buffer(std::size_t bytes, std::uint8_t value) : rgb(bytes, value) {}
    std::vector<std::uint8_t> rgb;
    std::uint32_t shown = 0;  // splits painted so far
  };

  const SplitTree& tree_;
  PixelOrder order_;
  std::uint32_t width_, height_;
  std::vector<Buffer> buffers_;
};

PackedColor pixelOf(ImageBuffer* image, std::uint32_t x, std::uint32_t y) {
  if (const std::uint8_t* line = wholeColourLine(image, y)) {
    const std::uint8_t* p = line + 4 * static_cast<std::size_t>(x - 1);
    return p[0] | p[1] << 8 | static_cast<PackedColor>(p[2]) << 16;
  }
  return getColorPixel(image, x, y);
}

}  // namespace

// The image store's lines hold 4 bytes a pixel, R, G, B first; an image of
// another model reads pixel by pixel (as black throughout).
ColourHistogram imageHistogram(ImageBuffer* image, bool keepPixelIds) {
  HistogramBuilder builder(keepPixelIds ? static_cast<std::size_t>(image->width) * image->height
                                        : 0);
  std::vector<std::uint8_t> row;
  for (std::uint32_t y = 1; y <= image->height; ++y) {
    const std::uint8_t* line = wholeColourLine(image, y);
    if (!line) {
      row.resize(4 * static_cast<std::size_t>(image->width));
      for (std::uint32_t x = 1; x <= image->width; ++x) {
        const PackedColor c = getColorPixel(image, x, y);
        std::uint8_t* p = row.data() + 4 * static_cast<std::size_t>(x - 1);
        p[0] = c & 0xFF;
        p[1] = (c >> 8) & 0xFF;
        p[2] = (c >> 16) & 0xFF;
      }
      line = row.data();
    }
    builder.add(line, image->width, 4);
  }
  return builder.finish();
}

namespace {

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

  ColourHistogram histogram = imageHistogram(input, dumps);
  *colours = static_cast<std::uint32_t>(histogram.colours.size());
  const ProgressCallback none;
  ProgressMeter progress(none, 0.0, 1.0);
  const SplitTree tree = buildSplitTree(histogram, 0, progress);
  int count = static_cast<int>(tree.leafCount);
  if (limit != 0 && limit < count) count = limit;
  const int steps = count - 1;
  if (steps <= 0) return 0;

  std::unique_ptr<Canvas> canvas;
  std::unique_ptr<DumpWriter> writer;
  if (dumps) {
    leavesToRanks(tree, histogram.pixelIds);
    canvas = std::make_unique<Canvas>(tree, histogram.pixelIds, input->width, input->height);
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

  StepLog log(!dumps);
  const std::uint8_t* shown = nullptr;
  auto dumpWritten = [&](bool ok) {
    if (!ok && failed) *failed = true;
  };
  for (int step = 0; step < steps; ++step) {
    const std::uint32_t node = tree.splitNode[step];
    const std::uint32_t left = tree.leftOf(node);
    const std::uint32_t right = tree.rightOf(node);

    // Painting prints nothing, so it may run ahead of the messages; they wait
    // until the previous dump is complete.
    if (canvas)
      shown = canvas->show(static_cast<std::size_t>(step) % canvas->bufferCount(),
                           static_cast<std::uint32_t>(step) + 1);
    if (writer && step > 0) dumpWritten(writer->finish());

    if (quietLevel >= 2) {
      const int percent = static_cast<int>(static_cast<double>(step) / count * 100.0);
      log.step(step, percent);
    }
    if (quietLevel > 2) {
      log.line(formatString("Pixels updated : %i\n", static_cast<int>(tree.pixelsOf(node))));
      const PackedColor l = tree.colour[left];
      const PackedColor r = tree.colour[right];
      log.line(formatString("Colors : %i:%i:%i %i:%i:%i\n", channel(l, 0), channel(l, 8),
                            channel(l, 16), channel(r, 0), channel(r, 8), channel(r, 16)));
      log.line(formatString("Path : %s\n", pathLabel(tree, node).c_str()));
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

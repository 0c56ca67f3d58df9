// The whole job, through the program's driver, on small images. The first
// byte of the input picks the colour limit, the second the quiet level (and
// -O when its top bit is set). The rest is the image: a file as it stands
// when it starts with 'P'; otherwise a kind byte (P4, P5, P6), a width and a
// height byte (1..64 each), then the body, short or long as it comes.
// Images of more than 4096 pixels are skipped.
//
// Every run must end with exit code 0, one dump per colour count up to the
// limit, each a complete P6 file whose colours refine those of the dump
// before it. Images of few colours also run through the literal reference engine,
// which must print the same text and write the same files byte for byte.
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/image_store.h"
#include "reference/splitting.h"
#include "shell/driver.h"

namespace tavrel::fuzz {
namespace {

constexpr std::uint64_t kMaxPixels = 4096;
// The reference engine is cubic in the colours; beyond this many it would
// slow the fuzzer down too much.
constexpr std::size_t kMaxReferenceColours = 48;
constexpr std::size_t kLineBudget = 16u << 20;

struct Job {
  std::vector<std::string> arguments;
  int limit = 0;
};

Job jobFor(std::uint8_t limitByte, std::uint8_t quietByte) {
  Job job;
  job.arguments = {"tavrel"};
  if (limitByte == 255) {
    // Out of range: reported, and the limit stays 0.
    job.arguments.push_back("-C300");
  } else {
    job.limit = limitByte % 20;
    job.arguments.push_back("-C" + std::to_string(job.limit));
  }
  job.arguments.push_back("-Q" + std::to_string((quietByte & 0x7F) % 7));
  if (quietByte & 0x80) job.arguments.push_back("-O");
  job.arguments.push_back("input.ppm");
  job.arguments.push_back("out");
  return job;
}

std::string structuredImage(const std::uint8_t* data, std::size_t size) {
  static const char* const kMagic[] = {"P4", "P5", "P6"};
  const std::uint8_t kind = size > 0 ? data[0] % 3 : 2;
  const std::uint32_t width = size > 1 ? 1 + data[1] % 64 : 1;
  const std::uint32_t height = size > 2 ? 1 + data[2] % 64 : 1;
  std::string file = std::string(kMagic[kind]) + "\n" + std::to_string(width) + " " +
                     std::to_string(height) + "\n" + (kind == 0 ? "" : "255\n");
  if (size > 3) file.append(reinterpret_cast<const char*>(data + 3), size - 3);
  return file;
}

// The input as the driver will see it: its size and colours, or nothing when
// it does not open (the driver then fails, which is tested all the same).
struct InputFacts {
  bool opens = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t colours = 0;
};

InputFacts inspect(const std::string& path) {
  InputFacts facts;
  ImageBuffer image;
  if (openImage(path.c_str(), &image, Read, 0, WholeImage, Color, 1, 256)) {
    facts.opens = true;
    facts.width = image.width;
    facts.height = image.height;
    if (static_cast<std::uint64_t>(image.width) * image.height <= kMaxPixels) {
      std::set<PackedColor> colours;
      for (std::uint32_t y = 1; y <= image.height; ++y) {
        for (std::uint32_t x = 1; x <= image.width; ++x)
          colours.insert(getColorPixel(&image, x, y));
      }
      facts.colours = colours.size();
    }
  }
  destroyImage(&image);
  return facts;
}

struct RunResult {
  int exitCode = 0;
  std::string out;
  std::string err;
  std::map<std::string, std::string> files;  // every file the run left, but the input
};

std::string maskDuration(std::string text) {
  const std::string mark = "Duration:    ";
  const std::size_t at = text.find(mark);
  if (at == std::string::npos) return text;
  const std::size_t end = text.find(" seconds\n", at);
  if (end == std::string::npos) fail("duration line without its unit");
  return text.replace(at + mark.size(), end - at - mark.size(), "<masked>");
}

RunResult run(const Job& job, ProgressionRun progression) {
  std::vector<std::string> arguments = job.arguments;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  RunResult result;
  Capture out;
  Capture err;
  {
    ConsoleGuard guard(kLineBudget, out.stream(), err.stream());
    InScratch inScratch;
    try {
      result.exitCode = runDriver(static_cast<int>(argv.size() - 1), argv.data(), progression);
    } catch (const FatalStopped& stop) {
      fail("fatal stop %d during the job", stop.code);
    }
  }
  result.out = maskDuration(out.text());
  result.err = err.text();
  for (const auto& entry : std::filesystem::directory_iterator(scratchDir())) {
    const std::string name = entry.path().filename().string();
    if (name != "input.ppm") result.files[name] = readBytes(entry.path().string());
  }
  for (const auto& [name, bytes] : result.files) std::filesystem::remove(scratchFile(name));
  return result;
}

std::string dumpHeader(const InputFacts& facts) {
  return "P6\n" + std::to_string(facts.width) + " " + std::to_string(facts.height) + "\n255\n";
}

// Dump k + 1 splits one cluster of dump k: pixels of one colour in the finer
// dump share one colour in the coarser one, and dump k has at most k colours.
void checkDumps(const RunResult& result, const InputFacts& facts, int limit) {
  const std::size_t wanted =
      limit >= 2 ? std::min<std::size_t>(static_cast<std::size_t>(limit), facts.colours) - 1 : 0;
  if (result.files.size() != wanted) {
    fail("%zu files written, %zu dumps expected", result.files.size(), wanted);
  }
  const std::string header = dumpHeader(facts);
  const std::size_t body = static_cast<std::size_t>(facts.width) * facts.height * 3;
  const std::string* coarser = nullptr;
  for (std::size_t k = 2; k < 2 + wanted; ++k) {
    const auto found = result.files.find("dump" + std::to_string(k) + "_out.ppm");
    if (found == result.files.end()) fail("dump %zu missing", k);
    const std::string& dump = found->second;
    if (dump.size() != header.size() + body || dump.compare(0, header.size(), header) != 0) {
      fail("dump %zu is not a %ux%u P6 file", k, facts.width, facts.height);
    }
    std::unordered_map<std::uint32_t, std::uint32_t> toCoarser;
    std::set<std::uint32_t> colours;
    for (std::size_t i = header.size(); i < dump.size(); i += 3) {
      const auto colourAt = [i](const std::string& bytes) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) |
               static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 2])) << 16;
      };
      const std::uint32_t colour = colourAt(dump);
      colours.insert(colour);
      if (coarser) {
        const std::uint32_t before = colourAt(*coarser);
        if (toCoarser.emplace(colour, before).first->second != before) {
          fail("dump %zu does not refine dump %zu", k, k - 1);
        }
      }
    }
    if (colours.size() > k) fail("dump %zu has %zu colours", k, colours.size());
    coarser = &dump;
  }
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrel;
  using namespace tavrel::fuzz;
  if (size < 2) return 0;
  const Job job = jobFor(data[0], data[1]);
  const std::uint8_t* image = data + 2;
  const std::size_t imageSize = size - 2;

  clearScratch();
  const std::string inputPath = scratchFile("input.ppm");
  if (imageSize > 0 && image[0] == 'P') {
    writeBytes(inputPath, image, imageSize);
  } else {
    const std::string file = structuredImage(image, imageSize);
    writeBytes(inputPath, reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
  }
  InputFacts facts;
  {
    ConsoleGuard guard(kLineBudget);
    facts = inspect(inputPath);
  }
  const std::uint64_t pixels = static_cast<std::uint64_t>(facts.width) * facts.height;
  if (facts.opens && pixels > kMaxPixels) return 0;

  const RunResult shipped = run(job, nullptr);
  if (facts.opens) {
    if (shipped.exitCode != 0) fail("exit code %d on a readable image", shipped.exitCode);
    checkDumps(shipped, facts, job.limit);
  } else if (shipped.exitCode != -1 || !shipped.files.empty()) {
    fail("an unreadable image gave exit code %d and %zu files", shipped.exitCode,
         shipped.files.size());
  }
  if (readBytes(inputPath).empty() && imageSize > 0) fail("the input was emptied");

  if (!facts.opens || facts.colours <= kMaxReferenceColours) {
    const RunResult reference = run(job, reference::runProgression);
    if (reference.exitCode != shipped.exitCode) fail("exit codes differ from the reference");
    if (reference.out != shipped.out) fail("standard output differs from the reference");
    if (reference.err != shipped.err) fail("standard error differs from the reference");
    if (reference.files != shipped.files) fail("written files differ from the reference");
  }
  return 0;
}

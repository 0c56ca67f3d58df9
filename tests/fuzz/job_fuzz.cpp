// The whole job, through the program's driver, on small images. The first
// byte of the input picks the colour limit, the second the quiet level (and
// -O when its top bit is set). The rest is the image: a file as it stands
// when it starts with 'P'; otherwise a kind byte (P4, P5, P6), a width and a
// height byte (1..64 each), then the body, short or long as it comes.
//
// A readable image of at most 4096 pixels must end with exit code 0 and leave
// exactly one dump per colour count up to the limit and nothing else (no
// temporary file), each a complete P6 file with at most k colours that
// refines the dump before it. Images of few colours run through the literal
// reference engine too, which must print and write the same bytes.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "image/image_store.h"
#include "reference/splitting.h"
#include "shell/driver.h"

namespace tavrel::fuzz {
namespace {

constexpr std::uint64_t kMaxPixels = 4096;
constexpr std::size_t kMaxReferenceColours = 48;  // the reference is cubic in them
constexpr std::size_t kLineBudget = 16u << 20;

struct Result {
  int exitCode = 0;
  std::string out, err;
  std::map<std::string, std::string> files;  // all but the input
  bool operator==(const Result&) const = default;
};

Result run(std::vector<std::string> arguments, ProgressionRun progression) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  Result result;
  Capture out, err;
  const int home = ::open(".", O_RDONLY | O_DIRECTORY);
  if (home < 0 || ::chdir(scratchDir().c_str()) != 0) fail("cannot enter the scratch folder");
  try {
    ConsoleGuard guard(kLineBudget, out.stream(), err.stream());
    result.exitCode = runDriver(static_cast<int>(argv.size() - 1), argv.data(), progression);
  } catch (const FatalStopped& stop) {
    fail("fatal stop %d during the job", stop.code);
  }
  if (::fchdir(home) != 0 || ::close(home) != 0) fail("cannot leave the scratch folder");
  result.out = out.text();
  const std::size_t at = result.out.find("Duration:");
  if (at != std::string::npos) result.out.erase(at, result.out.find('\n', at) - at);
  result.err = err.text();
  for (const auto& entry : std::filesystem::directory_iterator(scratchDir())) {
    const std::string name = entry.path().filename().string();
    if (name != "input.ppm") result.files[name] = readBytes(entry.path().string());
    if (name != "input.ppm") std::filesystem::remove(entry.path());
  }
  return result;
}

PackedColor colourAt(const std::string& bytes, std::size_t i) {
  return static_cast<std::uint8_t>(bytes[i]) | static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
         static_cast<PackedColor>(static_cast<std::uint8_t>(bytes[i + 2])) << 16;
}

void checkDumps(const Result& result, const ImageBuffer& image, std::size_t wanted) {
  if (result.files.size() != wanted) fail("%zu files for %zu dumps", result.files.size(), wanted);
  const std::string header =
      "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  const std::string* coarser = nullptr;
  for (std::size_t k = 2; k < 2 + wanted; ++k) {
    const auto found = result.files.find("dump" + std::to_string(k) + "_out.ppm");
    if (found == result.files.end()) fail("dump %zu missing", k);
    const std::string& dump = found->second;
    if (dump.size() != header.size() + 3ull * image.width * image.height ||
        dump.compare(0, header.size(), header) != 0) {
      fail("dump %zu is not a complete P6 file of the input's size", k);
    }
    std::map<PackedColor, PackedColor> toCoarser;
    for (std::size_t i = header.size(); i < dump.size(); i += 3) {
      const PackedColor before = coarser ? colourAt(*coarser, i) : 0;
      if (toCoarser.emplace(colourAt(dump, i), before).first->second != before)
        fail("dump %zu does not refine dump %zu", k, k - 1);
    }
    if (toCoarser.size() > k) fail("dump %zu has %zu colours", k, toCoarser.size());
    coarser = &dump;
  }
}

void job(const std::uint8_t* data, std::size_t size) {
  const int limit = data[0] == 255 ? 0 : data[0] % 20;  // 255: out of range, reported
  std::vector<std::string> arguments = {"tavrel",
                                        data[0] == 255 ? "-C300" : "-C" + std::to_string(limit),
                                        "-Q" + std::to_string((data[1] & 0x7F) % 7)};
  if (data[1] & 0x80) arguments.push_back("-O");
  arguments.insert(arguments.end(), {"input.ppm", "out"});

  std::string file(reinterpret_cast<const char*>(data + 2), size - 2);
  if (file.empty() || file[0] != 'P') {
    static const char* const kMagic[] = {"P4", "P5", "P6"};
    const int kind = file.size() > 0 ? static_cast<std::uint8_t>(file[0]) % 3 : 2;
    const int width = file.size() > 1 ? 1 + static_cast<std::uint8_t>(file[1]) % 64 : 1;
    const int height = file.size() > 2 ? 1 + static_cast<std::uint8_t>(file[2]) % 64 : 1;
    file = std::string(kMagic[kind]) + "\n" + std::to_string(width) + " " + std::to_string(height) +
           "\n" + (kind ? "255\n" : "") + (file.size() > 3 ? file.substr(3) : "");
  }
  clearScratch();
  writeBytes(scratchDir() + "/input.ppm", file);

  ImageBuffer image;
  std::set<PackedColor> colours;
  bool opens;
  {
    ConsoleGuard guard(kLineBudget);
    opens = openImage((scratchDir() + "/input.ppm").c_str(), &image, Read, 0, WholeImage, Color, 1,
                      256) == 1;
    const bool small = static_cast<std::uint64_t>(image.width) * image.height <= kMaxPixels;
    for (std::uint32_t y = 1; opens && small && y <= image.height; ++y) {
      for (std::uint32_t x = 1; x <= image.width; ++x) colours.insert(getColorPixel(&image, x, y));
    }
    destroyImage(&image);
    if (opens && !small) return;
  }

  const Result shipped = run(arguments, nullptr);
  if (opens && shipped.exitCode != 0) fail("exit code %d on a readable image", shipped.exitCode);
  if (!opens && (shipped.exitCode != -1 || !shipped.files.empty())) fail("unreadable, yet run");
  if (opens)
    checkDumps(shipped, image, limit >= 2 ? std::min<std::size_t>(limit, colours.size()) - 1 : 0);
  if (readBytes(scratchDir() + "/input.ppm") != file) fail("the input changed");
  if (colours.size() <= kMaxReferenceColours &&
      !(run(arguments, reference::runProgression) == shipped))
    fail("the reference engine prints or writes other bytes");
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 2) tavrel::fuzz::job(data, size);
  return 0;
}

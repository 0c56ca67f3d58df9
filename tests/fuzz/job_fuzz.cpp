// The whole job, through the program's driver, on small images. The first
// byte picks the colour limit, the second the quiet level (and -O with its
// top bit). The rest is the image: a file as it stands when it starts with
// 'P'; otherwise a kind byte (P4, P5, P6), a width and a height byte (1..64
// each), then the body, short or long as it comes.
//
// A readable image of at most 4096 pixels must end with exit code 0 and leave
// exactly one dump per colour count up to the limit and nothing else (no
// temporary file), each a complete P6 file with at most k colours that
// refines the dump before it. Images of few colours run through the literal
// reference engine too, which must print and write the same bytes.
#include <map>
#include <set>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "reference/splitting.h"
#include "shell/driver.h"

namespace tavrel::fuzz {
namespace {

namespace fs = std::filesystem;

struct Result {
  int exitCode = 0;
  std::string out, err;
  std::map<std::string, std::string> files;  // all but the input
  bool operator==(const Result&) const = default;
};

std::string text(std::FILE* stream) {
  std::string all = readBytes("/proc/self/fd/" + std::to_string(fileno(stream)));
  std::fclose(stream);
  return all;
}

Result run(std::vector<std::string> arguments, ProgressionRun progression) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  Result result;
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  const fs::path home = fs::current_path();
  fs::current_path(scratchDir());
  try {
    ConsoleGuard guard(16u << 20, out, err);
    result.exitCode = runDriver(int(argv.size() - 1), argv.data(), progression);
  } catch (const FatalStopped& stop) {
    fail("fatal stop %d during the job", stop.code);
  }
  fs::current_path(home);
  result.out = text(out), result.err = text(err);
  const std::size_t at = result.out.find("Duration:");
  if (at != std::string::npos) result.out.erase(at, result.out.find('\n', at) - at);
  for (const auto& entry : fs::directory_iterator(scratchDir())) {
    if (entry.path().filename() == "input.ppm") continue;
    result.files[entry.path().filename()] = readBytes(entry.path());
    fs::remove(entry.path());
  }
  return result;
}

void checkDumps(const Result& result, const ImageBuffer& image, std::size_t wanted) {
  if (result.files.size() != wanted) fail("%zu files for %zu dumps", result.files.size(), wanted);
  const std::string header =
      "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  std::string coarser;
  for (std::size_t k = 2; k < 2 + wanted; ++k) {
    const std::string& dump = result.files.count("dump" + std::to_string(k) + "_out.ppm")
                                  ? result.files.at("dump" + std::to_string(k) + "_out.ppm")
                                  : "";
    if (dump.size() != header.size() + 3ull * image.width * image.height ||
        !dump.starts_with(header))
      fail("dump %zu is missing or not a complete P6 file of the input's size", k);
    std::map<std::string, std::string> toCoarser;  // each colour to the one it refines
    for (std::size_t i = header.size(); i < dump.size(); i += 3) {
      const std::string before = coarser.empty() ? "" : coarser.substr(i, 3);
      if (toCoarser.emplace(dump.substr(i, 3), before).first->second != before)
        fail("dump %zu does not refine dump %zu", k, k - 1);
    }
    if (toCoarser.size() > k) fail("dump %zu has %zu colours", k, toCoarser.size());
    coarser = dump;
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
    const std::string body = file.size() > 3 ? file.substr(3) : "";
    file.resize(3, '\0');
    const int kind = std::uint8_t(file[0]) % 3;
    file = std::string("P") + char('4' + kind) + "\n" +
           std::to_string(1 + std::uint8_t(file[1]) % 64) + " " +
           std::to_string(1 + std::uint8_t(file[2]) % 64) + "\n" + (kind ? "255\n" : "") + body;
  }
  const std::string path = scratchDir() + "/input.ppm";
  std::ofstream(path, std::ios::binary) << file;

  ImageBuffer image;
  std::set<PackedColor> colours;
  bool opens;
  {
    ConsoleGuard guard(16u << 20);
    opens = openImage(path.c_str(), &image, Read, 0, WholeImage, Color, 1, 256) == 1;
    const bool small = std::uint64_t(image.width) * image.height <= 4096;
    for (std::uint32_t y = 1; opens && small && y <= image.height; ++y)
      for (std::uint32_t x = 1; x <= image.width; ++x) colours.insert(getColorPixel(&image, x, y));
    destroyImage(&image);
    if (opens && !small) return;
  }
  const Result shipped = run(arguments, nullptr);
  if (opens && shipped.exitCode != 0) fail("exit code %d on a readable image", shipped.exitCode);
  if (!opens && (shipped.exitCode != -1 || !shipped.files.empty())) fail("unreadable, yet run");
  if (opens)
    checkDumps(shipped, image, limit >= 2 ? std::min<std::size_t>(limit, colours.size()) - 1 : 0);
  if (readBytes(path) != file) fail("the input changed");
  // The reference is cubic in the colours.
  if (colours.size() <= 48 && !(run(arguments, reference::runProgression) == shipped))
    fail("the reference engine prints or writes other bytes");
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 2) tavrel::fuzz::job(data, size);
  return 0;
}

// The command-line parse on arbitrary argument vectors: the arguments after
// the program name, each ended by a NUL byte (a last one without its NUL
// counts too). It runs over the driver's two records and over one to four
// records chosen from the input, levels that break the 1, 2, 3 rule
// included. A failure is the fatal stop, which must carry the code -1.
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "fuzz/fuzz_support.h"

namespace tavrel::fuzz {
namespace {

struct Outcome {
  bool parsed = false;
  int positional = 0;
  std::vector<int> options;
  std::vector<std::string> paths;
  bool operator==(const Outcome&) const = default;
};

Outcome parse(std::vector<char*>& argv, std::vector<FileParameter> records) {
  Outcome outcome;
  try {
    outcome.positional = parseCommandLine(static_cast<int>(argv.size() - 1), argv.data(),
                                          static_cast<int>(records.size()), records.data());
    outcome.parsed = true;
  } catch (const FatalStopped& stop) {
    if (stop.code != -1) fail("fatal stop with code %d", stop.code);
  }
  for (int option = 1; option <= kOptionCount; ++option) {
    const int value = optionValue(option);
    if (value < optionMinimum(option) || value > optionMaximum(option))
      fail("option %d holds %d", option, value);
    outcome.options.push_back(value);
  }
  for (const FileParameter& record : records) outcome.paths.push_back(record.path);
  return outcome;
}

// Two records as the driver makes them (seed 0), or a choice of records.
std::vector<FileParameter> records(std::uint64_t seed) {
  static const std::int32_t kDirections[] = {Output, Input, Exempt};
  std::vector<FileParameter> chosen(seed ? 1 + seed % 4 : 2);
  for (std::size_t i = 0; i < chosen.size(); ++i, seed /= 18) {
    chosen[i].defaultExtension = !seed || (seed / 9) % 2 ? "ppm" : "";
    chosen[i].optionalLevel = static_cast<std::int32_t>(seed % 3);
    chosen[i].direction = seed ? kDirections[(seed / 3) % 3] : i == 0 ? Input : Output;
  }
  return chosen;
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrel::fuzz;
  std::vector<std::string> arguments{"tavrel"};
  std::uint64_t hash = 1469598103934665603ull;
  std::string current;
  for (std::size_t i = 0; i < size && arguments.size() <= 64; ++i) {
    hash = (hash ^ data[i]) * 1099511628211ull;
    if (data[i]) current.push_back(static_cast<char>(data[i]));
    if (!data[i]) arguments.push_back(std::move(current)), current.clear();
  }
  if (!current.empty() && arguments.size() <= 64) arguments.push_back(current);
  std::vector<char*> argv;
  int names = 0;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
    names += argument[0] != '-';
  }
  argv.push_back(nullptr);
  names -= 1;  // the program name

  ConsoleGuard guard(0);
  const Outcome first = parse(argv, records(0));
  if (first.parsed) {
    if (first.positional != 2 || names != 2) fail("parsed with %d names", first.positional);
    for (std::size_t k = 0, i = 1; k < 2; ++i) {
      if (arguments[i][0] == '-') continue;
      const std::string& path = first.paths[k++];
      if (path != arguments[i] && path != arguments[i] + ".ppm")
        fail("name became %s", path.c_str());
    }
    if (tavrel::namesEqualIgnoringCase(first.paths[0], first.paths[1])) fail("equal names");
  }
  // Every parse starts from the defaults, whatever the one before left.
  if (!(parse(argv, records(0)) == first)) fail("a second parse differs");
  const Outcome chosen = parse(argv, records(hash | 1));
  if (chosen.parsed && chosen.positional != names) fail("counted %d names", chosen.positional);
  return 0;
}

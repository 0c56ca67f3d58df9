// The command-line parse on arbitrary argument vectors: the arguments after
// the program name, each ended by a NUL byte. It runs over the driver's two
// records and over one to four records chosen from the input, levels that
// break the 1, 2, 3 rule included. A failure is the fatal stop with -1.
#include <vector>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "fuzz/fuzz_support.h"

namespace tavrel::fuzz {
namespace {

struct Outcome {
  int positional = -1;  // -1: refused
  std::vector<int> options;
  std::vector<std::string> paths;
  bool operator==(const Outcome&) const = default;
};

// Over two records as the driver makes them (seed 0), or a choice of records.
Outcome parse(std::vector<char*>& argv, std::uint64_t seed) {
  static const std::int32_t kDirections[] = {Output, Input, Exempt};
  std::vector<FileParameter> records(seed ? 1 + seed % 4 : 2);
  for (std::size_t i = 0; i < records.size(); ++i, seed /= 18) {
    records[i].defaultExtension = !seed || (seed / 9) % 2 ? "ppm" : "";
    records[i].optionalLevel = static_cast<std::int32_t>(seed % 3);
    records[i].direction = seed ? kDirections[(seed / 3) % 3] : i == 0 ? Input : Output;
  }
  Outcome outcome;
  try {
    outcome.positional =
        parseCommandLine(int(argv.size() - 1), argv.data(), int(records.size()), records.data());
  } catch (const FatalStopped& stop) {
    if (stop.code != -1) fail("fatal stop with code %d", stop.code);
  }
  for (int option = 1; option <= kOptionCount; ++option) {
    outcome.options.push_back(optionValue(option));
    if (outcome.options.back() < optionMinimum(option) ||
        outcome.options.back() > optionMaximum(option))
      fail("option %d holds %d", option, outcome.options.back());
  }
  for (const FileParameter& record : records) outcome.paths.push_back(record.path);
  return outcome;
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrel::fuzz;
  std::vector<std::string> arguments{"tavrel", ""};
  std::uint64_t hash = 1469598103934665603ull;
  for (std::size_t i = 0; i < size && arguments.size() <= 65; ++i) {
    hash = (hash ^ data[i]) * 1099511628211ull;
    if (data[i])
      arguments.back().push_back(static_cast<char>(data[i]));
    else
      arguments.emplace_back();
  }
  if (arguments.back().empty() || arguments.size() > 65) arguments.pop_back();
  std::vector<char*> argv;
  int names = -1;  // the program name
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
    names += argument[0] != '-';
  }
  argv.push_back(nullptr);

  ConsoleGuard guard(0);
  const Outcome first = parse(argv, 0);
  if (first.positional >= 0) {
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
  if (!(parse(argv, 0) == first)) fail("a second parse differs");
  const Outcome chosen = parse(argv, hash | 1);
  if (chosen.positional >= 0 && chosen.positional != names)
    fail("counted %d names", chosen.positional);
  return 0;
}

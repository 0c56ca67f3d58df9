// The command-line parse on arbitrary argument vectors. The input holds the
// arguments after the program name, each ended by a NUL byte (a last one
// without its NUL counts too). The parse runs over the program's own two
// records and over a record array chosen from the input, optional levels
// that break the 1, 2, 3 rule included; a failure is the fatal stop, which
// the harness catches.
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "fuzz/fuzz_support.h"

namespace tavrel::fuzz {
namespace {

constexpr std::size_t kMaxArguments = 64;

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
    // argv ends with the null pointer that follows the last argument.
    outcome.positional = parseCommandLine(static_cast<int>(argv.size() - 1), argv.data(),
                                          static_cast<int>(records.size()), records.data());
    outcome.parsed = true;
  } catch (const FatalStopped& stop) {
    if (stop.code != -1) fail("fatal stop with code %d", stop.code);
  }
  for (int option = 1; option <= kOptionCount; ++option) {
    const int value = optionValue(option);
    if (value < optionMinimum(option) || value > optionMaximum(option)) {
      fail("option %d holds %d outside [%d,%d]", option, value, optionMinimum(option),
           optionMaximum(option));
    }
    outcome.options.push_back(value);
  }
  for (const FileParameter& record : records) outcome.paths.push_back(record.path);
  return outcome;
}

std::uint64_t hashOf(const std::uint8_t* data, std::size_t size) {
  std::uint64_t hash = 1469598103934665603ull;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  return hash;
}

std::vector<FileParameter> driverRecords() {
  std::vector<FileParameter> records(2);
  records[0].defaultExtension = "ppm";
  records[0].direction = Input;
  records[1].defaultExtension = "ppm";
  records[1].direction = Output;
  return records;
}

// One to four records with levels 0..2 and any direction: arrays that keep
// the level rule and arrays that do not.
std::vector<FileParameter> chosenRecords(std::uint64_t hash) {
  static const std::int32_t kDirections[] = {Output, Input, Exempt};
  std::vector<FileParameter> records(1 + hash % 4);
  hash /= 4;
  for (FileParameter& record : records) {
    record.optionalLevel = static_cast<std::int32_t>(hash % 3);
    record.direction = kDirections[(hash / 3) % 3];
    record.defaultExtension = (hash / 9) % 2 ? "ppm" : "";
    hash /= 18;
  }
  return records;
}

}  // namespace
}  // namespace tavrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tavrel;
  using namespace tavrel::fuzz;
  std::vector<std::string> arguments{"tavrel"};
  std::string current;
  for (std::size_t i = 0; i < size && arguments.size() <= kMaxArguments; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty() && arguments.size() <= kMaxArguments) arguments.push_back(current);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int positional = 0;
  for (std::size_t i = 1; i < arguments.size(); ++i) positional += arguments[i][0] != '-';

  ConsoleGuard guard(0);
  const Outcome first = parse(argv, driverRecords());
  if (first.parsed) {
    if (first.positional != 2 || positional != 2) fail("parsed with %d names", first.positional);
    for (int k = 0, i = 1; k < 2; ++i) {
      if (arguments[i][0] == '-') continue;
      const std::string& path = first.paths[k++];
      if (path != arguments[i] && path != arguments[i] + ".ppm")
        fail("name became %s", path.c_str());
    }
    if (namesEqualIgnoringCase(first.paths[0], first.paths[1])) fail("equal names accepted");
  }
  // The parse starts from the defaults every time: a second run gives the
  // same outcome whatever the run before it left in the table.
  if (!(parse(argv, driverRecords()) == first)) fail("a second parse differs");

  const Outcome chosen = parse(argv, chosenRecords(hashOf(data, size)));
  if (chosen.parsed && chosen.positional != positional) fail("counted %d names", chosen.positional);
  return 0;
}

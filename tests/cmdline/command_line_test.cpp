// The command line, from an argument vector to option values, file names,
// messages and the fatal stop; the value lists under it; the extension test.
#include <gtest/gtest.h>

#include <sstream>

#include "cmdline/arguments.h"
#include "cmdline/options.h"
#include "support/test_support.h"

namespace tavrel {
namespace {

using Strings = std::vector<std::string>;

FileParameter record(int level, int direction, std::string extension = "") {
  return {"stale", std::move(extension), level, direction};
}

// Runs the parse over "tavrel" and the arguments, from options left at odd
// values, with a fatal stop that throws instead of ending the process.
// Returns the output and the names, or no names when the process stopped.
std::pair<std::string, Strings> parse(Strings arguments, std::vector<FileParameter> records) {
  arguments.insert(arguments.begin(), "tavrel");
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  for (int option = 1; option <= 3; ++option) setOptionValue(option, 200);
  Strings paths;
  test::CapturedConsole console;
  setFatalHandler([](int code) { throw code; });
  try {
    const auto names = std::count_if(arguments.begin() + 1, arguments.end(),
                                     [](const std::string& a) { return a.empty() || a[0] != '-'; });
    EXPECT_EQ(parseCommandLine(static_cast<int>(argv.size()), argv.data(),
                               static_cast<int>(records.size()), records.data()),
              names);
    for (const FileParameter& r : records) paths.push_back(r.path);
  } catch (int code) {
    EXPECT_EQ(code, -1);
  }
  setFatalHandler(nullptr);
  EXPECT_EQ(console.err(), "");
  return {console.out(), paths};
}

const std::string kUsage = test::readFile(test::dataPath("usage.txt"));

Strings words(const std::string& field, const std::map<std::string, std::string>& defs) {
  Strings all;
  std::istringstream split(field);
  for (std::string word; split >> word;) all.push_back(test::decode(word, defs));
  return all;
}

TEST(CommandLine, Table) {
  const std::map<std::string, std::string> defs = {
      {"usage", kUsage},
      {"clash", "ERROR: Input and output filenames should be different.\n"},
      {"unknown", "ERROR: Unknown option -"},
      {"range", "ERROR: Parameter "}};
  std::ifstream in(TAVREL_CMDLINE_CASES);
  int rows = 0;
  for (std::string line; std::getline(in, line); ++rows) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line.substr(0, 100));
    Strings field;
    std::istringstream split(line + " ");
    for (std::string part; std::getline(split, part, '|');)
      field.push_back(part.substr(1, part.size() - 2));
    field[0] = line.substr(0, line.find(' '));
    if (field[0] == "list") {
      ValueList list;
      list.count = 12345;
      std::fill(std::begin(list.values), std::end(list.values), 777);
      readValueList(test::decode(field[1], defs).c_str(), std::stoi(field[2]), &list);
      std::string got = std::to_string(list.count);
      for (int i = 1; i <= list.count; ++i) (got += " ") += std::to_string(list.values[i]);
      EXPECT_EQ(got, field[3]);
      EXPECT_EQ(
          std::count(std::begin(list.values), std::end(list.values), -1),
          kValueListCapacity - list.count + std::count(field[3].begin(), field[3].end(), '-'));
      continue;
    }
    std::vector<FileParameter> records = {record(0, Input, "ppm"), record(0, Output, "ppm")};
    if (field[0] == "records") {
      records.clear();
      for (const std::string& r : words(field[1], defs)) {
        records.push_back(record(r.back() - '0', r[0] == 'i'   ? Input
                                                 : r[0] == 'o' ? Output
                                                               : Exempt));
      }
      field.erase(field.begin() + 1);
    }
    Strings names = words(field[3], defs);
    if (names == Strings{"stop"}) names.clear();
    for (std::string& name : names) name = name == std::string(1, '\0') ? "" : name;
    EXPECT_EQ(parse(words(field[1], defs), records),
              std::pair(test::decode(field[2], defs), names));
    if (field[0] == "parse") {
      EXPECT_EQ(std::to_string(optionValue(1)) + " " + std::to_string(optionValue(2)) + " " +
                    std::to_string(optionValue(3)),
                field[4]);
    }
  }
  EXPECT_GT(rows, 50);  // the table was found
  resetOptions();
}

// The usage itself is the table's (with options at other values than their
// defaults) and the end-to-end cases'.
TEST(CommandLine, TheExtensionIsTheTextAfterTheFirstDot) {
  for (const auto& [name, has] : {std::pair{"x.ppm", 1},
                                  {".ppm", 1},
                                  {"x.PPM", 0},
                                  {"a.b.ppm", 0},
                                  {"./x.ppm", 0},
                                  {"x", 0},
                                  {"x.ppmx", 0},
                                  {"x.pp", 0}}) {
    EXPECT_EQ(hasExtension(name, "ppm"), has) << name;
  }
  EXPECT_EQ(std::pair(hasExtension("x.", ""), hasExtension("x.ppm", nullptr)), std::pair(1, 0));
}

}  // namespace
}  // namespace tavrel

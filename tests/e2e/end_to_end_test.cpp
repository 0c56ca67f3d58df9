// The real binary on real files: one runner for the cases of cases.txt (its
// header explains the format). Each case lays out a folder, runs the program
// (or the measuring tool) there and compares standard output (the Duration
// figure masked), standard error, the exit code and every entry of the folder
// afterwards, byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <regex>
#include <sstream>

#include "support/test_support.h"

namespace tavrel {
namespace {

using test::kSanitized;
using Strings = std::vector<std::string>;

struct Row {
  std::string name;
  std::vector<Strings> setup;  // kind, path, bytes or target
  Strings args;
  std::string out = {}, err = {};
  int exitCode = 0;
  std::map<std::string, std::string> written = {};
  std::string limit = {};
  int timeout = 120;
  std::string program = TAVREL_BINARY;
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

std::vector<Row> rows() {
  std::ifstream in(TAVREL_E2E_CASES);
  std::map<std::string, std::string> defs;
  std::vector<Row> all;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::string key = line.substr(0, line.find(' ')), rest = line.substr(key.size() + 1);
    Strings words;
    std::istringstream split(rest);
    for (std::string word; split >> word;) words.push_back(test::decode(word, defs));
    words.resize(std::max<std::size_t>(words.size(), 2));
    if (key == "def") {
      defs[rest.substr(0, rest.find(' '))] = test::decode(rest.substr(rest.find(' ') + 1), defs);
      continue;
    }
    if (key == "case") all.push_back({rest, {}, {}});
    Row& row = all.back();
    if (key == "run") row.args = words;
    if (key == "program") row.program = rest == "tavrel-deltae" ? TAVREL_DELTAE_BINARY : rest;
    if (key == "limit") row.limit = rest + "; ";
    if (key == "timeout") row.timeout = std::stoi(rest);
    if (key == "out") row.out += test::decode(rest, defs);
    if (key == "err") row.err += test::decode(rest, defs);
    if (key == "exit") row.exitCode = std::stoi(rest);
    if (key == "wrote") row.written[words[0]] = words[1];
    if (key == "file" || key == "folder" || key == "fifo" || key == "link" || key == "hardlink") {
      row.setup.push_back({key, words[0], words[1]});
    }
  }
  for (Row& row : all)
    row.args.erase(std::remove(row.args.begin(), row.args.end(), ""), row.args.end());
  return all;
}

void layOut(const std::string& root, const Strings& entry) {
  const test::fs::path path = test::fs::path(root) / entry[1];
  test::fs::create_directories(path.parent_path());
  if (entry[0] == "file") test::writeFile(path.string(), entry[2]);
  if (entry[0] == "folder") test::fs::create_directories(path);
  if (entry[0] == "fifo" && ::mkfifo(path.c_str(), 0600) != 0) ADD_FAILURE() << path;
  if (entry[0] == "link") test::fs::create_symlink(entry[2], path);
  if (entry[0] == "hardlink") test::fs::create_hard_link(test::fs::path(root) / entry[2], path);
}

struct Outcome {
  std::string out, err;
  int exitCode;
  std::map<std::string, std::string> entries;
};

std::string quoted(const std::string& text) {
  return std::string("'") + std::regex_replace(text, std::regex("'"), "'\\''") + "'";
}

// Through a shell for the limit; the timeout keeps a run that would block
// from stalling the suite. Under the sanitizers a row runs without its memory
// limit (its outcome must not depend on it) and with ten times its time.
Outcome runIn(const std::string& program, const Row& row) {
  test::TempDir dir, capture;
  for (const Strings& entry : row.setup) layOut(dir.path(), entry);
  const std::string limit = kSanitized && row.limit.starts_with("ulimit -v") ? "" : row.limit;
  std::string command = "cd " + quoted(dir.path()) + " && (" + limit + "exec timeout " +
                        std::to_string(row.timeout * (kSanitized ? 10 : 1)) + " " + quoted(program);
  for (const std::string& arg : row.args) (command += " ") += quoted(arg);
  const std::string out = capture.file("out"), err = capture.file("err");
  const int status = std::system((command + ") </dev/null >" + out + " 2>" + err).c_str());
  static const std::regex duration("Duration:    [0-9.]+ *seconds");
  return {std::regex_replace(test::readFile(out), duration, "Duration:    <masked> seconds"),
          test::readFile(err), WEXITSTATUS(status), test::entriesBelow(dir.path())};
}

class EndToEnd : public ::testing::TestWithParam<Row> {};

TEST_P(EndToEnd, OutputErrorsExitCodeAndFiles) {
  const Row& row = GetParam();
  const Outcome got = runIn(row.program, row);
  Outcome want{row.out, row.err, row.exitCode, {}};
  if (row.out == "=reference") {
    want = runIn(TAVREL_REFERENCE_BINARY, row);
  } else {
    test::TempDir dir;
    for (const Strings& entry : row.setup) layOut(dir.path(), entry);
    want.entries = test::entriesBelow(dir.path());
    for (const auto& [name, bytes] : row.written) want.entries[name] = bytes;
  }
  EXPECT_EQ(got.out, want.out);
  EXPECT_EQ(got.err, want.err);
  EXPECT_EQ(got.exitCode, want.exitCode);
  for (const auto& [name, bytes] : want.entries) {
    EXPECT_TRUE(got.entries.count(name) && got.entries.at(name) == bytes) << name << " differs";
  }
  for (const auto& entry : got.entries) EXPECT_TRUE(want.entries.count(entry.first)) << entry.first;
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace tavrel

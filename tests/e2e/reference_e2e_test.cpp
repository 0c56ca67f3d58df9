// The shipped program against the reference program (the same driver over
// the literal progression): for each command line, standard output (the
// Duration figure masked), standard error, the exit code and every file
// written must be identical.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  test::ProcessResult process;
  std::map<std::string, std::string> files;
};

Outcome runIn(const std::string& program, const std::string& inputBytes,
              const std::vector<std::string>& options) {
  test::TempDir folder;
  test::writeFile(folder.file("in.ppm"), inputBytes);
  std::vector<std::string> args{program};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("in.ppm");
  args.push_back("out");
  Outcome outcome;
  outcome.process = test::runProcess(program, args, folder.path());
  outcome.process.out = test::maskDuration(outcome.process.out);
  for (const auto& entry : fs::directory_iterator(folder.path())) {
    outcome.files[entry.path().filename().string()] = test::readFile(entry.path().string());
  }
  return outcome;
}

TEST(ReferenceEndToEnd, ShippedProgramMatchesTheReferenceProgram) {
  const std::vector<std::string> inputs = {"coffee-24x16.ppm", "coffee-post-48x32.ppm",
                                           "chelsea-16x16.ppm", "motorcycle-16x16.ppm"};
  const std::vector<std::vector<std::string>> optionSets = {
      {"-Q3"}, {"-C256"}, {"-Q0", "-C7"}, {"-q3", "-c2"}, {"-C1"}};
  for (const std::string& name : inputs) {
    const std::string bytes = test::readFile(test::testDataPath(name));
    for (const std::vector<std::string>& options : optionSets) {
      SCOPED_TRACE(name + " " + options[0]);
      const Outcome shipped = runIn(TAVREL_BINARY, bytes, options);
      const Outcome reference = runIn(TAVREL_REFERENCE_BINARY, bytes, options);
      EXPECT_EQ(shipped.process.exitCode, 0);
      EXPECT_EQ(shipped.process.exitCode, reference.process.exitCode);
      EXPECT_EQ(shipped.process.out, reference.process.out);
      EXPECT_EQ(shipped.process.err, reference.process.err);
      EXPECT_EQ(shipped.files, reference.files);
    }
  }
}

}  // namespace
}  // namespace tavrel

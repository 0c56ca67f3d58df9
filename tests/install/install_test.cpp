// The installed program: `cmake --install` into a staging folder, the Debian
// package that CPack builds, and the man page that both ship.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;

const std::string kManPageSource = std::string(TAVREL_SOURCE_DIR) + "/doc/tavrel.1";

// The option list of the usage text, byte for byte.
const std::string kOptionList =
    "  -Cn              = Admissible color depth (0..256, default=0)\n"
    "  -O               = Overwrite (default=NO)\n"
    "  -Qn              = QuietLevel\n"
    "                         0 = Silent (nothing)\n"
    "                         1 = Quiet (only final bits)\n"
    "                         2 = Normal (Info + Statistics) (default)\n"
    "                         3 = +Progress\n"
    "                         4 = +Expanded contexts\n"
    "                         5 = +All tried contexts\n"
    "                         6 = +Debug info\n";

// The usage text around the author notice, whose wording is free.
const std::string kUsageHead = "\r\nTavrel  V 0.0  (last modified 24.04.2006)\r\n";
const std::string kUsageTail =
    "\r\nProgram usage syntax:\r\nTavrel {-option} InputFile OutFile \r\n"
    "Options:\r\n" +
    kOptionList + "\r\nTavrel     V 0.0\r\n";

// The full path of a program found in PATH, or "" when there is none.
std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

test::ProcessResult run(const std::string& program, std::vector<std::string> args,
                        const std::string& cwd = "") {
  args.insert(args.begin(), program);
  return test::runProcess(program, args, cwd);
}

// Every entry below root that is not a folder, as paths relative to root.
std::set<std::string> filesBelow(const std::string& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), root).string());
  }
  return files;
}

unsigned permissionBits(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

std::string relativeToRoot(const std::string& absolute) {
  return absolute.substr(1);
}

void expectUsageRun(const test::ProcessResult& result) {
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_EQ(result.err, "");
  ASSERT_GE(result.out.size(), kUsageHead.size() + kUsageTail.size());
  EXPECT_EQ(result.out.substr(0, kUsageHead.size()), kUsageHead);
  EXPECT_EQ(result.out.substr(result.out.size() - kUsageTail.size()), kUsageTail);
}

// A job small enough for any build: two colours and a limit of two give one
// step, whose dump reproduces the input exactly.
void expectTwoColourJob(const std::string& binary) {
  test::TempDir work;
  const std::string input = test::makePpm(2, 2, {0x2814C8, 0xC85A14, 0xC85A14, 0x2814C8});
  test::writeFile(work.file("in.ppm"), input);

  const test::ProcessResult result = run(binary, {"-Q1", "-C2", "in.ppm", "out"}, work.path());

  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "CodeSize : 0 bytes 0.000000 bpp\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(filesBelow(work.path()), (std::set<std::string>{"dump2_out.ppm", "in.ppm"}));
  EXPECT_EQ(test::readFile(work.file("dump2_out.ppm")), input);
}

// Installs the build tree into a fresh staging folder, as a packager would.
class StagedInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    const test::ProcessResult result =
        run(TAVREL_CMAKE,
            {"-E", "env", "DESTDIR=" + stage_.path(), TAVREL_CMAKE, "--install", TAVREL_BUILD_DIR});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  }

  std::string staged(const std::string& absolute) const { return stage_.path() + absolute; }
  std::string binary() const { return staged(TAVREL_INSTALL_BINDIR "/tavrel"); }
  std::string manPage() const { return staged(TAVREL_INSTALL_MANDIR "/man1/tavrel.1"); }

  test::TempDir stage_;
};

TEST_F(StagedInstall, InstallsTheBinaryAndTheManPageOnly) {
  EXPECT_EQ(filesBelow(stage_.path()),
            (std::set<std::string>{relativeToRoot(TAVREL_INSTALL_BINDIR "/tavrel"),
                                   relativeToRoot(TAVREL_INSTALL_MANDIR "/man1/tavrel.1")}));
  EXPECT_EQ(permissionBits(binary()), 0755u);
  EXPECT_EQ(permissionBits(manPage()), 0644u);
  EXPECT_EQ(test::readFile(manPage()), test::readFile(kManPageSource));
}

TEST_F(StagedInstall, InstalledBinaryWithoutArgumentsPrintsTheUsage) {
  expectUsageRun(run(binary(), {}));
}

TEST_F(StagedInstall, InstalledBinaryRunsAJob) {
  expectTwoColourJob(binary());
}

// The Debian package, built into a folder of its own so that a package made
// with `make package` is left alone.
class DebianPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"dpkg", "dpkg-deb", "dpkg-shlibdeps", "file"}) {
      if (findProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    }
    const test::ProcessResult arch = run(findProgram("dpkg"), {"--print-architecture"});
    ASSERT_EQ(arch.exitCode, 0);
    architecture_ = arch.out.substr(0, arch.out.find('\n'));

    const test::ProcessResult result =
        run(TAVREL_CPACK,
            {"-G", "DEB", "--config", TAVREL_BUILD_DIR "/CPackConfig.cmake", "-B", output_.path()});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    package_ = output_.file("tavrel_" TAVREL_VERSION "_" + architecture_ + ".deb");
    ASSERT_TRUE(test::fileExistsOnDisk(package_)) << result.out;
  }

  test::ProcessResult dpkgDeb(const std::vector<std::string>& args) {
    return run(findProgram("dpkg-deb"), args);
  }

  // The control fields; a continued field keeps its line breaks.
  std::map<std::string, std::string> fields() {
    const test::ProcessResult result = dpkgDeb({"--field", package_});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::map<std::string, std::string> fields;
    std::stringstream lines(result.out);
    std::string line;
    std::string last;
    while (std::getline(lines, line)) {
      if (!line.empty() && line[0] == ' ') {
        fields[last] += "\n" + line;
      } else if (const auto colon = line.find(": "); colon != std::string::npos) {
        last = line.substr(0, colon);
        fields[last] = line.substr(colon + 2);
      }
    }
    return fields;
  }

  test::TempDir output_;
  std::string architecture_;
  std::string package_;
};

TEST_F(DebianPackage, ControlFields) {
  std::map<std::string, std::string> control = fields();
  EXPECT_EQ(control["Package"], "tavrel");
  EXPECT_EQ(control["Version"], TAVREL_VERSION);
  EXPECT_EQ(control["Architecture"], architecture_);
  EXPECT_EQ(control["Section"], "graphics");
  EXPECT_EQ(control["Priority"], "optional");
  EXPECT_EQ(control["Maintainer"], "Tavrel developers <tavrel@example.org>");
  // Read off the binary, so a missing dpkg-shlibdeps run shows here.
  EXPECT_NE(control["Depends"].find("libc6 (>= "), std::string::npos) << control["Depends"];
  EXPECT_NE(control["Depends"].find("libstdc++6 (>= "), std::string::npos) << control["Depends"];
  const std::string& description = control["Description"];
  EXPECT_EQ(description.substr(0, description.find('\n')),
            "Nested colour-reduction progressions of a photo");
  EXPECT_NE(description.find("\n Tavrel turns one colour photo"), std::string::npos) << description;
}

TEST_F(DebianPackage, HoldsTheBinaryManPageAndDocsOwnedByRoot) {
  const test::ProcessResult listing = dpkgDeb({"--contents", package_});
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  // Each line: mode, owner, size, date, time, path.
  std::map<std::string, std::string> files;
  std::stringstream lines(listing.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::stringstream fieldsOfLine(line);
    std::string mode, owner, size, date, time, path;
    if (!(fieldsOfLine >> mode >> owner >> size >> date >> time >> path)) continue;
    if (mode[0] == 'd') {
      EXPECT_EQ(mode + " " + owner, "drwxr-xr-x root/root") << path;
    } else {
      files[path] = mode + " " + owner;
    }
  }
  EXPECT_EQ(files, (std::map<std::string, std::string>{
                       {"./usr/bin/tavrel", "-rwxr-xr-x root/root"},
                       {"./usr/share/doc/tavrel/changelog.gz", "-rw-r--r-- root/root"},
                       {"./usr/share/doc/tavrel/copyright", "-rw-r--r-- root/root"},
                       {"./usr/share/man/man1/tavrel.1.gz", "-rw-r--r-- root/root"},
                   }));
}

TEST_F(DebianPackage, PackagedBinaryRuns) {
  test::TempDir root;
  const test::ProcessResult unpacked = dpkgDeb({"--extract", package_, root.path()});
  ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err;
  const test::ProcessResult manPage =
      run(findProgram("gzip"), {"-dc", root.file("usr/share/man/man1/tavrel.1.gz")});
  EXPECT_EQ(manPage.out, test::readFile(kManPageSource));
  expectUsageRun(run(root.file("usr/bin/tavrel"), {}));
  expectTwoColourJob(root.file("usr/bin/tavrel"));
}

// The man page's copy of the option list, between .EX and .EE, with the roff
// minus escapes undone.
std::string manPageOptionList() {
  std::stringstream page(test::readFile(kManPageSource));
  std::string line;
  std::string list;
  bool seenIntro = false;
  bool inBlock = false;
  while (std::getline(page, line)) {
    if (line.rfind("The usage text lists the options", 0) == 0) seenIntro = true;
    if (!seenIntro) continue;
    if (line == ".EX") {
      inBlock = true;
    } else if (line == ".EE") {
      break;
    } else if (inBlock) {
      for (std::size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at)) {
        line.erase(at, 1);
      }
      list += line + "\n";
    }
  }
  return list;
}

TEST(ManPage, ShowsTheOptionListOfTheUsage) {
  EXPECT_EQ(manPageOptionList(), kOptionList);
}

TEST(ManPage, TitleCarriesTheProjectVersion) {
  const std::string page = test::readFile(kManPageSource);
  const std::string title = page.substr(0, page.find('\n'));
  EXPECT_EQ(title.rfind(".TH TAVREL 1 ", 0), 0u) << title;
  EXPECT_NE(title.find(" \"Tavrel " TAVREL_VERSION "\" "), std::string::npos) << title;
}

// The formatters are not needed to build or run the program; a machine
// without them skips these checks.
TEST(ManPage, MandocFindsNothingToReport) {
  const std::string mandoc = findProgram("mandoc");
  if (mandoc.empty()) GTEST_SKIP() << "mandoc is not installed";
  const test::ProcessResult result = run(mandoc, {"-T", "lint", kManPageSource});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out + result.err, "");
}

TEST(ManPage, GroffFindsNothingToReport) {
  const std::string groff = findProgram("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed";
  const test::ProcessResult result = run(groff, {"-man", "-ww", "-z", kManPageSource});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out + result.err, "");
}

}  // namespace
}  // namespace tavrel

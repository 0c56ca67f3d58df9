// Hostile inputs and limits, end to end: files that are not images, sizes no
// memory holds, special files, very long paths and odd names. Each row lays
// out a folder, runs the binary in it and compares stdout, stderr, the exit
// code and every entry of the folder afterwards, byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;

// A memory limit cannot be combined with the sanitizers' shadow memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct Entry {
  enum Kind { File, Folder, Fifo, Link } kind;
  std::string path;  // relative to the run's folder
  std::string data;  // a file's bytes or a link's target
};

struct Row {
  std::string name;
  std::vector<Entry> setup;
  std::vector<std::string> args;
  std::string out;  // the duration masked
  std::string err;
  int exitCode;
  std::map<std::string, std::string> written;  // entries the run adds
  std::string limit;                           // a ulimit the run starts under
};

// Test listings name a row, not its bytes.
void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

Row row(std::string name, std::vector<Entry> setup, std::vector<std::string> args, std::string out,
        std::string err, int exitCode, std::map<std::string, std::string> written = {},
        std::string limit = "") {
  return {std::move(name), std::move(setup), std::move(args),    std::move(out),
          std::move(err),  exitCode,         std::move(written), std::move(limit)};
}

// Two colours: a -C2 dump reproduces the image exactly.
const std::string kTwo = test::makePpm(2, 1, {0x302010, 0xD0E0F0});
const std::string kTail = "Duration:    <masked> seconds\nCodeSize : 0 bytes 0.000000 bpp\n";
const std::string kOneStep = "Processing step 0 - 0%\n" + kTail;
const std::string kMemoryLimit = "ulimit -v 600000";  // about 590 MiB of address space

std::string inputLine(const std::string& path) {
  return "Input file: " + path + "\n";
}
std::string unreadable(const std::string& path) {
  return "Unable to read input image " + path + ".\n";
}
std::string unsupported(const std::string& path) {
  return "Image " + path + " has not supported type or not exist" + unreadable(path);
}
std::string levels(int count) {
  return "This module supports 8-bit color components only.The current image file has " +
         std::to_string(count) + " levels." + unreadable("in.ppm");
}

// A run on the entries with the given input that fails to open it.
Row refused(std::string name, std::vector<Entry> setup, const std::string& input,
            const std::string& err, std::string limit = "") {
  return row(std::move(name), std::move(setup), {input, "out"}, inputLine(input), err, 255, {},
             std::move(limit));
}
Row refusedFile(std::string name, const std::string& bytes, const std::string& err) {
  return refused(std::move(name), {{Entry::File, "in.ppm", bytes}}, "in.ppm", err);
}

// A run of kTwo from input to output with -C2: its one dump is the image.
Row copied(std::string name, const std::string& input, const std::string& output,
           const std::string& err = "") {
  return row(std::move(name), {{Entry::File, input, kTwo}}, {"-C2", input, output},
             inputLine(input) + kOneStep, err, 0, {{"dump2_" + output + ".ppm", kTwo}});
}

// n nested folders of the same name, each ending in '/'.
std::string folders(int n, const std::string& name) {
  std::string path;
  for (int i = 0; i < n; ++i) path += name + "/";
  return path;
}

std::vector<Row> rows() {
  const std::string notRead = unreadable("in.ppm");
  std::vector<Row> all = {
      // Sizes. Under the memory limit the line buffers run out: the store
      // says nothing, the driver says which image.
      refusedFile("LineBeyond32Bits", "P6\n4000000000 2\n255\n", "Invalid image size." + notRead),
      refusedFile("TallerThanTheRing", "P6\n1 20000\n255\n",
                  "Module supports buffer size up to XXXX lines only." + notRead),
      refused("HugeImageUnderAMemoryLimit", {{Entry::File, "in.ppm", "P6\n70000 19999\n255\n"}},
              "in.ppm", notRead, kMemoryLimit),
      // The input fits the limit once, the output image not beside it.
      refused("OutputImageUnderAMemoryLimit", {{Entry::File, "in.ppm", "P6\n20000 5000\n255\n"}},
              "in.ppm", "Unable to initialize output image out.ppm.\n", kMemoryLimit),

      // Not regular files: none may block or be read.
      refused("Folder", {{Entry::Folder, "d.ppm", ""}}, "d.ppm", unsupported("d.ppm")),
      refused("FifoWithoutWriter", {{Entry::Fifo, "f.ppm", ""}}, "f.ppm", unsupported("f.ppm")),
      refused("LinkToDevZero", {{Entry::Link, "z.ppm", "/dev/zero"}}, "z.ppm",
              unsupported("z.ppm")),
      refused("LinkToDevNull", {{Entry::Link, "n.ppm", "/dev/null"}}, "n.ppm",
              unsupported("n.ppm")),
      refused("Missing", {}, "none.ppm",
              "ERROR: Cannot find the file: none.ppm" + unreadable("none.ppm")),

      // Contents.
      refusedFile("Empty", "", unsupported("in.ppm")),
      refusedFile("MagicOnly", "P6", "Invalid image size." + notRead),
      refusedFile("Garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
                  unsupported("in.ppm")),
      refusedFile("Maxval0", "P6\n2 1\n0\n\x10\x20", levels(1)),
      refusedFile("Maxval256", "P6\n2 1\n256\n\x10\x20", levels(257)),
      refusedFile("Maxval65535", "P6\n2 1\n65535\n\x10\x20", levels(65536)),
      // Samples past the end of the file read as 0xFF: three colours.
      row("TruncatedSamples", {{Entry::File, "in.ppm", "P6\n2 2\n255\n\x10\x20\x30\xF0"}},
          {"-Q3", "-C4", "in.ppm", "out"},
          inputLine("in.ppm") +
              "Processing step 0 - 0%\nPixels updated : 4\nColors : 250:255:255 16:32:48\n"
              "Path : R\nProcessing step 1 - 33%\nPixels updated : 3\n"
              "Colors : 255:255:255 240:255:255\nPath : R1\n" +
              kTail,
          "", 0,
          {{"dump2_out.ppm", "P6\n2 2\n255\n\x10\x20\x30\xFA\xFF\xFF\xFA\xFF\xFF\xFA\xFF\xFF"},
           {"dump3_out.ppm", "P6\n2 2\n255\n\x10\x20\x30\xF0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"}}),
  };

  std::string comments = "P6\n";
  for (int i = 0; i < 10000; ++i) comments += "# comment " + std::to_string(i) + "\n";
  all.push_back(copied("TenThousandCommentLines", "in.ppm", "out"));
  all.back().setup[0].data = comments + kTwo.substr(3);

  // Long paths through folders: 300 characters, with a dump name of 306
  // (its folder prepared), and 4,000 characters.
  const std::string a(146, 'a');
  all.push_back(copied("Path300ThroughFolders", folders(2, a) + "xy.ppm", folders(2, a) + "yz"));
  all.back().setup.push_back({Entry::Folder, "dump2_" + folders(2, a), ""});
  const std::string c(199, 'c');
  all.push_back(
      copied("Path4000ThroughFolders", folders(19, c) + std::string(196, 'x') + ".ppm", "out"));
  // Names the system refuses: a path beyond its length limit, and a dump
  // whose last component is longer than a name may be.
  const std::string tooLong = folders(25, c) + "x.ppm";
  all.push_back(refused("PathBeyondTheSystemLimit", {}, tooLong,
                        "ERROR: Cannot find the file: " + tooLong + unreadable(tooLong)));
  const std::string b(300, 'b');
  all.push_back(row("DumpNameBeyondTheNameLimit", {{Entry::File, "in.ppm", kTwo}},
                    {"-C2", "in.ppm", b}, inputLine("in.ppm") + kOneStep,
                    "ERROR: Couldn't open the file: dump2_" + b + ".ppm", 255));

  // Value lists of a thousand items: only the first place has an option.
  std::string twos;
  for (int i = 0; i < 1000; ++i) twos += "2,";
  all.push_back(copied("ValueListsOfAThousandItems", "in.ppm", "out"));
  all.back().args = {"-Q" + std::string(1000, ','), "-C" + twos, "in.ppm", "out"};
  all.back().out = "ERROR: Parameter Q(1) = -1 is out of range [0,6].\n" + all.back().out;

  // Names are bytes: none is quoted, cut or re-encoded.
  all.push_back(copied("NameWithSpaces", "my photo.ppm", "o u t"));
  all.push_back(copied("NameWithQuotes", "q'\"x.ppm", "o'\"q"));
  all.push_back(copied("NameWithNewlines", "nl\nx.ppm", "o\nx"));
  all.push_back(copied("NameNotUtf8", "\xFF\xFE.ppm", "\xC3\x28"));
  all.push_back(copied("LeadingDashBehindDotSlash", "./-lead.ppm", "out",
                       "Input FileType is not supported.\n"));
  all.push_back(row("LeadingDashIsAnOption", {{Entry::File, "-lead.ppm", kTwo}},
                    {"-C2", "-lead.ppm", "out"}, "ERROR: Unknown option -L found.\n", "", 255));
  return all;
}

void layOut(const std::string& root, const Entry& entry) {
  const fs::path path = fs::path(root) / entry.path;
  fs::create_directories(path.parent_path());
  switch (entry.kind) {
    case Entry::File:
      test::writeFile(path.string(), entry.data);
      break;
    case Entry::Folder:
      fs::create_directories(path);
      break;
    case Entry::Fifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      break;
    case Entry::Link:
      fs::create_symlink(entry.data, path);
      break;
  }
}

// Every entry below root: a file by its bytes, anything else by its kind.
// Links are not followed and special files never opened.
std::map<std::string, std::string> entriesBelow(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(item.path(), root).string();
    const fs::file_status status = item.symlink_status();
    if (fs::is_symlink(status)) {
      entries[name] = "<link to " + fs::read_symlink(item.path()).string() + ">";
    } else if (fs::is_regular_file(status)) {
      entries[name] = test::readFile(item.path().string());
    } else if (fs::is_directory(status)) {
      entries[name] = "<folder>";
    } else {
      entries[name] = "<special>";
    }
  }
  return entries;
}

class HostileInput : public ::testing::TestWithParam<Row> {};

TEST_P(HostileInput, FailsCleanlyOrRunsExactly) {
  const Row& row = GetParam();
  if (!row.limit.empty() && kSanitized) GTEST_SKIP() << "memory limits need a plain build";
  test::TempDir dir;
  for (const Entry& entry : row.setup) layOut(dir.path(), entry);
  std::map<std::string, std::string> expected = entriesBelow(dir.path());
  for (const auto& [name, bytes] : row.written) expected[name] = bytes;

  // Through a shell for the limit; the timeout only keeps a run that would
  // block from stalling the suite (it would then end with 124).
  std::vector<std::string> argv = {
      "sh", "-c", (row.limit.empty() ? "" : row.limit + "; ") + "exec timeout 120 \"$0\" \"$@\"",
      TAVREL_BINARY};
  argv.insert(argv.end(), row.args.begin(), row.args.end());
  const test::ProcessResult run = test::runProcess("/bin/sh", argv, dir.path());

  EXPECT_EQ(test::maskDuration(run.out), row.out);
  EXPECT_EQ(run.err, row.err);
  EXPECT_EQ(run.exitCode, row.exitCode);
  const std::map<std::string, std::string> after = entriesBelow(dir.path());
  std::vector<std::string> names, expectedNames;
  for (const auto& entry : after) names.push_back(entry.first);
  for (const auto& entry : expected) expectedNames.push_back(entry.first);
  ASSERT_EQ(names, expectedNames);
  for (const auto& [name, bytes] : expected) {
    EXPECT_TRUE(after.at(name) == bytes) << name << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileInput, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace tavrel

// The real binary on real files: each row lays out a folder, runs the program
// there and compares standard output (the Duration figure masked), standard
// error, the exit code and every entry of the folder afterwards, byte for byte.
//
// Expectations are worked out by hand in the comments, except the rows made
// by asReference, which must give exactly what the reference program (the
// same driver over the literal engine) gives in a folder laid out alike.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/test_support.h"

namespace tavrel {
namespace {

namespace fs = std::filesystem;
using test::makePpm;
using test::pack;

struct Entry {
  enum Kind { File, Folder, Fifo, Link, HardLink } kind;
  std::string path;  // relative to the run's folder
  std::string data;  // a file's bytes, a link's target
};

struct Row {
  std::string name;
  std::vector<Entry> setup;
  std::vector<std::string> args;
  std::string out = {}, err = {};
  int exitCode = 0;
  std::map<std::string, std::string> written = {};  // entries the run adds or changes
  std::string limit = {};                           // a ulimit the run starts under
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const std::string kReference = "<as the reference program>";
const std::string kTail = "Duration:    <masked> seconds\nCodeSize : 0 bytes 0.000000 bpp\n";
const std::string kCodeSize = "CodeSize : 0 bytes 0.000000 bpp\n";
const std::string kMemoryLimit = "ulimit -v 600000";  // about 590 MiB of address space

std::string inputLine(const std::string& path) { return "Input file: " + path + "\n"; }
std::string steps(const std::vector<int>& percentages) {
  std::string text;
  for (std::size_t k = 0; k < percentages.size(); ++k) {
    text += "Processing step " + std::to_string(k) + " - " + std::to_string(percentages[k]) + "%\n";
  }
  return text;
}
std::string unreadable(const std::string& path) {
  return "Unable to read input image " + path + ".\n";
}
std::string unsupported(const std::string& path) {
  return "Image " + path + " has not supported type or not exist" + unreadable(path);
}
std::string folders(int n, const std::string& name) {
  std::string path;
  for (int i = 0; i < n; ++i) path += name + "/";
  return path;
}

// Two colours: one step splits the root into the colour found last (left)
// and the colour of pixel (1, 1) (right); a -C2 dump reproduces the image.
const std::string kTwo = makePpm(3, 1, {pack(9, 8, 7), pack(200, 100, 50), pack(9, 8, 7)});

// Black, (1,1,1), red, blue, found in that order; the work list is newest
// first: [blue, red, (1,1,1), black].
//   1. (1,1,1) + black cost 0 (black is measured as (1,1,1)): M1 = (0,0,0).
//   2. M1 + red costs 2/3 * 117.2 = 78.1, less than blue + red (1/2 * 176.3
//      = 88.2) and M1 + blue (2/3 * 137.6 = 91.7): M2 = (256/3, 1/3, 1/3)
//      truncated = (85,0,0).  3. M2 + blue is the root.
// Step 0 paints M2 and blue, step 1 splits M2 (R1) into M1 and red, step 2
// splits M1 (R11: cost 0 beats the leaves' -1) into (1,1,1) and black.
const std::string kFour = makePpm(2, 2, {0, pack(1, 1, 1), pack(255, 0, 0), pack(0, 0, 255)});
const std::string kFourDump2 = makePpm(2, 2, {0x55, 0x55, 0x55, pack(0, 0, 255)});
const std::string kFourDump3 = makePpm(2, 2, {0, 0, pack(255, 0, 0), pack(0, 0, 255)});
const std::string kFourStepsQ3 =
    "Processing step 0 - 0%\nPixels updated : 4\nColors : 85:0:0 0:0:255\nPath : R\n"
    "Processing step 1 - 25%\nPixels updated : 3\nColors : 0:0:0 255:0:0\nPath : R1\n"
    "Processing step 2 - 50%\nPixels updated : 2\nColors : 1:1:1 0:0:0\nPath : R11\n";

// Black, (1,1,1), white: black and (1,1,1) merge first into (0,0,0), so the
// -C2 dump is black, black, white, and the -C3 dump is the photo itself.
const std::string kPhoto = makePpm(3, 1, {0, pack(1, 1, 1), 0xFFFFFF});
const std::string kPhotoDump2 = makePpm(3, 1, {0, 0, 0xFFFFFF});
const std::string kRefused = "ERROR: Not replacing dump2_x.ppm: it is the input image.\n";

// A run of the input as in.ppm that completes; out is what comes between the
// input line and the tail.
Row run(std::string name, std::string input, std::vector<std::string> args, std::string out,
        std::map<std::string, std::string> written = {}, std::string err = "", int exitCode = 0) {
  return {std::move(name), {{Entry::File, "in.ppm", std::move(input)}}, std::move(args),
          inputLine("in.ppm") + out + kTail, std::move(err), exitCode, std::move(written)};
}
Row refused(std::string name, std::vector<Entry> setup, const std::string& input,
            const std::string& err, std::string limit = "") {
  return {std::move(name), std::move(setup), {input, "out"}, inputLine(input), err, 255, {},
          std::move(limit)};
}
Row refusedFile(std::string name, const std::string& bytes, const std::string& err) {
  return refused(std::move(name), {{Entry::File, "in.ppm", bytes}}, "in.ppm", err);
}
// kTwo (or other bytes of its two colours) from input to output with -C2.
Row copied(std::string name, const std::string& input, const std::string& output,
           std::string err = "", std::string bytes = kTwo) {
  return {std::move(name), {{Entry::File, input, bytes}}, {"-C2", input, output},
          inputLine(input) + steps({0}) + kTail, std::move(err), 0,
          {{"dump2_" + output + ".ppm", kTwo}}};
}
Row asReference(std::string name, std::string input, std::vector<std::string> options) {
  options.insert(options.end(), {"in.ppm", "out"});
  return {std::move(name), {{Entry::File, "in.ppm", std::move(input)}}, options, kReference};
}
Row guarded(std::string name, std::vector<Entry> setup, std::vector<std::string> args,
            std::vector<int> percentages, std::string err, int exitCode,
            std::map<std::string, std::string> written = {}) {
  const std::string out = inputLine(args[1]) + steps(percentages) + kTail;
  return {std::move(name), std::move(setup), std::move(args), out, std::move(err), exitCode,
          std::move(written)};
}

std::vector<Row> rows() {
  const std::string notRead = unreadable("in.ppm");
  const std::string levels =
      "This module supports 8-bit color components only.The current image file has ";
  const std::string a(146, 'a'), b(300, 'b'), c(199, 'c'), longName(150, 'n');
  const std::string tooLong = folders(25, c) + "x.ppm";
  std::vector<PackedColor> hundred, big;
  for (int i = 0; i < 100; ++i) hundred.push_back(pack(i * 23 % 256, i * 59 % 256, i));
  for (int i = 0; i < 64 * 64; ++i) big.push_back(0xFFu << (i % 3 * 8));
  std::string comments = "P6\n", twos;
  for (int i = 0; i < 10000; ++i) comments += "# comment " + std::to_string(i) + "\n";
  for (int i = 0; i < 1000; ++i) twos += "2,";
  const auto crop = [](const char* name) { return test::readFile(test::dataPath(name)); };

  Row thousand = copied("ValueListsOfAThousandItems", "in.ppm", "out");
  thousand.args = {"-Q" + std::string(1000, ','), "-C" + twos, "in.ppm", "out"};
  thousand.out = "ERROR: Parameter Q(1) = -1 is out of range [0,6].\n" + thousand.out;
  Row path300 = copied("Path300ThroughFolders", folders(2, a) + "xy.ppm", folders(2, a) + "yz");
  path300.setup.push_back({Entry::Folder, "dump2_" + folders(2, a), ""});

  return {
      // The progression, worked out by hand.
      run("TwoColoursQ3", kTwo, {"-Q3", "in.ppm", "out"},
          "Processing step 0 - 0%\nPixels updated : 3\nColors : 200:100:50 9:8:7\nPath : R\n"),
      run("FourColoursQ3C4", kFour, {"-Q3", "-C4", "in.ppm", "out"}, kFourStepsQ3,
          {{"dump2_out.ppm", kFourDump2}, {"dump3_out.ppm", kFourDump3}, {"dump4_out.ppm", kFour}}),
      {"FourColoursQ0C3OptionsAfterNames", {{Entry::File, "in.ppm", kFour}},
       {"in.ppm", "-C3", "-Q0", "out.ppm"}, kCodeSize, "", 0,
       {{"dump2_out.ppm", kFourDump2}, {"dump3_out.ppm", kFourDump3}}},
      run("FourColoursC0WritesNoDump", kFour, {"in.ppm", "out"}, steps({0, 25, 50})),
      run("FourColoursC3", kFour, {"-C3", "in.ppm", "out"}, steps({0, 33}),
          {{"dump2_out.ppm", kFourDump2}, {"dump3_out.ppm", kFourDump3}}),
      run("FourColoursC1DoesNoStep", kFour, {"-Q3", "-C1", "in.ppm", "out"}, ""),
      run("SingleColourDoesNoStep", makePpm(4, 3, std::vector<PackedColor>(12, 0x050607)),
          {"-Q3", "-C4", "in.ppm", "out"}, ""),
      // A PGM file opens as a grey image and reads as black at every pixel.
      run("GreyInputReadsAsOneColour", "P5\n3 2\n255\n\x10\x20\x30\x40\x50\x60",
          {"-Q3", "-C4", "in.ppm", "out"}, ""),
      {"UpperCaseExtensionRunsQuietly", {{Entry::File, "in.PPM", kTwo}}, {"-Q1", "in.PPM", "out"},
       kCodeSize, "Input FileType is not supported.\n"},
      // The dump prefix stands in front of the whole output path.
      {"OutputPathWithAFolder",
       {{Entry::File, "in.ppm", kFour}, {Entry::Folder, "dump2_sub", ""},
        {Entry::Folder, "dump3_sub", ""}},
       {"-Q0", "-C3", "in.ppm", "sub/out"}, kCodeSize, "", 0,
       {{"dump2_sub/out.ppm", kFourDump2}, {"dump3_sub/out.ppm", kFourDump3}}},
      {"LongOutputName", {{Entry::File, "in.ppm", kFour}}, {"-Q0", "-C2", "in.ppm", longName},
       kCodeSize, "", 0, {{"dump2_" + longName + ".ppm", kFourDump2}}},
      // Samples past the end of the file read as 0xFF: three colours.
      run("TruncatedSamples", "P6\n2 2\n255\n\x10\x20\x30\xF0", {"-Q3", "-C4", "in.ppm", "out"},
          "Processing step 0 - 0%\nPixels updated : 4\nColors : 250:255:255 16:32:48\n"
          "Path : R\nProcessing step 1 - 33%\nPixels updated : 3\n"
          "Colors : 255:255:255 240:255:255\nPath : R1\n",
          {{"dump2_out.ppm", "P6\n2 2\n255\n\x10\x20\x30\xFA\xFF\xFF\xFA\xFF\xFF\xFA\xFF\xFF"},
           {"dump3_out.ppm", "P6\n2 2\n255\n\x10\x20\x30\xF0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"}}),

      // Against the reference program. On the hundred colours step 29 shows
      // 28% (29 / 100 in double, times 100, is just below 29): checked by hand.
      asReference("HundredColoursQ2", makePpm(10, 10, hundred), {"-Q2"}),
      asReference("PosterQ3", crop("coffee-post-48x32.ppm"), {"-Q3"}),
      asReference("PosterEveryCount", crop("coffee-post-48x32.ppm"), {"-Q0", "-C256"}),
      asReference("PhotoQ3C8", crop("coffee-24x16.ppm"), {"-Q3", "-C8"}),
      asReference("CatLowerCaseOptions", crop("chelsea-16x16.ppm"), {"-q3", "-c2"}),
      asReference("MotorcycleQ0C7", crop("motorcycle-16x16.ppm"), {"-Q0", "-C7"}),

      // Inputs that are refused: sizes, kinds of file, contents.
      refusedFile("LineBeyond32Bits", "P6\n4000000000 2\n255\n", "Invalid image size." + notRead),
      refusedFile("TallerThanTheRing", "P6\n1 20000\n255\n",
                  "Module supports buffer size up to XXXX lines only." + notRead),
      // Under the memory limit the line buffers run out: the store says
      // nothing, the driver says which image.
      refused("HugeImageUnderAMemoryLimit", {{Entry::File, "in.ppm", "P6\n70000 19999\n255\n"}},
              "in.ppm", notRead, kMemoryLimit),
      refused("OutputImageUnderAMemoryLimit", {{Entry::File, "in.ppm", "P6\n20000 5000\n255\n"}},
              "in.ppm", "Unable to initialize output image out.ppm.\n", kMemoryLimit),
      refused("Folder", {{Entry::Folder, "d.ppm", ""}}, "d.ppm", unsupported("d.ppm")),
      refused("FifoWithoutWriter", {{Entry::Fifo, "f.ppm", ""}}, "f.ppm", unsupported("f.ppm")),
      refused("LinkToDevZero", {{Entry::Link, "z.ppm", "/dev/zero"}}, "z.ppm",
              unsupported("z.ppm")),
      refused("Missing", {}, "none.ppm",
              "ERROR: Cannot find the file: none.ppm" + unreadable("none.ppm")),
      refused("PathBeyondTheSystemLimit", {}, tooLong,
              "ERROR: Cannot find the file: " + tooLong + unreadable(tooLong)),
      refusedFile("Empty", "", unsupported("in.ppm")),
      refusedFile("MagicOnly", "P6", "Invalid image size." + notRead),
      refusedFile("Maxval0", "P6\n2 1\n0\n\x10\x20", levels + "1 levels." + notRead),
      refusedFile("Maxval256", "P6\n2 1\n256\n\x10\x20", levels + "257 levels." + notRead),

      // Odd but valid inputs, names and values: used as given, byte for byte.
      copied("NameWithQuotesAndANewline", "q'\"\nx.ppm", "o'\"\nq"),
      copied("NameNotUtf8", "\xFF\xFE.ppm", "\xC3\x28"),
      copied("LeadingDashBehindDotSlash", "./-lead.ppm", "out", "Input FileType is not supported.\n"),
      {"LeadingDashIsAnOption", {{Entry::File, "-lead.ppm", kTwo}}, {"-C2", "-lead.ppm", "out"},
       "ERROR: Unknown option -L found.\n", "", 255},
      copied("TenThousandCommentLines", "in.ppm", "out", "", comments + kTwo.substr(3)),
      path300,
      copied("Path4000ThroughFolders", folders(19, c) + std::string(196, 'x') + ".ppm", "out"),
      thousand,
      // Only the first place of a value list has an option.

      // Faults injected. A dump that cannot be written does not stop the run,
      // but the run fails; a dump never replaces the input's own entry, while
      // other names for the photo are only names; dumps beyond the file size
      // limit (8 blocks of 512 bytes: the header fits, the samples not) are
      // removed.
      guarded("DumpFolderMissing", {{Entry::File, "in.ppm", kFour}}, {"-C3", "in.ppm", "nodir/out"},
              {0, 33},
              "ERROR: Couldn't open the file: dump2_nodir/out.ppmERROR: Couldn't open the file: "
              "dump3_nodir/out.ppm",
              255),
      guarded("DumpNameBeyondTheNameLimit", {{Entry::File, "in.ppm", kTwo}}, {"-C2", "in.ppm", b},
              {0}, "ERROR: Couldn't open the file: dump2_" + b + ".ppm", 255),
      guarded("DumpOverTheInput", {{Entry::File, "dump2_x.ppm", kPhoto}},
              {"-C3", "dump2_x.ppm", "x"}, {0, 33}, kRefused, 255, {{"dump3_x.ppm", kPhoto}}),
      guarded("DumpOverTheInputSpelledDifferently", {{Entry::File, "dump2_x.ppm", kPhoto}},
              {"-C2", "./dump2_x.ppm", "x"}, {0}, "Input FileType is not supported.\n" + kRefused,
              255),
      guarded("DumpOverTheInputThroughALinkedFolder",
              {{Entry::File, "dump2_sub/x.ppm", kPhoto}, {Entry::Link, "link", "dump2_sub"}},
              {"-C2", "link/x.ppm", "sub/x"}, {0},
              "ERROR: Not replacing dump2_sub/x.ppm: it is the input image.\n", 255),
      guarded("DumpOverTheInputThroughALink",
              {{Entry::File, "dump2_x.ppm", kPhoto}, {Entry::Link, "in.ppm", "dump2_x.ppm"}},
              {"-C2", "in.ppm", "x"}, {0}, kRefused, 255),
      guarded("AHardLinkToTheInputIsReplaced",
              {{Entry::File, "photo.ppm", kPhoto}, {Entry::HardLink, "dump2_x.ppm", "photo.ppm"}},
              {"-C2", "photo.ppm", "x"}, {0}, "", 0, {{"dump2_x.ppm", kPhotoDump2}}),
      guarded("ASymbolicLinkToTheInputIsReplaced",
              {{Entry::File, "photo.ppm", kPhoto}, {Entry::Link, "dump2_x.ppm", "photo.ppm"}},
              {"-C2", "photo.ppm", "x"}, {0}, "", 0, {{"dump2_x.ppm", kPhotoDump2}}),
      [&] {
        Row row = guarded(
            "DumpsBeyondTheFileSizeLimit", {{Entry::File, "in.ppm", makePpm(64, 64, big)}},
            {"-C3", "in.ppm", "out"}, {0, 33},
            "ERROR: Could not write dump2_out.ppm completely; the incomplete file was removed.\n"
            "ERROR: Could not write dump3_out.ppm completely; the incomplete file was removed.\n",
            255);
        row.limit = "ulimit -f 8";
        return row;
      }(),
  };
}

void layOut(const std::string& root, const Entry& entry) {
  const fs::path path = fs::path(root) / entry.path;
  fs::create_directories(path.parent_path());
  switch (entry.kind) {
    case Entry::File: test::writeFile(path.string(), entry.data); break;
    case Entry::Folder: fs::create_directories(path); break;
    case Entry::Fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); break;
    case Entry::Link: fs::create_symlink(entry.data, path); break;
    case Entry::HardLink: fs::create_hard_link(fs::path(root) / entry.data, path); break;
  }
}

struct Outcome {
  test::ProcessResult process;
  std::map<std::string, std::string> entries;
};

Outcome runIn(const std::string& program, const Row& row) {
  test::TempDir dir;
  for (const Entry& entry : row.setup) layOut(dir.path(), entry);
  // Through a shell for the limit; the timeout only keeps a run that would
  // block from stalling the suite (it would then end with 124).
  std::vector<std::string> argv = {
      "/bin/sh", "-c", (row.limit.empty() ? "" : row.limit + "; ") + "exec timeout 120 \"$0\" \"$@\"",
      program};
  argv.insert(argv.end(), row.args.begin(), row.args.end());
  Outcome outcome{test::runProcess(argv, dir.path()), {}};
  outcome.entries = test::entriesBelow(dir.path());
  return outcome;
}

class EndToEnd : public ::testing::TestWithParam<Row> {};

TEST_P(EndToEnd, OutputErrorsExitCodeAndFiles) {
  const Row& row = GetParam();
#if defined(__SANITIZE_ADDRESS__)
  // A memory limit cannot be combined with the sanitizers' shadow memory.
  if (row.limit == kMemoryLimit) GTEST_SKIP() << "memory limits need a plain build";
#endif
  const Outcome got = runIn(TAVREL_BINARY, row);
  Outcome want;
  if (row.out == kReference) {
    want = runIn(TAVREL_REFERENCE_BINARY, row);
  } else {
    test::TempDir dir;
    for (const Entry& entry : row.setup) layOut(dir.path(), entry);
    want = {{row.out, row.err, row.exitCode}, test::entriesBelow(dir.path())};
    for (const auto& [name, bytes] : row.written) want.entries[name] = bytes;
  }
  EXPECT_EQ(got.process.out, want.process.out);
  EXPECT_EQ(got.process.err, want.process.err);
  EXPECT_EQ(got.process.exitCode, want.process.exitCode);
  for (const auto& [name, bytes] : want.entries) {
    EXPECT_TRUE(got.entries.count(name) && got.entries.at(name) == bytes) << name << " differs";
  }
  for (const auto& entry : got.entries) EXPECT_TRUE(want.entries.count(entry.first)) << entry.first;
}

INSTANTIATE_TEST_SUITE_P(Rows, EndToEnd, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace tavrel

// Helpers shared by the tests: exact-byte console capture, temporary folders,
// PPM files built in memory and runs of the real binary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tavrel::test {

// Redirects the console channels into temporary files for its lifetime.
class CapturedConsole {
 public:
  CapturedConsole();
  ~CapturedConsole();
  CapturedConsole(const CapturedConsole&) = delete;
  CapturedConsole& operator=(const CapturedConsole&) = delete;
  std::string out();  // everything written to the output stream so far
  std::string err();

 private:
  std::FILE* out_;
  std::FILE* err_;
};

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
bool fileExistsOnDisk(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// A P6 file with maxval 255; pixels are PackedColor values, row by row.
std::string makePpm(std::uint32_t width, std::uint32_t height,
                    const std::vector<std::uint32_t>& pixels);

std::string testDataPath(const std::string& name);

struct ProcessResult {
  std::string out;
  std::string err;
  int exitCode = -1;  // the exit status, or 128 + signal number
};

// Runs a program with the arguments (argv[0] is the program itself) in the
// folder cwd (the current one when empty), with stdin from /dev/null.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd = "");
// Runs the built tavrel binary.
ProcessResult runTavrel(const std::vector<std::string>& args, const std::string& cwd = "");

// Replaces the "Duration:    <number> seconds" figure by a fixed mark, the
// only part of the output that differs from run to run.
std::string maskDuration(const std::string& text);

}  // namespace tavrel::test

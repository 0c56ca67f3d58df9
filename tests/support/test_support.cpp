#include "support/test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "shell/console.h"

namespace tavrel::test {
namespace {

std::string readStream(std::FILE* stream) {
  std::fflush(stream);
  long end = std::ftell(stream);
  std::string text(static_cast<std::size_t>(end), '\0');
  std::rewind(stream);
  std::size_t got = std::fread(text.data(), 1, text.size(), stream);
  text.resize(got);
  std::fseek(stream, 0, SEEK_END);
  return text;
}

}  // namespace

CapturedConsole::CapturedConsole() : out_(std::tmpfile()), err_(std::tmpfile()) {
  if (!out_ || !err_) throw std::runtime_error("tmpfile failed");
  setConsoleStreams(out_, err_);
}

CapturedConsole::~CapturedConsole() {
  setConsoleStreams(nullptr, nullptr);
  std::fclose(out_);
  std::fclose(err_);
}

std::string CapturedConsole::out() { return readStream(out_); }
std::string CapturedConsole::err() { return readStream(err_); }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExistsOnDisk(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string makePpm(std::uint32_t width, std::uint32_t height,
                    const std::vector<std::uint32_t>& pixels) {
  std::string bytes = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (std::uint32_t p : pixels) {
    bytes.push_back(static_cast<char>(p & 0xFF));
    bytes.push_back(static_cast<char>((p >> 8) & 0xFF));
    bytes.push_back(static_cast<char>((p >> 16) & 0xFF));
  }
  return bytes;
}

std::string testDataPath(const std::string& name) { return std::string(TAVREL_TEST_DATA) + "/" + name; }

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd) {
  TempDir capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  ProcessResult result;
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ProcessResult runTavrel(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> full{TAVREL_BINARY};
  full.insert(full.end(), args.begin(), args.end());
  return runProcess(TAVREL_BINARY, full, cwd);
}

std::string maskDuration(const std::string& text) {
  static const std::regex duration("Duration:    [0-9.]+ *seconds");
  return std::regex_replace(text, duration, "Duration:    <masked> seconds");
}

}  // namespace tavrel::test

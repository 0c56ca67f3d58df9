#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "shell/console.h"

namespace tavrel::test {

namespace fs = std::filesystem;

CapturedConsole::CapturedConsole() : out_(std::tmpfile()), err_(std::tmpfile()) {
  if (!out_ || !err_) throw std::runtime_error("tmpfile failed");
  setConsoleStreams(out_, err_);
}

CapturedConsole::~CapturedConsole() {
  setConsoleStreams(nullptr, nullptr);
  std::fclose(out_);
  std::fclose(err_);
}

std::string CapturedConsole::read(std::FILE* stream) {
  std::fflush(stream);
  std::string text(static_cast<std::size_t>(std::ftell(stream)), '\0');
  std::rewind(stream);
  text.resize(std::fread(text.data(), 1, text.size(), stream));
  std::fseek(stream, 0, SEEK_END);
  return text;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tavrel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

MemoryImage::MemoryImage(std::uint32_t width, std::uint32_t height,
                         const std::vector<PackedColor>& pixels) {
  setImageSize(&image_, width, height);
  if (!openImage("memory", &image_, Create, 0, WholeImage, Color, 0, 256)) {
    throw std::runtime_error("cannot make a memory image");
  }
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    setColorPixel(&image_, static_cast<std::uint32_t>(i % width + 1),
                  static_cast<std::uint32_t>(i / width + 1), pixels[i]);
  }
}

std::vector<PackedColor> MemoryImage::pixels() {
  std::vector<PackedColor> all;
  for (std::uint32_t y = 1; y <= image_.height; ++y) {
    for (std::uint32_t x = 1; x <= image_.width; ++x) all.push_back(getColorPixel(&image_, x, y));
  }
  return all;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string dataPath(const std::string& name) { return std::string(TAVREL_TEST_DATA) + "/" + name; }

std::map<std::string, std::string> entriesBelow(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(item.path(), root).string();
    const fs::file_status status = item.symlink_status();
    if (fs::is_symlink(status)) {
      entries[name] = "<link to " + fs::read_symlink(item.path()).string() + ">";
    } else if (fs::is_regular_file(status)) {
      entries[name] = readFile(item.path().string());
    } else {
      entries[name] = fs::is_directory(status) ? "<folder>" : "<special>";
    }
  }
  return entries;
}

std::string makePpm(std::uint32_t width, std::uint32_t height,
                    const std::vector<PackedColor>& pixels) {
  std::string bytes = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (PackedColor p : pixels) {
    for (int shift : {0, 8, 16}) bytes.push_back(static_cast<char>((p >> shift) & 0xFF));
  }
  return bytes;
}

ProcessResult runProcess(const std::vector<std::string>& args, const std::string& cwd) {
  TempDir capture;
  const std::string outPath = capture.file("out"), errPath = capture.file("err");
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  static const std::regex duration("Duration:    [0-9.]+ *seconds");
  return {std::regex_replace(readFile(outPath), duration, "Duration:    <masked> seconds"),
          readFile(errPath), WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

}  // namespace tavrel::test

// Feeds every file of the folders (or the files) named on the command line to
// a fuzz target in name order, without libFuzzer, so that the saved corpus
// and the crash inputs are regression tests any compiler can build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) inputs.push_back(argv[i]);
    if (!fs::is_directory(argv[i])) continue;
    for (const auto& entry : fs::directory_iterator(argv[i])) {
      if (entry.path().filename().string()[0] != '.') inputs.push_back(entry.path());  // .gitkeep
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& path : inputs) {
    if (!fs::is_regular_file(path)) tavrel::fuzz::fail("no such input: %s", path.c_str());
    const std::string bytes = tavrel::fuzz::readBytes(path.string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}

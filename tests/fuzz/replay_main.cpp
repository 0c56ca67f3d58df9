// Feeds every file of the folders named on the command line to a fuzz target
// in name order, without libFuzzer, so that the saved corpus and the crash
// inputs are regression tests any compiler can build.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) tavrel::fuzz::fail("no folder %s", argv[i]);
    for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
      if (entry.path().filename().string()[0] != '.') inputs.push_back(entry.path());  // .gitkeep
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& path : inputs) {
    const std::string bytes = tavrel::fuzz::readBytes(path.string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
}

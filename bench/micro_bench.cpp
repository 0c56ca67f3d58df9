// Micro-benchmarks of the colour difference and the cluster tree build.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "color/colour_difference.h"
#include "progression/merge_tree.h"

namespace {

void BM_ColourDifference(benchmark::State& state) {
  std::mt19937 rng(1);
  std::vector<int> channels(3000);
  for (int& c : channels) c = static_cast<int>(rng() % 256);
  std::size_t i = 0;
  for (auto _ : state) {
    const int* c = &channels[i];
    benchmark::DoNotOptimize(tavrel::ColourDifference(4, c[0], c[1], c[2], c[3], c[4], c[5]));
    i = (i + 6) % (channels.size() - 6);
  }
}
BENCHMARK(BM_ColourDifference);

void BM_BuildMergeTree(benchmark::State& state) {
  std::mt19937 rng(2);
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<tavrel::PackedColor> colours;
  std::vector<std::int64_t> counts;
  std::vector<char> used(1 << 24, 0);
  while (colours.size() < n) {
    const tavrel::PackedColor c = rng() & 0xFFFFFF;
    if (used[c]) continue;
    used[c] = 1;
    colours.push_back(c);
    counts.push_back(1 + rng() % 8);
  }
  for (auto _ : state) benchmark::DoNotOptimize(tavrel::buildMergeTree(colours, counts));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_BuildMergeTree)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();

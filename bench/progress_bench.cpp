// The build's progress reports and its stop, measured on real colour sets:
//
//   progress_bench PHOTO.ppm... [--random N] [--runs N]
//
// For each photo (binary PPM) and, with --random, N distinct colours at
// random, and for the default threads and one thread: the build time without
// a callback and with one that always goes on (medians of interleaved runs),
// the longest time between two calls of the callback (from the start of the
// build to the end, so the set-up counts), in wall time and in the calling
// thread's CPU time (which a busy machine does not stretch), and how long a
// build takes to
// throw BuildStopped after the callback answered false, in the set-up and in
// the middle of the merges (threads joined and memory released by then).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "progression/merge_tree.h"

namespace {

using Clock = std::chrono::steady_clock;
using tavrel::PackedColor;

struct ColourSet {
  std::string name;
  std::vector<PackedColor> colours;
  std::vector<std::int64_t> counts;
};

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double threadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The distinct colours of a P6 file with maxval 255 in order of first
// appearance, with their pixel counts.
bool readPhoto(const std::string& path, ColourSet* set) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  unsigned width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  in.get();
  if (!in || magic != "P6" || maxval != 255) return false;
  std::vector<unsigned char> bytes(std::size_t{width} * height * 3);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) return false;
  std::vector<std::uint32_t> id(1u << 24, 0);  // colour + 1, 0 when unseen
  set->name = path.substr(path.find_last_of('/') + 1);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const PackedColor c =
        bytes[i] | bytes[i + 1] << 8 | static_cast<PackedColor>(bytes[i + 2]) << 16;
    if (id[c] == 0) {
      set->colours.push_back(c);
      set->counts.push_back(0);
      id[c] = static_cast<std::uint32_t>(set->colours.size());
    }
    ++set->counts[id[c] - 1];
  }
  return true;
}

ColourSet randomColours(std::size_t n) {
  std::mt19937 rng(2);
  ColourSet set{std::to_string(n) + " random colours", {}, {}};
  std::vector<char> used(1 << 24, 0);
  while (set.colours.size() < n) {
    const PackedColor c = rng() & 0xFFFFFF;
    if (used[c]) continue;
    used[c] = 1;
    set.colours.push_back(c);
    set.counts.push_back(1 + rng() % 8);
  }
  return set;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Timing {
  double seconds;
  double longestGap;  // between two calls, or from the start to the first
  double longestCpuGap;
  double cpuGapFrom;  // the fraction reported before the longest CPU gap
  int calls;
  int zeros;  // calls in the set-up, which report 0
};

Timing timeBuild(const ColourSet& set, unsigned threads, bool withCallback) {
  const Clock::time_point start = Clock::now();
  Clock::time_point last = start;
  double lastCpu = threadCpuSeconds();
  double longest = 0, longestCpu = 0, lastFraction = 0, from = 0;
  int calls = 0, zeros = 0;
  tavrel::BuildProgress progress;
  if (withCallback) {
    progress = [&](double f) {
      const Clock::time_point now = Clock::now();
      const double cpu = threadCpuSeconds();
      longest = std::max(longest, seconds(now - last));
      if (cpu - lastCpu > longestCpu) {
        longestCpu = cpu - lastCpu;
        from = lastFraction;
      }
      lastFraction = f;
      last = now;
      lastCpu = cpu;
      ++calls;
      zeros += f == 0.0;
      return true;
    };
  }
  tavrel::buildMergeTree(set.colours, set.counts, threads, {}, progress);
  return {seconds(Clock::now() - start), longest, longestCpu, from, calls, zeros};
}

// Seconds from the false answer to BuildStopped, stopping at the first call
// that `now` accepts.
template <class When>
double timeStop(const ColourSet& set, unsigned threads, When now) {
  Clock::time_point answered;
  int calls = 0;
  try {
    tavrel::buildMergeTree(set.colours, set.counts, threads, {}, [&](double f) {
      if (!now(++calls, f)) return true;
      answered = Clock::now();
      return false;
    });
  } catch (const tavrel::BuildStopped&) {
    return seconds(Clock::now() - answered);
  }
  return -1;  // not stopped
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<ColourSet> sets;
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--random") == 0 && i + 1 < argc) {
      sets.push_back(randomColours(std::strtoul(argv[++i], nullptr, 10)));
    } else {
      ColourSet set;
      if (!readPhoto(argv[i], &set)) {
        std::fprintf(stderr, "cannot read %s as a binary PPM with maxval 255\n", argv[i]);
        return 1;
      }
      sets.push_back(std::move(set));
    }
  }
  std::printf("%-24s %7s %8s %8s %6s %8s %8s %5s %6s %8s %8s\n", "colours", "threads", "plain s",
              "report s", "ratio", "max gap", "cpu gap", "after", "calls", "stop 0", "stop .5");
  for (const ColourSet& set : sets) {
    for (const unsigned threads : {0u, 1u}) {
      std::vector<double> plain, reported, gaps, cpuGaps;
      double gapFrom = 0;
      Timing t{};
      for (int r = 0; r < runs; ++r) {
        plain.push_back(timeBuild(set, threads, false).seconds);
        t = timeBuild(set, threads, true);
        reported.push_back(t.seconds);
        gaps.push_back(t.longestGap);
        if (cpuGaps.empty() ||
            t.longestCpuGap > *std::max_element(cpuGaps.begin(), cpuGaps.end())) {
          gapFrom = t.cpuGapFrom;
        }
        cpuGaps.push_back(t.longestCpuGap);
      }
      // Stopped three quarters into the set-up (among the first rows, with
      // the second thread's half running where there is one) and once half
      // the merges are done; the slowest of the runs.
      const int setUpCall = std::max(1, t.zeros * 3 / 4);
      double stopSetUp = 0, stopMiddle = 0;
      for (int r = 0; r < runs; ++r) {
        stopSetUp = std::max(
            stopSetUp, timeStop(set, threads, [&](int call, double) { return call == setUpCall; }));
        stopMiddle =
            std::max(stopMiddle, timeStop(set, threads, [](int, double f) { return f >= 0.5; }));
      }
      const auto most = [](const std::vector<double>& v) {
        return 1e3 * *std::max_element(v.begin(), v.end());
      };
      std::printf("%-24s %7u %8.3f %8.3f %6.3f %6.1fms %6.1fms %5.3f %6d %6.1fms %6.1fms\n",
                  set.name.c_str(), threads, median(plain), median(reported),
                  median(reported) / median(plain), most(gaps), most(cpuGaps), gapFrom, t.calls,
                  1e3 * stopSetUp, 1e3 * stopMiddle);
      std::fflush(stdout);
    }
  }
  return 0;
}

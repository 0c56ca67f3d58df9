// Benchmark of the library on the photo corpus, in the same run as the
// command line:
//
//   library_bench --tavrel BIN --corpus DIR [--before BIN] [--runs N]
//                 [--photos a.ppm,b.ppm]
//
// Per photo: a whole process that builds through the library against the
// command line's -C0 (wall time and peak memory, medians of N interleaved
// runs); painting one k from scratch (2, 16, 256, the colours) as RGB and as
// indices against a memcpy of the photo's RGB bytes; the cursor's steps to
// 256; the same painted by nearest colour (2, 16, 64, 256); the quality of
// k = 1 .. 256 by cluster and by nearest colour against the build; memoryBytes() against
// 4 bytes a pixel + 64 a colour; how often a build reports progress and how
// soon it stops when asked to. With --before, -C256 of the command line
// against an earlier binary, interleaved, the dumps in a RAM-backed folder
// where there is one. `library_bench --build FILE` is the child that builds.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tavrel/tavrel.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Photo {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

Photo readPhoto(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream header(bytes);
  std::string magic;
  int maxValue = 0;
  Photo photo;
  header >> magic >> photo.width >> photo.height >> maxValue;
  const std::size_t body = static_cast<std::size_t>(header.tellg()) + 1;
  photo.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(body), bytes.end());
  return photo;
}

struct Process {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system, all threads: steadier on a shared machine
  double peakMb = 0;
  int status = -1;
};

// Runs a program in dir with its output thrown away; wall time and peak RSS.
Process runProcess(const std::vector<std::string>& args, const std::string& dir) {
  std::fflush(stdout);  // or the child's freopen writes it a second time
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::freopen("/dev/null", "w", stdout);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Process p;
  p.seconds = since(start);
  p.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  p.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  p.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return p;
}

// Median seconds of a call, run `times` times.
double timed(int times, const std::function<void()>& call) {
  std::vector<double> seconds;
  for (int i = 0; i < times; ++i) {
    const Clock::time_point start = Clock::now();
    call();
    seconds.push_back(since(start));
  }
  return median(seconds);
}

// The child: reads the photo and builds its hierarchy, as a program would.
int buildOnce(const std::string& path) {
  const Photo photo = readPhoto(path);
  const tavrel::Hierarchy h({photo.rgb.data(), photo.width, photo.height});
  return h.colours() > 0 ? 0 : 1;
}

struct Options {
  std::string tavrel, corpus, before, self;
  int runs = 5;
  std::vector<std::string> photos = {"garden-1024x768.ppm", "ladybird-2560x1600.ppm"};
};

void benchPhoto(const Options& o, const std::string& name) {
  const std::string path = o.corpus + "/" + name;
  const std::string dir = fs::temp_directory_path() / "tavrel-library-bench";
  fs::create_directories(dir);
  std::printf("\n== %s\n", name.c_str());

  // Whole processes, interleaved: the library's build and the command line.
  std::vector<double> libSeconds, cliSeconds, libCpu, cliCpu, libPeak, cliPeak;
  for (int run = 0; run < o.runs; ++run) {
    const Process lib = runProcess({o.self, "--build", path}, dir);
    const Process cli = runProcess({o.tavrel, "-Q0", "-C0", path, "out"}, dir);
    if (lib.status != 0 || cli.status != 0)
      std::printf("a run failed (%d, %d)\n", lib.status, cli.status);
    libSeconds.push_back(lib.seconds);
    cliSeconds.push_back(cli.seconds);
    libCpu.push_back(lib.cpuSeconds);
    cliCpu.push_back(cli.cpuSeconds);
    libPeak.push_back(lib.peakMb);
    cliPeak.push_back(cli.peakMb);
  }
  std::printf(
      "build, whole process      library %.3f s  command line -C0 %.3f s  ratio %.3f"
      "  (spread %.3f-%.3f / %.3f-%.3f)\n",
      median(libSeconds), median(cliSeconds), median(libSeconds) / median(cliSeconds),
      *std::min_element(libSeconds.begin(), libSeconds.end()),
      *std::max_element(libSeconds.begin(), libSeconds.end()),
      *std::min_element(cliSeconds.begin(), cliSeconds.end()),
      *std::max_element(cliSeconds.begin(), cliSeconds.end()));
  std::printf("build, CPU time           library %.3f s  command line -C0 %.3f s  ratio %.3f\n",
              median(libCpu), median(cliCpu), median(libCpu) / median(cliCpu));
  std::printf("peak memory               library %.1f MB  command line -C0 %.1f MB\n",
              median(libPeak), median(cliPeak));

  const Photo photo = readPhoto(path);
  const std::size_t pixels = static_cast<std::size_t>(photo.width) * photo.height;
  const Clock::time_point start = Clock::now();
  const tavrel::Hierarchy h({photo.rgb.data(), photo.width, photo.height});
  const double build = since(start);
  const std::uint32_t n = h.colours();
  std::printf("in-process build          %.3f s, %u colours\n", build, n);
  std::printf(
      "memoryBytes               %zu = %.2f bytes a pixel + %.1f a colour"
      " (limit %zu)\n",
      h.memoryBytes(), 4.0, static_cast<double>(h.memoryBytes() - 4 * pixels) / n,
      4 * pixels + 64 * static_cast<std::size_t>(n));

  // Painting against memcpy of the RGB bytes, each timed in turn.
  std::vector<std::uint8_t> copy(photo.rgb.size()), out(pixels * 4);
  const int times = 9;
  const double memcpySeconds = timed(times, [&] {
    std::memcpy(copy.data(), photo.rgb.data(), photo.rgb.size());
    asm volatile("" : : "r"(copy.data()) : "memory");  // the copy is used
  });
  std::printf("memcpy of the RGB bytes   %.2f ms\n", memcpySeconds * 1e3);
  for (std::uint32_t k : {2u, 16u, 256u, n}) {
    std::printf("paint k = %-6u ", k);
    for (const auto& [format, label] : {std::pair{tavrel::OutputFormat::Rgb, "RGB"},
                                        {tavrel::OutputFormat::Rgba, "RGBA"},
                                        {tavrel::OutputFormat::Index8, "index8"},
                                        {tavrel::OutputFormat::Index16, "index16"},
                                        {tavrel::OutputFormat::Index32, "index32"}}) {
      if ((format == tavrel::OutputFormat::Index8 && k > 256) ||
          (format == tavrel::OutputFormat::Index16 && k > 65536)) {
        continue;
      }
      const tavrel::Output o{out.data(), out.size(), 0, format};
      const double s = timed(times, [&] { h.paint(k, o); });
      std::printf("  %s %.2f ms (%.1fx)", label, s * 1e3, s / memcpySeconds);
    }
    std::printf("\n");
  }
  // Nearest-colour painting: the first call also makes the colours' CIELAB
  // values, which the hierarchy keeps; then each k from scratch.
  {
    const Clock::time_point first = Clock::now();
    h.paint(2, {out.data(), out.size()}, tavrel::Remap::Nearest);
    std::printf("nearest, first call       %.2f ms (CIELAB of the colours, kept: %.1f MB)\n",
                since(first) * 1e3, n * 24 / 1e6);
  }
  for (std::uint32_t k : {2u, 16u, 64u, 256u}) {
    std::printf("nearest k = %-6u", k);
    for (const auto& [format, label] :
         {std::pair{tavrel::OutputFormat::Rgb, "RGB"}, {tavrel::OutputFormat::Index8, "index8"}}) {
      const tavrel::Output o{out.data(), out.size(), 0, format};
      const double s = timed(times, [&] { h.paint(k, o, tavrel::Remap::Nearest); });
      std::printf("  %s %.2f ms (%.1fx)", label, s * 1e3, s / memcpySeconds);
    }
    std::printf("\n");
  }
  const double nearestQuality =
      timed(3, [&] { h.meanDeltaE(std::min(n, 256u), tavrel::Remap::Nearest); });
  std::printf("nearest quality k = 1 .. 256  %.1f ms = %.1f %% of the in-process build\n",
              nearestQuality * 1e3, nearestQuality / build * 100);
  {
    const std::vector<double> byCluster = h.meanDeltaE(std::min(n, 256u)),
                              nearest = h.meanDeltaE(std::min(n, 256u), tavrel::Remap::Nearest);
    std::printf("mean dE76 by cluster / nearest:");
    for (std::uint32_t k : {16u, 64u, 256u}) {
      if (k <= n) std::printf("  k = %u %.3f / %.3f", k, byCluster[k - 1], nearest[k - 1]);
    }
    std::printf("\n");
  }

  const double cursorSeconds = timed(3, [&] {
    tavrel::Cursor cursor(h, 1, {out.data(), out.size()});
    cursor.advanceTo(std::min(n, 256u));
  });
  std::printf("cursor k = 1 .. 256, RGB  %.1f ms, steps one by one\n", cursorSeconds * 1e3);
  const double quality = timed(5, [&] { h.meanDeltaE(std::min(n, 256u)); });
  std::printf("quality k = 1 .. 256      %.1f ms = %.1f %% of the in-process build\n",
              quality * 1e3, quality / build * 100);

  // Progress: the longest silence between two reports, and the time from a
  // false answer to the Cancelled exception, at a quarter, half and 3/4.
  for (double stopAt : {0.25, 0.5, 0.75, 2.0}) {
    double gap = 0;
    Clock::time_point last = Clock::now(), asked{};
    tavrel::BuildOptions options;
    options.progress = [&](double fraction) {
      gap = std::max(gap, since(last));
      last = Clock::now();
      if (fraction < stopAt) return true;
      asked = Clock::now();
      return false;
    };
    try {
      tavrel::Hierarchy stopped({photo.rgb.data(), photo.width, photo.height}, options);
      std::printf("progress, not stopped     longest silence %.1f ms\n", gap * 1e3);
    } catch (const tavrel::Cancelled&) {
      std::printf("stopped at %.2f           longest silence %.1f ms, stop took %.1f ms\n", stopAt,
                  gap * 1e3, since(asked) * 1e3);
    }
  }

  if (!o.before.empty()) {
    const std::string dumps = fs::exists("/dev/shm") ? "/dev/shm/tavrel-library-bench" : dir;
    fs::create_directories(dumps);
    std::vector<double> now, before, nowCpu, beforeCpu;
    for (int run = 0; run < o.runs; ++run) {
      const Process a = runProcess({o.tavrel, "-Q0", "-C256", path, "out"}, dumps);
      const Process b = runProcess({o.before, "-Q0", "-C256", path, "out"}, dumps);
      now.push_back(a.seconds);
      nowCpu.push_back(a.cpuSeconds);
      before.push_back(b.seconds);
      beforeCpu.push_back(b.cpuSeconds);
    }
    fs::remove_all(dumps);
    std::printf(
        "-C256                     now %.3f s  before %.3f s  ratio %.3f;"
        " CPU time %.3f s, %.3f s, ratio %.3f\n",
        median(now), median(before), median(now) / median(before), median(nowCpu),
        median(beforeCpu), median(nowCpu) / median(beforeCpu));
  }
  fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--build") == 0) return buildOnce(argv[2]);
  Options o;
  o.self = fs::canonical("/proc/self/exe").string();
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--tavrel") o.tavrel = fs::absolute(value).string();
    if (flag == "--corpus") o.corpus = fs::absolute(value).string();
    if (flag == "--before") o.before = fs::absolute(value).string();
    if (flag == "--runs") o.runs = std::atoi(value.c_str());
    if (flag == "--photos") {
      o.photos.clear();
      std::istringstream list(value);
      for (std::string p; std::getline(list, p, ',');) o.photos.push_back(p);
    }
  }
  if (o.tavrel.empty() || o.corpus.empty()) {
    std::fprintf(stderr,
                 "usage: library_bench --tavrel BIN --corpus DIR [--before BIN] [--runs N]"
                 " [--photos a.ppm,b.ppm]\n");
    return 2;
  }
  std::printf("library %s; medians of %d interleaved runs\n", tavrel::version(), o.runs);
  for (const std::string& photo : o.photos) benchPhoto(o, photo);
  return 0;
}

// Whole-process benchmark of the colour progression.
//
//   progression_bench --tavrel BIN --reference BIN --corpus DIR [--out DIR]
//                     [--baseline BIN] [--runs N] [--quick]
//
// Runs the shipped binary (and, where it can finish, the reference build of
// the literal procedure) on the photo corpus and on synthetic images, checks
// that both give byte-identical output, and prints one table row per run:
// image, colours, options, wall time, peak memory and the ratio to the
// reference. On the real photos the times are medians of N runs (default 5)
// interleaved with the runs they are compared with: a common single-palette
// quantizer on the same photo as PNG, a plain write of the same dump bytes
// into the same folder, and, pinned to one core, an earlier build given as
// --baseline. Exits non-zero when an identity check fails.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

struct Options {
  std::string tavrel;
  std::string reference;
  std::string corpus;
  std::string out;
  std::string baseline;
  int runs = 5;
  bool quick = false;
};

struct Run {
  double seconds = 0;
  long peakKb = 0;
  int exitCode = -1;
  std::string out;
  std::string err;
  std::map<std::string, std::string> dumps;  // file name -> bytes (when kept)
  std::uintmax_t dumpBytes = 0;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> listFiles(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
        names.push_back(e->d_name);
      }
    }
    closedir(d);
  }
  return names;
}

void clearDir(const std::string& dir) {
  for (const std::string& name : listFiles(dir)) std::remove((dir + "/" + name).c_str());
}

// The kernel's peak-memory figure for a job includes whatever the process
// that forked it held, so jobs are forked by a small process started before
// the benchmark allocates anything. It reads a job (program, folder, output
// files, arguments) from a pipe, runs it and answers with its status, peak
// memory and wall time.
struct JobResult {
  int status;
  long peakKb;
  double seconds;
};

class Spawner {
 public:
  void start() {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) std::exit(2);
    if (fork() == 0) {
      close(toChild[1]);
      close(fromChild[0]);
      serve(toChild[0], fromChild[1]);
      _exit(0);
    }
    close(toChild[0]);
    close(fromChild[1]);
    requests_ = toChild[1];
    answers_ = fromChild[0];
  }

  JobResult run(const std::vector<std::string>& fields) {
    std::string message;
    for (const std::string& f : fields) message += f + '\0';
    const std::uint32_t size = static_cast<std::uint32_t>(message.size());
    if (write(requests_, &size, sizeof size) != sizeof size ||
        write(requests_, message.data(), size) != static_cast<ssize_t>(size)) {
      std::exit(2);
    }
    JobResult result{};
    if (read(answers_, &result, sizeof result) != sizeof result) std::exit(2);
    return result;
  }

 private:
  static bool readAll(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t got = read(fd, p, size);
      if (got <= 0) return false;
      p += got;
      size -= static_cast<std::size_t>(got);
    }
    return true;
  }

  // fields: program, folder, stdout file, stderr file, then the arguments.
  static void serve(int requests, int answers) {
    std::uint32_t size = 0;
    while (readAll(requests, &size, sizeof size)) {
      std::vector<char> message(size);
      if (!readAll(requests, message.data(), size)) break;
      std::vector<char*> fields;
      for (std::size_t i = 0; i < size; i += std::strlen(&message[i]) + 1) {
        fields.push_back(&message[i]);
      }
      const auto start = std::chrono::steady_clock::now();
      const pid_t pid = fork();
      if (pid == 0) {
        const int out = open(fields[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(fields[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(fields[1]) != 0) _exit(126);
        std::vector<char*> argv{fields[0]};
        argv.insert(argv.end(), fields.begin() + 4, fields.end());
        argv.push_back(nullptr);
        execv(fields[0], argv.data());
        _exit(127);
      }
      int status = 0;
      rusage usage{};
      wait4(pid, &status, 0, &usage);
      JobResult result{};
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      result.peakKb = usage.ru_maxrss;
      result.seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (write(answers, &result, sizeof result) != sizeof result) break;
    }
  }

  int requests_ = -1;
  int answers_ = -1;
};

Spawner gSpawner;

// Runs program with args in a fresh folder; keeps the dumps when asked to.
Run runJob(const std::string& program, const std::vector<std::string>& args,
           const std::string& workDir, bool keepDumps) {
  mkdir(workDir.c_str(), 0755);
  clearDir(workDir);
  const std::string outPath = workDir + "/.stdout";
  const std::string errPath = workDir + "/.stderr";
  std::vector<std::string> fields{program, workDir, outPath, errPath};
  fields.insert(fields.end(), args.begin(), args.end());
  const JobResult job = gSpawner.run(fields);
  Run run;
  run.seconds = job.seconds;
  run.peakKb = job.peakKb;
  run.exitCode = job.status;
  run.out = std::regex_replace(readFile(outPath), std::regex("Duration:    [0-9.]+ *seconds"),
                               "Duration: (masked)");
  run.err = readFile(errPath);
  for (const std::string& name : listFiles(workDir)) {
    if (name[0] == '.') continue;
    const std::string path = workDir + "/" + name;
    struct stat info {};
    stat(path.c_str(), &info);
    run.dumpBytes += static_cast<std::uintmax_t>(info.st_size);
    if (keepDumps) run.dumps[name] = readFile(path);
  }
  clearDir(workDir);
  return run;
}

// The time of writing `files` files of `bytes` bytes each, one write per file.
double plainWriteSeconds(const std::string& dir, int files, std::size_t bytes) {
  mkdir(dir.c_str(), 0755);
  std::vector<char> block(bytes, 'x');
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < files; ++i) {
    const std::string path = dir + "/plain" + std::to_string(i);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) break;
    std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  clearDir(dir);
  return seconds;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The absolute path of a program on PATH, or "" when there is none.
std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

std::size_t countColours(const std::string& ppm) {
  // Corpus files have the plain header "P6\n<w> <h>\n255\n".
  std::size_t pos = 0;
  for (int lines = 0; lines < 3; ++lines) pos = ppm.find('\n', pos) + 1;
  std::unordered_set<std::uint32_t> colours;
  for (std::size_t i = pos; i + 2 < ppm.size(); i += 3) {
    colours.insert(static_cast<std::uint8_t>(ppm[i]) | static_cast<std::uint8_t>(ppm[i + 1]) << 8 |
                   static_cast<std::uint8_t>(ppm[i + 2]) << 16);
  }
  return colours.size();
}

// About 2 MP with exactly `colours` distinct colours, scattered at random.
void writeSyntheticImage(const std::string& path, std::size_t colours, unsigned seed) {
  const int width = 1600, height = 1250;
  std::mt19937 rng(seed);
  std::vector<std::uint32_t> palette;
  std::unordered_set<std::uint32_t> seen;
  while (palette.size() < colours) {
    std::uint32_t c = rng() & 0xFFFFFF;
    if (seen.insert(c).second) palette.push_back(c);
  }
  std::string bytes = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint32_t c = palette[i < colours ? i : rng() % colours];
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    bytes.push_back(static_cast<char>((c >> 16) & 0xFF));
  }
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The options of a command line, without the two file names at its end.
std::string optionsOf(const std::vector<std::string>& args) {
  std::string s;
  for (std::size_t i = 0; i + 2 < args.size(); ++i) s += (s.empty() ? "" : " ") + args[i];
  return s;
}

bool sameOutput(const Run& a, const Run& b, std::string* why) {
  if (a.exitCode != b.exitCode) return *why = "exit code", false;
  if (a.out != b.out) return *why = "standard output", false;
  if (a.err != b.err) return *why = "standard error", false;
  if (a.dumps != b.dumps) return *why = "dump files", false;
  return true;
}

int gFailures = 0;

void printRow(const std::string& image, std::size_t colours, const std::string& options,
              const Run& run, std::string note) {
  if (run.exitCode != 0) {
    note = "FAILED with exit code " + std::to_string(run.exitCode) + ": " + run.err;
    ++gFailures;
  }
  std::printf("| %-24s | %8zu | %-10s | %9.3f s | %8.1f MB | %s\n", image.c_str(), colours,
              options.c_str(), run.seconds, run.peakKb / 1024.0, note.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  gSpawner.start();
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--tavrel")
      opt.tavrel = next();
    else if (a == "--reference")
      opt.reference = next();
    else if (a == "--corpus")
      opt.corpus = next();
    else if (a == "--out")
      opt.out = next();
    else if (a == "--baseline")
      opt.baseline = next();
    else if (a == "--runs")
      opt.runs = std::max(1, std::atoi(next().c_str()));
    else if (a == "--quick")
      opt.quick = true;
  }
  if (opt.tavrel.empty() || opt.reference.empty() || opt.corpus.empty()) {
    std::fprintf(stderr,
                 "usage: progression_bench --tavrel BIN --reference BIN --corpus DIR [--out DIR] "
                 "[--quick]\n");
    return 2;
  }
  // The jobs run in a folder of their own, so every path must be absolute.
  for (std::string* path : {&opt.tavrel, &opt.reference, &opt.corpus}) {
    if (char* resolved = realpath(path->c_str(), nullptr)) {
      *path = resolved;
      std::free(resolved);
    } else {
      std::fprintf(stderr, "progression_bench: cannot find %s\n", path->c_str());
      return 2;
    }
  }
  if (!opt.baseline.empty()) {
    if (char* resolved = realpath(opt.baseline.c_str(), nullptr)) {
      opt.baseline = resolved;
      std::free(resolved);
    } else {
      std::fprintf(stderr, "progression_bench: cannot find %s\n", opt.baseline.c_str());
      return 2;
    }
  }
  if (opt.out.empty()) {
    struct stat info {};
    opt.out = stat("/dev/shm", &info) == 0 ? "/dev/shm/tavrel-bench" : "bench-out";
  }
  mkdir(opt.out.c_str(), 0755);
  const std::string work = opt.out + "/work";
  int failures = 0;

  std::printf("| %-24s | %8s | %-10s | %11s | %11s | %s\n", "image", "colours", "options", "time",
              "peak mem", "notes");
  std::printf("|%s|%s|%s|%s|%s|%s\n", std::string(26, '-').c_str(), std::string(10, '-').c_str(),
              std::string(12, '-').c_str(), std::string(13, '-').c_str(),
              std::string(13, '-').c_str(), "-------");

  // Identity and speed against the reference on the posterised photos.
  struct Small {
    const char* file;
    double minRatio;
  };
  for (const Small& s : {Small{"coffee-post300.ppm", 100}, Small{"coffee-post1500.ppm", 1000}}) {
    const std::string input = opt.corpus + "/" + s.file;
    const std::size_t colours = countColours(readFile(input));
    if (opt.quick && colours > 1000) continue;
    for (const char* limit : {"-C0", "-C256"}) {
      const std::vector<std::string> args{limit, input, "out"};
      const bool dumps = std::string(limit) != "-C0";
      const Run fast = runJob(opt.tavrel, args, work, dumps);
      const Run ref = runJob(opt.reference, args, work, dumps);
      std::string why;
      const bool same = sameOutput(fast, ref, &why);
      if (!same) ++failures;
      const double ratio = ref.seconds / fast.seconds;
      char note[160];
      std::snprintf(note, sizeof note, "reference %.2f s, %.0fx faster%s; output %s%s", ref.seconds,
                    ratio,
                    dumps ? "" : (ratio >= s.minRatio ? " (target met)" : " (TARGET MISSED)"),
                    same ? "identical" : "DIFFERS in ", same ? "" : why.c_str());
      printRow(s.file, colours, optionsOf(args), fast, note);
    }
  }

  // Real photos: speed against the quantizer, the dump cost against a plain
  // write, one core against the baseline, and memory. Every comparison
  // interleaves its runs (A B A B ...) and compares medians.
  const std::string quantizer = findProgram("pngquant");
  const std::string toPng = findProgram("pnmtopng");
  const std::string taskset = findProgram("taskset");
  struct Photo {
    const char* file;
    double seconds;  // -C0 target
    double ofQuantizer;
    double dumpFactor;  // -C256 beyond -C0 against the plain write
  };
  for (const Photo& p : {Photo{"garden-1024x768.ppm", 0.5, 1.5, 1.2},
                         Photo{"ladybird-2560x1600.ppm", 1.6, 1.5, 1.2}}) {
    const std::string input = opt.corpus + "/" + p.file;
    const std::string bytes = readFile(input);
    const std::size_t colours = countColours(bytes);
    const std::size_t pixels = (bytes.size() - 15) / 3;  // close enough for the memory target
    const std::vector<std::string> c0Args{"-C0", input, "out"};
    const std::vector<std::string> c256Args{"-C256", input, "out"};
    const int runs = opt.quick ? 1 : opt.runs;
    char note[300];

    // -C0 against the quantizer on the same photo as PNG, both on both cores.
    std::string png;
    if (!quantizer.empty() && !toPng.empty()) {
      png = opt.out + "/" + std::string(p.file).substr(0, std::strlen(p.file) - 4) + ".png";
      const std::string command = "'" + toPng + "' '" + input + "' > '" + png + "' 2>/dev/null";
      if (std::system(command.c_str()) != 0) png.clear();
    }
    std::vector<double> c0Times, quantizerTimes;
    Run c0;
    for (int i = 0; i < runs; ++i) {
      c0 = runJob(opt.tavrel, c0Args, work, false);
      c0Times.push_back(c0.seconds);
      if (!png.empty()) {
        const Run q =
            runJob(quantizer, {"--nofs", "--force", "--output", "q.png", "256", png}, work, false);
        if (q.exitCode == 0) quantizerTimes.push_back(q.seconds);
      }
    }
    const double c0Median = median(c0Times);
    c0.seconds = c0Median;
    if (!quantizerTimes.empty()) {
      const double q = median(quantizerTimes);
      std::snprintf(note, sizeof note,
                    "median of %d; pngquant --nofs --force 256 (median of %zu, interleaved) "
                    "%.3f s, ratio %.2fx; targets %.1f s: %s, %.1fx: %s",
                    runs, quantizerTimes.size(), q, c0Median / q, p.seconds,
                    c0Median <= p.seconds ? "met" : "MISSED", p.ofQuantizer,
                    c0Median <= p.ofQuantizer * q ? "met" : "MISSED");
    } else {
      std::snprintf(note, sizeof note, "median of %d; no pngquant/pnmtopng; target %.1f s: %s",
                    runs, p.seconds, c0Median <= p.seconds ? "met" : "MISSED");
    }
    printRow(p.file, colours, "-C0", c0, note);
    if (!png.empty()) std::remove(png.c_str());

    // One core: the same job pinned to CPU 0, against the baseline build.
    if (!taskset.empty()) {
      std::vector<double> pinned, basePinned;
      Run one;
      for (int i = 0; i < runs; ++i) {
        std::vector<std::string> args{"-c", "0", opt.tavrel};
        args.insert(args.end(), c0Args.begin(), c0Args.end());
        one = runJob(taskset, args, work, false);
        pinned.push_back(one.seconds);
        if (!opt.baseline.empty()) {
          args[2] = opt.baseline;
          basePinned.push_back(runJob(taskset, args, work, false).seconds);
        }
      }
      one.seconds = median(pinned);
      if (!basePinned.empty()) {
        const double base = median(basePinned);
        std::snprintf(note, sizeof note,
                      "taskset -c 0, median of %d; baseline pinned %.3f s, ratio %.2fx: %s", runs,
                      base, one.seconds / base, one.seconds <= base ? "no slower" : "SLOWER");
      } else {
        std::snprintf(note, sizeof note, "taskset -c 0, median of %d (no --baseline given)", runs);
      }
      printRow(p.file, colours, "-C0 1 core", one, note);
    }
    if (opt.quick) continue;

    // -C256: its time beyond -C0 against a plain write of the same bytes.
    std::vector<double> c256Times, c0Again, plainTimes;
    Run c256;
    for (int i = 0; i < runs; ++i) {
      c256 = runJob(opt.tavrel, c256Args, work, false);
      c256Times.push_back(c256.seconds);
      c0Again.push_back(runJob(opt.tavrel, c0Args, work, false).seconds);
      plainTimes.push_back(plainWriteSeconds(work, 255, c256.dumpBytes / 255));
    }
    const double extra = median(c256Times) - median(c0Again);
    const double plain = median(plainTimes);
    c256.seconds = median(c256Times);
    std::snprintf(note, sizeof note,
                  "medians of %d interleaved: beyond -C0 (%.3f s) %.3f s; plain write of the "
                  "same %.0f MB %.3f s; ratio %.2fx, target %.1fx: %s",
                  runs, median(c0Again), extra, c256.dumpBytes / 1e6, plain, extra / plain,
                  p.dumpFactor, extra <= p.dumpFactor * plain ? "met" : "MISSED");
    printRow(p.file, colours, "-C256", c256, note);
    const double memoryTarget = (16.0 * pixels + 400.0 * colours) / 1024 + 32 * 1024;
    std::snprintf(note, sizeof note, "peak memory target %.1f MB: %s", memoryTarget / 1024,
                  std::max(c0.peakKb, c256.peakKb) <= memoryTarget ? "met" : "MISSED");
    printRow(p.file, colours, "(memory)", c256.peakKb > c0.peakKb ? c256 : c0, note);
  }

  // Growth with the number of colours at a fixed image size.
  double previous = 0;
  for (std::size_t colours : {1000u, 10000u, 100000u, 1000000u}) {
    if (opt.quick && colours > 100000) break;
    const std::string input = opt.out + "/synthetic-" + std::to_string(colours) + ".ppm";
    writeSyntheticImage(input, colours, static_cast<unsigned>(colours));
    const Run run = runJob(opt.tavrel, {"-C0", "-Q0", input, "out"}, work, false);
    std::remove(input.c_str());
    char note[120];
    if (previous > 0) {
      const double growth = run.seconds / previous;
      std::snprintf(note, sizeof note, "%.1fx the previous decade (target at most 12x): %s", growth,
                    growth <= 12 ? "met" : "MISSED");
    } else {
      std::snprintf(note, sizeof note, "synthetic 1600x1250");
    }
    printRow("synthetic-" + std::to_string(colours), colours, "-C0 -Q0", run, note);
    previous = run.seconds;
  }

  failures += gFailures;
  if (failures) std::printf("\n%d check(s) FAILED\n", failures);
  return failures ? 1 : 0;
}

// Listing a configuration file through TINIConfig::LoadConfigString at 1,000 and
// 10,000 keys, next to Python's configparser reading and listing the same files.
//
// "warm": the same file again and again, as a page reloading its settings sees it.
// "cold": a fresh copy each time (copied outside the timing), so nothing parsed
// before can be reused; Python parses every time, so this is its fair match.
#include "Forms.h"
#include "INIConfig.h"
#include "SB64.h"
#include "Widgetset.h"
#include "headless/HeadlessWidgetset.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const SectionNames[] = {"general", "invoice", "printer", "seller",  "buyer",
                                    "tax",     "network", "display", "history", "template"};
const char* const KeyWords[] = {"TaxRate", "PrinterName", "SellerCode", "BuyerName", "InvoiceType",
                                "ItemCode", "Remark",     "PageSize",   "Copies",    "LastNumber"};

// Ten sections of keys like "PrinterName417", each 18 characters of text stored as
// 24 of Base64. Names stay short enough that a section's key list fits the 16 KiB
// list buffer; values hold no "#", so the items of a listing can be counted.
const char Plain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789./:-_ ";
std::string MakeIni(int keys) {
  std::mt19937 rng(7);
  TSB64 codec;
  std::string out;
  int perSection = keys / 10;
  for (int s = 0; s < 10; ++s) {
    out.append("[").append(SectionNames[s]).append("]\r\n");
    for (int k = 0; k < perSection; ++k) {
      std::string raw(18, '\0');
      for (auto& c : raw) c = Plain[rng() % (sizeof Plain - 1)];
      out += KeyWords[k % 10] + std::to_string(k) + "=" + codec.Encode(raw) + "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

// Wall and CPU seconds; CPU time stays meaningful when other work shares the machine.
struct Time {
  double wall = 0, cpu = 0;
};

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

size_t Items(const std::string& listing) { return size_t(std::count(listing.begin(), listing.end(), '#')); }

// Seconds per listing; each rep builds its own TINIConfig, as a page request does.
Time Ours(const stdfs::path& file, int reps, bool cold, int expectedItems) {
  std::vector<double> walls, cpus;
  for (int i = 0; i < reps; ++i) {
    stdfs::path path = file;
    if (cold) {
      path = file.parent_path() / ("cold" + std::to_string(i) + ".ini");
      stdfs::copy_file(file, path, stdfs::copy_options::overwrite_existing);
    }
    auto start = Clock::now();
    double cpu = CpuNow();
    AnsiString listing = TINIConfig().LoadConfigString(path.string(), 1);
    cpus.push_back(CpuNow() - cpu);
    walls.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (Items(listing) != size_t(expectedItems)) {
      std::fprintf(stderr, "%s listed %zu items, expected %d\n", path.c_str(), Items(listing), expectedItems);
      std::exit(1);
    }
    if (cold) stdfs::remove(path);
  }
  return {Median(walls), Median(cpus)};
}

// Only the read and the listing are timed, inside Python: no interpreter start-up.
const char PythonScript[] = R"(
import configparser, statistics, sys, time
path, reps = sys.argv[1], int(sys.argv[2])
walls, cpus = [], []
for _ in range(reps):
    start, cpu = time.perf_counter(), time.thread_time()
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    with open(path, encoding="latin-1") as f:
        parser.read_file(f)
    listing = [(s, k, v) for s in parser.sections() for k, v in parser.items(s)]
    cpus.append(time.thread_time() - cpu)
    walls.append(time.perf_counter() - start)
print(statistics.median(walls), statistics.median(cpus), len(listing))
)";

Time Python(const stdfs::path& file, int reps, int expectedItems) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::string n = std::to_string(reps);
    execlp("python3", "python3", "-c", PythonScript, file.c_str(), n.c_str(), nullptr);
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Time t;
  int items = 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::sscanf(out.c_str(), "%lf %lf %d", &t.wall, &t.cpu, &items) != 3 ||
      items != expectedItems) {
    std::fprintf(stderr, "python3 failed or listed a different number of items: %s\n", out.c_str());
    std::exit(1);
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = argc > 1 ? std::atoi(argv[1]) : 21;

  std::string tmpl = (stdfs::temp_directory_path() / "lumetra-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  stdfs::path dir = tmpl;
  std::ofstream(dir / "Corvane.ini", std::ios::binary) << "[general]\r\n";
  Application->ExeName = (dir / "lumetra").string();
  static THeadlessWidgetset headless;
  UseWidgetset(&headless);

  struct Row {
    int keys;
    double kib = 0;
    Time warm, cold, python;
  } rows[] = {{1000, 0, {}, {}, {}}, {10000, 0, {}, {}, {}}, {1700, 0, {}, {}, {}}};  // the last just under 64 KiB, where every read compares the file
  for (auto& r : rows) {
    stdfs::path file = dir / ("keys" + std::to_string(r.keys) + ".ini");
    std::ofstream(file, std::ios::binary) << MakeIni(r.keys);
    r.kib = double(stdfs::file_size(file)) / 1024;
    Ours(file, 2, false, r.keys);  // caches and page cache settle
    r.warm = Ours(file, reps, false, r.keys);
    r.cold = Ours(file, reps, true, r.keys);
    r.python = Python(file, reps, r.keys);
  }

  std::printf("ms, medians of %d        ours warm        ours cold           Python    ours/Python warm    ours/Python cold\n", reps);
  std::printf(" keys    KiB         wall    CPU      wall    CPU      wall    CPU        wall    CPU         wall    CPU\n");
  for (auto& r : rows)
    std::printf("%5d  %5.0f      %7.2f %6.2f   %7.2f %6.2f   %7.2f %6.2f      %5.2fx %5.2fx      %5.2fx %5.2fx\n",
                r.keys, r.kib, r.warm.wall * 1e3, r.warm.cpu * 1e3, r.cold.wall * 1e3, r.cold.cpu * 1e3,
                r.python.wall * 1e3, r.python.cpu * 1e3, r.warm.wall / r.python.wall, r.warm.cpu / r.python.cpu,
                r.cold.wall / r.python.wall, r.cold.cpu / r.python.cpu);
  auto ratio = [&](Time Row::*t) {
    return std::make_pair((rows[1].*t).wall / (rows[0].*t).wall, (rows[1].*t).cpu / (rows[0].*t).cpu);
  };
  auto [ww, wc] = ratio(&Row::warm);
  auto [cw, cc] = ratio(&Row::cold);
  auto [pw, pc] = ratio(&Row::python);
  std::printf("10k/1k (wall, CPU): ours warm %.2fx %.2fx, ours cold %.2fx %.2fx, Python %.2fx %.2fx\n", ww, wc, cw,
              cc, pw, pc);
  stdfs::remove_all(dir);
  return 0;
}

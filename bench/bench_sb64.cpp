// TSB64 against GLib's Base64 on the same 1 MiB of random bytes, in one run, so the
// ratio is not skewed by the machine's mood between runs.
#include "SB64.h"

#include <benchmark/benchmark.h>
#include <glib.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t MiB = 1 << 20;

const std::string& Raw() {
  static const std::string raw = [] {
    std::mt19937_64 rng(20240611);
    std::string s(MiB, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
  }();
  return raw;
}

const std::string& Text() {
  static const std::string text = TSB64().Encode(Raw());
  return text;
}

void OursEncode(benchmark::State& state) {
  TSB64 codec;
  for (auto _ : state) benchmark::DoNotOptimize(codec.Encode(Raw()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(MiB));
}

void GLibEncode(benchmark::State& state) {
  const auto* raw = reinterpret_cast<const guchar*>(Raw().data());
  for (auto _ : state) {
    gchar* out = g_base64_encode(raw, MiB);
    benchmark::DoNotOptimize(out);
    g_free(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(MiB));
}

void OursDecode(benchmark::State& state) {
  TSB64 codec;
  for (auto _ : state) benchmark::DoNotOptimize(codec.Decode(Text()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(MiB));
}

void GLibDecode(benchmark::State& state) {
  for (auto _ : state) {
    gsize n = 0;
    guchar* out = g_base64_decode(Text().c_str(), &n);
    benchmark::DoNotOptimize(out);
    g_free(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(MiB));
}

// The console output as usual, plus each benchmark's median for the summary.
class Medians : public benchmark::ConsoleReporter {
 public:
  Medians() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}
  std::map<std::string, std::pair<double, double>> ms;  // wall and CPU per MiB
  void ReportRuns(const std::vector<Run>& runs) override {
    for (auto& r : runs)
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        ms[r.run_name.function_name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};  // the unit is ms
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

#define LUMETRA_BENCH(fn) \
  BENCHMARK(fn)->Name(#fn)->Unit(benchmark::kMillisecond)->Repetitions(11)->ReportAggregatesOnly(true)
LUMETRA_BENCH(OursEncode);
LUMETRA_BENCH(GLibEncode);
LUMETRA_BENCH(OursDecode);
LUMETRA_BENCH(GLibDecode);

int main(int argc, char** argv) {
  // Timing a codec that disagrees with the reference would mean nothing.
  gchar* enc = g_base64_encode(reinterpret_cast<const guchar*>(Raw().data()), MiB);
  gsize n = 0;
  guchar* dec = g_base64_decode(Text().c_str(), &n);
  bool same = Text() == enc && TSB64().Decode(Text()) == std::string(reinterpret_cast<char*>(dec), n);
  g_free(enc);
  g_free(dec);
  if (!same) {
    std::fprintf(stderr, "TSB64 and GLib disagree on the test data\n");
    return 1;
  }

  // Repetitions interleaved in random order, so that other work on the machine
  // weighs on both sides alike; flags given on the command line come later and win.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  Medians reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // CPU time too: it stays meaningful when other work shares the machine.
  std::printf("\nms per MiB, medians   TSB64 wall   GLib wall  TSB64/GLib   TSB64 CPU   GLib CPU  TSB64/GLib\n");
  for (const char* op : {"Encode", "Decode"}) {
    auto ours = reporter.ms["Ours" + std::string(op)], glib = reporter.ms["GLib" + std::string(op)];
    if (ours.first > 0 && glib.first > 0 && ours.second > 0 && glib.second > 0)
      std::printf("%-20s %11.3f %11.3f %10.2fx %11.3f %10.3f %10.2fx\n", op, ours.first, glib.first,
                  ours.first / glib.first, ours.second, glib.second, ours.second / glib.second);
  }
  return 0;
}

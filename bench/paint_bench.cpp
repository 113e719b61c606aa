// SPDX-License-Identifier: MIT
// One frame of the painter on a virtual terminal whose output is thrown away,
// under two loads:
//
//   load 0 (shift)  one new sample per frame, so the history moves one column,
//                   as under a steady stream; curses can shift the rows
//   load 1 (smooth) a whole plot width of new samples of the same smooth
//                   curve per frame: every column changes, the picture stays
//                   a thin line, as under a flood of a slowly varying signal
//   load 2 (noise)  a whole plot width of scrambled samples per frame, so
//                   every column changes and neighbours have nothing in
//                   common: the worst case, as under a flood of random data
//
// BM_paint_plot times the whole frame, curses' screen update included;
// BM_paint_frame times only the drawing into the window (paint_frame, which
// is paint_plot without its wrefresh), so the difference is curses' update.
// After the timed frames a few more go into a memory file, to count the bytes
// and the write calls one such frame sends to the terminal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "vantrel.h"
#include "virtual_screen.h"

namespace {

enum mode { CHAR_MODE, BRAILLE_MODE, BLOCK_MODE };
enum load { SHIFT_ONE, ALL_SMOOTH, ALL_NOISE };
constexpr int kCountedFrames = 50;

// The write calls of this process so far, from the kernel's count.
long long write_calls() {
  std::ifstream in("/proc/self/io");
  std::string name;
  long long value = 0;
  while (in >> name >> value) {
    if (name == "syscw:") return value;
  }
  return 0;
}

// A smooth curve, where neighbouring columns are alike as in most real feeds;
// a scrambled one for the worst case, where nothing is.
double sample_value(std::int64_t k, double phase, load l) {
  if (l != ALL_NOISE) return 50.0 + 40.0 * std::sin(static_cast<double>(k) * 0.07 + phase);
  const auto h = static_cast<std::uint64_t>(k) * 0x9E3779B97F4A7C15ULL + (phase > 0 ? 7 : 0);
  return static_cast<double>((h >> 33) % 10000) * 0.01;
}

void store_sample(std::int64_t k, load l) {
  newest_index = (newest_index + 1) % plot_width;
  values1[newest_index] = sample_value(k, 0.0, l);
  if (two_values) values2[newest_index] = sample_value(k, 1.5, l);
  ++sample_count;
}

// The new samples of one frame.
void next_frame(std::int64_t& k, load l) {
  const int n = l == SHIFT_ONE ? 1 : plot_width;
  for (int s = 0; s < n; ++s) store_sample(k++, l);
}

void setup(const benchmark::State& state) {
  std::setlocale(LC_ALL, "C.UTF-8");
  settings_reset();
  input_reset();
  fake_time = true;
  two_values = state.range(3) == 2;
  const auto m = static_cast<mode>(state.range(2));
  braille_mode = m == BRAILLE_MODE;
  block_mode = m == BLOCK_MODE;
}

// Fills the history and paints it once, so the timed frames start from a
// screen that curses already holds.
std::int64_t warm_up(int cols, load l) {
  plot_width = cols - 4;
  std::int64_t k = 0;
  for (; k < 2 * plot_width; ++k) store_sample(k, l);
  paint_plot(nullptr);
  return k;
}

void count_output(benchmark::State& state, int rows, int cols, load l) {
  const int mem = memfd_create("frames", 0);
  virtual_screen vs(rows, cols, mem);
  std::int64_t k = warm_up(cols, l);
  struct stat before {};
  fstat(mem, &before);
  const long long writes_before = write_calls();
  for (int f = 0; f < kCountedFrames; ++f) {
    next_frame(k, l);
    paint_plot(nullptr);
  }
  struct stat after {};
  fstat(mem, &after);
  state.counters["bytes/frame"] =
      static_cast<double>(after.st_size - before.st_size) / kCountedFrames;
  state.counters["writes/frame"] =
      static_cast<double>(write_calls() - writes_before) / kCountedFrames;
}

template <bool kWithUpdate>
void BM_paint(benchmark::State& state) {
  const int cols = static_cast<int>(state.range(0));
  const int rows = static_cast<int>(state.range(1));
  const auto l = static_cast<load>(state.range(4));
  setup(state);
  {
    virtual_screen vs(rows, cols, open("/dev/null", O_WRONLY));
    std::int64_t k = warm_up(cols, l);
    for (auto _ : state) {
      // The new samples are not part of the frame's time.
      state.PauseTiming();
      next_frame(k, l);
      state.ResumeTiming();
      if (kWithUpdate) {
        paint_plot(nullptr);
      } else {
        paint_frame(nullptr);
      }
    }
  }
  if (kWithUpdate) count_output(state, rows, cols, l);
  std::setlocale(LC_ALL, "C");
}

void BM_paint_plot(benchmark::State& state) {
  BM_paint<true>(state);
}
void BM_paint_frame(benchmark::State& state) {
  BM_paint<false>(state);
}

void paint_args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"cols", "rows", "mode", "series", "load"});
  for (auto [cols, rows] : {std::pair{80, 24}, std::pair{200, 50}, std::pair{1026, 300}}) {
    for (int m : {CHAR_MODE, BRAILLE_MODE, BLOCK_MODE}) {
      for (int series : {1, 2}) {
        for (int l : {SHIFT_ONE, ALL_SMOOTH, ALL_NOISE}) b->Args({cols, rows, m, series, l});
      }
    }
  }
}

}  // namespace

BENCHMARK(BM_paint_plot)->Apply(paint_args)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_paint_frame)->Apply(paint_args)->Unit(benchmark::kMicrosecond);

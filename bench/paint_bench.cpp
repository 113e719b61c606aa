// One frame of the painter, curses' screen update included, on a virtual
// terminal whose output is thrown away. Every iteration stores one new sample
// first, so the whole history shifts by one column, as under a steady stream.
// After the timed frames a few more are sent into a memory file to count the
// bytes one such frame sends to the terminal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vantrel.h"

namespace {

enum mode { CHAR_MODE, BRAILLE_MODE, BLOCK_MODE };
constexpr int kCountedFrames = 50;

struct virtual_screen {
  SCREEN* screen = nullptr;
  FILE* out = nullptr;
  FILE* in = nullptr;

  virtual_screen(int rows, int cols, int out_fd) {
    setenv("TERM", "xterm-256color", 1);
    out = fdopen(out_fd, "w");
    in = std::fopen("/dev/null", "r");
    screen = newterm(nullptr, out, in);
    resize_term(rows, cols);
    init_color_pairs();
    screen_rows = getmaxy(stdscr);
    screen_cols = getmaxx(stdscr);
  }
  ~virtual_screen() {
    endwin();
    delscreen(screen);
    std::fclose(out);
    std::fclose(in);
  }
};

double sample_value(std::int64_t k, double phase) {
  return 50.0 + 40.0 * std::sin(static_cast<double>(k) * 0.07 + phase);
}

void store_sample(std::int64_t k) {
  newest_index = (newest_index + 1) % plot_width;
  values1[newest_index] = sample_value(k, 0.0);
  if (two_values) values2[newest_index] = sample_value(k, 1.5);
  ++sample_count;
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
std::int64_t warm_up(int cols) {
  plot_width = cols - 4;
  std::int64_t k = 0;
  for (; k < 2 * plot_width; ++k) store_sample(k);
  paint_plot(nullptr);
  return k;
}

void BM_paint_plot(benchmark::State& state) {
  const int cols = static_cast<int>(state.range(0));
  const int rows = static_cast<int>(state.range(1));
  setup(state);
  {
    virtual_screen vs(rows, cols, open("/dev/null", O_WRONLY));
    std::int64_t k = warm_up(cols);
    for (auto _ : state) {
      store_sample(k++);
      paint_plot(nullptr);
    }
  }
  {
    const int mem = memfd_create("frames", 0);
    virtual_screen vs(rows, cols, mem);
    std::int64_t k = warm_up(cols);
    struct stat before {};
    fstat(mem, &before);
    for (int f = 0; f < kCountedFrames; ++f) {
      store_sample(k++);
      paint_plot(nullptr);
    }
    struct stat after {};
    fstat(mem, &after);
    state.counters["bytes/frame"] =
        static_cast<double>(after.st_size - before.st_size) / kCountedFrames;
  }
  std::setlocale(LC_ALL, "C");
}

void paint_args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"cols", "rows", "mode", "series"});
  for (auto [cols, rows] : {std::pair{80, 24}, std::pair{200, 50}, std::pair{1026, 300}}) {
    for (int m : {CHAR_MODE, BRAILLE_MODE, BLOCK_MODE}) {
      for (int series : {1, 2}) b->Args({cols, rows, m, series});
    }
  }
}

}  // namespace

BENCHMARK(BM_paint_plot)->Apply(paint_args)->Unit(benchmark::kMicrosecond);

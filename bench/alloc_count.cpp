// SPDX-License-Identifier: MIT
// alloc_count: counts the heap allocations of the input path per sample and
// of the painter per frame. malloc, calloc, realloc and the aligned
// allocators are replaced by counting wrappers around glibc's own (operator
// new ends in malloc), so curses' and the C library's allocations count too.
//
// Input: read_input() on a pipe that holds a flood of samples, as the loop
// calls it. Frames: paint_plot on a virtual terminal whose output goes to
// /dev/null, one new sample per frame and a whole width of new samples per
// frame, in each mode.
#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "vantrel.h"
#include "virtual_screen.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}

namespace {

bool counting = false;
long long allocations = 0;
long long allocated_bytes = 0;

void count(std::size_t size) {
  if (!counting) return;
  ++allocations;
  allocated_bytes += static_cast<long long>(size);
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  count(size);
  return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
  count(n * size);
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
  count(size);
  return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  count(size);
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  count(size);
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  count(size);
  *out = __libc_memalign(alignment, size);
  return *out != nullptr ? 0 : 12;  // ENOMEM
}
void free(void* p) {
  __libc_free(p);
}
}

namespace {

constexpr int kFrames = 200;
constexpr long long kInputSamples = 1000000;

// Feeds kInputSamples from a second thread through a pipe on descriptor 0
// and serves them with read_input, as the loop does.
void count_input(bool pairs) {
  settings_reset();
  input_reset();
  two_values = pairs;
  plot_width = 200;
  int fds[2];
  if (pipe(fds) != 0) std::exit(2);
  // After the first round descriptor 0 is closed, so the pipe may get it.
  if (fds[0] != STDIN_FILENO) {
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
  }
  stdin_open = true;
  std::string text;
  for (long long k = 0; k < kInputSamples; ++k) {
    text += std::to_string(k % 100000);
    text += pairs ? " 1.25e1\n" : "\n";
  }
  std::thread writer([&] {
    std::size_t at = 0;
    while (at < text.size()) {
      const ssize_t n = write(fds[1], text.data() + at, text.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    close(fds[1]);
  });
  // The first read sets up nothing that later reads reuse, but the thread's
  // own start-up allocates; counting starts once it runs.
  read_input();
  allocations = 0;
  allocated_bytes = 0;
  const std::int64_t before = sample_count;
  counting = true;
  while (stdin_open) read_input();
  counting = false;
  writer.join();
  const double samples = static_cast<double>(sample_count - before);
  std::printf("input %-8s samples=%.0f allocations=%lld per_sample=%.6f\n",
              pairs ? "pairs" : "single", samples, allocations,
              static_cast<double>(allocations) / samples);
}

void store_sample(std::int64_t k) {
  newest_index = (newest_index + 1) % plot_width;
  values1[newest_index] = 50.0 + 40.0 * std::sin(static_cast<double>(k) * 0.07);
  if (two_values) values2[newest_index] = 50.0 + 40.0 * std::cos(static_cast<double>(k) * 0.05);
  ++sample_count;
}

void count_frames(int rows, int cols, int mode, bool pairs, bool all_changed) {
  settings_reset();
  input_reset();
  fake_time = false;  // the clock is formatted on every frame, as in use
  two_values = pairs;
  braille_mode = mode == 1;
  block_mode = mode == 2;
  {
    virtual_screen vs(rows, cols, open("/dev/null", O_WRONLY));
    plot_width = cols - 4;
    std::int64_t k = 0;
    for (; k < 2 * plot_width; ++k) store_sample(k);
    // Two frames first: curses sizes its buffers on the first frames that need them.
    paint_plot(nullptr);
    paint_plot(nullptr);
    allocations = 0;
    allocated_bytes = 0;
    counting = true;
    for (int f = 0; f < kFrames; ++f) {
      const int n = all_changed ? plot_width : 1;
      for (int s = 0; s < n; ++s) store_sample(k++);
      paint_plot(nullptr);
    }
    counting = false;
  }
  static const char* const kModes[] = {"char", "braille", "block"};
  std::printf("frame %4dx%-3d %-7s %s %-5s allocations/frame=%.2f bytes/frame=%.0f\n", cols, rows,
              kModes[mode], pairs ? "two" : "one", all_changed ? "all" : "shift",
              static_cast<double>(allocations) / kFrames,
              static_cast<double>(allocated_bytes) / kFrames);
}

}  // namespace

int main() {
  std::setlocale(LC_ALL, "C.UTF-8");
  setenv("TERM", "xterm-256color", 1);
  count_input(false);
  count_input(true);
  for (auto [cols, rows] : {std::pair{80, 24}, std::pair{200, 50}}) {
    for (int mode = 0; mode < 3; ++mode) {
      for (bool pairs : {false, true}) {
        for (bool all : {false, true}) count_frames(rows, cols, mode, pairs, all);
      }
    }
  }
  return 0;
}

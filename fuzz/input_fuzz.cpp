// SPDX-License-Identifier: MIT
// Fuzzes the standard-input path: arbitrary bytes, cut into arbitrary reads,
// go through the real read_input on descriptor 0 and the parser behind it.
// After every read the buffer and history invariants are checked, and the
// samples stored are compared with an independent tokenizer fed the same bytes.
//
// Input layout: byte 0 is the mode, bytes 1 and 2 seed the generator that picks
// the read sizes, the plot widths and the clock steps; the rest is the text
// that arrives on standard input.
//   bit 0  two series              bit 3  plot_width changes between reads
//   bit 1  rate mode               bit 4  the clock may step back
//   bit 2  end of input at the end bits 5-7  read size class (kMaxChunk)
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vantrel.h"

namespace {

constexpr std::size_t kHeaderSize = 3;
constexpr std::size_t kMaxChunk[8] = {1, 3, 16, 64, 512, 2048, 4095, 8192};
constexpr std::size_t kMaxHeldOpen = kInputBufSize - 1 - kInputTrimBy;  // 3071, between turns
constexpr std::size_t kMaxHeldClosed = kMaxHeldOpen + 1;  // plus the line feed of the end
constexpr long kMicrosPerSecond = 1000000;
constexpr const char* kClosedText = "input stream closed";

[[noreturn]] void fuzz_fail(const char* what) {
  std::fprintf(stderr, "input_fuzz: invariant broken: %s\n", what);
  std::abort();
}

void fuzz_check(bool ok, const char* what) {
  if (!ok) fuzz_fail(what);
}

bool fuzz_is_separator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// No NUL and no separator among the n bytes.
bool fuzz_clean_token(const char* p, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    if (p[k] == '\0' || fuzz_is_separator(p[k])) return false;
  }
  return true;
}

struct fuzz_rng {
  std::uint32_t s;
  std::uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }
};

// Write end of the pipe that stands on descriptor 0; -1 once the input ended.
int pipe_write_end = -1;

// Both ends non-blocking: a full pipe makes the harness read first, an empty
// one gives read_input its EAGAIN, and nothing ever waits.
void fuzz_open_pipe() {
  int fds[2];
  if (pipe(fds) != 0) {
    std::perror("input_fuzz: pipe");
    std::abort();
  }
  if (fds[0] != STDIN_FILENO) {
    if (dup2(fds[0], STDIN_FILENO) < 0) {
      std::perror("input_fuzz: dup2");
      std::abort();
    }
    close(fds[0]);
  }
  for (int fd : {STDIN_FILENO, fds[1]}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  pipe_write_end = fds[1];
}

int fuzz_pending() {
  int n = 0;
  if (ioctl(STDIN_FILENO, FIONREAD, &n) != 0) fuzz_fail("FIONREAD on the input pipe failed");
  return n;
}

// What the program should have made of the bytes read so far: tokens between
// separators (NUL counting as one), each a value when strtod takes all of it
// and the result is finite; an unfinished token longer than 2048 bytes at the
// end of a read loses its first 1024.
struct fuzz_reference {
  bool two = false;
  std::string token;  // the unfinished token, as it should be held
  std::int64_t values = 0;
  double last1 = NAN;  // newest complete sample
  double last2 = NAN;
  double pending = NAN;

  void feed(const char* p, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
      if (p[k] == '\0' || fuzz_is_separator(p[k])) {
        finish();
      } else {
        token.push_back(p[k]);
      }
    }
  }

  void end_of_read() {
    if (token.size() > kInputTrimAbove) token.erase(0, kInputTrimBy);
  }

  void finish() {
    if (token.empty()) return;
    char* end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (*end == '\0' && std::isfinite(v)) store(v);
    token.clear();
  }

  void store(double v) {
    ++values;
    if (!two) {
      last1 = v;
    } else if (values % 2 == 1) {
      pending = v;
    } else {
      last1 = pending;
      last2 = v;
    }
  }

  std::int64_t samples() const { return two ? values / 2 : values; }
};

struct fuzz_run {
  bool two;
  bool rate;
  bool vary_width;
  bool clock_back;
  std::size_t max_chunk;
  fuzz_rng rng;
  const char* text;
  std::size_t text_len;
  std::size_t written = 0;  // bytes of text put into the pipe
  std::size_t read = 0;     // bytes of text taken out by read_input
  fuzz_reference ref;
  bool slot_written[kRingSize] = {};
  int last_store_width = 0;  // plot_width when the newest sample was stored
};

void fuzz_step_clock(fuzz_run& run) {
  long usec = now.tv_usec;
  if (run.clock_back && run.rng.below(8) == 0) {
    now.tv_sec -= run.rng.below(3);
    usec -= static_cast<long>(run.rng.below(kMicrosPerSecond));
  } else if (run.rng.below(4) != 0) {
    usec += 1 + static_cast<long>(run.rng.below(2 * kMicrosPerSecond));
  }
  now.tv_sec += usec / kMicrosPerSecond;
  usec %= kMicrosPerSecond;
  if (usec < 0) {
    usec += kMicrosPerSecond;
    --now.tv_sec;
  }
  now.tv_usec = usec;
}

void fuzz_pick_width(fuzz_run& run) {
  if (!run.vary_width || run.rng.below(4) != 0) return;
  switch (run.rng.below(4)) {
    case 0: plot_width = kMinPlotWidth; break;
    case 1: plot_width = kMaxPlotWidth; break;
    default:
      plot_width =
          kMinPlotWidth + static_cast<int>(run.rng.below(kMaxPlotWidth - kMinPlotWidth + 1));
  }
}

// The ring slots that `stored` samples after `from` moved to, each checked.
void fuzz_check_new_slots(fuzz_run& run, int from, std::int64_t stored) {
  const int width = plot_width;
  const std::int64_t steps = stored < width ? stored : width;
  for (std::int64_t k = 1; k <= steps; ++k) {
    const int slot = static_cast<int>((from + (stored - steps) + k) % width);
    run.slot_written[slot] = true;
    fuzz_check(std::isfinite(values1[slot]), "a stored series-1 value is not finite");
    if (run.two) {
      fuzz_check(std::isfinite(values2[slot]), "a stored series-2 value is not finite");
    } else {
      fuzz_check(std::isnan(values2[slot]), "one-series mode wrote into series 2");
    }
  }
}

void fuzz_check_held_text(const fuzz_run& run) {
  if (!stdin_open) {
    fuzz_check(input_len <= kMaxHeldClosed, "input_len above 3072 after the end of input");
    return;
  }
  fuzz_check(input_len <= kMaxHeldOpen, "input_len above 3071 between turns");
  fuzz_check(fuzz_clean_token(input_buf, input_len), "separator or NUL in the held text");
  const std::string& token = run.ref.token;
  fuzz_check(input_len == token.size() && std::memcmp(input_buf, token.data(), input_len) == 0,
             "held text is not the unfinished token");
}

// One turn's read: set width and clock as a paint and a wake-up would, call
// read_input, feed the reference what it took out of the pipe, and check.
void fuzz_one_read(fuzz_run& run, bool at_end) {
  fuzz_pick_width(run);
  fuzz_step_clock(run);
  const std::int64_t before_count = sample_count;
  const int before_newest = newest_index;
  const std::size_t before_len = input_len;
  redraw_needed = false;

  read_input();

  if (at_end) {
    fuzz_check(!stdin_open, "input still watched after the end of input");
    fuzz_check(status_msg != nullptr && std::strcmp(status_msg, kClosedText) == 0,
               "end of input without its message");
    fuzz_check(redraw_needed, "end of input without a repaint");
  } else {
    fuzz_check(stdin_open, "input no longer watched after a read of a pipe");
    fuzz_check(status_msg == nullptr, "status message set while reading a pipe");
  }

  // Only read_input takes bytes out of the pipe, so what it took is what the
  // harness wrote and has not seen taken, less what is still there.
  const int in_pipe = static_cast<int>(run.written - run.read);
  const int taken = at_end ? 0 : in_pipe - fuzz_pending();
  fuzz_check(taken >= 0 && taken <= in_pipe, "read_input took bytes the harness never wrote");
  fuzz_check(at_end || in_pipe == 0 || taken > 0, "a read of a ready pipe took nothing");
  run.ref.feed(run.text + run.read, static_cast<std::size_t>(taken));
  run.read += static_cast<std::size_t>(taken);
  if (at_end) {
    run.ref.finish();  // the line feed read_input appends
  } else if (taken > 0) {
    run.ref.end_of_read();
  }
  if (!at_end && taken == 0) {
    fuzz_check(input_len == before_len && sample_count == before_count,
               "a read that got nothing changed the state");
  }

  fuzz_check(sample_count >= before_count, "sample_count went down");
  const std::int64_t stored = sample_count - before_count;
  if (stored > 0) {
    fuzz_check(redraw_needed, "samples stored without a repaint");
    fuzz_check(newest_index == static_cast<int>((before_newest + stored) % plot_width),
               "newest_index did not move one slot per sample");
    run.last_store_width = plot_width;
    fuzz_check_new_slots(run, before_newest, stored);
  }
  if (sample_count == 0) {
    fuzz_check(newest_index == -1, "newest_index moved without a sample");
  } else {
    fuzz_check(newest_index >= 0 && newest_index < run.last_store_width,
               "newest_index outside the ring it was stored in");
  }
  fuzz_check_held_text(run);

  fuzz_check(sample_count == run.ref.samples(), "samples lost or invented");
  if (run.two) fuzz_check(pair_pending == run.ref.values % 2, "pairing out of step");
  if (stored > 0 && !run.rate) {
    fuzz_check(values1[newest_index] == run.ref.last1, "newest series-1 value is not the input's");
    if (run.two) {
      fuzz_check(values2[newest_index] == run.ref.last2,
                 "newest series-2 value is not the input's");
    }
  }
}

// Reads until everything written has been taken out of the pipe.
void fuzz_drain(fuzz_run& run) {
  while (run.read < run.written) fuzz_one_read(run, false);
}

void fuzz_write(fuzz_run& run, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(pipe_write_end, run.text + run.written, n);
    if (w < 0) {
      if (errno != EAGAIN) fuzz_fail("write to the input pipe failed");
      fuzz_drain(run);
      continue;
    }
    run.written += static_cast<std::size_t>(w);
    n -= static_cast<std::size_t>(w);
  }
}

// Slots never moved to keep the NaN of the reset; in one series, all of values2.
void fuzz_check_rings(const fuzz_run& run) {
  for (int i = 0; i < kRingSize; ++i) {
    if (run.slot_written[i]) {
      fuzz_check(std::isfinite(values1[i]), "a written series-1 slot lost its value");
      if (run.two) fuzz_check(std::isfinite(values2[i]), "a written series-2 slot lost its value");
    } else {
      fuzz_check(std::isnan(values1[i]), "a slot the index never reached was written");
    }
    if (!run.two || !run.slot_written[i]) {
      fuzz_check(std::isnan(values2[i]), "series 2 written where it must stay empty");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  settings_reset();
  input_reset();
  if (pipe_write_end < 0) fuzz_open_pipe();
  if (fuzz_pending() != 0) fuzz_fail("input pipe not empty at the start of a run");

  const std::uint8_t mode = data[0];
  fuzz_run run{};
  run.two = (mode & 0x01) != 0;
  run.rate = (mode & 0x02) != 0;
  const bool end_of_input = (mode & 0x04) != 0;
  run.vary_width = (mode & 0x08) != 0;
  run.clock_back = (mode & 0x10) != 0;
  run.max_chunk = kMaxChunk[mode >> 5];
  run.rng.s = 0x9E3779B9u ^ (static_cast<std::uint32_t>(data[1]) << 8 | data[2]);
  run.text = reinterpret_cast<const char*>(data + kHeaderSize);
  run.text_len = size - kHeaderSize;
  run.ref.two = run.two;

  two_values = run.two ? 1 : 0;
  rate_mode = run.rate ? 1 : 0;
  stdin_open = true;
  status_msg = nullptr;
  now.tv_sec = 1700000000;
  now.tv_usec = 0;

  while (run.written < run.text_len) {
    std::size_t chunk = 1 + run.rng.below(static_cast<std::uint32_t>(run.max_chunk));
    if (chunk > run.text_len - run.written) chunk = run.text_len - run.written;
    fuzz_write(run, chunk);
    fuzz_drain(run);
    if (run.rng.below(8) == 0) fuzz_one_read(run, false);  // nothing there: EAGAIN
  }
  if (end_of_input) {
    close(pipe_write_end);
    pipe_write_end = -1;  // read_input closes descriptor 0; the next run makes a new pipe
    fuzz_one_read(run, true);
  }
  fuzz_check(run.read == run.text_len, "bytes left in the input pipe");
  fuzz_check_rings(run);
  return 0;
}

// SPDX-License-Identifier: MIT
// step_clock.cpp: a clock for reproducible rate-mode screenshots, preloaded
// into vantrel (LD_PRELOAD) by vantrel-screenshot.
//
// In rate mode the program divides each counter step by the time between the
// wake-ups that read the two samples, so a screenshot drawn with the real
// clock differs in the last digits from run to run. Under this library the
// time of day stands still, except that it moves on by exactly
// VANTREL_STEP_CLOCK_US microseconds (default 100000) whenever a wait of the
// program returns with standard input readable; and a read of standard input
// returns at most one line. So every reading gets a time of its own, one step
// after the previous one, however fast the readings were written.
#include <dlfcn.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// Any fixed start; small, so that the seconds as a double keep every digit
// of the microseconds.
constexpr long long kStartSeconds = 1000000;
long long steps;

long long step_us() {
  static const long long us = [] {
    const char* text = std::getenv("VANTREL_STEP_CLOCK_US");
    const long long value = text != nullptr ? std::atoll(text) : 0;
    return value > 0 ? value : 100000;
  }();
  return us;
}

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Standard input is ready: data, end of input or an error to read.
void note_wake_up(const struct pollfd* fds, nfds_t count) {
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].fd == STDIN_FILENO && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      ++steps;
      return;
    }
  }
}

using read_fn = ssize_t (*)(int, void*, size_t);

// One line at most, read a byte at a time so nothing is taken from the pipe
// beyond it.
ssize_t read_line(read_fn next, void* buf, size_t size) {
  char* out = static_cast<char*>(buf);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = next(STDIN_FILENO, out + got, 1);
    if (n <= 0) return got > 0 ? static_cast<ssize_t>(got) : n;
    if (out[got++] == '\n') break;
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

extern "C" {

int gettimeofday(struct timeval* __restrict tv, void* __restrict /*tz*/) noexcept {
  const long long us = steps * step_us();
  tv->tv_sec = static_cast<time_t>(kStartSeconds + us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(us % 1000000);
  return 0;
}

int ppoll(struct pollfd* fds, nfds_t count, const struct timespec* timeout, const sigset_t* mask) {
  using fn = int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);
  static const fn next = real<fn>("ppoll");
  const int result = next(fds, count, timeout, mask);
  if (result > 0) note_wake_up(fds, count);
  return result;
}

// What a build with _FORTIFY_SOURCE calls instead, when the array's size is known.
int __ppoll_chk(struct pollfd* fds, nfds_t count, const struct timespec* timeout,
                const sigset_t* mask, size_t /*fds_size*/) {
  return ppoll(fds, count, timeout, mask);
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
  using fn = int (*)(struct pollfd*, nfds_t, int);
  static const fn next = real<fn>("poll");
  const int result = next(fds, count, timeout);
  if (result > 0) note_wake_up(fds, count);
  return result;
}

ssize_t read(int fd, void* buf, size_t size) {
  static const read_fn next = real<read_fn>("read");
  if (fd != STDIN_FILENO || size == 0) return next(fd, buf, size);
  return read_line(next, buf, size);
}

ssize_t __read_chk(int fd, void* buf, size_t size, size_t /*buf_size*/) {
  return read(fd, buf, size);
}

}  // extern "C"

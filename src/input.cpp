// input.cpp: the standard-input buffer, the sample parser, the history rings
// and the rate conversion. Numbers may arrive split at any byte; a token is
// parsed only once a separator behind it has arrived, or the input has ended.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vantrel.h"

char input_buf[kInputBufSize];
std::size_t input_len;

double values1[kRingSize];
double values2[kRingSize];
int newest_index = -1;
int plot_width = kMinPlotWidth;
int plot_height;
std::int64_t sample_count;

double last_sample_time = DBL_MAX;
double prev_raw1;
double prev_raw2;
double last_interval;
double pending_first;
int pair_pending;

namespace {

constexpr bool input_is_separator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The whole token must convert and the value must be finite.
bool input_token_value(const char* token, double& value) {
  char* end = nullptr;
  value = std::strtod(token, &end);
  return end != token && *end == '\0' && std::isfinite(value);
}

// The difference of two finite values, or its quotient by a short interval,
// can overflow; the ring holds finite values only, so such a rate is kept as
// the largest value of its sign.
double input_finite_rate(double difference, double dt) {
  const double rate = difference / dt;
  return std::isfinite(rate) ? rate : std::copysign(DBL_MAX, rate);
}

// Turns the raw values just stored in slot i into rates over the time since
// the previous conversion. All samples of one turn share `now`, so only the
// first of them can see an interval above 0.
void input_convert_rate(int i) {
  const double t = static_cast<double>(now.tv_usec) * 1e-6 + static_cast<double>(now.tv_sec);
  const double dt = t - last_sample_time;
  last_sample_time = t;
  const double r1 = values1[i];
  const double r2 = values2[i];
  if (dt > 0) {
    values1[i] = input_finite_rate(r1 - prev_raw1, dt);
    if (two_values) values2[i] = input_finite_rate(r2 - prev_raw2, dt);
  } else {
    values1[i] = 0;
    if (two_values) values2[i] = 0;
  }
  prev_raw1 = r1;
  if (two_values) prev_raw2 = r2;
  last_interval = dt;
}

int input_next_slot() {
  newest_index = (newest_index + 1) % plot_width;
  return newest_index;
}

// Stores one value; returns the number of samples it completed (0 or 1).
int input_store_value(double v) {
  if (two_values) {
    if (!pair_pending) {
      pending_first = v;
      pair_pending = 1;
      return 0;
    }
    pair_pending = 0;
    const int i = input_next_slot();
    values1[i] = pending_first;
    values2[i] = v;
    if (rate_mode) input_convert_rate(i);
    return 1;
  }
  const int i = input_next_slot();
  values1[i] = v;
  if (rate_mode) input_convert_rate(i);
  return 1;
}

}  // namespace

void input_reset() {
  std::memset(input_buf, 0, sizeof input_buf);
  input_len = 0;
  for (int i = 0; i < kRingSize; ++i) values1[i] = values2[i] = NAN;
  newest_index = -1;
  plot_width = kMinPlotWidth;
  plot_height = 0;
  sample_count = 0;
  last_sample_time = DBL_MAX;
  prev_raw1 = prev_raw2 = last_interval = 0.0;
  pending_first = 0.0;
  pair_pending = 0;
}

std::size_t parse_samples(int length) {
  if (length <= 0) return 0;
  int p = length - 1;
  while (p >= 0 && !input_is_separator(input_buf[p])) --p;
  if (p < 0) return 0;
  input_buf[p] = '\0';

  int stored = 0;
  char* save = nullptr;
  for (char* token = strtok_r(input_buf, " \t\r\n", &save); token != nullptr;
       token = strtok_r(nullptr, " \t\r\n", &save)) {
    double v;
    if (input_token_value(token, v)) stored += input_store_value(v);
  }
  sample_count += stored;
  if (stored != 0) redraw_needed = true;
  return static_cast<std::size_t>(p) + 1;
}

void read_input() {
  const ssize_t n = read(STDIN_FILENO, input_buf + input_len, kInputBufSize - 1 - input_len);
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return;
    status_msg = std::strerror(errno);
    redraw_needed = true;
    close(STDIN_FILENO);
    stdin_open = false;
    return;
  }
  if (n == 0) {
    input_buf[input_len] = '\n';
    status_msg = "input stream closed";
    ++input_len;
    parse_samples(static_cast<int>(input_len));
    redraw_needed = true;
    close(STDIN_FILENO);
    stdin_open = false;
    return;
  }
  char* fresh = input_buf + input_len;
  for (ssize_t k = 0; k < n; ++k) {
    if (fresh[k] == '\0') fresh[k] = ' ';
  }
  const std::size_t length = input_len + static_cast<std::size_t>(n);
  std::size_t consumed = parse_samples(static_cast<int>(length));
  std::size_t rest = length - consumed;
  if (rest > kInputTrimAbove) {
    consumed += kInputTrimBy;
    rest -= kInputTrimBy;
  }
  if (consumed > 0 && consumed < length) std::memmove(input_buf, input_buf + consumed, rest);
  input_len = rest;
}

// SPDX-License-Identifier: MIT
// input.cpp: the standard-input buffer, the sample parser, the history rings
// and the rate conversion. Numbers may arrive split at any byte; a token is
// parsed only once a separator behind it has arrived, or the input has ended.
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vantrel.h"

char input_buf[kInputBufSize];
std::size_t input_len;

// Start values: input_reset, which start-up calls first.
double values1[kRingSize];
double values2[kRingSize];
int newest_index;
int plot_width;
std::int64_t sample_count;

double last_sample_time;
double prev_raw1;
double prev_raw2;
double last_interval;
double pending_first;
int pair_pending;

namespace {

constexpr bool input_is_separator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Powers of ten that a double holds exactly.
constexpr std::array<double, 23> kExactPow10 = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t kMaxExactMantissa = std::uint64_t{1} << 53;
constexpr int kMaxFastDigits = 19;         // significant digits that fit in 64 bits
constexpr int kMaxFastExponentDigits = 4;  // beyond that the exponent is out of range anyway

constexpr bool input_is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The locale's decimal point when it is one byte, else 0 (the fast path then
// declines every token with a fraction).
char input_decimal_point() {
  const char* point = std::localeconv()->decimal_point;
  return point[0] != '\0' && point[1] == '\0' ? point[0] : '\0';
}

// The whole token must convert and the value must be finite. Most tokens are
// plain decimals, which the fast conversion takes; strtod decides the rest.
bool input_token_value(const char* token, std::size_t length, char point, double& value) {
  if (input_fast_number(token, length, point, value)) return true;
  // Tokens are never empty, so a conversion that stops at the terminator
  // has taken the whole token.
  char* end = nullptr;
  value = std::strtod(token, &end);
  return *end == '\0' && std::isfinite(value);
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
  values1[i] = dt > 0 ? input_finite_rate(r1 - prev_raw1, dt) : 0;
  prev_raw1 = r1;
  if (two_values) {
    const double r2 = values2[i];
    values2[i] = dt > 0 ? input_finite_rate(r2 - prev_raw2, dt) : 0;
    prev_raw2 = r2;
  }
  last_interval = dt;
}

// plot_width is read afresh for every sample: a paint between two reads may
// have changed the modulus.
int input_next_slot() {
  newest_index = ring_next(newest_index, plot_width);
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

// Clinger's fast path: a mantissa of at most 2^53 and a power of ten of at
// most 22 are both exact doubles, so one multiplication or division rounds
// the value once, exactly as strtod does.
bool input_fast_number(const char* token, std::size_t length, char point, double& value) {
  // Where doubles are computed in wider registers (the x87 unit), the one
  // rounding would be two.
  if constexpr (FLT_EVAL_METHOD != 0) return false;
  const char* c = token;
  const char* const end = token + length;
  bool negative = false;
  if (c != end && (*c == '+' || *c == '-')) {
    negative = *c == '-';
    ++c;
  }
  std::uint64_t mantissa = 0;
  int digits = 0;  // significant digits, leading zeros not counted
  int exponent = 0;
  bool any_digit = false;
  auto take_digit = [&](char d) {
    any_digit = true;
    if (mantissa == 0 && d == '0') return true;
    if (++digits > kMaxFastDigits) return false;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(d - '0');
    return true;
  };
  for (; c != end && input_is_digit(*c); ++c) {
    if (!take_digit(*c)) return false;
  }
  if (c != end && point != '\0' && *c == point) {
    for (++c; c != end && input_is_digit(*c); ++c) {
      if (!take_digit(*c)) return false;
      --exponent;
    }
  }
  if (!any_digit) return false;
  if (c != end && (*c == 'e' || *c == 'E')) {
    ++c;
    bool negative_exponent = false;
    if (c != end && (*c == '+' || *c == '-')) {
      negative_exponent = *c == '-';
      ++c;
    }
    if (c == end || !input_is_digit(*c)) return false;
    int e = 0;
    for (int n = 0; c != end && input_is_digit(*c); ++c) {
      if (++n > kMaxFastExponentDigits) return false;
      e = e * 10 + (*c - '0');
    }
    exponent += negative_exponent ? -e : e;
  }
  if (c != end || mantissa > kMaxExactMantissa) return false;
  double v = static_cast<double>(mantissa);
  if (mantissa != 0) {
    const int max_exponent = static_cast<int>(kExactPow10.size()) - 1;
    if (exponent < -max_exponent || exponent > max_exponent) return false;
    if (exponent < 0) {
      v /= kExactPow10[static_cast<std::size_t>(-exponent)];
    } else {
      v *= kExactPow10[static_cast<std::size_t>(exponent)];
    }
  }
  value = negative ? -v : v;
  return true;
}

void input_reset() {
  std::memset(input_buf, 0, sizeof input_buf);
  input_len = 0;
  for (int i = 0; i < kRingSize; ++i) values1[i] = values2[i] = NAN;
  newest_index = -1;
  plot_width = kMinPlotWidth;
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

  // Tokens as strtok would cut them, each terminated in place.
  const char point = input_decimal_point();
  int stored = 0;
  char* c = input_buf;
  for (;;) {
    while (input_is_separator(*c)) ++c;
    if (*c == '\0') break;
    char* const token = c;
    while (*c != '\0' && !input_is_separator(*c)) ++c;
    const bool last = *c == '\0';
    *c = '\0';
    double v;
    if (input_token_value(token, static_cast<std::size_t>(c - token), point, v)) {
      stored += input_store_value(v);
    }
    if (last) break;
    ++c;
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

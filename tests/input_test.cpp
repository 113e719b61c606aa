// SPDX-License-Identifier: MIT
// Tests of the standard-input buffer (read_input driven through a pipe on
// descriptor 0) and of the sample parser, the history rings and the rates.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "support/locales.h"
#include "vantrel.h"

namespace {

constexpr std::size_t kMaxHeld = 3071;

bool fd_is_open(int fd) {
  return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

// The samples stored so far, oldest first, while the ring has not wrapped.
std::vector<double> series(const double* ring) {
  return std::vector<double>(ring, ring + newest_index + 1);
}

std::string held() {
  return std::string(input_buf, input_len);
}

// Separator-free text that never repeats with a short period, so a cut at the
// wrong place shows in the content.
std::string token_bytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + gen() % 26));
  return s;
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C");
    if (!fd_is_open(STDIN_FILENO)) open("/dev/null", O_RDONLY);  // keep pipes off fd 0
    saved_stdin_ = dup(STDIN_FILENO);
    ASSERT_GE(saved_stdin_, 0);
    // A reader that closes too early must fail the test, not kill the binary.
    old_sigpipe_ = signal(SIGPIPE, SIG_IGN);
    ASSERT_NO_FATAL_FAILURE(restart());
  }
  void TearDown() override {
    close_writer();
    dup2(saved_stdin_, STDIN_FILENO);  // read_input closes it at end of input
    close(saved_stdin_);
    signal(SIGPIPE, old_sigpipe_);
    std::setlocale(LC_ALL, "C");
    settings_reset();
    input_reset();
  }

  // Fresh settings, history and loop state, and an empty pipe on fd 0.
  void restart() {
    settings_reset();
    input_reset();
    status_msg = nullptr;
    stdin_open = true;
    redraw_needed = false;
    now = timeval{1000, 0};
    close_writer();
    dup2(saved_stdin_, STDIN_FILENO);  // an earlier end of input closed it
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_GT(fds[0], STDIN_FILENO);
    ASSERT_EQ(dup2(fds[0], STDIN_FILENO), STDIN_FILENO);
    close(fds[0]);
    writer_ = fds[1];
  }

  void feed(const std::string& bytes) {
    ASSERT_EQ(write(writer_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  void close_writer() {
    if (writer_ >= 0) close(writer_);
    writer_ = -1;
  }

  // One turn of the loop for standard input, and the invariants between turns.
  void turn() {
    read_input();
    if (!stdin_open) return;
    EXPECT_LE(input_len, kMaxHeld);
    for (std::size_t i = 0; i < input_len; ++i) {
      const char c = input_buf[i];
      EXPECT_TRUE(c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0')
          << "byte " << static_cast<int>(c) << " held at " << i;
    }
  }

  int saved_stdin_ = -1;
  int writer_ = -1;
  void (*old_sigpipe_)(int) = SIG_DFL;
};

using InputReadInput = InputTest;

TEST_F(InputReadInput, ReadsAndEndOfInput) {
  struct Case {
    const char* name;
    std::vector<std::string> reads;
    bool end;
    std::vector<double> stored;
    std::string held;
  };
  const std::string nul(1, '\0');
  const Case cases[] = {
      {"one line", {"12\n"}, false, {12}, ""},
      {"number split over reads", {"1", "2\n"}, false, {12}, ""},
      {"split into three", {"-1", "2.", "5e1\n"}, false, {-12.5e1}, ""},
      {"tail held", {"3 4"}, false, {3}, "4"},
      {"tail completed later", {"3 4", "0 1\n"}, false, {3, 40, 1}, ""},
      {"tail parsed at end", {"5"}, true, {5}, ""},
      {"tail parsed at end 2", {"3 4"}, true, {3, 4}, ""},
      {"NUL separates", {"7" + nul + "8\n"}, false, {7, 8}, ""},
      {"NUL ends a read", {"7" + nul, "8\n"}, false, {7, 8}, ""},
      {"NUL after held digit", {"1", nul + "2\n"}, false, {1, 2}, ""},
      {"all separators", {"7\r\n8\t9 "}, false, {7, 8, 9}, ""},
      {"empty input", {}, true, {}, ""},
      {"garbage then end", {"1 x"}, true, {1}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(restart());
    for (const std::string& r : c.reads) {
      ASSERT_NO_FATAL_FAILURE(feed(r));
      turn();
    }
    if (c.end) {
      close_writer();
      redraw_needed = false;
      turn();
      EXPECT_STREQ(status_msg, "input stream closed");
      EXPECT_FALSE(stdin_open);
      EXPECT_TRUE(redraw_needed);
      EXPECT_FALSE(fd_is_open(STDIN_FILENO));
    } else {
      EXPECT_EQ(status_msg, nullptr);
      EXPECT_TRUE(stdin_open);
      EXPECT_EQ(held(), c.held);
    }
    EXPECT_EQ(series(values1), c.stored);
    EXPECT_EQ(sample_count, static_cast<std::int64_t>(c.stored.size()));
  }
}

TEST_F(InputReadInput, LongTokensAreTrimmedFromTheFront) {
  struct Case {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::size_t> held_after;  // bytes held after each read
  };
  const Case cases[] = {
      {"2048 held whole", {token_bytes(2048, 1)}, {2048}},
      {"2049 cut to 1025", {token_bytes(2049, 2)}, {1025}},
      {"growing past 2048", {token_bytes(2048, 3), token_bytes(1, 4)}, {2048, 1025}},
      {"steady flood", {token_bytes(3000, 5), token_bytes(1000, 6)}, {1976, 1952}},
      {"full request", {token_bytes(4095, 7)}, {3071}},
      {"after consumed text", {"1 2 " + token_bytes(2100, 8)}, {1076}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(restart());
    std::string stream;
    for (std::size_t i = 0; i < c.reads.size(); ++i) {
      feed(c.reads[i]);
      turn();
      stream += c.reads[i];
      ASSERT_EQ(input_len, c.held_after[i]) << "after read " << i;
      EXPECT_EQ(held(), stream.substr(stream.size() - input_len)) << "after read " << i;
    }
    // The cut token still ends at the next separator, as one invalid token.
    feed(" 6\n");
    turn();
    EXPECT_EQ(held(), "");
    EXPECT_EQ(values1[newest_index], 6.0);
  }
}

// More than a read may take: each read leaves the buffer's last byte alone and
// the rest of the data waits in the pipe for the next turn.
TEST_F(InputReadInput, FloodLongerThanTheBuffer) {
  const std::string stream = token_bytes(4200, 9);
  feed(stream);
  turn();
  EXPECT_EQ(held(), stream.substr(1024, 3071));  // 4095 read, 1024 dropped
  EXPECT_EQ(input_buf[kInputBufSize - 1], '\0');
  turn();  // 1024 asked for, 105 left
  EXPECT_EQ(held(), stream.substr(4200 - 2152));
  EXPECT_EQ(input_buf[kInputBufSize - 1], '\0');
}

TEST_F(InputReadInput, NoDataYetChangesNothing) {
  feed("12");
  turn();
  ASSERT_EQ(held(), "12");
  ASSERT_EQ(fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK), 0);
  redraw_needed = false;
  turn();  // EAGAIN
  EXPECT_EQ(held(), "12");
  EXPECT_TRUE(stdin_open);
  EXPECT_EQ(status_msg, nullptr);
  EXPECT_FALSE(redraw_needed);
  EXPECT_TRUE(fd_is_open(STDIN_FILENO));
  feed("3\n");
  turn();
  EXPECT_EQ(series(values1), std::vector<double>{123});
}

void input_test_on_alarm(int) {}

TEST_F(InputReadInput, InterruptedReadChangesNothing) {
  feed("4");
  turn();
  struct sigaction action {};
  struct sigaction old {};
  action.sa_handler = input_test_on_alarm;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the blocked read fails with EINTR
  ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
  // Repeating, so that a tick lost before the read starts cannot hang the test.
  itimerval timer{{0, 20000}, {0, 20000}};
  setitimer(ITIMER_REAL, &timer, nullptr);
  redraw_needed = false;
  turn();
  timer = itimerval{};
  setitimer(ITIMER_REAL, &timer, nullptr);
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(held(), "4");
  EXPECT_TRUE(stdin_open);
  EXPECT_EQ(status_msg, nullptr);
  EXPECT_FALSE(redraw_needed);
  feed("2\n");
  turn();
  EXPECT_EQ(series(values1), std::vector<double>{42});
}

TEST_F(InputReadInput, ReadErrorDropsHeldText) {
  const int dir = open("/", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  ASSERT_EQ(dup2(dir, STDIN_FILENO), STDIN_FILENO);
  close(dir);
  std::memcpy(input_buf, "42", 2);  // held from an earlier turn
  input_len = 2;
  turn();
  EXPECT_STREQ(status_msg, std::strerror(EISDIR));
  EXPECT_FALSE(stdin_open);
  EXPECT_TRUE(redraw_needed);
  EXPECT_FALSE(fd_is_open(STDIN_FILENO));
  EXPECT_EQ(sample_count, 0);
  EXPECT_EQ(newest_index, -1);
}

TEST_F(InputReadInput, PendingFirstOfPairIsNeverStored) {
  two_values = 1;
  feed("1 2 3");
  close_writer();
  turn();  // the data
  turn();  // the end of input
  EXPECT_FALSE(stdin_open);
  EXPECT_EQ(series(values1), std::vector<double>{1});
  EXPECT_EQ(series(values2), std::vector<double>{2});
  EXPECT_EQ(sample_count, 1);
  EXPECT_EQ(pair_pending, 1);
  EXPECT_TRUE(std::isnan(values1[1]));
}

using InputParseSamples = InputTest;

// Puts text at the front of the buffer, as read_input leaves it, and parses it.
std::size_t parse(const std::string& text) {
  std::memcpy(input_buf, text.data(), text.size());
  return parse_samples(static_cast<int>(text.size()));
}

TEST_F(InputParseSamples, TokensAndTheIncompleteTail) {
  struct Case {
    std::string text;
    std::size_t consumed;
    std::vector<double> stored;
  };
  const Case cases[] = {
      {"1 2 3", 4, {1, 2}},
      {"123456", 0, {}},
      {std::string(4000, '7'), 0, {}},
      {"", 0, {}},
      {"12abc 5\n", 8, {5}},
      {"nan inf 1e999 -inf 7\n", 21, {7}},
      {"NAN 1e-400x 1,5 - . e5 +\n", 25, {}},
      {"\v5 7\v 9\n", 8, {5, 9}},  // leading vertical tab allowed, trailing not
      {"\f3 4\f\n", 6, {3}},
      {"0x10 0X1p4\n", 11, {16, 16}},
      {" \t\r\n", 4, {}},
      {"-2.5e1 +3 .5 1e-400\n", 20, {-25, 3, 0.5, 0}},  // underflow is finite
      {"1\r\n\r\n2\t\t3 4\n5", 12, {1, 2, 3, 4}},
      {"1.7976931348623157e308 -1.7976931348623157e308\n", 47, {DBL_MAX, -DBL_MAX}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text.substr(0, 40)));
    ASSERT_NO_FATAL_FAILURE(restart());
    EXPECT_EQ(parse(c.text), c.consumed);
    EXPECT_EQ(series(values1), c.stored);
    EXPECT_EQ(sample_count, static_cast<std::int64_t>(c.stored.size()));
    EXPECT_EQ(redraw_needed, !c.stored.empty());
    EXPECT_EQ(std::string(input_buf + c.consumed, c.text.size() - c.consumed),
              c.text.substr(c.consumed))
        << "the tail must stay untouched";
  }
}

TEST_F(InputParseSamples, CommaDecimalSeparator) {
  REQUIRE_LOCALE("de_DE.UTF-8", "de_DE.UTF-8");
  parse("1.5 1,5 -0,25\n");
  EXPECT_EQ(series(values1), (std::vector<double>{1.5, -0.25}));
}

TEST_F(InputParseSamples, PairsAcrossCalls) {
  two_values = 1;
  parse("1 2 3\n");
  EXPECT_EQ(sample_count, 1);
  EXPECT_EQ(pair_pending, 1);
  EXPECT_EQ(pending_first, 3.0);
  redraw_needed = false;
  parse("x\n");  // no value: does not complete the pair
  EXPECT_FALSE(redraw_needed);
  parse("4\n5\n");
  EXPECT_EQ(series(values1), (std::vector<double>{1, 3}));
  EXPECT_EQ(series(values2), (std::vector<double>{2, 4}));
  EXPECT_EQ(sample_count, 2);
  EXPECT_TRUE(redraw_needed);
  EXPECT_EQ(pair_pending, 1);

  ASSERT_NO_FATAL_FAILURE(restart());
  two_values = 1;
  parse("8\n");  // the first of a pair stores nothing
  EXPECT_FALSE(redraw_needed);
  EXPECT_EQ(newest_index, -1);
  EXPECT_EQ(sample_count, 0);
}

TEST_F(InputParseSamples, RatesOfOneSeries) {
  rate_mode = 1;
  now = timeval{1000, 250000};
  parse("10\n");  // the first conversion ever: measured against DBL_MAX
  EXPECT_EQ(values1[0], 0.0);
  EXPECT_DOUBLE_EQ(last_interval, -DBL_MAX);
  EXPECT_EQ(prev_raw1, 10.0);
  EXPECT_EQ(last_sample_time, 1000.25);

  now = timeval{1002, 750000};
  parse("35\n");
  EXPECT_EQ(values1[1], 10.0);  // (35 - 10) / 2.5
  EXPECT_EQ(last_interval, 2.5);

  now = timeval{1007, 750000};
  parse("85 90 60\n");  // one time for the whole call
  EXPECT_EQ(series(values1), (std::vector<double>{0, 10, 10, 0, 0}));
  EXPECT_EQ(last_interval, 0.0);
  EXPECT_EQ(prev_raw1, 60.0);

  now = timeval{1006, 0};  // the clock steps back
  parse("100\n");
  EXPECT_EQ(values1[5], 0.0);
  EXPECT_EQ(last_interval, -1.75);
  EXPECT_EQ(prev_raw1, 100.0);

  now = timeval{1008, 0};
  parse("96\n");
  EXPECT_EQ(values1[6], -2.0);  // against the raw value and time of the step back

  rate_mode = 0;  // switched off: raw values, rate state untouched
  now = timeval{1020, 0};
  parse("7\n");
  EXPECT_EQ(values1[7], 7.0);
  EXPECT_EQ(last_sample_time, 1008.0);
  EXPECT_EQ(prev_raw1, 96.0);
}

TEST_F(InputParseSamples, RatesOfTwoSeries) {
  two_values = 1;
  rate_mode = 1;
  now = timeval{50, 0};
  parse("1 100 3 300\n");  // dt <= 0 for both pairs
  EXPECT_EQ(series(values1), (std::vector<double>{0, 0}));
  EXPECT_EQ(series(values2), (std::vector<double>{0, 0}));
  EXPECT_EQ(prev_raw1, 3.0);
  EXPECT_EQ(prev_raw2, 300.0);
  EXPECT_EQ(last_interval, 0.0);

  now = timeval{54, 0};
  parse("11 260\n");
  EXPECT_EQ(values1[2], 2.0);    // (11 - 3) / 4
  EXPECT_EQ(values2[2], -10.0);  // (260 - 300) / 4
  EXPECT_EQ(last_interval, 4.0);
  EXPECT_EQ(sample_count, 3);
}

// A rate can overflow although both raw values are finite; the ring keeps
// finite values only, so it is held at the largest value of its sign.
TEST_F(InputParseSamples, OverflowingRateStaysFinite) {
  two_values = 1;
  rate_mode = 1;
  now = timeval{10, 0};
  parse("-1e308 1e308\n");
  now = timeval{10, 1};  // a microsecond later
  parse("1e308 -1e308\n");
  EXPECT_EQ(values1[1], DBL_MAX);
  EXPECT_EQ(values2[1], -DBL_MAX);
  now = timeval{10, 2};
  parse("1e308 -1e308\n");  // no change: an ordinary rate of 0
  EXPECT_EQ(values1[2], 0.0);
  EXPECT_EQ(values2[2], 0.0);
}

TEST_F(InputParseSamples, RingWrapsAtThePlotWidth) {
  std::string chunk;
  for (int v = 0; v < 1025; ++v) {
    chunk += std::to_string(v) + "\n";
    if (chunk.size() > 3000 || v == 1024) {
      parse(chunk);
      chunk.clear();
    }
  }
  EXPECT_EQ(newest_index, 24);
  EXPECT_EQ(sample_count, 1025);
  EXPECT_EQ(values1[24], 1024.0);
  EXPECT_EQ(values1[23], 1023.0);
  EXPECT_EQ(values1[25], 985.0);  // oldest visible: 1024 - 39
  EXPECT_TRUE(std::isnan(values1[40]));
  EXPECT_TRUE(std::isnan(values2[24]));
}

// A new width changes only the modulus: nothing is cleared or moved.
TEST_F(InputParseSamples, WidthChangeBetweenSamples) {
  std::string text;
  for (int v = 0; v < 30; ++v) text += std::to_string(v) + " ";
  parse(text);
  ASSERT_EQ(newest_index, 29);

  plot_width = 100;
  text.clear();
  for (int v = 30; v < 71; ++v) text += std::to_string(v) + " ";
  parse(text);
  EXPECT_EQ(newest_index, 70);
  EXPECT_EQ(values1[70], 70.0);

  plot_width = 40;
  parse("-1 -2 ");
  EXPECT_EQ(newest_index, 32);  // (70 + 1) % 40, then one more
  EXPECT_EQ(values1[31], -1.0);
  EXPECT_EQ(values1[32], -2.0);
  EXPECT_EQ(values1[33], 33.0);
  EXPECT_EQ(values1[70], 70.0);  // beyond the width, kept unseen
  EXPECT_EQ(sample_count, 73);
}

TEST_F(InputParseSamples, SampleCountPassesTheRangeOfInt) {
  sample_count = 2147483646;
  parse("1 2 3\n");
  EXPECT_EQ(sample_count, INT64_C(2147483649));
  EXPECT_GT(sample_count, 0);
}

}  // namespace

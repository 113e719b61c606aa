// SPDX-License-Identifier: MIT
// A storm against the real program, meant to run under the sanitizers: for a
// while, standard input gets as much as the program will take of numbers,
// garbage, NUL bytes, carriage returns, tokens longer than the input buffer
// and values split across writes, while the window changes size at random
// (too small, the smallest frame, wide, the widest) and r and Ctrl-L are
// pressed at random. Afterwards a known tail must show exactly its statistics,
// memory must not have grown, and q must give the terminal back.
//
// SOAK_SECONDS (default 20) is the length of the whole storm, shared by the
// runs of the case table (one series and two, character and sub-cell plots);
// SOAK_SEED repeats a storm.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "frame.h"
#include "pty_screen.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidestCols = 1026;
constexpr int kTallestRows = 60;
// The window of the tail: wide enough that a statistics line of storm values
// with the interval behind it fits on its row.
constexpr int kFinalRows = 30;
constexpr int kFinalCols = 160;
constexpr int kFinalWidth = kFinalCols - 4;
// Storm values stay within this magnitude, the tail's lie above it, so a tail
// sample lost would leave a storm value that shows in min, max or avg.
constexpr int kStormMagnitude = 1000;
constexpr int kQuarantineMib = 8;

double env_number(const char* name, double fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::atof(text) : fallback;
}

long vm_rss_kib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = -1;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      break;
    }
    in.ignore(1 << 16, '\n');
  }
  return value;
}

bool uses_asan(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("libasan") != std::string::npos) return true;
  }
  return false;
}

// Whether the program must store a token: the whole of it a finite number in
// the C locale. This is the test's own count of what it sent, independent of
// how the bytes were cut into reads.
bool is_value(const std::string& token) {
  char* end = nullptr;
  const double v = std::strtod(token.c_str(), &end);
  return end != token.c_str() && *end == '\0' && std::isfinite(v);
}

// The byte stream of the storm, token by token, each followed by separators.
class Mixture {
 public:
  explicit Mixture(std::mt19937& rng) : rng_(rng) {}

  // Appends about `bytes` bytes of tokens and separators to `out`.
  void append(std::string& out, std::size_t bytes) {
    const std::size_t until = out.size() + bytes;
    while (out.size() < until) {
      const std::string token = next_token();
      if (is_value(token)) ++values;
      if (token.size() > 4096) ++long_tokens;
      out += token;
      out += separators();
    }
  }

  long values = 0;
  long long_tokens = 0;

 private:
  int pick(int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng_); }

  std::string number() {
    char buf[64];
    const int v = pick(-kStormMagnitude, kStormMagnitude);
    switch (pick(0, 7)) {
      case 0: std::snprintf(buf, sizeof buf, "%d.%03d", v, pick(0, 999)); break;
      case 1: std::snprintf(buf, sizeof buf, "%.2e", v * 0.999); break;
      case 2: std::snprintf(buf, sizeof buf, "%s0x%x", v < 0 ? "-" : "", std::abs(v)); break;
      case 3: std::snprintf(buf, sizeof buf, "+%d", std::abs(v)); break;
      case 4: std::snprintf(buf, sizeof buf, "%s%d", pick(0, 1) ? "\v" : "\f", v); break;
      case 5: std::snprintf(buf, sizeof buf, "%s", pick(0, 1) ? "1e-400" : "0x1p3"); break;
      default: std::snprintf(buf, sizeof buf, "%d", v); break;
    }
    return buf;
  }

  std::string garbage() {
    static const char* const kWords[] = {"12abc", "nan", "inf", "-inf",  "1e999",  "-1e400", "abc",
                                         "--5",   "+",   ".",   "1.2.3", "0x",     "42\v",   "\xff",
                                         "1,5",   "5e",  "NaN", "0x1g",  "\x1b[2J"};
    if (pick(0, 2) != 0) return kWords[pick(0, static_cast<int>(std::size(kWords)) - 1)];
    // Random bytes, none of them a separator or NUL.
    std::string token;
    for (int n = pick(1, 40); n > 0; --n) {
      char c;
      do {
        c = static_cast<char>(pick(1, 255));
      } while (c == ' ' || c == '\t' || c == '\r' || c == '\n');
      token += c;
    }
    return token;
  }

  // Longer than the input buffer. Whatever front part the program drops, the
  // rest is no value either: digits overflow, letters never convert.
  std::string long_token() {
    const std::size_t length = static_cast<std::size_t>(pick(4097, 9000));
    switch (pick(0, 2)) {
      case 0: return std::string(length, '9');
      case 1: return "0x" + std::string(length, 'f');
      default: return std::string(length, static_cast<char>('g' + pick(0, 19)));
    }
  }

  std::string next_token() {
    const int roll = pick(0, 999);
    if (roll < 3) return long_token();
    if (roll < 700) return number();
    return garbage();
  }

  // Carriage returns alone end lines too; a NUL byte is read as a blank.
  std::string separators() {
    static const std::string kSeps[] = {" ",    "\n",  "\t", "\r", "\r\n", std::string(1, '\0'),
                                        "  \t", "\n\n"};
    return kSeps[pick(0, static_cast<int>(std::size(kSeps)) - 1)];
  }

  std::mt19937& rng_;
};

struct Counts {
  long bytes = 0;
  long resizes = 0;
  long r_keys = 0;
  long ctrl_l_keys = 0;
};

// Writes `text` in pieces of random length, so that tokens and pairs are cut
// at any byte.
bool write_in_pieces(PtyScreen& s, std::mt19937& rng, const std::string& text, Counts& counts) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 6000)(rng);
    const std::string part = text.substr(at, piece);
    if (!s.write_stdin(part)) return false;
    counts.bytes += static_cast<long>(part.size());
    at += part.size();
    s.pump(Millis{0});
  }
  return true;
}

void random_resize(PtyScreen& s, std::mt19937& rng) {
  auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng); };
  switch (pick(0, 5)) {
    case 0: s.resize(pick(1, kTallestRows), pick(1, 43)); break;  // too narrow
    case 1: s.resize(pick(1, 4), pick(44, 300)); break;           // too low
    case 2: s.resize(5, 44); break;                               // the smallest frame
    case 3: s.resize(pick(5, 40), pick(800, kWidestCols)); break;
    case 4: s.resize(pick(5, 20), kWidestCols); break;
    default: s.resize(pick(5, kTallestRows), pick(44, 200)); break;
  }
}

std::string padded(std::string text, int width) {
  text.resize(static_cast<std::size_t>(width), ' ');
  return text;
}

struct SoakCase {
  const char* name;
  bool two_values;
  std::vector<std::string> mode_args;  // the plot mode, beside -2
};

const SoakCase kSoakCases[] = {
    {"OneSeries", false, {}},
    {"TwoSeries", true, {}},
    {"Braille", false, {"-b"}},
    {"BlocksFilledTwoSeries", true, {"-B", "-f"}},
};

class Soak : public ::testing::TestWithParam<SoakCase> {};

TEST_P(Soak, StormThenAKnownTail) {
  const SoakCase& c = GetParam();
  const double seconds =
      env_number("SOAK_SECONDS", 20) / static_cast<double>(std::size(kSoakCases));
  const unsigned seed = static_cast<unsigned>(env_number("SOAK_SEED", std::random_device{}()));
  SCOPED_TRACE(std::string("SOAK_SEED=") + std::to_string(seed));
  std::mt19937 rng(seed);
  auto chance = [&](int percent) {
    return std::uniform_int_distribution<int>(0, 99)(rng) < percent;
  };

  Launch launch;
  launch.args = c.mode_args;
  if (c.two_values) launch.args.push_back("-2");
  if (!c.mode_args.empty()) launch.locale = "C.UTF-8";  // the sub-cell modes need one
  launch.fake_time = true;
  // Every resize frees and takes again the screens of curses, megabytes at
  // the widest. The sanitizer's allocator parks freed blocks in a quarantine
  // of 256 MiB by default and gives free pages back to the system only now
  // and then; a small quarantine and an eager release keep the memory figure
  // about the program.
  const char* asan_options = std::getenv("ASAN_OPTIONS");
  launch.env = {std::string("ASAN_OPTIONS=") + (asan_options != nullptr ? asan_options : "") +
                ":quarantine_size_mb=" + std::to_string(kQuarantineMib) +
                ":allocator_release_to_os_interval_ms=0"};
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  const bool asan = uses_asan(s.pid());

  // The largest window first, so that the memory taken after the first
  // second already covers the biggest screen curses will ever hold.
  Counts counts;
  s.resize(kTallestRows, kWidestCols);
  ++counts.resizes;

  Mixture mixture(rng);
  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  long rss_first = -1;
  auto next_resize = start;
  auto next_key = start;
  std::string chunk;
  while (Clock::now() < end) {
    chunk.clear();
    mixture.append(chunk, std::uniform_int_distribution<std::size_t>(1, 12000)(rng));
    ASSERT_TRUE(write_in_pieces(s, rng, chunk, counts)) << "the program stopped reading";
    ASSERT_TRUE(s.running()) << exit_text(s.wait_exit(Millis{0})) << "\n" << s.stderr_text();
    const auto t = Clock::now();
    if (rss_first < 0 && t - start >= std::chrono::seconds(1)) rss_first = vm_rss_kib(s.pid());
    if (t >= next_resize) {
      random_resize(s, rng);
      ++counts.resizes;
      next_resize = t + Millis{std::uniform_int_distribution<int>(10, 150)(rng)};
    }
    if (t >= next_key) {
      const bool r = chance(50);
      s.send_keys(r ? "r" : "\x0c");
      ++(r ? counts.r_keys : counts.ctrl_l_keys);
      next_key = t + Millis{std::uniform_int_distribution<int>(5, 100)(rng)};
    }
  }
  if (rss_first < 0) rss_first = vm_rss_kib(s.pid());

  // Complete a pair left open by the storm, so that the tail pairs up as sent.
  if (c.two_values && mixture.values % 2 != 0) {
    ASSERT_TRUE(s.write_stdin("7\n"));
  }

  // The final size, and rate mode as the r keys left it: its interval shows
  // behind statistics line 1.
  s.resize(kFinalRows, kFinalCols);
  ++counts.resizes;
  auto settled = [&] { return frame_problems(s).empty() && starts_with(stats_line(s), "last="); };
  ASSERT_TRUE(s.wait_for(settled) && s.wait_idle()) << frame_problems(s) << "\n" << s.screen_text();
  const bool rate_on = counts.r_keys % 2 != 0;
  const int stats_row = kFinalRows - 2;
  EXPECT_EQ(s.row_text(stats_row).find(" interval=") != std::string::npos, rate_on)
      << "after " << counts.r_keys << " r keys\n"
      << s.screen_text();
  if (rate_on) {
    s.send_keys("r\x0c");
    ++counts.r_keys;
    ++counts.ctrl_l_keys;
    ASSERT_TRUE(s.wait_for([&] {
      return settled() && s.row_text(stats_row).find(" interval=") == std::string::npos;
    })) << s.screen_text();
  }

  // As many samples as the plot is wide: every visible slot holds one of them.
  std::string tail;
  for (int k = 1; k <= kFinalWidth; ++k) {
    tail += std::to_string(kStormMagnitude + k) + (k % 5 == 0 ? "\n" : " ");
    if (c.two_values) tail += std::to_string(2 * kStormMagnitude + k) + "\r";
  }
  ASSERT_TRUE(write_in_pieces(s, rng, tail, counts));
  const double mid = kFinalWidth / 2.0 + 0.5;
  char line1[128];
  char line2[128];
  std::snprintf(line1, sizeof line1, "last=%.1f min=%.1f max=%.1f avg=%.1f ",
                kStormMagnitude + double{kFinalWidth}, kStormMagnitude + 1.0,
                kStormMagnitude + double{kFinalWidth}, kStormMagnitude + mid);
  std::snprintf(line2, sizeof line2, "last=%.1f min=%.1f max=%.1f avg=%.1f   ",
                2 * kStormMagnitude + double{kFinalWidth}, 2 * kStormMagnitude + 1.0,
                2 * kStormMagnitude + double{kFinalWidth}, 2 * kStormMagnitude + mid);
  // Up to the clock on row rows-2 and up to the banner on row rows-1.
  const std::string want1 = padded(line1, kFinalCols - 25 - 7);
  const std::string want2 =
      c.two_values ? padded(line2, kFinalCols - 40 - 7) : std::string(kFinalCols - 40 - 7, ' ');
  auto shows_tail = [&] {
    return frame_problems(s).empty() && s.text_at(stats_row, 7, kFinalCols - 32) == want1 &&
           s.text_at(stats_row + 1, 7, kFinalCols - 47) == want2;
  };
  EXPECT_TRUE(s.wait_for(shows_tail) && s.wait_idle() && shows_tail())
      << "want\n  " << want1 << "\n  " << want2 << "\n"
      << s.screen_text();

  const long rss_last = vm_rss_kib(s.pid());
  // glibc keeps some of what curses freed for reuse; under the sanitizers the
  // quarantine fills up only after the first second.
  const long margin_kib = (asan ? kQuarantineMib + 8 : 4) * 1024;
  EXPECT_LE(rss_last, rss_first + margin_kib)
      << "VmRSS after the first second " << rss_first << " KiB, at the end " << rss_last << " KiB";

  s.send_keys("q");
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 0");
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "");
  EXPECT_FALSE(s.altscreen());
  EXPECT_TRUE(s.cursor_visible());
  EXPECT_EQ(s.stderr_text(), "");

  std::cout << "soak " << c.name << ": " << seconds << " s, seed " << seed << ", " << mixture.values
            << " values"
            << (c.two_values ? " (" + std::to_string(mixture.values / 2) + " pairs)" : "") << " in "
            << counts.bytes << " bytes with " << mixture.long_tokens << " long tokens, "
            << counts.resizes << " resizes, " << counts.r_keys << " r and " << counts.ctrl_l_keys
            << " Ctrl-L, VmRSS " << rss_first << " -> " << rss_last << " KiB"
            << (asan ? " (sanitizers)" : "") << "\n";
}

INSTANTIATE_TEST_SUITE_P(Storm, Soak, ::testing::ValuesIn(kSoakCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace e2e

// SPDX-License-Identifier: MIT
// screenshot.cpp: the README gallery, drawn by the real program. Each case
// runs vantrel in a pseudo-terminal of 100x24 with a UTF-8 locale and
// FAKETIME set (so the clock text is fixed), feeds it samples shaped like the
// output of a real pipeline, reads the screen back through libvterm and writes
// it as a text block (NAME.txt) and as an SVG image (NAME.svg).
//
//   vantrel-screenshot [--out DIR] [NAME...]        write the screenshots that
//                                                    changed
//   vantrel-screenshot --compare DIR [--readme FILE] [NAME...]
//                                                    regenerate and compare
//   vantrel-screenshot --live SECONDS [--out DIR] [NAME...]
//                                                    the real pipelines instead
//   vantrel-screenshot --gallery                     the README gallery text
//   vantrel-screenshot --list
//
// The feeds are synthetic and seeded, so the same program draws the same
// screen. In rate mode the program divides each counter step by the time
// between its reads; those cases run with the step clock preloaded
// (tools/step_clock.cpp), under which every reading comes exactly one second
// after the previous one, so they too are the same on every run.
//
// 100 columns, not 80: the drawing order puts the statistics lines over the
// clock and the banner when they are longer than the room beside them, and at
// 80 columns the longer ones of the gallery are. Each screenshot is checked
// for that: clock and banner whole, with a blank before each.
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frame.h"
#include "pty_screen.h"

namespace {

using e2e::Millis;

constexpr int kRows = 24;
constexpr int kCols = 100;
constexpr const char* kLocale = "C.UTF-8";
// A little more than the plot is wide: in rate mode the first reading has
// nothing to be compared with and is stored as 0; it has scrolled off by the
// end, as it would have in a pipeline that has been running a while.
constexpr int kSamples = kCols - 4 + 2;
constexpr Millis kSettle{300};  // quiet time before the screen is taken
// The step clock's step between two readings of the rate-mode feeds.
// One second, as the pipelines' loops read once a second.
constexpr double kStepSeconds = 1.0;
constexpr const char* kStepMicros = "1000000";
constexpr const char* kFakeClock = "Thu Jan  1 00:00:00 1970";

// ---- seeded noise, the same on every platform

struct Noise {
  std::uint64_t state;
  // splitmix64: plain integer arithmetic, no library distribution whose
  // output could differ between standard libraries.
  double uniform() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  }
  // Roughly normal with deviation 1 (the sum of four uniforms, rescaled).
  double normal() { return (uniform() + uniform() + uniform() + uniform() - 2.0) * 1.732; }
};

std::string format(const char* fmt, double a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}

std::string format(const char* fmt, double a, double b) {
  char buf[96];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

// ---- the feeds: one line per reading, as the producer would print it

// Round-trip times to a host about 20 ms away, with a few slow replies.
std::vector<std::string> ping_feed() {
  Noise noise{11};
  std::vector<std::string> lines;
  for (int k = 0; k < kSamples; ++k) {
    double ms = 19.6 + 0.8 * noise.normal();
    if (k == 21) ms = 48.2;
    if (k == 22) ms = 31.0;
    if (k == 55) ms = 86.5;
    if (k == 56) ms = 52.1;
    if (k == 57) ms = 27.3;
    if (k == 79) ms = 41.7;
    lines.push_back(format("%.1f", ms));
  }
  return lines;
}

// CPU busy percentage: an idle machine, a build that keeps every core busy,
// and a short burst afterwards. vmstat prints whole percents.
std::vector<std::string> cpu_feed() {
  Noise noise{23};
  std::vector<std::string> lines;
  for (int k = 0; k < kSamples; ++k) {
    double busy = 6.0 + 2.0 * noise.normal();
    if (k >= 25 && k < 58) busy = 93.0 + 4.0 * noise.normal();
    if (k == 25) busy = 48.0;
    if (k == 58) busy = 37.0;
    if (k >= 75 && k < 79) busy = 55.0 + 8.0 * noise.normal();
    busy = std::round(busy);
    if (busy < 0) busy = 0;
    if (busy > 100) busy = 100;
    lines.push_back(format("%.0f", busy));
  }
  return lines;
}

// Memory in use in MiB: slow growth, a program that takes 600 MiB, and the
// drop when it ends.
std::vector<std::string> memory_feed() {
  Noise noise{37};
  std::vector<std::string> lines;
  double mib = 2870.0;
  for (int k = 0; k < kSamples; ++k) {
    mib += 3.0 + 4.0 * noise.normal();
    if (k >= 37 && k < 41) mib += 150.0;
    if (k == 73) mib -= 520.0;
    if (k == 74) mib -= 160.0;
    lines.push_back(format("%.0f", mib));
  }
  return lines;
}

// The one-minute load average, sampled every second: the kernel's moving
// average of the run queue, which climbs while a parallel build runs.
std::vector<std::string> load_feed() {
  Noise noise{41};
  std::vector<std::string> lines;
  const double decay = std::exp(-1.0 / 60.0);
  double load = 0.8;
  for (int k = 0; k < kSamples; ++k) {
    const double runnable = (k >= 15 && k < 65 ? 10.0 : 1.0) + 0.5 * noise.normal();
    load = load * decay + runnable * (1.0 - decay);
    lines.push_back(format("%.2f", load));
  }
  return lines;
}

// Two counters, advanced by rate * step per reading, so that the
// rates the program measures come out per second.
using RatePair = std::function<void(int k, Noise& noise, double& first, double& second)>;

std::vector<std::string> counter_feed(std::uint64_t seed, const char* fmt, double first,
                                      double second, const RatePair& rates) {
  Noise noise{seed};
  std::vector<std::string> lines;
  for (int k = 0; k < kSamples; ++k) {
    double r1 = 0.0;
    double r2 = 0.0;
    rates(k, noise, r1, r2);
    first += std::fmax(r1, 0.0) * kStepSeconds;
    second += std::fmax(r2, 0.0) * kStepSeconds;
    lines.push_back(format(fmt, first, second));
  }
  return lines;
}

// Network: light traffic, a download, then an upload.
std::vector<std::string> net_feed() {
  return counter_feed(53, "%.0f %.0f", 25341.0, 108.4,
                      [](int k, Noise& noise, double& rx, double& tx) {
                        rx = 40.0 + 12.0 * noise.normal();
                        tx = 12.0 + 4.0 * noise.normal();
                        if (k >= 30 && k < 63) {
                          rx = 2300.0 + 180.0 * noise.normal();
                          tx = 70.0 + 10.0 * noise.normal();
                        }
                        if (k >= 76 && k < 87) tx = 900.0 + 60.0 * noise.normal();
                      });
}

// Disk: a file read end to end, the periodic flushes of dirty pages, and a
// large write.
std::vector<std::string> disk_feed() {
  return counter_feed(67, "%.3f %.3f", 2592.762, 2229.890,
                      [](int k, Noise& noise, double& rd, double& wr) {
                        rd = noise.uniform() < 0.2 ? 0.06 * noise.uniform() : 0.0;
                        wr = k % 5 == 0 ? 0.7 + 0.3 * noise.normal() : 0.0;
                        if (k >= 13 && k < 29) rd = 15.0 + 1.5 * noise.normal();
                        if (k >= 50 && k < 70) wr = 9.0 + 0.9 * noise.normal();
                      });
}

// ---- the cases

struct Case {
  const char* name;
  const char* caption;   // one line for the gallery
  const char* producer;  // the real pipeline in front of vantrel
  std::vector<std::string> args;
  bool rate;  // rate mode: drawn under the step clock
  std::vector<std::string> (*feed)();
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"ping",
       "Ping round-trip times in milliseconds, in the default mode: one bar per reply "
       "(`ping` is in the Debian package `iputils-ping`).",
       "ping -n -i 0.5 deb.debian.org | sed -u -n 's/.*time=\\([0-9.]*\\).*/\\1/p'",
       {"-t", "ping deb.debian.org", "-u", "ms"},
       false,
       ping_feed},
      {"cpu",
       "CPU busy percentage from `vmstat` (package `procps`) as a braille line: each round "
       "of the loop runs vmstat for one second and prints 100 less its idle column.",
       "while vmstat 1 2 | awk 'END { print 100 - $15 }'; do :; done",
       {"-b", "-s", "100", "-u", "%", "-t", "cpu busy"},
       false,
       cpu_feed},
      {"memory",
       "Memory in use in MiB from `/proc/meminfo`, in quadrant blocks filled below the line, "
       "with the foot of the scale fixed at 2500 MiB by `-M` (pick a figure a little below "
       "your machine's usual use).",
       "while awk '/^MemTotal:/ { t = $2 } /^MemAvailable:/ { a = $2 }\n"
       "             END { printf \"%.0f\\n\", (t - a) / 1024 }' /proc/meminfo; do\n"
       "  sleep 1\n"
       "done",
       {"-B", "-f", "-M", "2500", "-u", "MiB", "-t", "memory in use"},
       false,
       memory_feed},
      {"network",
       "Network receive and transmit rates of one interface from `/proc/net/dev`, two series in "
       "rate mode, braille lines in the scheme dark1 (put your interface in place of eth0; "
       "without it, awk fails and the loop ends).",
       "while awk '$1 == \"eth0:\" { printf \"%.0f %.0f\\n\", $2 / 1024, $10 / 1024; n++ }\n"
       "           END { exit !n }' /proc/net/dev; do\n"
       "  sleep 1\n"
       "done",
       {"-2", "-r", "-b", "-C", "dark1", "-u", "KiB/s", "-t", "eth0 receive / transmit"},
       true,
       net_feed},
      {"disk",
       "Disk read and write rates in MiB/s from `/proc/diskstats` (fields 6 and 10 count "
       "512-byte sectors; put your disk in place of vda), two series in rate mode as bars, "
       "writes in reverse video, in the scheme dark2.",
       "while awk '$3 == \"vda\" { printf \"%.3f %.3f\\n\", $6 / 2048, $10 / 2048; n++ }\n"
       "           END { exit !n }' /proc/diskstats; do\n"
       "  sleep 1\n"
       "done",
       {"-2", "-r", "-C", "dark2", "-u", "MiB/s", "-t", "vda read / write"},
       true,
       disk_feed},
      {"load",
       "The one-minute load average from `/proc/loadavg` with a hard maximum of 5: readings "
       "above it are drawn with the error glyph. The color list gives green bars, cyan axes, "
       "white text, a yellow title and red error glyphs.",
       "while cut -d ' ' -f 1 /proc/loadavg; do sleep 1; done",
       {"-m", "5", "-C", "2,6,7,3,1", "-t", "load average"},
       false,
       load_feed},
  };
  return all;
}

std::string title_of(const Case& c) {
  for (std::size_t i = 0; i + 1 < c.args.size(); ++i) {
    if (c.args[i] == "-t") return c.args[i + 1];
  }
  return std::string(e2e::kTitle);
}

// The argument as a reader would type it in a shell.
std::string shell_word(const std::string& word) {
  const bool plain = word.find_first_not_of(
                         "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./,%") ==
                     std::string::npos;
  return plain && !word.empty() ? word : "\"" + word + "\"";
}

std::string command_of(const Case& c) {
  std::string line = std::string(c.producer) + " |\n  vantrel";
  for (const std::string& a : c.args) line += " " + shell_word(a);
  return line;
}

// ---- taking the screen

struct Cell {
  char32_t ch;
  int fg;  // palette index or e2e::kDefaultColor
  bool reverse;
};

struct Shot {
  std::string text;
  std::vector<std::vector<Cell>> cells;
};

void pump_for(e2e::PtyScreen& s, Millis how_long) {
  const auto until = std::chrono::steady_clock::now() + how_long;
  while (std::chrono::steady_clock::now() < until) {
    const auto left = std::chrono::duration_cast<Millis>(until - std::chrono::steady_clock::now());
    s.pump(left.count() > 0 ? left : Millis{1});
  }
}

[[noreturn]] void give_up(const Case& c, const std::string& what, const e2e::PtyScreen& s) {
  throw std::runtime_error(std::string(c.name) + ": " + what + "\n" + s.screen_text());
}

// The case's real pipeline, run by the shell in a process group of its own
// for `seconds`, its output passed on to the program as it comes. The
// producer is ended by its group id; it never sees the terminal.
void feed_live(const Case& c, e2e::PtyScreen& s, int seconds) {
  int out[2];
  if (pipe(out) != 0) give_up(c, std::string("pipe: ") + std::strerror(errno), s);
  const pid_t pid = fork();
  if (pid < 0) give_up(c, std::string("fork: ") + std::strerror(errno), s);
  if (pid == 0) {
    setpgid(0, 0);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    execl("/bin/sh", "sh", "-c", c.producer, static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);
  close(out[1]);
  fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    char buf[4096];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n > 0) s.write_stdin(std::string_view(buf, static_cast<std::size_t>(n)));
    if (n == 0) break;  // the producer ended
    s.pump(Millis{20});
  }
  kill(-pid, SIGTERM);
  close(out[0]);
  waitpid(pid, nullptr, 0);
}

// Runs the program on the case's feed (or, with live_seconds, on its real
// pipeline) and takes the screen once it is complete.
Shot take(const Case& c, int live_seconds) {
  e2e::Launch launch;
  launch.args = c.args;
  launch.rows = kRows;
  launch.cols = kCols;
  launch.locale = kLocale;
  launch.fake_time = true;
  if (c.rate && live_seconds == 0) {
    // Every reading one step of the step clock after the previous one. A
    // sanitizer runtime, when the program has one, need not come first.
    launch.env.push_back(std::string("LD_PRELOAD=") + VANTREL_STEP_CLOCK);
    launch.env.push_back(std::string("VANTREL_STEP_CLOCK_US=") + kStepMicros);
    const char* asan = std::getenv("ASAN_OPTIONS");
    launch.env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                         (asan != nullptr && *asan != '\0' ? ":" : "") +
                         "verify_asan_link_order=0");
  }
  e2e::PtyScreen s(launch);

  const std::string title = title_of(c);
  auto frame_whole = [&] { return e2e::frame_problems(s, title).empty(); };
  if (!s.wait_for(frame_whole) || !s.wait_idle()) give_up(c, "no first frame", s);

  const std::vector<std::string> lines = c.feed();
  if (live_seconds > 0) {
    feed_live(c, s, live_seconds);
  } else {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    if (!s.write_stdin(all)) give_up(c, "write failed", s);
  }

  // Complete: the newest reading is in the statistics (its value, where the
  // feed decides it), the program waits again, and nothing more comes.
  const std::string last =
      c.rate || live_seconds > 0
          ? std::string("last=")
          : "last=" + format("%.1f", std::strtod(lines.back().c_str(), nullptr)) + " ";
  if (!s.wait_for([&] { return e2e::starts_with(e2e::stats_line(s), last); })) {
    give_up(c, "statistics never showed \"" + last + "\"", s);
  }
  std::string before;
  do {  // until a settling time passes without a change
    before = s.screen_text();
    pump_for(s, kSettle);
    if (!s.wait_idle()) give_up(c, "the program did not settle", s);
  } while (s.screen_text() != before);
  if (!frame_whole()) give_up(c, "frame broken: " + e2e::frame_problems(s, title), s);
  if (!s.running()) give_up(c, "the program ended", s);
  // Nothing runs over anything: the statistics lines end before the clock
  // and the banner, which stand whole.
  const int clock_col = kCols - 1 - static_cast<int>(std::strlen(kFakeClock));
  if (s.text_at(kRows - 2, clock_col - 1, 1 + static_cast<int>(std::strlen(kFakeClock))) !=
      std::string(" ") + kFakeClock) {
    give_up(c, "the statistics line runs into the clock", s);
  }
  const int banner_col = kCols - 1 - static_cast<int>(e2e::kBanner.size());
  if (s.text_at(kRows - 1, banner_col - 1, 1) != " ") {
    give_up(c, "the second statistics line runs into the banner", s);
  }

  Shot shot;
  shot.text = s.screen_text();
  for (int row = 0; row < s.rows(); ++row) {
    std::vector<Cell> line;
    for (int col = 0; col < s.cols(); ++col) {
      line.push_back({s.cell_char(row, col), s.cell_fg(row, col), s.cell_reverse(row, col)});
    }
    shot.cells.push_back(line);
  }
  s.send_keys("q");
  s.wait_exit();
  return shot;
}

// ---- SVG

constexpr int kCellW = 9;  // the advance of a 15 px monospace font
constexpr int kCellH = 18;
constexpr int kPad = 12;
constexpr int kFontSize = 15;
constexpr int kBaseline = 14;  // from the top of a cell
constexpr const char* kBackground = "#1d1f21";
constexpr const char* kForeground = "#d8d8d8";

// The 16 ANSI colors of a dark terminal theme; above 15 the xterm cube and
// gray ramp, which vantrel never asks for but a color list could.
std::string palette(int index) {
  static const char* const kAnsi[16] = {
      "#000000", "#cd3131", "#0dbc79", "#e5e510", "#2472c8", "#bc3fbc", "#11a8cd", "#e5e5e5",
      "#666666", "#f14c4c", "#23d18b", "#f5f543", "#3b8eea", "#d670d6", "#29b8db", "#ffffff",
  };
  if (index < 0) return kForeground;
  if (index < 16) return kAnsi[index];
  int r, g, b;
  if (index < 232) {
    const int levels[6] = {0, 95, 135, 175, 215, 255};
    const int i = index - 16;
    r = levels[i / 36];
    g = levels[(i / 6) % 6];
    b = levels[i % 6];
  } else {
    r = g = b = 8 + 10 * (index - 232);
  }
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", r & 0xff, g & 0xff, b & 0xff);
  return buf;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_xml_char(std::string& out, char32_t c) {
  switch (c) {
    case U'&': out += "&amp;"; break;
    case U'<': out += "&lt;"; break;
    case U'>': out += "&gt;"; break;
    default: append_utf8(out, c);
  }
}

// Quadrant mask (upper left 1, upper right 2, lower left 4, lower right 8) of
// a block element, or 0. These are drawn as rectangles, so that blocks meet
// across rows whatever font the viewer has.
int quadrant_mask(char32_t c) {
  switch (c) {
    case U'\u2598': return 1;
    case U'\u259D': return 2;
    case U'\u2580': return 3;
    case U'\u2596': return 4;
    case U'\u258C': return 5;
    case U'\u259E': return 6;
    case U'\u259B': return 7;
    case U'\u2597': return 8;
    case U'\u259A': return 9;
    case U'\u2590': return 10;
    case U'\u259C': return 11;
    case U'\u2584': return 12;
    case U'\u2599': return 13;
    case U'\u259F': return 14;
    case U'\u2588': return 15;
    default: return 0;
  }
}

bool is_braille(char32_t c) {
  return c >= U'\u2800' && c <= U'\u28FF';
}

// The light box-drawing lines of the axes and the bars: 1 up, 2 down, 4 left,
// 8 right half of the cell; drawn as lines through the cell's centre.
int box_arms(char32_t c) {
  switch (c) {
    case U'\u2500': return 4 | 8;
    case U'\u2502': return 1 | 2;
    case U'\u2514': return 1 | 8;
    case U'\u250C': return 2 | 8;
    case U'\u2510': return 2 | 4;
    case U'\u2518': return 1 | 4;
    case U'\u253C': return 1 | 2 | 4 | 8;
    default: return 0;
  }
}

std::string rect(int x, int y, int w, int h, const std::string& fill) {
  return "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
         std::to_string(w) + "\" height=\"" + std::to_string(h) + "\" fill=\"" + fill + "\"/>";
}

// Rectangles along one line of the image, added in order and merged where
// they touch or overlap and share a color, so that a bar or a filled area costs a few elements, not
// one per cell.
class Spans {
 public:
  // Horizontal: the spans run along x at y = fixed, thickness high;
  // otherwise along y at x = fixed, thickness wide.
  Spans(std::ostringstream& out, bool horizontal, int fixed, int thickness)
      : out_(out), horizontal_(horizontal), fixed_(fixed), thickness_(thickness) {}
  ~Spans() { flush(); }
  Spans(const Spans&) = delete;
  Spans& operator=(const Spans&) = delete;

  void add(int from, int to, const std::string& color) {
    if (open_ && from <= to_ && color == color_) {
      to_ = std::max(to_, to);
      return;
    }
    flush();
    open_ = true;
    from_ = from;
    to_ = to;
    color_ = color;
  }

  void flush() {
    if (!open_) return;
    out_ << (horizontal_ ? rect(from_, fixed_, to_ - from_, thickness_, color_)
                         : rect(fixed_, from_, thickness_, to_ - from_, color_))
         << "\n";
    open_ = false;
  }

 private:
  std::ostringstream& out_;
  bool horizontal_;
  int fixed_;
  int thickness_;
  bool open_ = false;
  int from_ = 0;
  int to_ = 0;
  std::string color_;
};

std::string svg_of(const Shot& shot, const std::string& name) {
  const int rows = static_cast<int>(shot.cells.size());
  const int cols = rows > 0 ? static_cast<int>(shot.cells[0].size()) : 0;
  const int width = 2 * kPad + cols * kCellW;
  const int height = 2 * kPad + rows * kCellH;
  auto cell_at = [&](int row, int col) -> const Cell& {
    return shot.cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
  };
  auto x_of = [](int col) { return kPad + col * kCellW; };
  auto y_of = [](int row) { return kPad + row * kCellH; };
  // What a cell looks like: reverse video swaps foreground and background.
  auto ink = [](const Cell& cell) {
    return cell.reverse ? std::string(kBackground) : palette(cell.fg);
  };
  auto paper = [](const Cell& cell) { return palette(cell.fg); };  // reverse video only

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\">\n"
      << "<title>vantrel: " << name << "</title>\n"
      << "<rect width=\"" << width << "\" height=\"" << height << "\" rx=\"6\" fill=\""
      << kBackground << "\"/>\n";

  // Backgrounds of reverse video.
  for (int row = 0; row < rows; ++row) {
    Spans spans(svg, true, y_of(row), kCellH);
    for (int col = 0; col < cols; ++col) {
      if (cell_at(row, col).reverse) spans.add(x_of(col), x_of(col + 1), paper(cell_at(row, col)));
    }
  }

  // Block elements, as the two half rows of quadrants in each cell row. The
  // left and right quadrants overlap by a pixel, so no seam shows between
  // them.
  const int half_w = kCellW / 2 + 1;
  const int half_h = kCellH / 2;
  for (int row = 0; row < rows; ++row) {
    for (int half = 0; half < 2; ++half) {
      Spans spans(svg, true, y_of(row) + half * half_h, half == 0 ? half_h : kCellH - half_h);
      for (int col = 0; col < cols; ++col) {
        const Cell& cell = cell_at(row, col);
        const int mask = quadrant_mask(cell.ch) >> (2 * half);
        if (mask & 1) spans.add(x_of(col), x_of(col) + half_w, ink(cell));
        if (mask & 2) spans.add(x_of(col + 1) - half_w, x_of(col + 1), ink(cell));
      }
    }
  }

  // Braille dots: 1-3 and 7 down the left column, 4-6 and 8 down the right.
  // The centres are 4 or 5 px apart, within a cell and across cells.
  static const int kDot[8][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {0, 3}, {1, 3}};
  static const int kDotX[2] = {2, 6};
  static const int kDotY[4] = {2, 6, 11, 15};
  for (int row = 0; row < rows; ++row) {
    for (int col = 0; col < cols; ++col) {
      const Cell& cell = cell_at(row, col);
      if (!is_braille(cell.ch)) continue;
      const unsigned bits = static_cast<unsigned>(cell.ch - U'\u2800');
      for (int bit = 0; bit < 8; ++bit) {
        if ((bits & (1u << bit)) == 0) continue;
        svg << "<circle cx=\"" << x_of(col) + kDotX[kDot[bit][0]] << "\" cy=\""
            << y_of(row) + kDotY[kDot[bit][1]] << "\" r=\"1.6\" fill=\"" << ink(cell) << "\"/>";
      }
      svg << "\n";
    }
  }

  // Box-drawing lines through the cell centres: the horizontal arms row by
  // row, the vertical ones column by column, so a bar is one rectangle.
  const int mid_x = kCellW / 2;
  const int mid_y = kCellH / 2;
  for (int row = 0; row < rows; ++row) {
    Spans spans(svg, true, y_of(row) + mid_y, 1);
    for (int col = 0; col < cols; ++col) {
      const Cell& cell = cell_at(row, col);
      const int arms = box_arms(cell.ch);
      const int x = x_of(col);
      if (arms & 4) spans.add(x, x + mid_x + 1, ink(cell));
      if (arms & 8) spans.add(x + mid_x, x + kCellW, ink(cell));
    }
  }
  for (int col = 0; col < cols; ++col) {
    Spans spans(svg, false, x_of(col) + mid_x, 1);
    for (int row = 0; row < rows; ++row) {
      const Cell& cell = cell_at(row, col);
      const int arms = box_arms(cell.ch);
      const int y = y_of(row);
      if (arms & 1) spans.add(y, y + mid_y + 1, ink(cell));
      if (arms & 2) spans.add(y + mid_y, y + kCellH, ink(cell));
    }
  }

  // The rest as text, one element per run of one color; every character
  // gets its own x, so the grid holds whatever the font's advance.
  svg << "<g font-family=\"'DejaVu Sans Mono', Menlo, Consolas, 'Liberation Mono', monospace\" "
      << "font-size=\"" << kFontSize << "\">\n";
  auto as_text = [](const Cell& c) {
    return c.ch != U' ' && quadrant_mask(c.ch) == 0 && !is_braille(c.ch) && box_arms(c.ch) == 0;
  };
  for (int row = 0; row < rows; ++row) {
    for (int col = 0; col < cols;) {
      const Cell& cell = cell_at(row, col);
      if (!as_text(cell)) {
        ++col;
        continue;
      }
      std::string xs;
      std::string chars;
      int end = col;
      while (end < cols && as_text(cell_at(row, end)) && ink(cell_at(row, end)) == ink(cell)) {
        xs += (xs.empty() ? "" : " ") + std::to_string(x_of(end));
        append_xml_char(chars, cell_at(row, end).ch);
        ++end;
      }
      svg << "<text x=\"" << xs << "\" y=\"" << y_of(row) + kBaseline << "\" fill=\"" << ink(cell)
          << "\">" << chars << "</text>\n";
      col = end;
    }
  }
  svg << "</g>\n</svg>\n";
  return svg.str();
}

// ---- files

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}

bool read_file(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buf;
  buf << in.rdbuf();
  *content = buf.str();
  return true;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Empty when equal; otherwise where the two first differ.
std::string first_difference(const std::string& want, const std::string& got) {
  if (want == got) return "";
  const std::vector<std::string> a = split_lines(want);
  const std::vector<std::string> b = split_lines(got);
  for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
    const std::string wa = i < a.size() ? a[i] : "(end of file)";
    const std::string gb = i < b.size() ? b[i] : "(end of file)";
    if (wa != gb) {
      return "line " + std::to_string(i + 1) + "\n  committed: " + wa + "\n  now drawn: " + gb;
    }
  }
  return "line ends differ";
}

// Words of a paragraph in lines of at most 78 columns, as the rest of the
// README is written.
std::string wrapped(const std::string& text) {
  constexpr std::size_t kWidth = 78;
  std::istringstream in(text);
  std::string out;
  std::string line;
  for (std::string word; in >> word;) {
    // A code span stays on one line.
    auto ticks = [](const std::string& w) { return std::count(w.begin(), w.end(), '`'); };
    for (std::string more; ticks(word) % 2 == 1 && in >> more;) word += " " + more;
    if (!line.empty() && line.size() + 1 + word.size() > kWidth) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line + "\n";
}

// The README's gallery section; the test finds it there word for word, so a
// change to a case and its description in the README go together.
std::string gallery() {
  std::string md =
      "### Gallery\n\n" +
      wrapped(
          "Each picture is the real program in a terminal of 100 columns by 24 rows, drawn "
          "by `make screenshots` (`tools/screenshot.cpp`) from a seeded feed shaped like "
          "the pipeline's output; the text of each screen is beside it in "
          "`doc/screenshots/`. At 80 columns the longer statistics lines would run over the "
          "clock and the banner, which are drawn before them; at 100 nothing overlaps, and "
          "the tool checks that. The rate-mode pictures are drawn under a clock that "
          "advances exactly one second per reading (`tools/step_clock.cpp`), so every picture is "
          "the same on every run: `make screenshots` rewrites only those that the program "
          "now draws differently, and the test `doc_screenshots` fails when any of them is "
          "not what the program draws. "
          "`build/vantrel-screenshot --live 60 --out /tmp/shots cpu` draws one from the "
          "real pipeline instead.");
  for (const Case& c : cases()) {
    md += "\n" + wrapped(c.caption) + "\n";
    std::istringstream in(command_of(c));
    for (std::string line; std::getline(in, line);) md += "    " + line + "\n";
    md += "\n![" + std::string(c.name) + "](doc/screenshots/" + c.name + ".svg)\n";
  }
  return md;
}

int usage() {
  std::cerr << "usage: vantrel-screenshot [--out DIR] [NAME...]\n"
               "       vantrel-screenshot --compare DIR [--readme FILE] [NAME...]\n"
               "       vantrel-screenshot --live SECONDS [--out DIR] [NAME...]\n"
               "       vantrel-screenshot --gallery | --list\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out_dir = "doc/screenshots";
  std::string compare_dir;
  std::string readme;
  int live_seconds = 0;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--out" && has_value) {
      out_dir = argv[++i];
    } else if (arg == "--compare" && has_value) {
      compare_dir = argv[++i];
    } else if (arg == "--readme" && has_value) {
      readme = argv[++i];
    } else if (arg == "--live" && has_value) {
      live_seconds = std::atoi(argv[++i]);
      if (live_seconds <= 0) return usage();
    } else if (arg == "--gallery") {
      std::cout << gallery();
      return 0;
    } else if (arg == "--list") {
      for (const Case& c : cases()) {
        std::cout << c.name << (c.rate ? "  (rate mode, under the step clock)" : "") << "\n";
      }
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return usage();
    } else {
      names.push_back(arg);
    }
  }

  if (live_seconds > 0 && !compare_dir.empty()) return usage();  // live runs never repeat

  std::vector<const Case*> chosen;
  for (const Case& c : cases()) {
    bool named = names.empty();
    for (const std::string& n : names) named = named || n == c.name;
    if (named) chosen.push_back(&c);
  }
  for (const std::string& n : names) {
    bool known = false;
    for (const Case& c : cases()) known = known || n == c.name;
    if (!known) {
      std::cerr << "vantrel-screenshot: no case named " << n << "\n";
      return 2;
    }
  }

  // Without the UTF-8 locale the program would draw other glyphs; a
  // comparison would then fail for a reason that is not the program's.
  if (locale_t probe = newlocale(LC_ALL_MASK, kLocale, nullptr)) {
    freelocale(probe);
  } else {
    std::cerr << (compare_dir.empty() ? "vantrel-screenshot: " : "skipped: ") << "the locale "
              << kLocale << " is not installed\n";
    return compare_dir.empty() ? 1 : 77;
  }

  int failures = 0;
  if (!readme.empty()) {
    std::string text;
    if (!read_file(readme, &text)) {
      std::cerr << readme << ": cannot read\n";
      ++failures;
    } else if (text.find(gallery()) == std::string::npos) {
      std::cerr << readme << ": the gallery differs from `vantrel-screenshot --gallery`\n";
      ++failures;
    }
  }

  std::string dir = out_dir;
  if (!compare_dir.empty()) {
    char pattern[] = "/tmp/vantrel-screenshots.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    dir = pattern;
  } else {
    mkdir(dir.c_str(), 0777);
  }

  std::vector<std::string> written;
  for (const Case* c : chosen) {
    try {
      const Shot shot = take(*c, live_seconds);
      const std::string base = dir + "/" + c->name;
      const std::pair<std::string, std::string> files[] = {{base + ".txt", shot.text},
                                                           {base + ".svg", svg_of(shot, c->name)}};
      for (const auto& [path, content] : files) {
        // A picture the program draws as before stays as it is, file and all.
        std::string before;
        if (compare_dir.empty() && read_file(path, &before) && before == content) {
          std::cout << path << " unchanged\n";
          continue;
        }
        if (!write_file(path, content)) {
          std::cerr << path << ": cannot write\n";
          ++failures;
          continue;
        }
        written.push_back(path);
        if (compare_dir.empty()) {
          std::cout << path << " written\n";
          continue;
        }
        const std::string committed_path =
            compare_dir + "/" + path.substr(path.find_last_of('/') + 1);
        std::string committed;
        if (!read_file(committed_path, &committed)) {
          std::cerr << committed_path << ": cannot read\n";
          ++failures;
          continue;
        }
        const std::string diff = first_difference(committed, content);
        if (!diff.empty()) {
          std::cerr << committed_path << " is not what the program draws now (" << path << "), "
                    << diff << "\n";
          ++failures;
        }
      }
    } catch (const std::exception& e) {
      std::cerr << "vantrel-screenshot: " << e.what() << "\n";
      ++failures;
    }
  }

  if (!compare_dir.empty()) {
    if (failures == 0) {
      for (const std::string& path : written) std::remove(path.c_str());
      rmdir(dir.c_str());
      std::cout << chosen.size() << " screenshots match " << compare_dir << "\n";
    } else {
      std::cerr << "the screenshots drawn now are kept in " << dir
                << "; `make screenshots` writes them over the committed ones\n";
    }
  }
  return failures == 0 ? 0 : 1;
}

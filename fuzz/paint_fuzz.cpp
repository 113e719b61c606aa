// SPDX-License-Identifier: MIT
// Fuzzes the painter: settings that went through the real command line, ring
// histories built the way the parser stores samples (the ring modulus changing
// as the window does), and windows from 1x1 to 1026x300, painted by
// paint_frame into a curses screen with no terminal behind it. One or two
// frames per input, the second after more samples at the width the first one
// stored. Under the sanitizers a crash is a finding; besides that, after every
// frame:
//   - the glyph cells are back in the state the settings left them in;
//   - the window's own attributes are off again;
//   - the ring modulus is the painted window's plot width (40..1022), or
//     untouched when the window was too small to paint;
//   - the plot renderer, run alone on an erased window with the frame's
//     arguments, drew nothing outside its rectangle: rows 1..H+1 (1..H for the
//     sub-cell plot, whose last row is not the axis row) and columns 3..W+2.
//     The rest of a frame is text that may legitimately wrap;
//   - the numbers of the scale labels (or, in a frame without labels, of
//     statistics line 1) stand where they belong, wherever nothing drawn
//     later may cover them. Texts longer than the window hold are where
//     ncurses' printw family goes wrong: its formatting buffer is sized by the
//     largest window seen and grows only, so such a fault shows only in a
//     process that has not yet formatted text in a larger window. The seeds
//     with a 44x5 window are the smallest, and libFuzzer runs them first.
//
// Input layout (a short input reads as zeros from where it ends):
//   byte 0  bit 0 -2, 1 -b, 2 -B, 3 -f, 4 -r, 6 fake clock, 7 a message is
//           passed (bit 5 unused)
//   byte 1  bit 0 -s, 1 -S, 2 -m, 3 -M, 4 -c, 5 -e, 6 -E, 7 -C
//   byte 2  bit 0 -t, 1 -u, 2 a second frame
//   then, each only when its bit is set: the four limits (a value each), the
//   three glyphs (u8 length % 5, bytes), the color list (u8 % 40, bytes), the
//   title (u16 % 320, bytes), the unit (u8 % 80, bytes), the message (u16 %
//   320, bytes); then the clock seconds (8 bytes), the rate interval (a value),
//   history ops (u8 count, ops), the first window (u16 rows, u16 cols), and
//   for a second frame more ops and a second window.
//   A value: class byte c; c < 32 an edge from kEdges, c < 128 the integer
//   c - 80, else the next 8 bytes as a double. Sizes: rows 1 + u16 % 300,
//   cols 1 + u16 % 1026. Multi-byte numbers are big-endian.
//   An op: top two bits 0 push (low six bits + 1) samples, each a value (two
//   in two-series mode); 1 the ring modulus becomes 40 + u16 % 983; 2 push
//   1 + u16 % 1023 copies of one sample; 3 earlier history: sample_count grows
//   by 2^((low six bits) % 62). Ring values are finite or NaN, as the parser
//   stores them; a non-finite value makes an empty slot.
#include <algorithm>
#include <array>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vantrel.h"

namespace {

constexpr int kMaxRows = 300;
constexpr std::int64_t kMaxSampleCount = std::int64_t{1} << 62;
constexpr int kMinPaintRows = 5;
constexpr int kMinPaintCols = 44;
constexpr const char* kTerm = "xterm-256color";
// The sub-cell modes and wide glyphs need a multi-byte locale. The C locale
// is cmdline_fuzz's business: ncurses keeps one screen per process sane, and
// a screen made for one locale does not draw for another.
constexpr const char* kLocale = "C.UTF-8";

constexpr double kEdges[32] = {
    0.0,      -0.0,      1.0,      -1.0,     0.05,    0.1,
    0.01,     -0.04,     100.0,    1e6,      1e15,    9007199254740992.0,
    1e38,     FLT_MAX,   -FLT_MAX, 1e39,     1e230,   -1e230,
    1e300,    -1e300,    DBL_MAX,  -DBL_MAX, DBL_MIN, 5e-324,
    INFINITY, -INFINITY, NAN,      1e8,      -1e8,    1e-300,
    0.5,      3.0,
};

[[noreturn]] void fuzz_fail(const char* what) {
  std::fprintf(stderr, "paint_fuzz: invariant broken: %s\n", what);
  std::abort();
}

void fuzz_check(bool ok, const char* what) {
  if (!ok) fuzz_fail(what);
}

struct fuzz_reader {
  const std::uint8_t* p;
  std::size_t n;

  std::uint8_t u8() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::uint16_t u16() {
    const std::uint8_t high = u8();  // two statements: operand order is unspecified
    return static_cast<std::uint16_t>(high << 8 | u8());
  }
  std::uint64_t u64() {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v = v << 8 | u8();
    return v;
  }
  double value() {
    const std::uint8_t c = u8();
    if (c < 32) return kEdges[c];
    if (c < 128) return static_cast<double>(c) - 80.0;
    const std::uint64_t bits = u64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  // A command-line word: it ends at the first NUL, as argv strings do.
  std::string text(std::size_t length) {
    std::string s;
    for (std::size_t k = 0; k < length; ++k) s.push_back(static_cast<char>(u8()));
    return s.substr(0, s.find('\0'));
  }
};

struct fuzz_glyphs {
  cchar_t cells[4];
};

fuzz_glyphs fuzz_take_glyphs() {
  return {{plot_cell, max_err_cell, min_err_cell, second_line_cell}};
}

// A cell's character, attributes and pair, read the one way curses allows.
struct fuzz_cell_parts {
  std::array<wchar_t, CCHARW_MAX + 1> text{};
  attr_t attrs = 0;
  short pair = 0;
  bool operator==(const fuzz_cell_parts& o) const {
    return text == o.text && attrs == o.attrs && pair == o.pair;
  }
};

fuzz_cell_parts fuzz_parts(const cchar_t& cell) {
  fuzz_cell_parts p;
  getcchar(&cell, p.text.data(), &p.attrs, &p.pair, nullptr);
  return p;
}

bool fuzz_same_cell(const cchar_t& a, const cchar_t& b) {
  return fuzz_parts(a) == fuzz_parts(b);
}

// The character plot colors the shared glyph cells for one column at a time;
// a color left behind would show in every later column and frame.
void fuzz_check_glyphs(const fuzz_glyphs& settled) {
  const fuzz_glyphs now_cells = fuzz_take_glyphs();
  const char* names[4] = {"plot_cell", "max_err_cell", "min_err_cell", "second_line_cell"};
  const attr_t base[4] = {0, 0, 0, A_REVERSE};
  for (int k = 0; k < 4; ++k) {
    const fuzz_cell_parts parts = fuzz_parts(now_cells.cells[k]);
    if (parts.attrs != base[k] || parts.pair != 0 ||
        !fuzz_same_cell(now_cells.cells[k], settled.cells[k])) {
      std::fprintf(stderr, "paint_fuzz: %s attributes 0x%lx pair %d, base 0x%lx pair 0\n", names[k],
                   static_cast<unsigned long>(parts.attrs), parts.pair,
                   static_cast<unsigned long>(base[k]));
      fuzz_fail("a glyph cell is not back in its base state after the frame");
    }
  }
}

// Stores one sample (or pair) at the next slot, the parser's way.
void fuzz_push(double v1, double v2) {
  const int next = ring_next(newest_index, plot_width);
  newest_index = next;
  values1[next] = std::isfinite(v1) ? v1 : NAN;
  if (two_values) values2[next] = std::isfinite(v2) ? v2 : NAN;
  if (sample_count < kMaxSampleCount) ++sample_count;
}

void fuzz_history(fuzz_reader& in) {
  const int ops = in.u8();
  for (int k = 0; k < ops; ++k) {
    const std::uint8_t op = in.u8();
    switch (op >> 6) {
      case 0:
        for (int s = 0; s <= (op & 63); ++s) {
          const double v1 = in.value();
          fuzz_push(v1, two_values ? in.value() : NAN);
        }
        break;
      case 1: plot_width = kMinPlotWidth + in.u16() % (kMaxPlotWidth - kMinPlotWidth + 1); break;
      case 2: {
        const int copies = 1 + in.u16() % (kRingSize - 1);
        const double v1 = in.value();
        const double v2 = two_values ? in.value() : NAN;
        for (int s = 0; s < copies; ++s) fuzz_push(v1, v2);
        break;
      }
      default:
        // Samples before these, long since overwritten.
        if (newest_index >= 0) {
          sample_count += std::int64_t{1} << ((op & 63) % 62);
          if (sample_count > kMaxSampleCount) sample_count = kMaxSampleCount;
        }
    }
  }
}

// The frame's statistics and scale, from the rules the painter follows: an
// empty slot leaves minimum and maximum alone and makes the average NaN; hard
// limits replace the scale ends. Written again here on purpose, so that the
// expected figures do not come from the code under test.
struct fuzz_stats {
  double min = kFltMax;
  double max = -kFltMax;
  double avg = NAN;
};

fuzz_stats fuzz_scan(const double* ring, int n) {
  fuzz_stats s;
  if (n <= 0) return s;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    sum = sum + ring[i];
    if (ring[i] > s.max) s.max = ring[i];
    if (ring[i] < s.min) s.min = ring[i];
  }
  s.avg = sum / static_cast<double>(n);
  return s;
}

struct fuzz_scale {
  double top;
  double bottom;
};

fuzz_scale fuzz_frame_scale(const fuzz_stats& s1, const fuzz_stats& s2) {
  const double data_top = s1.max > s2.max ? s1.max : s2.max;
  double top = softmax > data_top ? softmax : data_top;
  if (hardmax != kFltMax) top = hardmax;
  const double data_bottom = s1.min < s2.min ? s1.min : s2.min;
  double bottom = softmin < data_bottom ? softmin : data_bottom;
  if (hardmin != -kFltMax) bottom = hardmin;
  return {top, bottom};
}

int fuzz_scan_length() {
  return sample_count > plot_width ? plot_width : static_cast<int>(sample_count);
}

// Non-blank cells of row `row`, columns from..to, against the erased cell.
bool fuzz_blank_span(int row, int from, int to, const cchar_t& blank) {
  for (int col = from; col <= to; ++col) {
    cchar_t cell{};
    mvwin_wch(stdscr, row, col, &cell);
    if (!fuzz_same_cell(cell, blank)) {
      std::fprintf(stderr, "paint_fuzz: renderer drew U+%04lX at row %d column %d\n",
                   static_cast<unsigned long>(fuzz_parts(cell).text[0]), row, col);
      return false;
    }
  }
  return true;
}

// The renderer of this frame alone, on an erased window, with the arguments
// paint_frame hands it; only its rectangle may change.
void fuzz_check_renderer_bounds(const fuzz_glyphs& settled) {
  const int rows = getmaxy(stdscr);
  const int cols = getmaxx(stdscr);
  const int H = plot_height;
  const int W = plot_width;
  werase(stdscr);
  cchar_t blank{};
  mvwin_wch(stdscr, 0, 0, &blank);

  const int n = fuzz_scan_length();
  const fuzz_scale scale = fuzz_frame_scale(fuzz_scan(values1, n), fuzz_scan(values2, n));
  const double* series2 = two_values ? values2 : nullptr;
  int last_row = H;
  if (braille_mode) {
    draw_subcell_plot(H, W, series2, newest_index, 4, braille_bits.data(), nullptr, scale.top,
                      scale.bottom);
  } else if (block_mode) {
    draw_subcell_plot(H, W, series2, newest_index, 2, quadrant_bits.data(), quadrant_glyphs.data(),
                      scale.top, scale.bottom);
  } else {
    draw_char_columns(H, W, series2, newest_index, scale.top, scale.bottom);
    last_row = H + 1;  // the axis row, drawn over afterwards
  }

  bool inside = fuzz_blank_span(0, 0, cols - 1, blank);
  for (int row = 1; inside && row <= last_row; ++row) {
    inside = fuzz_blank_span(row, 0, 2, blank) && fuzz_blank_span(row, W + 3, cols - 1, blank);
  }
  for (int row = last_row + 1; inside && row < rows; ++row) {
    inside = fuzz_blank_span(row, 0, cols - 1, blank);
  }
  fuzz_check(inside, "the plot renderer drew outside the plot area");
  fuzz_check_glyphs(settled);
}

// Printable ASCII takes one cell a byte; other bytes may take none or several.
bool fuzz_plain(const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < 0x20 || *c > 0x7e) return false;
  }
  return true;
}

// The title stays in row 0 when it is not drawn at all or fits there.
bool fuzz_title_in_row_0(int cols) {
  const int length = static_cast<int>(std::strlen(title));
  const int col = cols / 2 - length / 2;
  return col < 0 || (fuzz_plain(title) && col + length <= cols);
}

// Whether the cells of `row` from `col` on show `expected` as far as the
// window is wide.
bool fuzz_row_shows(int row, int col, const char* expected) {
  const int length = static_cast<int>(std::strlen(expected));
  const int shown = std::min(length, getmaxx(stdscr) - col);
  for (int k = 0; k < shown; ++k) {
    cchar_t cell{};
    mvwin_wch(stdscr, row, col + k, &cell);
    const wchar_t shown_char = fuzz_parts(cell).text[0];
    if (shown_char != static_cast<wchar_t>(expected[k])) {
      std::fprintf(stderr, "paint_fuzz: row %d column %d shows U+%04lX, expected '%c' of '%.80s'\n",
                   row, col + k, static_cast<unsigned long>(shown_char), expected[k], expected);
      return false;
    }
  }
  return true;
}

// The numbers of the scale labels and of statistics line 1, where nothing
// drawn later may cover them. A label row shows the last label drawn on it
// from column 4; what an earlier, longer label wrapped onto it lies left of
// that or beyond the number. Statistics line 1 is covered by long labels, so
// it is looked at only in frames without labels.
void fuzz_check_texts(const char* message) {
  const int rows = getmaxy(stdscr);
  const int cols = getmaxx(stdscr);
  const int H = plot_height;
  if (!fuzz_title_in_row_0(cols)) return;
  const bool message_shown = message != nullptr || sample_count <= 0;
  if (message != nullptr && !fuzz_plain(message)) return;

  const int n = fuzz_scan_length();
  const fuzz_stats s1 = fuzz_scan(values1, n);
  const fuzz_scale scale = fuzz_frame_scale(s1, fuzz_scan(values2, n));
  char text[1600];
  if (scale.top - scale.bottom >= 0.1) {
    // Inner values below 0.01 in magnitude print as a plain 0.0.
    double values[4] = {scale.top, (3.0 * scale.top) * 0.25 + scale.bottom * 0.25,
                        scale.bottom * 0.5 + 0.5 * scale.top,
                        (3.0 * scale.bottom) * 0.25 + 0.25 * scale.top};
    for (int k = 1; k < 4; ++k) {
      if (std::fabs(values[k]) < 0.01) values[k] = +0.0;
    }
    const int label_rows[4] = {1, H / 4 + 1, H / 2 + 1, (3 * H) / 4 + 1};
    for (int k = 0; k < 4; ++k) {
      if (k < 3 && label_rows[k + 1] == label_rows[k]) continue;  // drawn over
      if (message_shown && label_rows[k] == rows / 2) continue;
      std::snprintf(text, sizeof text, "%.1f", values[k]);
      fuzz_check(fuzz_row_shows(label_rows[k], 4, text), "a scale label does not show its value");
    }
  } else if (sample_count > 0) {
    std::snprintf(text, sizeof text, "last=%.1f min=%.1f max=%.1f avg=%.1f ", values1[newest_index],
                  s1.min, s1.max, s1.avg);
    fuzz_check(fuzz_row_shows(rows - 2, 7, text),
               "statistics line 1 does not show the series' figures");
  }
}

void fuzz_frame(fuzz_reader& in, const char* message, const fuzz_glyphs& settled) {
  const int rows = 1 + in.u16() % kMaxRows;
  const int cols = 1 + in.u16() % kMaxScreenCols;
  // The window change: curses' size, and the size stored as start-up stores it.
  if (resize_term(rows, cols) == ERR) fuzz_fail("resize_term refused the window size");
  screen_rows = getmaxy(stdscr);
  screen_cols = getmaxx(stdscr);
  const int width_before = plot_width;
  const int height_before = plot_height;

  paint_frame(message);

  fuzz_check_glyphs(settled);
  attr_t attrs = 0;
  short pair = 0;
  wattr_get(stdscr, &attrs, &pair, nullptr);
  fuzz_check(attrs == 0 && pair == 0, "window attributes left on after the frame");
  const bool painted = rows >= kMinPaintRows && cols >= kMinPaintCols;
  if (painted) {
    if (plot_width != cols - 4 || plot_height != rows - 4) {
      std::fprintf(stderr, "paint_fuzz: window %dx%d, plot %dx%d\n", rows, cols, plot_height,
                   plot_width);
      fuzz_fail("the ring modulus is not the painted window's plot width");
    }
    fuzz_check_texts(message);
    fuzz_check_renderer_bounds(settled);
  } else {
    fuzz_check(plot_width == width_before && plot_height == height_before,
               "a window too small to paint changed the ring modulus");
  }
}

void fuzz_add_option(std::vector<std::string>& words, const char* option, const std::string& arg) {
  words.emplace_back(option);
  words.push_back(arg);
}

std::string fuzz_number_word(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);  // atof gives back exactly v
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::setlocale(LC_ALL, kLocale) == nullptr) {
    std::fprintf(stderr, "paint_fuzz: locale %s is missing\n", kLocale);
    std::abort();
  }
  // One screen for the whole process: made per input, screens are slow and leak.
  FILE* out = std::fopen("/dev/null", "w");
  FILE* in = std::fopen("/dev/null", "r");
  if (out == nullptr || in == nullptr || newterm(kTerm, out, in) == nullptr) {
    std::fprintf(stderr, "paint_fuzz: no %s screen on /dev/null\n", kTerm);
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_reader in{data, size};
  const std::uint8_t modes = in.u8();
  const std::uint8_t options = in.u8();
  const std::uint8_t texts = in.u8();

  std::vector<std::string> words{"vantrel"};
  const char* flags[5] = {"-2", "-b", "-B", "-f", "-r"};
  for (int k = 0; k < 5; ++k) {
    if (modes & (1u << k)) words.emplace_back(flags[k]);
  }
  const char* limits[4] = {"-s", "-S", "-m", "-M"};
  for (int k = 0; k < 4; ++k) {
    if (options & (1u << k)) fuzz_add_option(words, limits[k], fuzz_number_word(in.value()));
  }
  const char* glyphs[3] = {"-c", "-e", "-E"};
  for (int k = 0; k < 3; ++k) {
    if (options & (1u << (4 + k))) fuzz_add_option(words, glyphs[k], in.text(in.u8() % 5));
  }
  if (options & 0x80) fuzz_add_option(words, "-C", in.text(in.u8() % 40));
  if (texts & 0x01) fuzz_add_option(words, "-t", in.text(in.u16() % 320));
  if (texts & 0x02) fuzz_add_option(words, "-u", in.text(in.u8() % 80));
  const std::string message = (modes & 0x80) ? in.text(in.u16() % 320) : std::string();

  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  if (settings_read_command_line(static_cast<int>(words.size()), argv.data()) != kKeepRunning) {
    std::fprintf(stderr, "paint_fuzz: harness error: the command line was refused\n");
    std::abort();
  }
  fake_time = (modes & 0x40) != 0;
  init_color_pairs();
  const fuzz_glyphs settled = fuzz_take_glyphs();

  input_reset();
  now.tv_sec = static_cast<time_t>(in.u64());
  now.tv_usec = 0;
  const double interval = in.value();
  last_interval = std::isfinite(interval) ? interval : 0.0;
  fuzz_history(in);

  const char* shown = (modes & 0x80) ? message.c_str() : nullptr;
  fuzz_frame(in, shown, settled);
  if (texts & 0x04) {
    fuzz_history(in);
    fuzz_frame(in, shown, settled);
  }
  return 0;
}

// SPDX-License-Identifier: MIT
// paint.cpp: the whole frame, repainted from state on every call, and the two
// renderers of the plot area: bars of character cells, and lines of braille
// dots or quadrant blocks. Everything is drawn on stdscr; the single
// wrefresh at the end of paint_plot is the only output to the terminal.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>

#include "vantrel.h"

char clock_text[256];
int plot_height;

const std::array<unsigned char, 8> braille_bits = {0x01, 0x08, 0x02, 0x10, 0x04, 0x20, 0x40, 0x80};
const std::array<unsigned char, 4> quadrant_bits = {0x01, 0x02, 0x04, 0x08};
const std::array<wchar_t, 16> quadrant_glyphs = {
    L' ',      L'\u2598', L'\u259D', L'\u2580', L'\u2596', L'\u258C', L'\u259E', L'\u259B',
    L'\u2597', L'\u259A', L'\u2590', L'\u259C', L'\u2584', L'\u2599', L'\u259F', L'\u2588',
};

namespace {

constexpr int kMinCols = 44;
constexpr int kMinRows = 5;
constexpr int kClockMinCols = 68;
constexpr int kBannerOffset = 40;  // banner starts at cols - 40
constexpr int kLegendCol = 5;
constexpr int kStatsCol = 7;
constexpr int kLabelCol = 4;
constexpr double kLabelMinSpan = 0.1;
constexpr double kLabelZero = 0.01;
constexpr const char* kFakeClock = "Thu Jan  1 00:00:00 1970";
constexpr wchar_t kBrailleBase = L'\u2800';
constexpr wchar_t kBrailleFull = L'\u28FF';
constexpr wchar_t kFullBlock = L'\u2588';
constexpr short kLine1Pair = 8;
constexpr short kLine2Pair = 9;
constexpr std::size_t kSubcellRunMax = 256;  // cells the sub-cell plot writes in one call
// Bar heights are kept inside this so that row arithmetic cannot overflow.
constexpr double kMaxHeight = 1e8;

// The longest "%.1f" of a double: a sign, the 309 digits of DBL_MAX, ".0".
constexpr std::size_t kNumberTextMax = 1 + std::numeric_limits<double>::max_exponent10 + 1 + 2;
constexpr std::size_t kUnitMax = sizeof unit - 1;
// The texts are formatted here in whole, however long: curses' own formatted
// print (printw) misbehaves once a text is longer than the window holds.
constexpr std::size_t kStatsTextSize = 4 * (5 + kNumberTextMax) + 1 + kUnitMax + 3 + 1;
constexpr std::size_t kLabelTextSize = kNumberTextMax + 1 + kUnitMax + 1;
constexpr std::size_t kIntervalTextSize = 64;  // " interval=%.3gs" is at most 21 characters

struct paint_series_stats {
  double min;
  double max;
  double avg;
};

struct paint_scale {
  double top;
  double bottom;
};

void paint_attr_on(color_role role, short pair) {
  if (role_set(role)) wattr_on(stdscr, COLOR_PAIR(pair), nullptr);
}

void paint_attr_off(color_role role, short pair) {
  if (role_set(role)) wattr_off(stdscr, COLOR_PAIR(pair), nullptr);
}

void paint_wide_cell(int row, int col, wchar_t wc, short pair) {
  const cchar_t cell = glyph_cell(wc, 0, pair);
  if (wmove(stdscr, row, col) != ERR) wadd_wch(stdscr, &cell);
}

// The whole text from (row, col), wrapping as curses wraps a long text.
void paint_text(int row, int col, const char* text) {
  if (wmove(stdscr, row, col) != ERR) waddnstr(stdscr, text, -1);
}

// A formatted text whose buffer was sized for the longest possible one.
template <std::size_t N, typename... Args>
void paint_format(std::array<char, N>& buf, const char* format, Args... args) {
  std::snprintf(buf.data(), buf.size(), format, args...);
}

// ---- frame pieces, in the order they are drawn

void paint_clock(int rows, int cols) {
  const char* text = kFakeClock;
  if (!fake_time) {
    const time_t seconds = now.tv_sec;
    struct tm parts {};
    clock_text[0] = '\0';
    if (localtime_r(&seconds, &parts) != nullptr) asctime_r(&parts, clock_text);
    const std::size_t len = std::strlen(clock_text);
    if (len > 0 && clock_text[len - 1] == '\n') clock_text[len - 1] = '\0';
    text = clock_text;
  }
  const int length = static_cast<int>(std::strlen(text));
  paint_text(rows - 2, cols - length - 1, text);
}

void paint_legend(int row, bool line2) {
  if (braille_mode || block_mode) {
    paint_wide_cell(row, kLegendCol, braille_mode ? kBrailleFull : kFullBlock,
                    line2 ? kLine2Pair : kLine1Pair);
  } else if (wmove(stdscr, row, kLegendCol) != ERR) {
    if (line2) {
      waddch(stdscr, ' ' | A_REVERSE);
    } else {
      wvline_set(stdscr, &plot_cell, 1);
    }
  }
}

void paint_axes(int rows, int W, int H) {
  paint_attr_on(ROLE_AXES, 2);
  if (wmove(stdscr, rows - 3, 2) != ERR) whline(stdscr, ACS_HLINE, W);
  if (wmove(stdscr, 2, 2) != ERR) wvline(stdscr, ACS_VLINE, H);
  if (wmove(stdscr, rows - 3, W + 2) != ERR) waddch(stdscr, '>');
  if (wmove(stdscr, 1, 2) != ERR) waddch(stdscr, '^');
  if (wmove(stdscr, rows - 3, 2) != ERR) waddch(stdscr, ACS_LLCORNER);
  paint_attr_off(ROLE_AXES, 2);
}

void paint_label(int row, double value) {
  std::array<char, kLabelTextSize> text;
  paint_format(text, "%.1f %s", value, unit);
  paint_text(row, kLabelCol, text.data());
}

// The three inner label values, each with the 0.01 rule applied.
std::array<double, 3> paint_inner_labels(double top, double bottom) {
  std::array<double, 3> v = {
      (3.0 * top) * 0.25 + bottom * 0.25,
      bottom * 0.5 + 0.5 * top,
      (3.0 * bottom) * 0.25 + 0.25 * top,
  };
  for (double& x : v) {
    if (std::fabs(x) < kLabelZero) x = +0.0;
  }
  return v;
}

void paint_labels(int H, double top, double bottom) {
  const double span = top - bottom;
  if (!(span >= kLabelMinSpan)) return;
  paint_attr_on(ROLE_TEXT, 3);
  const std::array<double, 3> inner = paint_inner_labels(top, bottom);
  const std::array<int, 3> rows = {H / 4 + 1, H / 2 + 1, (3 * H) / 4 + 1};
  paint_label(1, top);
  for (std::size_t k = 0; k < inner.size(); ++k) paint_label(rows[k], inner[k]);
  paint_attr_off(ROLE_TEXT, 3);
}

// A statistics line from column 7; `tail` is the blanks after the unit.
void paint_stats_line(int row, double last, const paint_series_stats& s, const char* tail) {
  std::array<char, kStatsTextSize> text;
  paint_format(text, "last=%.1f min=%.1f max=%.1f avg=%.1f %s%s", last, s.min, s.max, s.avg, unit,
               tail);
  paint_text(row, kStatsCol, text.data());
}

void paint_title(int cols) {
  const int length = static_cast<int>(std::strlen(title));
  paint_attr_on(ROLE_TITLE, 4);
  paint_text(0, cols / 2 - length / 2, title);
  paint_attr_off(ROLE_TITLE, 4);
}

// ---- character-cell plot

// lrint of a product with the non-finite rule: a product that is not finite
// gives 0.
int paint_round(double product) {
  if (!std::isfinite(product)) return 0;
  if (product > kMaxHeight) product = kMaxHeight;
  if (product < -kMaxHeight) product = -kMaxHeight;
  return static_cast<int>(std::lrint(product));
}

// The pair a glyph cell takes while one column is drawn; 0 for none.
short paint_glyph_pair(const cchar_t* cell) {
  const short line = role_set(ROLE_LINE) ? 1 : 0;
  if (cell == &max_err_cell) return role_set(ROLE_MAX_ERR) ? 5 : line;
  if (cell == &min_err_cell) return role_set(ROLE_MIN_ERR) ? 6 : line;
  return line;
}

// The one way the painter changes a glyph cell, an opaque cchar_t: its
// character stays, its attributes become `attrs`, its pair `pair`.
void paint_restyle(cchar_t& cell, attr_t attrs, short pair) {
  std::array<wchar_t, CCHARW_MAX + 1> text{};
  attr_t old_attrs = 0;
  short old_pair = 0;
  getcchar(&cell, text.data(), &old_attrs, &old_pair, nullptr);
  setcchar(&cell, text.data(), attrs, pair, nullptr);
}

struct paint_bar {
  double value;
  int height;
  cchar_t* glyph;
  short pair;  // of the glyph, for this column
};

paint_bar paint_bar_for(double u, int H, double span, double bottom) {
  cchar_t* glyph = &plot_cell;
  int height = 0;
  if (u > hardmax) {
    glyph = &max_err_cell;
    height = H;
  } else if (u < hardmin) {
    glyph = &min_err_cell;
    height = 1;
  } else {
    height = paint_round((u - bottom) / span * static_cast<double>(H));
  }
  return {u, height, glyph, paint_glyph_pair(glyph)};
}

// One column's glyphs: bar 1, bar 2 (absent: height 0, plot_cell), q for the
// rows only bar 2 covers, and the reverse-video copy of bar 2's glyph.
struct paint_column {
  int H;
  int col;
  paint_bar b1;
  paint_bar b2;
  bool has2;
  const cchar_t* q;
  const cchar_t* reversed;
};

// A run of n cells of one glyph, downwards from (row, col). Every value
// within the scale maps to rows 1..H+1, since the scale covers every visible
// slot; the clip keeps a scale computed otherwise, or a ring that disagrees
// with sample_count, from drawing over the title or the legend.
void paint_run(const paint_column& c, int row, const cchar_t* cell, int n) {
  const int first = std::max(row, 1);
  const int last = std::min(row + n - 1, c.H + 1);
  if (last < first) return;
  if (wmove(stdscr, first, c.col) != ERR) wvline_set(stdscr, cell, last - first + 1);
}

void paint_bottom_runs(const paint_column& c) {
  const int h1 = c.b1.height;
  const int h2 = c.b2.height;
  const int y1 = c.H + 1 - h1;
  const int y2 = c.H + 1 - h2;
  if (h1 > h2) {
    paint_run(c, y1, c.b1.glyph, h1 - h2);
    paint_run(c, y2, c.reversed, h2);
  } else if (h1 == h2) {
    paint_run(c, y2, c.reversed, h2);
  } else {
    paint_run(c, y2, c.q, h2 - h1);
    paint_run(c, y1, c.reversed, h1);
  }
}

struct paint_span {
  int a;  // upper end
  int b;  // lower end
};

paint_span paint_zero_span(const paint_bar& bar, int H, int r0) {
  const int y = H + 1 - bar.height;
  if (bar.value > 0) return {y, r0};
  if (bar.value < 0) return {r0, y};
  return {r0, r0};
}

void paint_zero_runs(const paint_column& c, int r0) {
  const paint_span s1 = paint_zero_span(c.b1, c.H, r0);
  if (!c.has2) {
    paint_run(c, s1.a, c.b1.glyph, s1.b - s1.a + 1);
    return;
  }
  const paint_span s2 = paint_zero_span(c.b2, c.H, r0);
  if (s1.a < s2.a) paint_run(c, s1.a, c.b1.glyph, s2.a - s1.a);
  if (s2.a < s1.a) paint_run(c, s2.a, c.q, s1.a - s2.a);
  const int common_top = std::max(s1.a, s2.a);
  const int common_bottom = std::min(s1.b, s2.b);
  if (common_top <= common_bottom)
    paint_run(c, common_top, c.reversed, common_bottom - common_top + 1);
  if (s2.b < s1.b) paint_run(c, s2.b + 1, c.b1.glyph, s1.b - s2.b);
  if (s1.b < s2.b) paint_run(c, s1.b + 1, c.q, s2.b - s1.b);
}

// ---- statistics and scale

paint_series_stats paint_stats(const double* ring, int n) {
  if (n <= 0) return {kFltMax, -kFltMax, NAN};
  double sum = 0.0;
  double max = -kFltMax;
  double min = kFltMax;
  for (int i = 0; i < n; ++i) {
    const double v = ring[i];
    sum = sum + v;
    if (v > max) max = v;
    if (v < min) min = v;
  }
  return {min, max, sum / static_cast<double>(n)};
}

paint_scale paint_compute_scale(const paint_series_stats& s1, const paint_series_stats& s2) {
  const double data_top = s1.max > s2.max ? s1.max : s2.max;
  double top = softmax > data_top ? softmax : data_top;
  if (hardmax != kFltMax) top = hardmax;
  const double data_bottom = s1.min < s2.min ? s1.min : s2.min;
  double bottom = softmin < data_bottom ? softmin : data_bottom;
  if (hardmin != -kFltMax) bottom = hardmin;
  return {top, bottom};
}

}  // namespace

// ---- the frame

void show_message(const char* text) {
  const int length = static_cast<int>(std::strlen(text));
  const int row = screen_rows / 2;
  const int col = length > screen_cols ? 0 : screen_cols / 2 - length / 2;
  paint_attr_on(ROLE_TITLE, 4);
  if (wmove(stdscr, row, col) != ERR) waddnstr(stdscr, text, screen_cols);
  paint_attr_off(ROLE_TITLE, 4);
}

void paint_plot(const char* message) {
  paint_frame(message);
  wrefresh(stdscr);
}

void paint_frame(const char* message) {
  // size test, on the size as last stored
  if (screen_cols < kMinCols || screen_rows < kMinRows) {
    show_message("Window too small...");
    return;
  }

  // geometry
  werase(stdscr);
  screen_rows = getmaxy(stdscr);
  screen_cols = getmaxx(stdscr);
  plot_width = screen_cols - 4;
  plot_height = screen_rows - 4;
  if (plot_width > kMaxPlotWidth) {
    // The rings cannot hold a wider history. Give the terminal back first.
    endwin();
    std::fprintf(stderr, "vantrel: the window is wider than %d columns, the widest it can plot\n",
                 kMaxScreenCols);
    std::exit(1);
  }
  const int rows = screen_rows;
  const int cols = screen_cols;
  const int W = plot_width;
  const int H = plot_height;

  // statistics and scale
  const int n = sample_count > W ? W : static_cast<int>(sample_count);
  const paint_series_stats s1 = paint_stats(values1, n);
  const paint_series_stats s2 = paint_stats(values2, n);
  const paint_scale scale = paint_compute_scale(s1, s2);

  // banner, clock, legend and statistics, in the text color
  paint_attr_on(ROLE_TEXT, 3);
  paint_text(rows - 1, cols - kBannerOffset, kBanner);
  if (cols >= kClockMinCols) paint_clock(rows, cols);
  paint_legend(rows - 2, false);
  if (sample_count > 0) {
    paint_stats_line(rows - 2, values1[newest_index], s1, " ");
    if (rate_mode) {
      // behind the final blank of line 1, wherever the cursor stands
      std::array<char, kIntervalTextSize> interval;
      paint_format(interval, " interval=%.3gs", last_interval);
      waddnstr(stdscr, interval.data(), -1);
    }
  }
  if (two_values) {
    paint_legend(rows - 1, true);
    if (sample_count > 0) paint_stats_line(rows - 1, values2[newest_index], s2, "   ");
  }
  paint_attr_off(ROLE_TEXT, 3);

  // plot area
  const double* series2 = two_values ? values2 : nullptr;
  if (braille_mode) {
    draw_subcell_plot(H, W, series2, newest_index, 4, braille_bits.data(), nullptr, scale.top,
                      scale.bottom);
  } else if (block_mode) {
    draw_subcell_plot(H, W, series2, newest_index, 2, quadrant_bits.data(), quadrant_glyphs.data(),
                      scale.top, scale.bottom);
  } else {
    draw_char_columns(H, W, series2, newest_index, scale.top, scale.bottom);
  }

  paint_axes(rows, W, H);
  paint_labels(H, scale.top, scale.bottom);
  paint_title(cols);

  // message
  wmove(stdscr, 0, 0);
  if (message != nullptr) {
    show_message(message);
  } else if (sample_count <= 0) {
    show_message("waiting for data from stdin");
  }
}

// ---- character-cell plot

void draw_char_columns(int H, int W, const double* series2, int newest, double top, double bottom) {
  const double span = top - bottom;
  int z = 0;
  if (bottom < 0 && top > 0) {
    z = paint_round((0 - bottom) / span * static_cast<double>(H));
  } else if (top <= 0) {
    z = H;
  }
  const int r0 = H + 1 - z;
  const short line_pair = role_set(ROLE_LINE) ? 1 : 0;
  paint_attr_on(ROLE_LINE, 1);

  int i = ring_next(newest, W);
  for (int col = 3; col <= W + 2; ++col, i = ring_next(i, W)) {
    const double u1 = values1[i];
    if (std::isnan(u1)) continue;
    const bool has2 = series2 != nullptr && !std::isnan(series2[i]);
    const paint_bar b1 = paint_bar_for(u1, H, span, bottom);
    const paint_bar b2 = has2 ? paint_bar_for(series2[i], H, span, bottom)
                              : paint_bar{0.0, 0, &plot_cell, line_pair};

    // color the shared cells for this column
    if (b1.pair != 0) paint_restyle(*b1.glyph, 0, b1.pair);
    if (b2.pair != 0) paint_restyle(*b2.glyph, 0, b2.pair);
    if (line_pair != 0) paint_restyle(second_line_cell, A_REVERSE, line_pair);
    // Only a second bar has rows in reverse video; a lone bar never draws them.
    cchar_t reversed = *b2.glyph;
    if (has2) paint_restyle(reversed, A_REVERSE, b2.pair);
    const cchar_t* q = b2.glyph == &plot_cell ? &second_line_cell : &reversed;

    const paint_column c{H, col, b1, b2, has2, q, &reversed};
    if (z == 0) {
      paint_bottom_runs(c);
    } else {
      paint_zero_runs(c, r0);
    }

    // back to the base cells
    if (b1.pair != 0) paint_restyle(*b1.glyph, 0, 0);
    if (b2.pair != 0) paint_restyle(*b2.glyph, 0, 0);
    if (line_pair != 0) paint_restyle(second_line_cell, A_REVERSE, 0);
  }

  paint_attr_off(ROLE_LINE, 1);
}

// ---- sub-cell plot

namespace {

struct paint_grids {
  int rows;
  int cols;
  int dots;  // dot rows per cell
  const unsigned char* dot_bits;
  unsigned char* bits;
  unsigned char* owner;
};

// Sets the dots from..to (dot rows) of dot column h in cell column s, one
// cell at a time: a long join costs a store per cell, not one per dot.
void paint_subcell_run(const paint_grids& g, int s, int h, int from, int to, unsigned char owner) {
  const int d = g.dots;
  for (int r = from / d; r <= to / d; ++r) {
    const int first = std::max(from - r * d, 0);
    const int last = std::min(to - r * d, d - 1);
    unsigned char mask = 0;
    for (int j = first; j <= last; ++j) mask |= g.dot_bits[j * 2 + h];
    const std::size_t cell = static_cast<std::size_t>(r) * static_cast<std::size_t>(g.cols) +
                             static_cast<std::size_t>(s);
    g.bits[cell] |= mask;
    g.owner[cell] = owner;
  }
}

void paint_subcell_line(const paint_grids& g, const double* ring, int newest, unsigned char owner,
                        bool fill, double span, double bottom) {
  const int max_dot_row = g.dots * g.rows - 1;
  bool have_prev = false;
  int prev = 0;
  int slot = ring_next(newest, g.cols);
  for (int s = 0; s < g.cols; ++s, slot = ring_next(slot, g.cols)) {
    const int next_slot = ring_next(slot, g.cols);
    for (int h = 0; h < 2; ++h) {
      double u = ring[slot];
      if (std::isnan(u)) {
        have_prev = false;
        continue;
      }
      if (h == 1 && s + 1 < g.cols) {
        const double next = ring[next_slot];
        if (!std::isnan(next)) u = (u + next) * 0.5;
      }
      double t = (u - bottom) / span;
      if (0 > t) t = 0;
      if (t > 1) t = 1;
      const double scaled = static_cast<double>(max_dot_row) * t;
      const int p = max_dot_row - (std::isnan(scaled) ? 0 : static_cast<int>(std::lrint(scaled)));

      int from = p;
      int to = p;
      if (fill) {
        to = max_dot_row;
      } else if (have_prev) {
        from = std::min(prev, p);
        to = std::max(prev, p);
      }
      paint_subcell_run(g, s, h, from, to, owner);
      prev = p;
      have_prev = true;
    }
  }
}

}  // namespace

void draw_subcell_plot(int rows, int cols, const double* series2, int newest, int dots_per_cell,
                       const unsigned char* dot_bits, const wchar_t* glyphs, double top,
                       double bottom) {
  if (rows <= 0 || cols <= 0) return;
  double span = top - bottom;
  if (0 >= span) span = 1.0;

  const std::size_t cells = static_cast<std::size_t>(std::int64_t{rows} * std::int64_t{cols});
  const std::unique_ptr<unsigned char[]> bits(new (std::nothrow) unsigned char[cells]());
  if (!bits) return;
  const std::unique_ptr<unsigned char[]> owner(new (std::nothrow) unsigned char[cells]());
  if (!owner) return;

  const paint_grids g{rows, cols, dots_per_cell, dot_bits, bits.get(), owner.get()};
  const auto cells_per_row = static_cast<std::size_t>(cols);
  paint_subcell_line(g, values1, newest, 1, fill_mode != 0, span, bottom);
  if (series2 != nullptr) paint_subcell_line(g, series2, newest, 2, false, span, bottom);

  // Each run of cells with dots in a row goes to the window in one call, and
  // each distinct cell (dot bits and owner) is built once per frame.
  std::array<cchar_t, kSubcellRunMax> run;
  std::array<cchar_t, 512> built;  // index: bits, plus 256 for line 2
  std::array<bool, 512> is_built{};
  for (int r = 0; r < rows; ++r) {
    const unsigned char* const row_bits = bits.get() + static_cast<std::size_t>(r) * cells_per_row;
    const unsigned char* const row_owner =
        owner.get() + static_cast<std::size_t>(r) * cells_per_row;
    int c = 0;
    while (c < cols) {
      if (row_bits[c] == 0) {
        ++c;
        continue;
      }
      const int start = c;
      std::size_t n = 0;
      for (; c < cols && row_bits[c] != 0 && n < run.size(); ++c, ++n) {
        const unsigned char b = row_bits[c];
        const bool line2 = row_owner[c] == 2;
        const std::size_t key = b + (line2 ? 256u : 0u);
        if (!is_built[key]) {
          const wchar_t wc = glyphs != nullptr ? glyphs[b] : static_cast<wchar_t>(kBrailleBase + b);
          built[key] = glyph_cell(wc, 0, line2 ? kLine2Pair : kLine1Pair);
          is_built[key] = true;
        }
        run[n] = built[key];
      }
      if (wmove(stdscr, r + 1, start + 3) != ERR)
        wadd_wchnstr(stdscr, run.data(), static_cast<int>(n));
    }
  }
}

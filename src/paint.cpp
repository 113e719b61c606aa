// paint.cpp: the whole frame, repainted from state on every call, and the two
// renderers of the plot area: bars of character cells, and lines of braille
// dots or quadrant blocks. Everything is drawn on stdscr; the single
// wrefresh at the end of paint_plot is the only output to the terminal.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "vantrel.h"

char clock_text[256];

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
constexpr attr_t kPairBits = 0x700;          // the pair bits the character plot adds and clears
constexpr std::size_t kSubcellRunMax = 256;  // cells the sub-cell plot writes in one call
// Bar heights are kept inside this so that row arithmetic cannot overflow.
constexpr double kMaxHeight = 1e8;

void paint_attr_on(color_role role, short pair) {
  if (role_set(role)) wattr_on(stdscr, COLOR_PAIR(pair), nullptr);
}

void paint_attr_off(color_role role, short pair) {
  if (role_set(role)) wattr_off(stdscr, COLOR_PAIR(pair), nullptr);
}

cchar_t paint_cell(wchar_t wc, short pair) {
  const wchar_t text[2] = {wc, L'\0'};
  cchar_t cell;
  setcchar(&cell, text, 0, pair, nullptr);
  return cell;
}

void paint_wide_cell(int row, int col, wchar_t wc, short pair) {
  const cchar_t cell = paint_cell(wc, pair);
  if (wmove(stdscr, row, col) != ERR) wadd_wch(stdscr, &cell);
}

void paint_text(int row, int col, const char* text) {
  if (wmove(stdscr, row, col) != ERR) waddnstr(stdscr, text, -1);
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

void paint_labels(int H, double top, double bottom) {
  const double span = top - bottom;
  if (!(span >= kLabelMinSpan)) return;
  paint_attr_on(ROLE_TEXT, 3);
  const std::array<double, 3> inner = paint_inner_labels(top, bottom);
  const std::array<int, 3> rows = {H / 4 + 1, H / 2 + 1, (3 * H) / 4 + 1};
  mvprintw(1, kLabelCol, "%.1f %s", top, unit);
  for (std::size_t k = 0; k < inner.size(); ++k)
    mvprintw(rows[k], kLabelCol, "%.1f %s", inner[k], unit);
  paint_attr_off(ROLE_TEXT, 3);
}

void paint_title(int cols) {
  const int length = static_cast<int>(std::strlen(title));
  paint_attr_on(ROLE_TITLE, 4);
  paint_text(0, cols / 2 - length / 2, title);
  paint_attr_off(ROLE_TITLE, 4);
}

// ---- character-cell plot

// The pair bits a glyph cell takes while one column is drawn.
attr_t paint_glyph_pair(const cchar_t* cell) {
  const attr_t line = role_set(ROLE_LINE) ? COLOR_PAIR(1) : 0;
  if (cell == &max_err_cell) return role_set(ROLE_MAX_ERR) ? COLOR_PAIR(5) : line;
  if (cell == &min_err_cell) return role_set(ROLE_MIN_ERR) ? COLOR_PAIR(6) : line;
  return line;
}

struct paint_bar {
  int height;
  cchar_t* glyph;
};

paint_bar paint_bar_for(double u, int H, double span, double bottom) {
  if (u > hardmax) return {H, &max_err_cell};
  if (u < hardmin) return {1, &min_err_cell};
  return {paint_round((u - bottom) / span * static_cast<double>(H)), &plot_cell};
}

// A run of n cells of one glyph, downwards from (row, col). Rows outside the
// plot and its axis row are left alone: a value beyond the scale (a slot that
// the statistics did not scan) must not draw over the title or the legend.
void paint_run(int H, int row, int col, const cchar_t* cell, int n) {
  const int first = row < 1 ? 1 : row;
  const int last = row + n - 1 > H + 1 ? H + 1 : row + n - 1;
  if (last < first) return;
  if (wmove(stdscr, first, col) != ERR) wvline_set(stdscr, cell, last - first + 1);
}

void paint_bottom_runs(int H, int col, const paint_bar& b1, const paint_bar& b2, const cchar_t* q,
                       const cchar_t* reversed) {
  const int y1 = H + 1 - b1.height;
  const int y2 = H + 1 - b2.height;
  if (b1.height > b2.height) {
    paint_run(H, y1, col, b1.glyph, b1.height - b2.height);
    paint_run(H, y2, col, reversed, b2.height);
  } else if (b1.height == b2.height) {
    paint_run(H, y2, col, reversed, b2.height);
  } else {
    paint_run(H, y2, col, q, b2.height - b1.height);
    paint_run(H, y1, col, reversed, b1.height);
  }
}

struct paint_span {
  int a;  // upper end
  int b;  // lower end
};

paint_span paint_zero_span(double u, int y, int r0) {
  if (u > 0) return {y, r0};
  if (u < 0) return {r0, y};
  return {r0, r0};
}

void paint_zero_runs(int H, int col, int r0, double u1, const paint_bar& b1, const double* u2,
                     const paint_bar& b2, const cchar_t* q, const cchar_t* reversed) {
  const paint_span s1 = paint_zero_span(u1, H + 1 - b1.height, r0);
  if (u2 == nullptr) {
    paint_run(H, s1.a, col, b1.glyph, s1.b - s1.a + 1);
    return;
  }
  const paint_span s2 = paint_zero_span(*u2, H + 1 - b2.height, r0);
  if (s1.a < s2.a) paint_run(H, s1.a, col, b1.glyph, s2.a - s1.a);
  if (s2.a < s1.a) paint_run(H, s2.a, col, q, s1.a - s2.a);
  const int common_top = std::max(s1.a, s2.a);
  const int common_bottom = std::min(s1.b, s2.b);
  if (common_top <= common_bottom)
    paint_run(H, common_top, col, reversed, common_bottom - common_top + 1);
  if (s2.b < s1.b) paint_run(H, s2.b + 1, col, b1.glyph, s1.b - s2.b);
  if (s1.b < s2.b) paint_run(H, s1.b + 1, col, q, s2.b - s1.b);
}

}  // namespace

// ---- pure pieces

int paint_round(double product) {
  if (!std::isfinite(product)) return 0;
  if (product > kMaxHeight) product = kMaxHeight;
  if (product < -kMaxHeight) product = -kMaxHeight;
  return static_cast<int>(std::lrint(product));
}

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
    mvprintw(rows - 2, kStatsCol, "last=%.1f min=%.1f max=%.1f avg=%.1f %s ", values1[newest_index],
             s1.min, s1.max, s1.avg, unit);
    if (rate_mode) printw(" interval=%.3gs", last_interval);
  }
  if (two_values) {
    paint_legend(rows - 1, true);
    if (sample_count > 0) {
      mvprintw(rows - 1, kStatsCol, "last=%.1f min=%.1f max=%.1f avg=%.1f %s   ",
               values2[newest_index], s2.min, s2.max, s2.avg, unit);
    }
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
  const bool line_set = role_set(ROLE_LINE);
  if (line_set) wattr_on(stdscr, COLOR_PAIR(1), nullptr);

  int i = (newest + 1) % W;
  for (int col = 3; col <= W + 2; ++col, i = (i + 1) % W) {
    const double u1 = values1[i];
    if (std::isnan(u1)) continue;
    const paint_bar b1 = paint_bar_for(u1, H, span, bottom);
    const bool has2 = series2 != nullptr && !std::isnan(series2[i]);
    const paint_bar b2 =
        has2 ? paint_bar_for(series2[i], H, span, bottom) : paint_bar{0, &plot_cell};

    // color the shared cells for this column
    b1.glyph->attr |= paint_glyph_pair(b1.glyph);
    b2.glyph->attr |= paint_glyph_pair(b2.glyph);
    if (line_set) second_line_cell.attr |= COLOR_PAIR(1);
    cchar_t reversed = *b2.glyph;
    reversed.attr |= A_REVERSE;
    const cchar_t* q = b2.glyph == &plot_cell ? &second_line_cell : &reversed;

    if (z == 0) {
      paint_bottom_runs(H, col, b1, b2, q, &reversed);
    } else {
      paint_zero_runs(H, col, r0, u1, b1, has2 ? &series2[i] : nullptr, b2, q, &reversed);
    }

    // back to the base attribute words
    b1.glyph->attr &= ~kPairBits;
    b2.glyph->attr &= ~kPairBits;
    if (line_set) second_line_cell.attr &= ~static_cast<attr_t>(COLOR_PAIR(1));
  }

  if (line_set) wattr_off(stdscr, COLOR_PAIR(1), nullptr);
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
  // slot = (newest + 1 + s) mod cols, stepped rather than divided.
  int slot = (newest + 1) % g.cols;
  for (int s = 0; s < g.cols; ++s, slot = slot + 1 == g.cols ? 0 : slot + 1) {
    const int next_slot = slot + 1 == g.cols ? 0 : slot + 1;
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
          built[key] = paint_cell(wc, line2 ? kLine2Pair : kLine1Pair);
          is_built[key] = true;
        }
        run[n] = built[key];
      }
      if (wmove(stdscr, r + 1, start + 3) != ERR)
        wadd_wchnstr(stdscr, run.data(), static_cast<int>(n));
    }
  }
}

// SPDX-License-Identifier: MIT
// Screen tests of the character-cell plot: draw_char_columns is called
// directly with a chosen height, width and scale, and every cell of the
// column is read back (glyph, reverse video, color pair).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "support/curses_screen.h"
#include "vantrel.h"

namespace {

constexpr int kScreenRows = 20;
constexpr int kScreenCols = 50;
constexpr int kW = 40;
constexpr double kNoMax = kFltMax;
constexpr double kNoMin = -kFltMax;

// One letter per cell: ' ' blank, '|' plot_cell, 'e' max_err_cell,
// 'v' min_err_cell; reversed: '#' blank (second_line_cell), 'I' plot_cell,
// 'E' and 'V' the error glyphs; '?' anything else.
char glyph_code(const screen_cell& c) {
  char code = '?';
  if (c.ch == L' ') code = ' ';
  if (c.ch == L'\u2502') code = '|';
  if (c.ch == L'e') code = 'e';
  if (c.ch == L'v') code = 'v';
  if (!c.reverse() || code == '?') return code;
  switch (code) {
    case ' ': return '#';
    case '|': return 'I';
    default: return static_cast<char>(code - 'a' + 'A');
  }
}

// The whole column, row 0 to the last screen row.
std::string column_code(int col) {
  std::string out;
  for (const screen_cell& c : column_cells(col)) out += glyph_code(c);
  return out;
}

std::string column_pairs(int col) {
  std::string out;
  for (const screen_cell& c : column_cells(col)) out += std::to_string(c.pair);
  return out;
}

// What the column must hold: row 0 blank, the given rows 1..H+1, the rest blank.
std::string whole_column(const std::string& plot_rows, char fill = ' ') {
  return std::string(1, fill) + plot_rows + std::string(kScreenRows - 1 - plot_rows.size(), fill);
}

// No cell outside the given column holds anything.
void expect_only_column(int col) {
  for (int c = 0; c < kScreenCols; ++c) {
    if (c == col) continue;
    EXPECT_EQ(column_code(c), std::string(kScreenRows, ' ')) << "column " << c;
  }
}

// Attributes and pair of a glyph cell, as "attrs/pair".
std::string cell_style(const cchar_t& cell) {
  wchar_t text[CCHARW_MAX + 1] = {};
  attr_t attrs = 0;
  short pair = 0;
  getcchar(&cell, text, &attrs, &pair, nullptr);
  return std::to_string(attrs) + "/" + std::to_string(pair);
}

void expect_glyph_cells_restored() {
  EXPECT_EQ(cell_style(plot_cell), "0/0");
  EXPECT_EQ(cell_style(max_err_cell), "0/0");
  EXPECT_EQ(cell_style(min_err_cell), "0/0");
  EXPECT_EQ(cell_style(second_line_cell), std::to_string(A_REVERSE) + "/0");
  EXPECT_EQ(getattrs(stdscr) & A_COLOR, 0) << "window attribute still colored";
}

struct Case {
  const char* name;
  int H;
  double top;
  double bottom;
  double hardmax;
  double hardmin;
  double u1;
  double u2;  // NaN with two: an empty series-2 slot
  bool two;
  const char* rows;  // rows 1..H+1 of column 3
};

// Draws slot 0 (and nothing else) into column 3.
void draw_one_column(const Case& c) {
  hardmax = c.hardmax;
  hardmin = c.hardmin;
  values1[0] = c.u1;
  values2[0] = c.u2;
  draw_char_columns(c.H, kW, c.two ? values2 : nullptr, kW - 1, c.top, c.bottom);
}

TEST(CharPlot, ColumnsOfSingleSamples) {
  const Case cases[] = {
      // H = 10, scale -2..4: zero height 3, zero row 8
      {"zero row, 4", 10, 4, -2, kNoMax, kNoMin, 4, NAN, false, "||||||||   "},
      {"zero row, 1", 10, 4, -2, kNoMax, kNoMin, 1, NAN, false, "     |||   "},
      {"zero row, 0", 10, 4, -2, kNoMax, kNoMin, 0, NAN, false, "       |   "},
      {"zero row, -1", 10, 4, -2, kNoMax, kNoMin, -1, NAN, false, "       ||  "},
      {"zero row, -2 reaches the axis row", 10, 4, -2, kNoMax, kNoMin, -2, NAN, false,
       "       ||||"},
      // 2.5 and 7.5 round to the even height
      {"bottom, 1 -> 2.5", 10, 4, 0, kNoMax, kNoMin, 1, NAN, false, "        || "},
      {"bottom, 3 -> 7.5", 10, 4, 0, kNoMax, kNoMin, 3, NAN, false, "  |||||||| "},
      {"bottom, 0 draws nothing", 10, 4, 0, kNoMax, kNoMin, 0, NAN, false, "           "},
      // H = 6, hard limits 4 and 10
      {"hard, 4", 6, 10, 4, 10, 4, 4, NAN, false, "       "},
      {"hard, 3.5", 6, 10, 4, 10, 4, 3.5, NAN, false, "     v "},
      {"hard, 5", 6, 10, 4, 10, 4, 5, NAN, false, "     | "},
      {"hard, 10", 6, 10, 4, 10, 4, 10, NAN, false, "|||||| "},
      {"hard, 10.5", 6, 10, 4, 10, 4, 10.5, NAN, false, "eeeeee "},
      // beyond FLT_MAX without -m / -M
      {"1e39", 10, 10, 0, kNoMax, kNoMin, 1e39, NAN, false, "eeeeeeeeee "},
      {"-1e39", 10, 10, 0, kNoMax, kNoMin, -1e39, NAN, false, "         v "},
      {"-1e39, zero row", 10, 4, -4, kNoMax, kNoMin, -1e39, NAN, false, "     vvvvv "},
      // two series, bottom mode, scale 0..10
      {"5 and 3", 10, 10, 0, kNoMax, kNoMin, 5, 3, true, "     ||III "},
      {"3 and 5", 10, 10, 0, kNoMax, kNoMin, 3, 5, true, "     ##III "},
      {"5 and 5", 10, 10, 0, kNoMax, kNoMin, 5, 5, true, "     IIIII "},
      {"5 and an empty slot", 10, 10, 0, kNoMax, kNoMin, 5, NAN, true, "     ||||| "},
      // two series, scale -4..4: zero height 5, zero row 6
      {"4 and -2", 10, 4, -4, kNoMax, kNoMin, 4, -2, true, "|||||I###  "},
      {"-3 and 2", 10, 4, -4, kNoMax, kNoMin, -3, 2, true, "  ###I|||| "},
      {"series 2 above hardmax", 10, 10, 0, 10, kNoMin, 5, 11, true, "EEEEEEEEEE "},
      {"empty series 1", 10, 10, 0, kNoMax, kNoMin, NAN, 5, true, "           "},
      // top == bottom == 0: zero row 1, the formula height is 0
      {"zero with the default limits", 10, 0, 0, kNoMax, kNoMin, 0, NAN, false, "|          "},
      // Slots the statistics did not scan (after a width change) can lie far
      // beyond the scale; their bars stay inside the plot and its axis row.
      {"far above the scale", 10, 10, 0, kNoMax, kNoMin, 100, NAN, false, "|||||||||| "},
      {"far below the scale", 10, 4, -4, kNoMax, kNoMin, -100, NAN, false, "     ||||||"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    curses_screen screen(kScreenRows, kScreenCols);
    draw_one_column(c);
    EXPECT_EQ(column_code(3), whole_column(c.rows));
    EXPECT_EQ(column_pairs(3), std::string(kScreenRows, '0'));
    expect_only_column(3);
    expect_glyph_cells_restored();
  }
}

TEST(CharPlot, ColorPairsOfTheGlyphs) {
  struct PairCase {
    Case draw;
    int line;
    int max_err;
    int min_err;
    const char* pairs;  // rows 1..H+1
  };
  const PairCase cases[] = {
      {{"line: plot and reversed", 10, 10, 0, kNoMax, kNoMin, 5, 3, true, "     ||III "},
       1,
       -1,
       -1,
       "00000111110"},
      {{"line: reverse blank", 10, 10, 0, kNoMax, kNoMin, 3, 5, true, "     ##III "},
       1,
       -1,
       -1,
       "00000111110"},
      {{"line: max_err glyph", 10, 10, 0, 10, kNoMin, 11, NAN, false, "eeeeeeeeee "},
       1,
       -1,
       -1,
       "11111111110"},
      {{"line: min_err glyph", 10, 10, 0, kNoMax, 0, -1, NAN, false, "         v "},
       1,
       -1,
       -1,
       "00000000010"},
      {{"line: reversed error glyph", 10, 10, 0, 10, kNoMin, 5, 11, true, "EEEEEEEEEE "},
       1,
       -1,
       -1,
       "11111111110"},
      {{"max_err: plain", 10, 10, 0, 10, kNoMin, 11, NAN, false, "eeeeeeeeee "},
       1,
       5,
       -1,
       "55555555550"},
      {{"max_err: reversed", 10, 10, 0, 10, kNoMin, 5, 11, true, "EEEEEEEEEE "},
       1,
       5,
       -1,
       "55555555550"},
      {{"max_err over a plain bar", 10, 10, 0, 10, kNoMin, 11, 5, true, "eeeeeIIIII "},
       1,
       5,
       -1,
       "55555111110"},
      {{"max_err without line", 10, 10, 0, 10, kNoMin, 11, 5, true, "eeeeeIIIII "},
       -1,
       5,
       -1,
       "55555000000"},
      {{"min_err", 10, 10, 0, kNoMax, 0, -1, NAN, false, "         v "}, 1, -1, 6, "00000000060"},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.draw.name);
    curses_screen screen(kScreenRows, kScreenCols);
    colors[ROLE_LINE] = c.line;
    colors[ROLE_MAX_ERR] = c.max_err;
    colors[ROLE_MIN_ERR] = c.min_err;
    draw_one_column(c.draw);
    EXPECT_EQ(column_code(3), whole_column(c.draw.rows));
    EXPECT_EQ(column_pairs(3), whole_column(c.pairs, '0'));
    expect_glyph_cells_restored();
  }
}

// The k-th column from the left shows slot (newest + 1 + k) mod W, also when
// newest lies beyond the ring after the window narrowed.
TEST(CharPlot, ColumnOrderFollowsTheRing) {
  struct OrderCase {
    int newest;
    int slot;
    int col;
  };
  const OrderCase cases[] = {{kW - 1, 0, 3}, {-1, 0, 3}, {5, 6, 3},
                             {5, 5, kW + 2}, {45, 6, 3}, {45, 5, kW + 2}};
  for (const OrderCase& c : cases) {
    SCOPED_TRACE("newest " + std::to_string(c.newest) + " slot " + std::to_string(c.slot));
    curses_screen screen(kScreenRows, kScreenCols);
    values1[c.slot] = 10;
    draw_char_columns(10, kW, nullptr, c.newest, 10, 0);
    EXPECT_EQ(column_code(c.col), whole_column("|||||||||| "));
    expect_only_column(c.col);
  }
}

// Every column of a full ring is drawn, glyph and pair changing from column
// to column.
TEST(CharPlot, EveryColumnOfAFullRing) {
  curses_screen screen(kScreenRows, kScreenCols);
  colors[ROLE_MAX_ERR] = 5;
  hardmax = 10;
  for (int slot = 0; slot < kW; ++slot) values1[slot] = slot % 2 == 0 ? 11 : 5;
  draw_char_columns(10, kW, nullptr, kW - 1, 10, 0);
  for (int col = 3; col < kW + 3; ++col) {
    const bool error = (col - 3) % 2 == 0;
    SCOPED_TRACE("column " + std::to_string(col));
    EXPECT_EQ(column_code(col), whole_column(error ? "eeeeeeeeee " : "     ||||| "));
    EXPECT_EQ(column_pairs(col), whole_column(error ? "55555555550" : "00000000000", '0'));
  }
  expect_glyph_cells_restored();
}

}  // namespace

// SPDX-License-Identifier: MIT
// Screen tests of the sub-cell plot (braille dots and quadrant blocks):
// draw_subcell_plot called directly, then every non-blank cell of the screen
// compared with the expected list; and the sub-cell legend through paint_plot.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "support/curses_screen.h"
#include "vantrel.h"

namespace {

constexpr int kScreenRows = 10;
constexpr int kScreenCols = 50;
constexpr int kW = 40;

struct dot_cell {
  int row;
  int col;
  wchar_t ch;
  short pair;
  bool operator==(const dot_cell& o) const {
    return row == o.row && col == o.col && ch == o.ch && pair == o.pair;
  }
};

std::ostream& operator<<(std::ostream& os, const dot_cell& c) {
  return os << "{row " << c.row << ", col " << c.col << ", U+" << std::hex
            << static_cast<unsigned long>(c.ch) << std::dec << ", pair " << c.pair << "}";
}

// Every cell of the screen that is not a plain blank, row by row.
std::vector<dot_cell> drawn_cells() {
  std::vector<dot_cell> out;
  for (int row = 0; row < getmaxy(stdscr); ++row) {
    for (int col = 0; col < getmaxx(stdscr); ++col) {
      const screen_cell c = cell_at(row, col);
      if (c.ch != L' ' || c.attrs != 0 || c.pair != 0) out.push_back({row, col, c.ch, c.pair});
    }
  }
  return out;
}

// The same glyph and pair in columns from..to of one row.
std::vector<dot_cell> run_of(int row, int from, int to, wchar_t ch, short pair) {
  std::vector<dot_cell> out;
  for (int col = from; col <= to; ++col) out.push_back({row, col, ch, pair});
  return out;
}

std::vector<dot_cell> concat(std::vector<dot_cell> a, const std::vector<dot_cell>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

enum subcell_mode { BRAILLE, BLOCK };

struct slot_value {
  int slot;
  double value;
};

struct Case {
  const char* name;
  subcell_mode mode;
  int fill;
  int rows;
  int newest;
  std::vector<slot_value> line1;
  std::vector<slot_value> line2;  // empty: one series
  double top;
  double bottom;
  std::vector<dot_cell> expected;
};

std::vector<slot_value> every_slot(double v) {
  std::vector<slot_value> out;
  for (int slot = 0; slot < kW; ++slot) out.push_back({slot, v});
  return out;
}

TEST(SubcellPlot, CellsOfTheExamples) {
  const double nan = NAN;
  const Case cases[] = {
      // 0 then 3: the first cell's right column at the mean 1.5 joins down to dot row 3
      {"braille, 0 then 3",
       BRAILLE,
       0,
       1,
       1,
       {{0, 0}, {1, 3}},
       {},
       3,
       0,
       {{1, 41, L'\u28F0', 8}, {1, 42, L'\u280B', 8}}},
      {"braille, line 2 crosses line 1",
       BRAILLE,
       0,
       1,
       1,
       {{0, 0}, {1, 3}},
       {{0, 3}, {1, 0}},
       3,
       0,
       {{1, 41, L'\u28F9', 9}, {1, 42, L'\u28CF', 9}}},
      {"block, 0 3 empty 1",
       BLOCK,
       0,
       2,
       kW - 1,
       {{36, 0}, {37, 3}, {38, nan}, {39, 1}},
       {},
       3,
       0,
       {{1, 39, L'\u2597', 8},
        {1, 40, L'\u259B', 8},
        {2, 39, L'\u259F', 8},
        {2, 42, L'\u2580', 8}}},
      {"block, 0 3 empty 1, filled",
       BLOCK,
       1,
       2,
       kW - 1,
       {{36, 0}, {37, 3}, {38, nan}, {39, 1}},
       {},
       3,
       0,
       {{1, 39, L'\u2597', 8},
        {1, 40, L'\u2588', 8},
        {2, 39, L'\u259F', 8},
        {2, 40, L'\u2588', 8},
        {2, 42, L'\u2588', 8}}},
      // the last cell's right column shows the newest sample itself, not a
      // mean with the oldest slot that follows it in the ring
      {"oldest 0, newest 3",
       BRAILLE,
       0,
       1,
       kW - 1,
       {{0, 0}, {kW - 1, 3}},
       {},
       3,
       0,
       {{1, 3, L'\u28C0', 8}, {1, kW + 2, L'\u2809', 8}}},
      {"no sample yet", BRAILLE, 0, 2, -1, {}, {}, 0, 0, {}},
      {"no rows", BRAILLE, 0, 0, kW - 1, every_slot(1), {}, 3, 0, {}},
      // 6 of 0..10 on 8 dot rows: 7 - lrint(4.2) = dot row 3, the bottom of cell row 0
      {"flat", BRAILLE, 0, 2, kW - 1, every_slot(6), {}, 10, 0, run_of(1, 3, kW + 2, L'\u28C0', 8)},
      {"flat, filled",
       BRAILLE,
       1,
       2,
       kW - 1,
       every_slot(6),
       {},
       10,
       0,
       concat(run_of(1, 3, kW + 2, L'\u28C0', 8), run_of(2, 3, kW + 2, L'\u28FF', 8))},
      // span 0 counts as 1: values equal to bottom lie on the lowest dot row
      {"span 0",
       BRAILLE,
       0,
       2,
       kW - 1,
       every_slot(2),
       {},
       2,
       2,
       run_of(2, 3, kW + 2, L'\u28C0', 8)},
      // a value above such a scale sits half a span up: 7 - lrint(3.5) = dot row 3
      {"span 0, value above bottom",
       BRAILLE,
       0,
       2,
       kW - 1,
       {{0, 2.5}},
       {},
       2,
       2,
       {{1, 3, L'\u28C0', 8}}},
      {"above the top (hardmax)",
       BRAILLE,
       0,
       2,
       kW - 1,
       {{0, 15}},
       {},
       10,
       0,
       {{1, 3, L'\u2809', 8}}},
      {"NaN top", BRAILLE, 0, 1, kW - 1, {{0, 5}}, {}, nan, 0, {{1, 3, L'\u28C0', 8}}},
      {"line 2 far from line 1", BRAILLE, 0, 2, kW - 1, every_slot(10), every_slot(0), 10, 0,
       concat(run_of(1, 3, kW + 2, L'\u2809', 8), run_of(2, 3, kW + 2, L'\u28C0', 9))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    curses_screen screen(kScreenRows, kScreenCols);
    fill_mode = c.fill;
    for (const slot_value& v : c.line1) values1[v.slot] = v.value;
    for (const slot_value& v : c.line2) values2[v.slot] = v.value;
    const double* series2 = c.line2.empty() ? nullptr : values2;
    if (c.mode == BRAILLE) {
      draw_subcell_plot(c.rows, kW, series2, c.newest, 4, braille_bits.data(), nullptr, c.top,
                        c.bottom);
    } else {
      draw_subcell_plot(c.rows, kW, series2, c.newest, 2, quadrant_bits.data(),
                        quadrant_glyphs.data(), c.top, c.bottom);
    }
    EXPECT_EQ(drawn_cells(), c.expected);
  }
}

// paint_plot chooses the renderer and draws the sub-cell legend in the line
// pairs, whatever the text color; braille wins when both modes are set.
TEST(SubcellPlot, LegendAndRendererThroughTheFrame) {
  struct FrameCase {
    const char* name;
    int braille;
    int block;
    int text_color;
    wchar_t marker;
    wchar_t top_cell;     // line 1 at the top of the scale
    wchar_t bottom_cell;  // line 2 at the bottom
  };
  const FrameCase cases[] = {
      {"braille", 1, 0, -1, L'\u28FF', L'\u2809', L'\u28C0'},
      {"block", 0, 1, -1, L'\u2588', L'\u2580', L'\u2584'},
      {"both: braille wins", 1, 1, -1, L'\u28FF', L'\u2809', L'\u28C0'},
      {"text color set", 0, 1, 7, L'\u2588', L'\u2580', L'\u2584'},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    curses_screen screen(24, 80);
    braille_mode = c.braille;
    block_mode = c.block;
    two_values = 1;
    colors[ROLE_TEXT] = c.text_color;
    plot_width = 76;
    push_pair(5, 0);
    paint_plot(nullptr);

    const screen_cell m1 = cell_at(22, 5);
    const screen_cell m2 = cell_at(23, 5);
    EXPECT_EQ(m1.ch, c.marker);
    EXPECT_EQ(m1.pair, 8);
    EXPECT_EQ(m2.ch, c.marker);
    EXPECT_EQ(m2.pair, 9);
    EXPECT_FALSE(m2.reverse());
    // The one sample stands in the last column: line 1 on row 1, line 2 on row H.
    const screen_cell top = cell_at(1, 78);
    const screen_cell bottom = cell_at(20, 78);
    EXPECT_EQ(top.ch, c.top_cell);
    EXPECT_EQ(top.pair, 8);
    EXPECT_EQ(bottom.ch, c.bottom_cell);
    EXPECT_EQ(bottom.pair, 9);
  }
}

}  // namespace

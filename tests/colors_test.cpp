// SPDX-License-Identifier: MIT
// The color pairs that init_color_pairs defines, read back with pair_content
// on a virtual screen, and the pairs the painter puts on each part of the frame.
#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <string>
#include <vector>

#include "support/curses_screen.h"
#include "vantrel.h"

namespace {

// Runs the command line as start-up does; the screen must be open already.
void read_command_line(std::vector<std::string> args) {
  args.insert(args.begin(), "vantrel");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ASSERT_EQ(settings_read_command_line(static_cast<int>(args.size()), argv.data()), kKeepRunning);
}

// "no colors" when colors were never started on this screen; else the
// foreground of pairs 1 to 9, '.' for a pair that was not defined (a defined
// pair always has the default background, -1).
std::string pair_table() {
  short fg = 0;
  short bg = 0;
  if (COLOR_PAIRS == 0 && pair_content(1, &fg, &bg) == ERR) return "no colors";
  std::string out;
  for (short n = 1; n <= 9; ++n) {
    if (!out.empty()) out += ' ';
    fg = 0;
    bg = 0;
    if (pair_content(n, &fg, &bg) == ERR) {
      out += '!';
    } else {
      out += bg == -1 ? std::to_string(fg) : ".";
    }
  }
  return out;
}

TEST(ColorPairs, DefinedAtStartUp) {
  struct Case {
    std::vector<std::string> args;
    const char* pairs;
  };
  const Case cases[] = {
      {{"-C", "1"}, "1 . . . . . . . ."},
      {{"-C", "dark1"}, "1 6 7 3 1 2 . . ."},
      {{"-C", "light2"}, "4 2 0 3 1 5 . . ."},
      {{"-C", "0,7"}, "0 7 . . . . . . ."},
      {{"-b", "-C", "dark1"}, "1 6 7 3 1 2 . 1 2"},
      {{"-b", "-C", "dark2"}, "4 6 7 2 1 5 . 4 3"},
      {{"-B", "-C", "light1"}, "2 4 0 1 1 5 . 2 4"},
      {{"-b", "-C", "light2"}, "4 2 0 3 1 5 . 4 2"},
      {{"-b"}, ". . . . . . . 2 4"},
      {{"-B", "-C", "4"}, "4 . . . . . . 4 2"},
      {{"-B", "-C", "1/3"}, "1 . . . . . . 1 3"},
      {{}, "no colors"},
      {{"-C", "/5"}, "no colors"},
      {{"-C", "3", "-C", "-1"}, "no colors"},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& a : c.args) name += a + " ";
    SCOPED_TRACE(name);
    curses_screen screen(24, 80);
    read_command_line(c.args);
    init_color_pairs();
    EXPECT_EQ(pair_table(), c.pairs);
  }
}

// In a single-byte locale the sub-cell modes are switched off before curses
// starts, so -b alone makes no color call either.
TEST(ColorPairs, BrailleInASingleByteLocaleStartsNoColors) {
  curses_screen screen(24, 80);
  std::setlocale(LC_ALL, "C");
  read_command_line({"-b"});
  init_color_pairs();
  EXPECT_EQ(braille_mode, 0);
  EXPECT_EQ(pair_table(), "no colors");
  // The check above does see colors once they are started.
  start_color();
  EXPECT_NE(pair_table(), "no colors");
}

// A color the terminal does not have is no color: its role counts as not
// set, and a refused line color of the sub-cell modes falls back to that
// line's default. xterm has 8 colors, vt100 none.
TEST(ColorPairs, RefusedColorsCountAsNotSet) {
  struct Case {
    const char* term;
    std::vector<std::string> args;
    const char* pairs;
    std::array<int, kRoleCount> roles;
  };
  const Case cases[] = {
      {"xterm", {"-C", "9"}, ". . . . . . . . .", {-1, -1, -1, -1, -1, -1}},
      {"xterm", {"-C", "7,8,-2,0"}, "7 . . 0 . . . . .", {7, -1, -1, 0, -1, -1}},
      {"xterm", {"-2", "-b", "-C", "1/12,6,15,3"}, "1 6 . 3 . . . 1 4", {1, 6, -1, 3, -1, -1}},
      {"xterm", {"-B", "-C", "12/9"}, ". . . . . . . 2 4", {-1, -1, -1, -1, -1, -1}},
      {"xterm", {"-B", "-C", "4/9"}, "4 . . . . . . 4 2", {4, -1, -1, -1, -1, -1}},
      {"xterm", {"-C", "65537"}, ". . . . . . . . .", {-1, -1, -1, -1, -1, -1}},
      {"xterm-256color", {"-C", "200,9"}, "200 9 . . . . . . .", {200, 9, -1, -1, -1, -1}},
      {"vt100", {"-b", "-C", "dark1"}, "no colors", {-1, -1, -1, -1, -1, -1}},
  };
  for (const Case& c : cases) {
    std::string name = std::string(c.term) + ": ";
    for (const std::string& a : c.args) name += a + " ";
    SCOPED_TRACE(name);
    curses_screen screen(24, 80, c.term);
    read_command_line(c.args);
    init_color_pairs();
    EXPECT_EQ(pair_table(), c.pairs);
    EXPECT_EQ(colors, c.roles);
  }
}

// Each part of the frame carries its role's pair, and only when the role is set.
TEST(ColorPairs, PainterPutsEachRoleOnItsItems) {
  struct Case {
    std::vector<std::string> args;
    char line;
    char axes;
    char text;
    char title;
  };
  const Case cases[] = {
      {{"-C", "dark1"}, '1', '2', '3', '4'},
      {{"-C", "1"}, '1', '0', '0', '0'},
      {{"-C", "-1,-1,5"}, '0', '0', '3', '0'},
      {{}, '0', '0', '0', '0'},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& a : c.args) name += a + " ";
    SCOPED_TRACE(name);
    curses_screen screen(24, 80);
    read_command_line(c.args);
    init_color_pairs();
    fake_time = true;
    two_values = 1;
    plot_width = 76;
    push_pair(5, 3);
    paint_plot("input stream closed");

    auto same = [](char pair, int n) { return std::string(static_cast<std::size_t>(n), pair); };
    // axes: the horizontal line with corner and arrow, the vertical line, "^"
    EXPECT_EQ(row_pairs(21, 2, 78), same(c.axes, 77));
    for (int row = 1; row <= 20; ++row) EXPECT_EQ(row_pairs(row, 2, 2), same(c.axes, 1)) << row;
    // text: banner (its first three columns under statistics line 2), clock,
    // both legend markers, both statistics lines, the four labels
    EXPECT_EQ(row_pairs(23, 5, 78), same(c.text, 1) + "0" + same(c.text, 72));
    EXPECT_EQ(row_pairs(22, 5, 5), same(c.text, 1));
    EXPECT_EQ(row_pairs(22, 7, 40), same(c.text, 34));
    EXPECT_EQ(row_pairs(22, 55, 78), same(c.text, 24));
    for (int row : {1, 6, 11, 16}) EXPECT_EQ(row_pairs(row, 4, 7), same(c.text, 4)) << row;
    // title and message
    EXPECT_EQ(row_pairs(0, 33, 47), "0" + same(c.title, 13) + "0");
    EXPECT_EQ(row_pairs(12, 31, 49), same(c.title, 19));
    // the plot: 5 over 3 in the last column, plain bar then reversed bar
    EXPECT_EQ(row_pairs(1, 78, 78), same(c.line, 1));
    EXPECT_EQ(row_pairs(20, 78, 78), same(c.line, 1));
    EXPECT_TRUE(cell_at(20, 78).reverse());
    EXPECT_EQ(row_pairs(0, 0, 1) + row_pairs(23, 0, 4), "0000000") << "untouched cells";
  }
}

}  // namespace

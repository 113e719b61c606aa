// SPDX-License-Identifier: MIT
// What the terminal or the command line can hand the program that curses does
// not take as it is: numbers wider than the window, color numbers the terminal
// does not have, and glyphs that do not fill exactly one column. Each must
// leave the program running and the frame readable. A terminal type that
// cannot place the cursor is Faults.NoUsableTerminalTypeIsReported.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "expect.h"
#include "frame.h"
#include "pty_screen.h"

namespace e2e {
namespace {

constexpr const char* kUtf8 = "C.UTF-8";
constexpr char32_t kVerticalLine = U'\u2502';

std::string printed(const char* format, double value) {
  char buf[512];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// A label of a few hundred digits in the smallest window. All four labels
// fall on row 1 there, and each runs on over the rows below to the end of
// the window, so the last one drawn, the lower quarter (a quarter of the top
// of 1e300), is what stays. ncurses 6.4's formatted print crashes on a text
// longer than the window, before the first frame or at the repaint after the
// sample.
TEST(TerminalFaults, NumbersWiderThanTheWindowArePrintedWhole) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* input;  // written once the first frame stands, or none
    int label_fg;
  };
  const Case cases[] = {
      {"soft maximum 1e300, no samples", {"-s", "1e300"}, nullptr, kDefaultColor},
      {"sample 1e300, text colored", {"-C", "-1,-1,3"}, "1e300\n", 3},
  };
  const std::string label = printed("%.1f ", 0.25 * 1e300);
  ASSERT_GT(label.size(), 4u * 44u);
  for (const Case& c : cases) {
    Launch launch;
    launch.args = c.args;
    launch.rows = 5;
    launch.cols = 44;
    launch.locale = "C";
    PtyScreen s(launch);
    if (c.input != nullptr) {
      ASSERT_TRUE(wait_waiting(s)) << c.what << "\n" << s.screen_text();
      s.write_stdin(c.input);
    }
    // Row 1 from column 4, then row 3 whole: the label wraps as curses wraps.
    // Row 2 may hold the centred message; row 4 ends in the last cell.
    auto shown = [&] {
      return s.text_at(1, 4, 40) == label.substr(0, 40) &&
             s.text_at(3, 0, 44) == label.substr(84, 44) && s.cell_fg(3, 0) == c.label_fg &&
             s.text_at(0, 44 / 2 - static_cast<int>(kTitle.size()) / 2,
                       static_cast<int>(kTitle.size())) == kTitle &&
             (c.input != nullptr || shows_centred(s, kWaiting));
    };
    EXPECT_TRUE(s.wait_for(shown) && s.wait_idle())
        << c.what << ": " << exit_text(s.wait_exit(Millis{0})) << "\n"
        << s.screen_text() << s.stderr_text();
    // A repaint asked for by hand draws the same text again.
    s.send_keys("\x0c");
    EXPECT_TRUE(s.wait_idle() && s.running() && shown()) << c.what << "\n" << s.screen_text();
    s.send_keys("q");
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 0") << c.what;
    expect_terminal_given_back(s, c.what);
    EXPECT_EQ(s.stderr_text(), "") << c.what;
  }
}

// A color that curses refuses leaves its role unset, so its items keep the
// terminal's own colors; a refused line color of the sub-cell modes falls
// back to that line's default. TERM=xterm has 8 colors; the emulator would
// show any of 256, so what it shows is what the program asked for.
TEST(TerminalFaults, ColorsTheTerminalLacksGiveWayToDefaults) {
  struct Cell {
    const char* name;
    int row;
    int col;
    char32_t ch;
    int fg;
  };
  struct Case {
    const char* term;
    const char* locale;
    std::vector<std::string> args;
    const char* input;
    std::set<int> plot_fg;    // colors of the non-blank cells of the two newest columns
    std::vector<Cell> cells;  // further cells, each with its glyph and color
  };
  const int d = kDefaultColor;
  // 80x24: the plot runs from row 1 to row 20; the two newest samples stand in
  // columns 77 and 78.
  const Case cases[] = {
      {"xterm", "C", {"-C", "9"}, "5\n5\n", {d}, {}},
      {"xterm", "C", {"-C", "-5"}, "5\n5\n", {d}, {}},
      {"xterm", "C", {"-C", "3"}, "5\n5\n", {3}, {}},
      {"xterm-256color", "C", {"-C", "9"}, "5\n5\n", {9}, {}},
      // Line 1 is red, so line 2 falls back to blue; axes and title are
      // colors xterm has, the text color is not.
      {"xterm",
       kUtf8,
       {"-2", "-b", "-C", "1/12,6,15,3"},
       "5 1\n5 1\n",
       {1, 4},
       {{"legend of line 1", 22, 5, U'\u28FF', 1},
        {"legend of line 2", 23, 5, U'\u28FF', 4},
        {"corner", 21, 2, U'\u2514', 6},
        {"title", 0, 34, U'.', 3},
        // Line 2's statistics cover the first columns of the banner.
        {"banner", 23, 48, U'v', d},
        {"statistics", 22, 7, U'l', d},
        {"label", 1, 4, U'5', d}}},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.term = c.term;
    launch.locale = c.locale;
    launch.args = c.args;
    PtyScreen s(launch);
    std::string what = std::string("TERM=") + c.term;
    for (const std::string& a : c.args) what += " " + a;
    ASSERT_TRUE(wait_started(s)) << what << "\n" << s.screen_text();
    s.write_stdin(c.input);
    auto problems = [&] {
      std::string found;
      std::set<int> plot_fg;
      for (int row = 1; row <= 20; ++row) {
        for (int col = 77; col <= 78; ++col) {
          if (s.cell_char(row, col) != U' ') plot_fg.insert(s.cell_fg(row, col));
        }
      }
      if (plot_fg != c.plot_fg) {
        found += "plot in";
        for (int fg : plot_fg) found += " " + std::to_string(fg);
        found += "; ";
      }
      for (const Cell& cell : c.cells) {
        const char32_t ch = s.cell_char(cell.row, cell.col);
        const int fg = s.cell_fg(cell.row, cell.col);
        if (ch != cell.ch || fg != cell.fg) {
          found += std::string(cell.name) + ": " + hex(ch) + " in " + std::to_string(fg) +
                   ", want " + hex(cell.ch) + " in " + std::to_string(cell.fg) + "; ";
        }
      }
      return found;
    };
    EXPECT_TRUE(s.wait_for([&] {
      return stats_line(s).find("last=5.0 ") == 0 && problems().empty();
    })) << what
        << ": " << problems() << "\n"
        << s.screen_text();
    s.send_keys("q");
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 0") << what;
  }
}

// A glyph must fill one column: a double-width character would shift the rest
// of its row, a lone combining accent or a control character would draw
// nothing or something else. Such an argument keeps the default glyph.
TEST(TerminalFaults, GlyphsNotOneColumnWideKeepTheDefault) {
  struct Cell {
    int row;
    int col;
    char32_t ch;
  };
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* input;
    std::vector<Cell> cells;
  };
  // 80x24: the newest sample's bar reaches down to row 20 in column 78; the
  // legend of line 1 is the plot glyph at row 22, column 5.
  const std::vector<Cell> plot_glyph = {
      {20, 78, kVerticalLine}, {1, 78, kVerticalLine}, {22, 5, kVerticalLine}};
  const Case cases[] = {
      {"-c double width", {"-c", "\u4E2D"}, "5\n", plot_glyph},
      {"-c lone combining accent", {"-c", "\u0301"}, "5\n", plot_glyph},
      {"-c control character", {"-c", "\x01"}, "5\n", plot_glyph},
      {"-c one column", {"-c", "\u00E9"}, "5\n", {{20, 78, U'\u00E9'}, {22, 5, U'\u00E9'}}},
      {"-e double width", {"-e", "\U0001F525", "-m", "5"}, "10\n", {{20, 78, U'e'}, {1, 78, U'e'}}},
      {"-e one column", {"-e", "#", "-m", "5"}, "10\n", {{20, 78, U'#'}, {1, 78, U'#'}}},
      // Below the hard minimum: a single glyph on the bottom row of the plot.
      {"-E double width", {"-E", "\u4E2D", "-M", "1"}, "-5\n", {{20, 78, U'v'}, {20, 79, U' '}}},
      {"-E one column", {"-E", "#", "-M", "1"}, "-5\n", {{20, 78, U'#'}, {20, 79, U' '}}},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.args = c.args;
    launch.locale = kUtf8;
    PtyScreen s(launch);
    ASSERT_TRUE(wait_started(s)) << c.what << "\n" << s.screen_text();
    s.write_stdin(c.input);
    auto problems = [&] {
      std::string found;
      for (const Cell& cell : c.cells) {
        const char32_t ch = s.cell_char(cell.row, cell.col);
        if (ch != cell.ch) {
          found += "row " + std::to_string(cell.row) + " col " + std::to_string(cell.col) + ": " +
                   hex(ch) + ", want " + hex(cell.ch) + "; ";
        }
      }
      return found;
    };
    EXPECT_TRUE(s.wait_for([&] {
      return stats_line(s).find("last=") == 0 && frame_problems(s).empty() && problems().empty();
    })) << c.what
        << ": " << problems() << frame_problems(s) << "\n"
        << s.screen_text();
    s.send_keys("q");
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 0") << c.what;
  }
}

}  // namespace
}  // namespace e2e

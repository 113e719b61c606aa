// SPDX-License-Identifier: MIT
// The plot glyphs of the sub-cell modes and the colors of the schemes, as the
// terminal shows them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "expect.h"
#include "frame.h"
#include "pty_screen.h"

namespace e2e {
namespace {

constexpr const char* kUtf8 = "C.UTF-8";
constexpr int kGreen = 2;

// Two samples, 0 then 3, in the smallest window: the last two cell columns
// (41 and 42) hold the whole line, drawn over a scale of 0 to 3.
TEST(Modes, SubCellGlyphsOfTwoSamples) {
  struct Cell {
    int row;
    int col;
    char32_t ch;
  };
  struct Case {
    std::vector<std::string> args;
    int rows;
    std::vector<Cell> cells;  // every cell of the plot area that is not blank
  };
  const Case cases[] = {
      {{"-b"}, 5, {{1, 41, U'\u28F0'}, {1, 42, U'\u280B'}}},
      {{"-b", "-f"}, 5, {{1, 41, U'\u28F0'}, {1, 42, U'\u28FF'}}},
      {{"-B"}, 6, {{1, 41, U'\u2597'}, {1, 42, U'\u259B'}, {2, 41, U'\u259F'}}},
      {{"-B", "-f"},
       6,
       {{1, 41, U'\u2597'}, {1, 42, U'\u2588'}, {2, 41, U'\u259F'}, {2, 42, U'\u2588'}}},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.args = c.args;
    launch.rows = c.rows;
    launch.cols = 44;
    launch.locale = kUtf8;
    PtyScreen s(launch);
    const std::string what = c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : "");
    ASSERT_TRUE(wait_waiting(s)) << what << "\n" << s.screen_text();
    s.write_stdin("0\n3\n");
    ASSERT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=3.0 "); }))
        << what << "\n"
        << s.screen_text();

    // The plot area runs from row 1 to the row above the axis and from column
    // 3 to cols-2; the labels take columns 4 to 7.
    auto problems = [&] {
      std::string found;
      auto expect = [&](int row, int col, char32_t ch, int fg) {
        if (s.cell_char(row, col) != ch || (ch != U' ' && s.cell_fg(row, col) != fg)) {
          found += "row " + std::to_string(row) + " col " + std::to_string(col) + ": " +
                   hex(s.cell_char(row, col)) + " in " + std::to_string(s.cell_fg(row, col)) +
                   ", want " + hex(ch) + "; ";
        }
      };
      for (int row = 1; row < s.rows() - 3; ++row) {
        for (int col = 8; col < s.cols() - 1; ++col) {
          char32_t want = U' ';
          for (const Cell& cell : c.cells) {
            if (cell.row == row && cell.col == col) want = cell.ch;
          }
          expect(row, col, want, kGreen);
        }
      }
      expect(s.rows() - 2, 5, c.args.front() == "-b" ? U'\u28FF' : U'\u2588', kGreen);
      return found;
    };
    EXPECT_TRUE(s.wait_for([&] { return problems().empty(); }))
        << what << ": " << problems() << "\n"
        << s.screen_text();
  }
}

TEST(Modes, SubCellModesNeedAMultiByteLocale) {
  Launch launch;
  launch.args = {"-2", "-b"};
  launch.locale = "C";
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  s.write_stdin("1 0\n2 0\n");
  ASSERT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=2.0 "); }))
      << s.screen_text();
  ASSERT_TRUE(s.wait_idle());
  // The newest sample, at the top of the scale, is a full bar of "|"; the
  // legend of series 2 is a blank in reverse video.
  for (int row = 1; row < s.rows() - 3; ++row) {
    EXPECT_EQ(s.cell_char(row, 78), U'|') << row;
    EXPECT_FALSE(s.cell_reverse(row, 78)) << row;
  }
  EXPECT_EQ(s.cell_char(s.rows() - 2, 5), U'|');
  EXPECT_EQ(s.cell_char(s.rows() - 1, 5), U' ');
  EXPECT_TRUE(s.cell_reverse(s.rows() - 1, 5));
  for (int row = 0; row < s.rows(); ++row) {
    for (int col = 0; col < s.cols(); ++col) {
      EXPECT_FALSE(s.cell_char(row, col) >= 0x2800 && s.cell_char(row, col) <= 0x28FF)
          << "braille at row " << row << " col " << col;
    }
  }
}

// Two series far apart, so that no cell is shared: line 1 on the top cell
// row, line 2 on the bottom one.
TEST(Modes, SubCellLinesTakeTheSchemeColors) {
  struct Case {
    const char* scheme;  // or none
    int line1;
    int line2;
  };
  const Case cases[] = {{nullptr, 2, 4}, {"dark1", 1, 2}, {"dark2", 4, 3}, {"light2", 4, 2}};
  for (const Case& c : cases) {
    Launch launch;
    launch.args = {"-2", "-b"};
    if (c.scheme != nullptr) launch.args.insert(launch.args.end(), {"-C", c.scheme});
    launch.rows = 12;
    launch.cols = 44;
    launch.locale = kUtf8;
    PtyScreen s(launch);
    const std::string what = c.scheme != nullptr ? c.scheme : "no -C";
    ASSERT_TRUE(wait_waiting(s)) << what << "\n" << s.screen_text();
    s.write_stdin("10 0\n10 0\n10 0\n");
    auto problems = [&] {
      std::string found;
      auto expect = [&](int row, int col, char32_t ch, int fg) {
        if (s.cell_char(row, col) != ch || s.cell_fg(row, col) != fg) {
          found += "row " + std::to_string(row) + " col " + std::to_string(col) + ": " +
                   hex(s.cell_char(row, col)) + " in " + std::to_string(s.cell_fg(row, col)) +
                   ", want " + hex(ch) + " in " + std::to_string(fg) + "; ";
        }
      };
      for (int col = 40; col <= 42; ++col) {
        expect(1, col, U'\u2809', c.line1);
        expect(8, col, U'\u28C0', c.line2);
      }
      expect(s.rows() - 2, 5, U'\u28FF', c.line1);
      expect(s.rows() - 1, 5, U'\u28FF', c.line2);
      return found;
    };
    EXPECT_TRUE(s.wait_for([&] { return problems().empty(); }))
        << what << ": " << problems() << "\n"
        << s.screen_text();
  }
}

// Each role of a scheme in the color the terminal shows, in the character
// plot; without -C everything keeps the terminal's own color.
TEST(Modes, SchemeRolesInTheCharacterPlot) {
  struct Case {
    const char* scheme;  // or none
    int line;
    int axes;
    int text;
    int title;
  };
  const int d = kDefaultColor;
  const Case cases[] = {{nullptr, d, d, d, d}, {"dark1", 1, 6, 7, 3}, {"light1", 2, 4, 0, 1}};
  for (const Case& c : cases) {
    Launch launch;
    if (c.scheme != nullptr) launch.args = {"-C", c.scheme};
    PtyScreen s(launch);
    const std::string what = c.scheme != nullptr ? c.scheme : "no -C";
    ASSERT_TRUE(wait_started(s)) << what << "\n" << s.screen_text();
    const int rows = s.rows();
    const int message_row = rows / 2;
    const int message_col = s.find(message_row, kWaiting);
    ASSERT_GE(message_col, 0) << what;
    EXPECT_EQ(s.cell_fg(message_row, message_col), c.title) << what << " message";

    s.write_stdin("5\n");
    struct Role {
      const char* name;
      int row;
      int col;
      int want;
    };
    const Role roles[] = {
        {"bar", 10, 78, c.line},
        {"x axis", rows - 3, 10, c.axes},
        {"y axis", 10, 2, c.axes},
        {"arrow", 1, 2, c.axes},
        {"corner", rows - 3, 2, c.axes},
        {"banner", rows - 1, 40, c.text},
        {"statistics", rows - 2, 7, c.text},
        {"legend", rows - 2, 5, c.text},
        {"label", 1, 4, c.text},
        {"title", 0, 34, c.title},
    };
    auto problems = [&] {
      std::string found;
      for (const Role& r : roles) {
        if (s.cell_char(r.row, r.col) == U' ' || s.cell_fg(r.row, r.col) != r.want) {
          found += std::string(r.name) + " in " + std::to_string(s.cell_fg(r.row, r.col)) + "; ";
        }
      }
      return found;
    };
    EXPECT_TRUE(s.wait_for([&] {
      return starts_with(stats_line(s), "last=5.0 ") && problems().empty();
    })) << what
        << ": " << problems() << "\n"
        << s.screen_text();
  }
}

}  // namespace
}  // namespace e2e

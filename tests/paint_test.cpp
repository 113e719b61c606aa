// SPDX-License-Identifier: MIT
// Screen tests of the frame: layout at several sizes, the size rules, the
// waiting text and messages, the scale labels, the title, the statistics
// lines and the clock. Each test paints into a fresh virtual screen and reads
// the cells back; whole frames are compared with the files in tests/golden.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "support/curses_screen.h"
#include "vantrel.h"

namespace {

const std::string kBannerText = kBanner;
const std::string kBar = "\u2502";  // the default plot glyph in a UTF-8 locale

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

// The frame's fixed items at their places, for any size that passes the
// size test.
void expect_fixed_items(int rows, int cols) {
  const int W = cols - 4;
  const int H = rows - 4;
  SCOPED_TRACE(std::to_string(cols) + "x" + std::to_string(rows));
  EXPECT_EQ(row_text(rows - 1, cols - 40, cols - 1), kBannerText + " ");
  EXPECT_EQ(cell_text(1, 2), "^");
  EXPECT_EQ(row_text(rows - 3, 2, cols - 1), "\u2514" + repeat("\u2500", W - 1) + "> ");
  for (int row = 2; row < rows - 3; ++row) EXPECT_EQ(cell_text(row, 2), "\u2502") << row;
  EXPECT_EQ(row_text(0, cols / 2 - 7, cols / 2 + 7), " .: vantrel :. ");
  EXPECT_EQ(cell_text(rows - 2, 5), kBar);
  if (cols >= 68) {
    EXPECT_EQ(row_text(rows - 2, cols - 26, cols - 1), " Thu Jan  1 00:00:00 1970 ");
  }
  EXPECT_EQ(plot_width, W);
  EXPECT_EQ(plot_height, H);
}

// A ramp 0, 1, ... over the whole visible history.
void push_ramp(int count) {
  for (int k = 0; k < count; ++k) push_sample(k);
}

TEST(FramePainter, SmallestWindowFrame) {
  curses_screen screen(5, 44);
  push_sample(1);
  push_sample(2);
  push_sample(3);
  push_sample(4);
  paint_plot(nullptr);

  // H = 1: the four labels share row 1 and the lower quarter's is written
  // last; 3 and 4 reach row 1 while 1 and 2 round to height 0 (2 by ties to even).
  EXPECT_EQ(row_text(0), std::string(16, ' ') + ".: vantrel :.");
  EXPECT_EQ(row_text(1), "  ^ 1.0" + std::string(34, ' ') + kBar + kBar);
  EXPECT_EQ(row_text(2), "  \u2514" + repeat("\u2500", 39) + ">");
  EXPECT_EQ(row_text(3), "     " + kBar + " last=4.0 min=1.0 max=4.0 avg=2.5");
  EXPECT_EQ(row_text(4), "    " + kBannerText);
  expect_fixed_items(5, 44);
  EXPECT_TRUE(matches_golden("frame_44x5"));
}

TEST(FramePainter, LayoutAtLargerSizes) {
  struct Case {
    int rows;
    int cols;
    const char* golden;
  };
  const Case cases[] = {{24, 80, "frame_80x24"}, {60, 300, "frame_300x60"}};
  for (const Case& c : cases) {
    curses_screen screen(c.rows, c.cols);
    fake_time = true;
    plot_width = c.cols - 4;
    push_ramp(plot_width);
    paint_plot(nullptr);
    expect_fixed_items(c.rows, c.cols);
    const int last = c.cols - 5;
    const std::string stats = "last=" + std::to_string(last) +
                              ".0 min=0.0 max=" + std::to_string(last) +
                              ".0 avg=" + std::to_string(last / 2) + ".5  ";
    EXPECT_EQ(row_text(c.rows - 2, 7, 7 + static_cast<int>(stats.size()) - 1), stats);
    // The newest sample is the top of the scale and fills the last column.
    for (int row = 1; row <= c.rows - 4; ++row) EXPECT_EQ(cell_text(row, c.cols - 2), kBar) << row;
    EXPECT_TRUE(matches_golden(c.golden));
  }
}

TEST(FramePainter, TwoSeriesFrameGolden) {
  curses_screen screen(24, 80);
  fake_time = true;
  two_values = 1;
  std::snprintf(unit, sizeof unit, "ms");
  plot_width = 76;
  for (int k = 0; k < 90; ++k) push_pair(k % 30 - 10, 12 - k % 25);
  paint_plot(nullptr);
  EXPECT_TRUE(cell_at(23, 5).reverse());
  EXPECT_TRUE(matches_golden("frame_80x24_two_series"));
}

// The size test reads the size as last stored; the too-small text lands over
// whatever the screen held, and the geometry stays as the last frame left it.
TEST(FramePainter, TooSmallWindowShowsOnlyTheMessage) {
  struct Case {
    int rows;
    int cols;
    int stored_cols;  // what the window change stored
    int col;          // where the message starts
    const char* shown;
  };
  const Case cases[] = {
      {24, 43, 43, 12, "Window too small..."},
      {4, 80, 80, 31, "Window too small..."},
      {24, 10, 10, 0, "Window too"},
      // curses already wider again, the stored size not yet
      {24, 80, 43, 12, "Window too small..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
    curses_screen screen(24, 80);
    push_ramp(30);
    paint_plot(nullptr);
    ASSERT_EQ(plot_width, 76);

    screen.resize(c.rows, c.cols);
    screen_cols = c.stored_cols;
    std::vector<std::vector<std::string>> before(c.rows);
    for (int row = 0; row < c.rows; ++row) {
      for (int col = 0; col < c.cols; ++col) before[row].push_back(cell_text(row, col));
    }
    const std::int64_t samples = sample_count;
    paint_plot("ignored message");

    const std::string shown = c.shown;
    for (int row = 0; row < c.rows; ++row) {
      std::string expected;
      for (int col = 0; col < c.cols; ++col) {
        const bool in_message =
            row == c.rows / 2 && col >= c.col && col < c.col + static_cast<int>(shown.size());
        expected += in_message ? shown.substr(col - c.col, 1) : before[row][col];
      }
      EXPECT_EQ(row_text(row, 0, c.cols - 1), expected) << "row " << row;
    }
    EXPECT_EQ(plot_width, 76);
    EXPECT_EQ(plot_height, 20);
    EXPECT_EQ(screen_cols, c.stored_cols);
    EXPECT_EQ(sample_count, samples);
  }
}

TEST(FramePainter, TooWideWindowEndsCursesAndExitsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        curses_screen screen(10, 1027);
        // Runs at exit: tells whether curses had been ended by then.
        std::atexit([] { std::fprintf(stderr, "[curses ended: %d]", isendwin() ? 1 : 0); });
        paint_plot(nullptr);
        std::fprintf(stderr, "[painted]");
      },
      ::testing::ExitedWithCode(1), "^[^\n]*1026 columns[^\n]*\n\\[curses ended: 1\\]$");
}

TEST(FramePainter, WidestWindowIsPainted) {
  curses_screen screen(10, 1026);
  fake_time = true;
  plot_width = 1022;
  push_ramp(1022);
  paint_plot(nullptr);
  expect_fixed_items(10, 1026);
  EXPECT_EQ(cell_text(7, 1024), ">");
}

TEST(FramePainter, WithoutSamples) {
  struct Case {
    const char* name;
    double softmax;
    int two;
    const char* message;
    const char* label_top;  // nullptr: no labels
  };
  // Label values, with nothing behind the unit's blank.
  const Case cases[] = {
      {"defaults", 0.0, 0, nullptr, nullptr},
      {"softmax 100", 100.0, 0, nullptr, "100.0 "},
      {"two series", 0.0, 1, nullptr, nullptr},
      {"passed message", 0.0, 0, "input stream closed", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    curses_screen screen(24, 80);
    fake_time = true;
    softmax = c.softmax;
    two_values = c.two;
    paint_plot(c.message);

    const std::string text = c.message != nullptr ? c.message : "waiting for data from stdin";
    const int col = 40 - static_cast<int>(text.size()) / 2;
    EXPECT_EQ(row_text(12), "  \u2502" + std::string(col - 3, ' ') + text);
    EXPECT_EQ(row_text(22, 0, 54), "     " + kBar + std::string(49, ' '))
        << "marker of line 1, no statistics";
    if (c.two) {
      EXPECT_EQ(cell_text(23, 5), " ");
      EXPECT_TRUE(cell_at(23, 5).reverse());
    } else {
      EXPECT_FALSE(cell_at(23, 5).reverse());
    }
    EXPECT_EQ(row_text(23, 0, 39), std::string(40, ' ')) << "nothing but the banner";
    const int label_rows[] = {1, 6, 11, 16};
    const char* labels[] = {c.label_top, "75.0 ", "50.0 ", "25.0 "};
    for (int k = 0; k < 4; ++k) {
      const std::string label = c.label_top != nullptr ? labels[k] : "";
      EXPECT_EQ(row_text(label_rows[k], 3, 11), " " + label + std::string(8 - label.size(), ' '))
          << "row " << label_rows[k];
    }
  }
}

TEST(FramePainter, MessageWiderThanTheWindowIsCut) {
  curses_screen screen(24, 80);
  const std::string text(100, 'x');
  push_sample(0);
  paint_plot(text.c_str());
  EXPECT_EQ(row_text(12), std::string(80, 'x'));
  EXPECT_EQ(row_text(13), "  \u2502") << "nothing wrapped onto the next row";
}

// Rows of the labels for small plot heights, where labels share rows and the
// later one overwrites the front of the earlier one (unit "u" shows the rest).
TEST(FramePainter, LabelRowsAndOverwriteOrder) {
  struct Case {
    int H;
    std::vector<std::string> rows;  // text from column 3 of rows 1..H
  };
  const Case cases[] = {
      {1, {" 25.0 uu"}},
      {2, {" 75.0 uu", " 25.0 u"}},
      {3, {" 75.0 uu", " 50.0 u", " 25.0 u"}},
      {8, {" 100.0 u", "", " 75.0 u", "", " 50.0 u", "", " 25.0 u", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("H = " + std::to_string(c.H));
    curses_screen screen(c.H + 4, 80);
    softmax = 100;
    std::snprintf(unit, sizeof unit, "u");
    paint_plot("");
    for (int row = 1; row <= c.H; ++row) {
      std::string text = row_text(row, 3, 20);
      text.erase(text.find_last_not_of(' ') + 1);
      EXPECT_EQ(text, c.rows[static_cast<std::size_t>(row - 1)]) << "row " << row;
    }
  }
}

// H = 8, so the labels stand on rows 1, 3, 5 and 7, top first.
TEST(FramePainter, LabelValuesAndThreshold) {
  struct Case {
    double top;
    double bottom;
    std::vector<std::string> labels;  // empty: no labels at all
  };
  const Case cases[] = {
      // middle value -0.005: inside the 0.01 band, printed without its sign
      {0.3, -0.31, {"0.3 ", "0.1 ", "0.0 ", "-0.2 "}},
      // middle value -0.04: outside the band, a negative zero
      {0.3, -0.38, {"0.3 ", "0.1 ", "-0.0 ", "-0.2 "}},
      {0.1, 0.0, {"0.1 ", "0.1 ", "0.1 ", "0.0 "}},  // span exactly 0.1
      {0.05, 0.0, {}},
      {NAN, 0.0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("top " + std::to_string(c.top) + " bottom " + std::to_string(c.bottom));
    curses_screen screen(12, 80);
    hardmax = c.top;
    hardmin = c.bottom;
    paint_plot("");
    const int rows[] = {1, 3, 5, 7};
    for (std::size_t k = 0; k < 4; ++k) {
      const std::string expected = c.labels.empty() ? "" : c.labels[k];
      EXPECT_EQ(row_text(rows[k], 4, 15), expected + std::string(12 - expected.size(), ' '))
          << "row " << rows[k];
    }
  }
}

TEST(FramePainter, TitleIsCentredByBytes) {
  struct Case {
    int cols;
    std::string title;
    int col;  // -1: no title
  };
  const Case cases[] = {
      {80, ".: vantrel :.", 34},     {80, "\u00e4\u00f6\u00fc", 37},  // three letters, six bytes
      {80, std::string(80, 't'), 0}, {80, std::string(82, 't'), -1}, {44, std::string(46, 't'), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    curses_screen screen(24, c.cols);
    std::snprintf(title, sizeof title, "%s", c.title.c_str());
    push_sample(1);
    paint_plot(nullptr);
    if (c.col < 0) {
      EXPECT_EQ(row_text(0), "");
    } else {
      EXPECT_EQ(row_text(0), std::string(c.col, ' ') + c.title);
    }
  }
}

TEST(FramePainter, StatisticsLines) {
  struct Case {
    const char* name;
    int cols;
    int two;
    int rate;
    double interval;
    int row;   // rows - 2 or rows - 1
    int from;  // columns compared
    int to;
    std::string expected;
  };
  const Case cases[] = {
      // 36 characters at columns 7..42, blanking the banner's first three
      {"line 2 over the banner", 80, 1, 0, 0.0, 23, 5, 78,
       "  last=1.0 min=1.0 max=1.0 avg=1.0    ps://vantrel.dev/terminal-plot " VANTREL_VERSION},
      {"line 1", 80, 1, 0, 0.0, 22, 5, 43, kBar + " last=1.0 min=1.0 max=1.0 avg=1.0     "},
      // the interval reaches the clock's first column, drawn before it
      {"interval", 80, 0, 1, 0.25, 22, 7, 79,
       "last=1.0 min=1.0 max=1.0 avg=1.0   interval=0.25shu Jan  1 00:00:00 1970 "},
      {"no interval yet", 80, 0, 1, 0.0, 22, 7, 55,
       "last=1.0 min=1.0 max=1.0 avg=1.0   interval=0s  T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    curses_screen screen(24, c.cols);
    fake_time = true;
    two_values = c.two;
    rate_mode = c.rate;
    plot_width = c.cols - 4;
    for (int k = 0; k < 5; ++k) {
      if (c.two) {
        push_pair(1.0, 1.0);
      } else {
        push_sample(1.0);
      }
    }
    last_interval = c.interval;
    paint_plot(nullptr);
    EXPECT_EQ(row_text(c.row, c.from, c.to), c.expected);
  }
}

// Cells read from (row, col) onwards the way curses wraps a text: to the end
// of the row, then on from column 0 of the next one, up to the window's end.
std::string wrapped_text(int row, int col, std::size_t n) {
  std::string out;
  for (; row < screen_rows && out.size() < n; ++row, col = 0) {
    const int last = std::min(screen_cols - 1, col + static_cast<int>(n - out.size()) - 1);
    out += row_text(row, col, last);
  }
  return out;
}

// Labels and statistics lines far longer than the window holds are drawn as
// computed, wrapping as curses wraps a long text, up to the window's end.
TEST(FramePainter, TextsLongerThanTheWindow) {
  struct Case {
    const char* name;
    int rows;
    int cols;
    double softmax;
    double sample;  // NAN: none
    int row;
    int col;
    std::string text;  // as formatted, before the window cuts it
  };
  char top_label[512];
  std::snprintf(top_label, sizeof top_label, "%.1f %s", 1e300, "");
  char quarter_label[512];
  std::snprintf(quarter_label, sizeof quarter_label, "%.1f %s", 0.75e300, "");
  char stats[2048];
  std::snprintf(stats, sizeof stats, "last=%.1f min=%.1f max=%.1f avg=%.1f %s ", -1e300, -1e300,
                -1e300, -1e300, "");
  // 5 rows: all four labels on row 1, the lower quarter's last, over the
  // statistics line
  char lower_label[512];
  std::snprintf(lower_label, sizeof lower_label, "%.1f %s", 0.25 * 1e230, "");
  const Case cases[] = {
      {"top label, 80x24", 24, 80, 1e300, NAN, 1, 4, top_label},
      {"upper quarter label, 80x24", 24, 80, 1e300, NAN, 6, 4, quarter_label},
      // on the last two rows: cut at the window's end
      {"statistics line of -1e300, 80x24", 24, 80, 0, -1e300, 22, 7, stats},
      {"lower quarter label of 1e230, 44x5", 5, 44, 0, 1e230, 1, 4, lower_label},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    curses_screen screen(c.rows, c.cols);
    softmax = c.softmax;
    if (!std::isnan(c.sample)) push_sample(c.sample);
    paint_plot(nullptr);
    const std::size_t room = static_cast<std::size_t>((c.rows - c.row) * c.cols - c.col);
    const std::string expected = c.text.substr(0, std::min(c.text.size(), room));
    EXPECT_EQ(wrapped_text(c.row, c.col, expected.size()), expected);
  }
}

// After a widening the scan covers slots that never held a sample; after a
// narrowing the newest sample may lie outside the scanned slots.
TEST(FramePainter, StatisticsAfterTheWidthChanged) {
  {
    SCOPED_TRACE("widened from 44 to 80 columns");
    curses_screen screen(24, 80);
    fake_time = true;
    for (int k = 0; k < 50; ++k) push_sample(k);  // ring of 40: slot 9 holds 49
    paint_plot(nullptr);
    // The average is NaN, in whichever spelling %.1f gives it.
    const std::string stats = row_text(22, 7, 45);
    const std::string plain = "last=49.0 min=10.0 max=49.0 avg=nan  ";
    const std::string negative = "last=49.0 min=10.0 max=49.0 avg=-nan  ";
    EXPECT_TRUE(stats == plain + std::string(39 - plain.size(), ' ') ||
                stats == negative + std::string(39 - negative.size(), ' '))
        << stats;
  }
  {
    SCOPED_TRACE("narrowed from 80 to 44 columns");
    curses_screen screen(24, 44);
    plot_width = 76;
    for (int k = 1; k <= 60; ++k) push_sample(k);  // slots 0..59
    paint_plot(nullptr);
    EXPECT_EQ(row_text(22, 7, 43), "last=60.0 min=1.0 max=40.0 avg=20.5  ");
  }
}

TEST(FramePainter, Clock) {
  struct Case {
    int cols;
    bool fake;
    long seconds;
    const char* expected;  // nullptr: no clock
  };
  const Case cases[] = {
      {67, true, 0, nullptr},
      {68, true, 1000000000, "Thu Jan  1 00:00:00 1970"},
      {80, true, 1000000000, "Thu Jan  1 00:00:00 1970"},
      {80, false, 1000000000, "Sun Sep  9 01:46:40 2001"},
  };
  const char* old_tz = std::getenv("TZ");
  const std::string saved_tz = old_tz != nullptr ? old_tz : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.cols) + (c.fake ? " fake" : " real"));
    curses_screen screen(24, c.cols);
    fake_time = c.fake;
    now.tv_sec = c.seconds;
    paint_plot("");
    if (c.expected == nullptr) {
      EXPECT_EQ(row_text(22), "     " + kBar);
    } else {
      EXPECT_EQ(row_text(22), "     " + kBar + std::string(c.cols - 31, ' ') + c.expected);
    }
  }
  if (old_tz != nullptr) {
    setenv("TZ", saved_tz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace

// SPDX-License-Identifier: MIT
// The program in its terminal: the ways out, the keys, window changes and
// the ends of standard input.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "frame.h"
#include "pty_screen.h"

namespace e2e {
namespace {

TEST(Loop, WaysOutRestoreTheTerminal) {
  struct Case {
    const char* how;
    const char* key;  // typed, or else the signal below is sent
    int signo;
    const char* exit;
  };
  const Case cases[] = {
      {"q", "q", 0, "exit 0"},
      {"SIGINT", nullptr, SIGINT, "exit 0"},
      {"Ctrl-C typed", "\x03", 0, "exit 0"},
      {"SIGTERM", nullptr, SIGTERM, "signal 15 (Terminated)"},
  };
  for (const Case& c : cases) {
    PtyScreen s(Launch{});
    ASSERT_TRUE(wait_started(s)) << s.screen_text();
    EXPECT_NE(modes_diff(s.modes_at_start(), s.modes_now()), "") << "curses changed no mode";
    EXPECT_TRUE(s.altscreen());
    if (c.key != nullptr) {
      s.send_keys(c.key);
    } else {
      s.signal(c.signo);
    }
    EXPECT_EQ(exit_text(s.wait_exit()), c.exit) << c.how;
    EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << c.how;
    EXPECT_FALSE(s.altscreen()) << c.how;
    EXPECT_TRUE(s.cursor_visible()) << c.how;
    EXPECT_EQ(s.stderr_text(), "") << c.how;
  }
}

TEST(Loop, CtrlLRedrawsTheWholeTerminal) {
  PtyScreen s(Launch{});
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  s.write_stdin("5\n");
  ASSERT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=5.0 "); }));
  // Another program scribbles over the title; curses does not know, so an
  // ordinary repaint leaves the scribble standing.
  s.inject("\0337\033[1;30HXXXXXXXXXXXXXXXXXXXX\0338");  // cursor saved and restored
  s.write_stdin("6\n");
  ASSERT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=6.0 "); }));
  ASSERT_NE(frame_problems(s), "");

  s.send_keys("\x0c");
  EXPECT_TRUE(s.wait_for([&] {
    return frame_problems(s).empty() && s.find(0, "X") == -1 &&
           starts_with(stats_line(s), "last=6.0 min=5.0 max=6.0 avg=5.5 ");
  })) << s.screen_text();
}

TEST(Loop, RTogglesTheIntervalOfRateMode) {
  PtyScreen s(Launch{});
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  s.write_stdin("5\n");
  ASSERT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=5.0 "); }));
  EXPECT_EQ(stats_line(s).find(" interval="), std::string::npos);

  // The key itself does not repaint; Ctrl-L behind it does, at once.
  s.send_keys("r\x0c");
  EXPECT_TRUE(s.wait_for([&] {
    return starts_with(stats_line(s), "last=5.0 min=5.0 max=5.0 avg=5.0   interval=0s ");
  })) << s.screen_text();
  s.send_keys("r\x0c");
  EXPECT_TRUE(s.wait_for([&] { return stats_line(s).find(" interval=") == std::string::npos; }))
      << s.screen_text();
  s.send_keys("q");
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 0");
}

TEST(Loop, FrameFollowsTheWindowSize) {
  Launch launch;
  launch.fake_time = true;
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  s.write_stdin("5\n");
  ASSERT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=5.0 "); }));

  struct Case {
    int rows;
    int cols;
    bool too_small;
  };
  const Case sizes[] = {{30, 100, false}, {24, 43, true}, {24, 80, false}, {4, 80, true},
                        {5, 44, false},   {8, 67, false}, {8, 68, false}};
  for (const Case& c : sizes) {
    s.resize(c.rows, c.cols);
    const std::string size = std::to_string(c.rows) + "x" + std::to_string(c.cols);
    if (c.too_small) {
      // The restart erased the screen; the message is all there is.
      EXPECT_TRUE(s.wait_for([&] {
        return s.screen_text() == only_centred(s, "Window too small...");
      })) << size
          << "\n"
          << s.screen_text();
    } else {
      // The clock needs 68 columns.
      const bool clock = c.cols >= 68;
      EXPECT_TRUE(s.wait_for([&] {
        return frame_problems(s).empty() &&
               starts_with(stats_line(s), "last=5.0 min=5.0 max=5.0 avg=5.0 ") &&
               (s.find(c.rows - 2, "1970") == (clock ? c.cols - 5 : -1)) &&
               (!clock || s.text_at(c.rows - 2, c.cols - 25, 24) == "Thu Jan  1 00:00:00 1970");
      })) << size
          << ": " << frame_problems(s) << "\n"
          << s.screen_text();
    }
  }
}

}  // namespace
}  // namespace e2e

// SPDX-License-Identifier: MIT
// What standard input can be: a pipe, a file, nothing, a directory, closed,
// or the terminal itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame.h"
#include "pty_screen.h"
#include "temp_file.h"

namespace e2e {
namespace {

constexpr const char* kClosed = "input stream closed";

TEST(Stdin, EveryEndIsShownCentredAndQStillQuits) {
  TempFile file("3 4");
  struct Case {
    const char* what;
    StdinKind kind;
    const char* path;
    const char* message;
    const char* stats;  // start of statistics line 1, or none
  };
  // The last number has no separator behind it: the end of input completes it.
  const Case cases[] = {
      {"pipe", StdinKind::kPipe, "", kClosed, "last=4.0 min=3.0 max=4.0 avg=3.5 "},
      {"file", StdinKind::kPath, file.path(), kClosed, "last=4.0 min=3.0 max=4.0 avg=3.5 "},
      {"/dev/null", StdinKind::kDevNull, "", kClosed, nullptr},
      {"closed descriptor", StdinKind::kClosed, "", kClosed, nullptr},
      {"directory", StdinKind::kPath, "/", "Is a directory", nullptr},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.stdin_kind = c.kind;
    launch.stdin_path = c.path;
    PtyScreen s(launch);
    if (c.kind == StdinKind::kPipe) {
      s.write_stdin("3 4");
      s.close_stdin();
    }
    auto shown = [&] {
      return shows_centred(s, c.message) && frame_problems(s).empty() &&
             (c.stats != nullptr ? starts_with(stats_line(s), c.stats)
                                 : stats_line(s).find("last=") == std::string::npos);
    };
    EXPECT_TRUE(s.wait_for(shown)) << c.what << "\n" << s.screen_text();
    ASSERT_TRUE(s.wait_idle()) << c.what;
    EXPECT_TRUE(shown()) << c.what << "\n" << s.screen_text();
    s.send_keys("q");
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 0") << c.what;
    EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << c.what;
    EXPECT_EQ(s.stderr_text(), "") << c.what;
  }
}

TEST(Stdin, TheClockGoesOnAfterTheEnd) {
  PtyScreen s(Launch{});
  s.write_stdin("8\n");
  s.close_stdin();
  ASSERT_TRUE(s.wait_for([&] { return shows_centred(s, kClosed); })) << s.screen_text();
  const int row = s.rows() - 2;
  const int col = s.cols() - 25;
  const std::string clock = s.text_at(row, col, 24);
  EXPECT_TRUE(s.wait_for([&] {
    return s.text_at(row, col, 24) != clock && shows_centred(s, kClosed) &&
           frame_problems(s).empty() && starts_with(stats_line(s), "last=8.0 ");
  })) << s.screen_text();
}

TEST(Stdin, ATerminalOnStandardInputGivesTextNotKeys) {
  Launch launch;
  launch.stdin_kind = StdinKind::kTerminal;
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  ASSERT_TRUE(shows_centred(s, kWaiting)) << s.screen_text();
  // q is a word of the input, not a key; the number behind it arrives.
  s.send_keys("q\n7\n");
  EXPECT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=7.0 "); }))
      << s.screen_text();
  EXPECT_TRUE(s.running());
  s.signal(SIGINT);
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 0");
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "");
}

}  // namespace
}  // namespace e2e

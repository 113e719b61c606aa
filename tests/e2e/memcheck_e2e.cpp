// SPDX-License-Identifier: MIT
// The real program under valgrind's memcheck, through a run that reaches
// every part of it: numbers over several reads, garbage, a window change, a
// too-small window, rate mode, Ctrl-L, the end of input and q. Memcheck must
// find no error and nothing definitely lost; what curses keeps for the life
// of the process is still reachable and does not count.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "frame.h"
#include "pty_screen.h"

namespace e2e {
namespace {

// Memcheck runs the program some thirty times slower.
constexpr Millis kSlowWait{60000};

TEST(Memcheck, AWholeRunHasNoErrorsAndLosesNothing) {
#if !defined(VANTREL_VALGRIND)
  GTEST_SKIP() << "valgrind is not installed (Debian package valgrind)";
#elif defined(VANTREL_SANITIZED)
  GTEST_SKIP() << "a sanitizer build does not run under valgrind";
#else
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* locale;
  };
  const Case cases[] = {
      {"character plot", {}, "C"},
      {"two series in braille, fill, a scheme", {"-2", "-b", "-f", "-C", "dark1"}, "C.UTF-8"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.wrapper = {VANTREL_VALGRIND,
                      "--quiet",
                      "--error-exitcode=99",
                      "--leak-check=full",
                      "--show-leak-kinds=definite",
                      "--errors-for-leak-kinds=definite"};
    launch.args = c.args;
    launch.locale = c.locale;
    launch.fake_time = true;
    PtyScreen s(launch);
    ASSERT_TRUE(s.wait_for([&] { return frame_problems(s).empty(); }, kSlowWait) &&
                s.wait_idle(kSlowWait))
        << c.what << "\n"
        << s.screen_text() << s.stderr_text();
    char tool[4096] = {};
    const std::string exe = "/proc/" + std::to_string(s.pid()) + "/exe";
    ASSERT_GT(readlink(exe.c_str(), tool, sizeof tool - 1), 0);
    ASSERT_NE(std::string(tool).find("memcheck"), std::string::npos) << tool;

    ASSERT_TRUE(s.write_stdin("1 2 3 x 4"));
    ASSERT_TRUE(s.write_stdin("0 -5e1 1e999\n7 8\r9\n"));
    EXPECT_TRUE(
        s.wait_for([&] { return stats_line(s).find("last=") != std::string::npos; }, kSlowWait))
        << c.what << "\n"
        << s.screen_text();
    s.resize(30, 120);
    EXPECT_TRUE(s.wait_for([&] { return frame_problems(s).empty(); }, kSlowWait))
        << c.what << "\n"
        << s.screen_text();
    s.resize(4, 40);
    EXPECT_TRUE(s.wait_for([&] { return shows_centred(s, "Window too small..."); }, kSlowWait))
        << c.what << "\n"
        << s.screen_text();
    // Wide enough for both statistics lines, with the interval, beside the
    // clock and the banner.
    s.resize(30, 120);
    s.send_keys("r");
    ASSERT_TRUE(s.write_stdin("10 20\n30 40\n"));
    s.send_keys("\x0c");
    s.close_stdin();
    EXPECT_TRUE(s.wait_for(
        [&] { return frame_problems(s).empty() && shows_centred(s, "input stream closed"); },
        kSlowWait))
        << c.what << "\n"
        << s.screen_text();
    ASSERT_TRUE(s.wait_idle(kSlowWait));

    s.send_keys("q");
    EXPECT_EQ(exit_text(s.wait_exit(kSlowWait)), "exit 0") << c.what << "\n" << s.stderr_text();
    EXPECT_EQ(s.stderr_text(), "") << c.what;
    EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << c.what;
  }
#endif
}

}  // namespace
}  // namespace e2e

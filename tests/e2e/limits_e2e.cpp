// SPDX-License-Identifier: MIT
// The program at the edges of what the system gives it: no descriptors left
// for the signal pipe, descriptors beyond FD_SETSIZE, the widest window.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "frame.h"
#include "pty_screen.h"

namespace e2e {
namespace {

TEST(Limits, NoDescriptorForTheSignalPipe) {
  // 0..2 and the key terminal on 3 leave one descriptor below the limit;
  // the pipe needs two.
  Launch launch;
  launch.nofile_limit = 5;
  // A sanitizer build's leak check at exit needs descriptors of its own.
  const char* asan = std::getenv("ASAN_OPTIONS");
  launch.env = {std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":detect_leaks=0"};
  PtyScreen s(launch);
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 1");
  EXPECT_EQ(s.stderr_text(), "pipe: Too many open files\n");
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "");
  EXPECT_FALSE(s.altscreen());
  EXPECT_TRUE(s.cursor_visible());
}

TEST(Limits, KeyTerminalBeyondFdSetsize) {
  constexpr rlim_t kLimit = 4096;
  struct rlimit limit {};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < kLimit && geteuid() != 0) {
    GTEST_SKIP() << "needs a hard RLIMIT_NOFILE of at least " << kLimit;
  }
  Launch launch;
  launch.nofile_limit = kLimit;
  launch.occupy_fds_below = FD_SETSIZE + 76;
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  const auto fds = s.child_fds();
  const bool tty_high = std::any_of(fds.begin(), fds.end(), [](const auto& fd) {
    return fd.first >= FD_SETSIZE && fd.second == "/dev/tty";
  });
  std::string listing;
  for (const auto& [fd, target] : fds) {
    if (fd < 3 || fd >= FD_SETSIZE) listing += std::to_string(fd) + " " + target + "\n";
  }
  ASSERT_TRUE(tty_high) << "the key terminal is not beyond FD_SETSIZE:\n" << listing;

  s.write_stdin("9\n");
  EXPECT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=9.0 "); }))
      << s.screen_text();
  s.send_keys("q");
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 0");
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "");
}

TEST(Limits, WidestWindowIsPaintedOneMoreEndsTheProgram) {
  Launch launch;
  launch.cols = 1026;
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << frame_problems(s);
  EXPECT_EQ(s.text_at(s.rows() - 1, 986, static_cast<int>(kBanner.size())), kBanner);
  EXPECT_EQ(s.cell_char(s.rows() - 3, 1024), U'>');

  s.resize(24, 1027);
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 1");
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "");
  EXPECT_FALSE(s.altscreen());
  const std::string& err = s.stderr_text();
  EXPECT_NE(err.find("1026 columns"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(err.back(), '\n') << err;
}

}  // namespace
}  // namespace e2e

// SPDX-License-Identifier: MIT
// The ways a pipeline breaks under a long-running plotter, one case each:
// what standard input, standard output, the terminal and the signals can do,
// and what the program must still do then.
//
// Cases already asserted elsewhere, not repeated here:
//   standard input a directory: message, frame, q     Stdin.EveryEndIsShownCentredAndQStillQuits
//   standard input closed at start: message, q        Stdin.EveryEndIsShownCentredAndQStillQuits
//   a producer that exits at once (pipe written and
//   closed before start-up is over, /dev/null)        Stdin.EveryEndIsShownCentredAndQStillQuits
//   standard input itself a terminal Stdin.ATerminalOnStandardInputGivesTextNotKeys TERM naming no
//   known terminal                     CommandLine.UnknownTerminalIsReportedAndLeavesTheModes
//   SIGTERM                                           Loop.WaysOutRestoreTheTerminal
//   1027 columns reached by a window change Limits.WidestWindowIsPaintedOneMoreEndsTheProgram
// Here the directory and the closed descriptor come back only for what those
// tests leave out: that the plot goes on, and where descriptor 0 points.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "expect.h"
#include "frame.h"
#include "pty_screen.h"
#include "temp_file.h"

namespace e2e {
namespace {

// Field `index` (1-based, as in proc(5)) of /proc/PID/stat; the command name
// in parentheses may hold blanks, so counting starts behind it.
std::string stat_field(pid_t pid, int index) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return "";
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  for (int i = 3; i <= index && fields >> field; ++i) {
  }
  return field;
}

// Clock ticks of user plus system time the process has used.
long cpu_ticks(pid_t pid) {
  return std::atol(stat_field(pid, 14).c_str()) + std::atol(stat_field(pid, 15).c_str());
}

// The loop still wakes on its own: the clock moves on to the next second.
bool clock_moves(PtyScreen& s) {
  const int row = s.rows() - 2;
  const int col = s.cols() - 25;
  const std::string before = s.text_at(row, col, 24);
  return s.wait_for([&] { return s.running() && s.text_at(row, col, 24) != before; });
}

// Standard input fails or never brings anything, and the plot carries on:
// message (if any) centred, the samples that came before still there, the
// clock moving, and the program still ends on request. The cases run side by
// side so that their clocks tick together.
// A second pseudo-terminal that gives one of its sides to the program as
// standard input; the test writes on, and then closes, the other side.
struct OtherPty {
  int side[2] = {-1, -1};  // master, slave
  OtherPty() {
    EXPECT_EQ(openpty(&side[0], &side[1], nullptr, nullptr, nullptr), 0);
    for (int fd : side) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  ~OtherPty() { close_side(0), close_side(1); }
  void close_side(int i) {
    if (side[i] >= 0) close(side[i]);
    side[i] = -1;
  }
};

TEST(Faults, StandardInputFailsAndThePlotGoesOn) {
  // Linux reports the hang-up of a slave whose master has gone as end of
  // file; a master whose slave has gone fails its reads with EIO.
  OtherPty slave_side;
  OtherPty master_side;
  auto line_then_close = [](int write_fd, std::function<void()> close_other) {
    return [=](PtyScreen& s) {
      EXPECT_EQ(write(write_fd, "5\n", 2), 2);
      EXPECT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=5.0 "); }))
          << s.screen_text();
      close_other();
    };
  };

  struct Case {
    const char* what;
    Launch launch;
    const char* message;  // centred once the fault has happened, or none
    // Brings the fault about once the program waits, or feeds it; may be empty.
    std::function<void(PtyScreen&)> act;
    const char* stats;  // start of statistics line 1 at the end, or none
    bool keys;          // q quits; otherwise only an interrupt can end it
  };
  Launch dir;
  dir.stdin_kind = StdinKind::kPath;
  dir.stdin_path = "/";
  Launch on_slave;
  on_slave.stdin_kind = StdinKind::kFd;
  on_slave.stdin_fd = slave_side.side[1];
  Launch on_master;
  on_master.stdin_kind = StdinKind::kFd;
  on_master.stdin_fd = master_side.side[0];
  Launch nonblocking;
  nonblocking.stdin_nonblocking = true;
  Launch closed;
  closed.stdin_kind = StdinKind::kClosed;
  std::vector<Case> cases = {
      {"directory", dir, "Is a directory", nullptr, nullptr, true},
      // A line arrives first; then the other side goes. A terminal on
      // standard input means no key terminal, so only an interrupt ends these.
      {"pty slave whose master closed", on_slave, "input stream closed",
       line_then_close(slave_side.side[0], [&] { slave_side.close_side(0); }),
       "last=5.0 min=5.0 max=5.0 avg=5.0 ", false},
      {"pty master whose slave closed", on_master, "Input/output error",
       line_then_close(master_side.side[1], [&] { master_side.close_side(1); }),
       "last=5.0 min=5.0 max=5.0 avg=5.0 ", false},
      // No data for a while on a non-blocking pipe, then a number, then another.
      {"non-blocking pipe without data", nonblocking, nullptr,
       [](PtyScreen& s) {
         EXPECT_TRUE(clock_moves(s)) << s.screen_text();
         s.write_stdin("4\n");
         EXPECT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=4.0 "); }))
             << s.screen_text();
         EXPECT_TRUE(clock_moves(s)) << s.screen_text();
         s.write_stdin("6\n");
       },
       "last=6.0 min=4.0 max=6.0 avg=5.0 ", true},
      // The key terminal must not take descriptor 0, or it would be read as input.
      {"descriptor 0 closed", closed, "input stream closed", nullptr, nullptr, true},
  };

  std::vector<std::unique_ptr<PtyScreen>> screens;
  for (const Case& c : cases) screens.push_back(std::make_unique<PtyScreen>(c.launch));
  slave_side.close_side(1);
  master_side.close_side(0);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    PtyScreen& s = *screens[i];
    ASSERT_TRUE(s.wait_for([&] { return frame_problems(s).empty(); }) && s.wait_idle())
        << c.what << "\n"
        << s.screen_text();
    if (c.act) c.act(s);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    PtyScreen& s = *screens[i];
    auto shown = [&] {
      return frame_problems(s).empty() && (c.message == nullptr || shows_centred(s, c.message)) &&
             (c.stats != nullptr ? starts_with(stats_line(s), c.stats)
                                 : stats_line(s).find("last=") == std::string::npos);
    };
    EXPECT_TRUE(s.wait_for(shown)) << c.what << "\n" << s.screen_text();
    EXPECT_TRUE(clock_moves(s)) << c.what << "\n" << s.screen_text();
    EXPECT_TRUE(shown()) << c.what << "\n" << s.screen_text();
    if (c.launch.stdin_kind == StdinKind::kClosed) {
      const auto fds = s.child_fds();
      const bool tty_elsewhere = std::any_of(fds.begin(), fds.end(), [](const auto& fd) {
        return fd.first > 2 && fd.second == "/dev/tty";
      });
      EXPECT_TRUE(tty_elsewhere) << c.what;
    }
    if (c.keys) {
      s.send_keys("q");
    } else {
      // Keys typed on the program's terminal do nothing here.
      s.send_keys("q");
      EXPECT_FALSE(s.wait_exit(Millis{300})) << c.what;
      s.signal(SIGINT);
    }
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 0") << c.what;
    expect_terminal_given_back(s, c.what);
    EXPECT_EQ(s.stderr_text(), "") << c.what;
  }
}

// An idle loop must sleep: a non-blocking descriptor with nothing to read
// must not make the wait return at once, over and over.
TEST(Faults, NonBlockingInputWithoutDataCostsNoTime) {
  Launch launch;
  launch.stdin_nonblocking = true;
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  const long before = cpu_ticks(s.pid());
  ASSERT_TRUE(clock_moves(s));
  ASSERT_TRUE(clock_moves(s));
  // Two repaints of an 80x24 frame take a few milliseconds; a busy loop
  // would use the whole of both seconds.
  EXPECT_LT(cpu_ticks(s.pid()) - before, sysconf(_SC_CLK_TCK) / 5);
}

// Started as a session of its own with the pty only as standard output, the
// program has no terminal for keys: it says nothing about it, plots, ignores
// what is typed, and an interrupt still ends it in order.
TEST(Faults, NoControllingTerminal) {
  Launch launch;
  launch.controlling_terminal = false;
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  EXPECT_EQ(stat_field(s.pid(), 7), "0") << "the child has a controlling terminal";
  for (const auto& [fd, target] : s.child_fds()) EXPECT_NE(target, "/dev/tty") << fd;

  s.write_stdin("3\n");
  EXPECT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=3.0 "); }))
      << s.screen_text();
  s.send_keys("q");
  EXPECT_FALSE(s.wait_exit(Millis{300}));
  EXPECT_TRUE(frame_problems(s).empty()) << s.screen_text();
  s.signal(SIGINT);
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 0");
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "");
  EXPECT_EQ(s.stderr_text(), "");
}

// vantrel > log, or vantrel | a reader that goes away: the frames go
// elsewhere, keys still come from the terminal and act one at a time, and
// every way out leaves the terminal as it was. Standard error is not the
// terminal either, so curses has no terminal of its own to set modes on.
TEST(Faults, StandardOutputElsewhere) {
  enum class Way { kQ, kSigint, kSigterm, kStopThenQ, kReaderGone };
  struct Case {
    const char* what;
    Way way;
    const char* exit;
  };
  const Case cases[] = {
      {"q", Way::kQ, "exit 0"},
      {"SIGINT", Way::kSigint, "exit 0"},
      {"SIGTERM", Way::kSigterm, "signal 15 (Terminated)"},
      {"Ctrl-Z, fg, then q", Way::kStopThenQ, "exit 0"},
      {"a pipe whose reader has gone", Way::kReaderGone, "signal 13 (Broken pipe)"},
  };
  for (const Case& c : cases) {
    TempFile out;
    int reader = -1;
    Launch launch;
    launch.stdout_path = out.path();
    launch.fake_time = true;
    launch.job_control = c.way == Way::kStopThenQ;
    if (c.way == Way::kReaderGone) {
      unlink(out.path());
      ASSERT_EQ(mkfifo(out.path(), 0600), 0) << c.what;
      reader = open(out.path(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(reader, 0) << c.what;
    }
    PtyScreen s(launch);
    ASSERT_TRUE(s.wait_idle()) << c.what << "\n" << s.stderr_text();
    if (reader < 0) {
      s.write_stdin("7\n");
      ASSERT_TRUE(s.wait_for([&] { return out.text().find("last=7.0 ") != std::string::npos; }))
          << c.what << ": " << out.text().size() << " bytes in the file";
      ASSERT_TRUE(s.wait_idle());
    }
    switch (c.way) {
      case Way::kQ: s.send_keys("q"); break;
      case Way::kSigint: s.signal(SIGINT); break;
      case Way::kSigterm: s.signal(SIGTERM); break;
      case Way::kStopThenQ:
        s.send_keys("\x1a");
        ASSERT_TRUE(s.wait_for([&] { return stat_field(s.pid(), 3) == "T"; }))
            << c.what << ": not stopped, state " << stat_field(s.pid(), 3);
        EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << c.what << ", stopped";
        s.signal(SIGCONT);
        ASSERT_TRUE(s.wait_for([&] { return stat_field(s.pid(), 3) != "T"; }) && s.wait_idle())
            << c.what;
        // Only a key terminal taken again reads this q without a line end.
        s.send_keys("q");
        break;
      case Way::kReaderGone:
        close(reader);
        s.write_stdin("8\n");  // the next frame meets the closed pipe
        break;
    }
    EXPECT_EQ(exit_text(s.wait_exit()), c.exit)
        << c.what << ", modes while running: " << modes_diff(s.modes_at_start(), s.modes_now());
    EXPECT_EQ(s.screen_text(), std::string(static_cast<std::size_t>(s.rows()), '\n'))
        << c.what << ": typed text was echoed";
    EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << c.what;
    EXPECT_EQ(s.stderr_text(), "") << c.what;
  }
}

TEST(Faults, NoUsableTerminalTypeIsReported) {
  NewtermLeakRule leaks;
  struct Case {
    const char* what;
    std::vector<std::string> env;  // TERM is not set unless here
  };
  // An unknown name is CommandLine.UnknownTerminalIsReportedAndLeavesTheModes.
  // A terminal that cannot place the cursor could show no frame at all.
  const Case cases[] = {
      {"TERM unset", {}}, {"TERM empty", {"TERM="}}, {"TERM dumb", {"TERM=dumb"}}};
  for (const Case& c : cases) {
    Launch launch;
    launch.term = "";
    launch.env = c.env;
    launch.env.push_back(leaks.env());
    PtyScreen s(launch);
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 1") << c.what;
    EXPECT_EQ(s.stderr_text(), "Error: failed to initialize ncurses\n") << c.what;
    EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << c.what;
    EXPECT_EQ(s.screen_text(), std::string(static_cast<std::size_t>(s.rows()), '\n')) << c.what;
  }
}

// Signals that end the program the way they would end any program, after the
// terminal has been given back. SIGTERM alone is in Loop.WaysOutRestoreTheTerminal.
TEST(Faults, HangupRestoresTheTerminalAndEndsAsTheSignalWould) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int signo;
    const char* exit;
  };
  const Case cases[] = {
      {"SIGHUP", {}, SIGHUP, "signal 1 (Hangup)"},
      {"SIGHUP, sub-cell mode", {"-b", "-2"}, SIGHUP, "signal 1 (Hangup)"},
      {"SIGTERM after the input ended", {}, SIGTERM, "signal 15 (Terminated)"},
      // the quit key's signal, which would also dump core where that is allowed
      {"SIGQUIT", {}, SIGQUIT, "signal 3 (Quit)"},
  };
  for (const Case& c : cases) {
    Launch launch;
    launch.args = c.args;
    launch.locale = "C.UTF-8";
    PtyScreen s(launch);
    ASSERT_TRUE(wait_started(s)) << c.what << "\n" << s.screen_text();
    s.write_stdin("1 2 3 4\n");
    if (c.signo == SIGTERM) s.close_stdin();
    ASSERT_TRUE(s.wait_for([&] { return stats_line(s).find("last=") != std::string::npos; }))
        << c.what;
    ASSERT_TRUE(s.wait_idle());
    s.signal(c.signo);
    EXPECT_EQ(exit_text(s.wait_exit()), c.exit) << c.what;
    expect_terminal_given_back(s, c.what);
    EXPECT_EQ(s.stderr_text(), "") << c.what;
  }
}

// Ctrl-Z in a shell: the program stops with the terminal given back, and on
// resumption the frame returns and the plot goes on. Without job control (the
// program's group orphaned, as when it leads its own session) the kernel drops
// the stop; the program must then simply carry on.
TEST(Faults, CtrlZAndResume) {
  struct Case {
    const char* what;
    bool job_control;
  };
  const Case cases[] = {{"as a job", true}, {"orphaned", false}};
  for (const Case& c : cases) {
    Launch launch;
    launch.job_control = c.job_control;
    launch.fake_time = true;
    PtyScreen s(launch);
    ASSERT_TRUE(wait_started(s)) << c.what << "\n" << s.screen_text();
    s.write_stdin("2\n");
    ASSERT_TRUE(s.wait_for([&] { return starts_with(stats_line(s), "last=2.0 "); })) << c.what;
    ASSERT_TRUE(s.wait_idle());

    s.send_keys("\x1a");
    if (c.job_control) {
      ASSERT_TRUE(s.wait_for([&] { return stat_field(s.pid(), 3) == "T"; }))
          << c.what << ": not stopped, state " << stat_field(s.pid(), 3);
      s.pump(Millis{50});
      EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << c.what << ", stopped";
      EXPECT_FALSE(s.altscreen()) << c.what << ", stopped";
      EXPECT_TRUE(s.cursor_visible()) << c.what << ", stopped";
      // The shell takes the foreground back and gives it again with fg.
      s.signal(SIGCONT);
    }
    EXPECT_TRUE(s.wait_for([&] {
      return stat_field(s.pid(), 3) != "T" && s.altscreen() && frame_problems(s).empty() &&
             starts_with(stats_line(s), "last=2.0 ");
    })) << c.what
        << ": state " << stat_field(s.pid(), 3) << "\n"
        << s.screen_text();
    s.write_stdin("8\n");
    EXPECT_TRUE(s.wait_for([&] {
      return frame_problems(s).empty() && starts_with(stats_line(s), "last=8.0 min=2.0 max=8.0 ");
    })) << c.what
        << "\n"
        << s.screen_text();
    ASSERT_TRUE(s.wait_idle());
    s.send_keys("q");
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 0") << c.what;
    expect_terminal_given_back(s, c.what);
    EXPECT_EQ(s.stderr_text(), "") << c.what;
  }
}

// A window too wide from the start: the first frame already cannot be held.
TEST(Faults, TooWideFromTheStart) {
  for (int cols : {1027, 3000}) {
    Launch launch;
    launch.cols = cols;
    launch.rows = 10;
    PtyScreen s(launch);
    const std::string what = std::to_string(cols) + " columns";
    EXPECT_EQ(exit_text(s.wait_exit()), "exit 1") << what;
    expect_terminal_given_back(s, what);
    const std::string& err = s.stderr_text();
    EXPECT_NE(err.find("1026 columns"), std::string::npos) << what << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << what << ": " << err;
  }
}

// The loop's consistency check holds in every build: a wait that reports a
// ready descriptor without marking one ends the program abnormally, with the
// report on standard error and the terminal given back first.
TEST(Faults, InconsistentWaitEndsWithAReport) {
#if defined(VANTREL_SANITIZED)
  GTEST_SKIP() << "the sanitizer runtime must come first among the preloaded libraries";
#else
  Launch launch;
  launch.env = {"LD_PRELOAD=" VANTREL_POLL_SHIM};
  PtyScreen s(launch);
  EXPECT_EQ(exit_text(s.wait_exit()), "signal 6 (Aborted)");
  expect_terminal_given_back(s, "aborted");
  EXPECT_NE(s.stderr_text().find("wait_for_events: Assertion `ret != 0' failed."),
            std::string::npos)
      << s.stderr_text();
#endif
}

}  // namespace
}  // namespace e2e

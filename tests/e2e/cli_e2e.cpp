// SPDX-License-Identifier: MIT
// The answers the program gives before it takes over the terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pty_screen.h"
#include "temp_file.h"

namespace e2e {
namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  vantrel [-2] [-r] [-c plotchar] [-s scale] [-m max] [-M min] [-t title] [-u unit]\n"
    "  vantrel -h\n"
    "  vantrel -v\n"
    "\n"
    "  -2 read two values and draw two plots, the second one is in reverse video\n"
    "  -b braille line drawing mode (two lines distinguished by color)\n"
    "  -B block elements drawing mode (quadrants), like -b\n"
    "  -f fill area under the line in braille/block mode (line 1)\n"
    "  -r rate of a counter (divide value by measured sample interval)\n"
    "  -c character to use for plot line, eg @ # % . etc\n"
    "  -e character to use for error line when value exceeds hardmax (default: e)\n"
    "  -E character to use for error symbol displayed when value is less than hardmin (default: "
    "v)\n"
    "  -s initial maximum value (can go above if data input has larger value)\n"
    "  -S initial minimum value (can go below if data input has smaller value)\n"
    "  -m maximum value, if exceeded draws error line (see -e), upper-limit of plot scale is "
    "fixed\n"
    "  -M minimum value, if entered less than this, draws error symbol (see -E), lower-limit of "
    "the plot scale is fixed\n"
    "  -t title of the plot\n"
    "  -u unit displayed beside vertical bar\n"
    "  -C color[/line2][,axes,text,title,max_err,min_err]  set colors (0-7):\n"
    "     First value: plot line color\n"
    "     Second value: axes color (optional)\n"
    "     Third value: text color (optional)\n"
    "     Fourth value: title color (optional)\n"
    "     Fifth value: max error indicator color (optional)\n"
    "     Sixth value: min error indicator color (optional)\n"
    "     Example: -C 1,2,3,4,5,6 or -C 1,2 or -C 1\n"
    "     Predefined color schemes:\n"
    "       -C dark1    Red-green lines for dark terminals\n"
    "       -C dark2    Blue-yellow lines for dark terminals\n"
    "       -C light1   Green-blue-red scheme for light terminals\n"
    "       -C light2   Blue-green-yellow scheme for light terminals\n"
    "  -v print the current version and exit\n"
    "  -h print this help message and exit\n"
    "\n"
    "Hotkeys:\n"
    "   q quit\n"
    "   r toggle rate mode\n"
    "  ^L full screen refresh\n";

TEST(CommandLine, AnswersOnStandardOutputAlone) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string exit;
  };
  const Case cases[] = {
      {{"-h"}, kUsage, "exit 0"},       {{"-v"}, "vantrel " VANTREL_VERSION "\n", "exit 0"},
      {{"-v", "-h"}, kUsage, "exit 0"}, {{"-x"}, kUsage, "exit 1"},
      {{"-h", "-t"}, kUsage, "exit 1"},  // -t without its argument
  };
  for (const Case& c : cases) {
    const PlainRun run = run_plain(c.args);
    const std::string what = c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(exit_text(run.status), c.exit) << what;
    EXPECT_EQ(run.out, c.out) << what;
    EXPECT_EQ(run.err, "") << what;
  }
}

TEST(CommandLine, UnknownTerminalIsReportedAndLeavesTheModes) {
  NewtermLeakRule leaks;
  Launch launch;
  launch.term = "vantrel-no-such-terminal";
  launch.env = {leaks.env()};
  PtyScreen s(launch);
  EXPECT_EQ(exit_text(s.wait_exit()), "exit 1");
  EXPECT_EQ(s.stderr_text(), "Error: failed to initialize ncurses\n");
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "");
  EXPECT_EQ(s.screen_text(), std::string(static_cast<std::size_t>(s.rows()), '\n'));
}

}  // namespace
}  // namespace e2e

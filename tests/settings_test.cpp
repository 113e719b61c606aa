// SPDX-License-Identifier: MIT
// Tests of the command line, the settings it fills, the three checks and the
// -C parser. Every test starts in the "C" locale with fresh settings and
// leaves the locale at "C" again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/locales.h"
#include "vantrel.h"

namespace {

// The help text exactly as users see it; a change here is a change of the
// program's interface.
constexpr char kExpectedUsage[] = R"usage(Usage:
  vantrel [-2] [-r] [-c plotchar] [-s scale] [-m max] [-M min] [-t title] [-u unit]
  vantrel -h
  vantrel -v

  -2 read two values and draw two plots, the second one is in reverse video
  -b braille line drawing mode (two lines distinguished by color)
  -B block elements drawing mode (quadrants), like -b
  -f fill area under the line in braille/block mode (line 1)
  -r rate of a counter (divide value by measured sample interval)
  -c character to use for plot line, eg @ # % . etc
  -e character to use for error line when value exceeds hardmax (default: e)
  -E character to use for error symbol displayed when value is less than hardmin (default: v)
  -s initial maximum value (can go above if data input has larger value)
  -S initial minimum value (can go below if data input has smaller value)
  -m maximum value, if exceeded draws error line (see -e), upper-limit of plot scale is fixed
  -M minimum value, if entered less than this, draws error symbol (see -E), lower-limit of the plot scale is fixed
  -t title of the plot
  -u unit displayed beside vertical bar
  -C color[/line2][,axes,text,title,max_err,min_err]  set colors (0-7):
     First value: plot line color
     Second value: axes color (optional)
     Third value: text color (optional)
     Fourth value: title color (optional)
     Fifth value: max error indicator color (optional)
     Sixth value: min error indicator color (optional)
     Example: -C 1,2,3,4,5,6 or -C 1,2 or -C 1
     Predefined color schemes:
       -C dark1    Red-green lines for dark terminals
       -C dark2    Blue-yellow lines for dark terminals
       -C light1   Green-blue-red scheme for light terminals
       -C light2   Blue-green-yellow scheme for light terminals
  -v print the current version and exit
  -h print this help message and exit

Hotkeys:
   q quit
   r toggle rate mode
  ^L full screen refresh
)usage";

constexpr char kExpectedVersion[] = "vantrel " VANTREL_VERSION "\n";

// Sends one descriptor into a temporary file until finish() returns its text.
class fd_capture {
 public:
  explicit fd_capture(int fd) : fd_(fd), file_(std::tmpfile()) {
    std::fflush(nullptr);
    saved_ = dup(fd_);
    if (file_ != nullptr) dup2(fileno(file_), fd_);
  }
  fd_capture(const fd_capture&) = delete;
  fd_capture& operator=(const fd_capture&) = delete;
  ~fd_capture() { finish(); }

  std::string finish() {
    std::string text;
    if (saved_ < 0) return text;
    std::fflush(nullptr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    if (file_ == nullptr) return "<no temporary file>";
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file_);
    file_ = nullptr;
    return text;
  }

 private:
  int fd_;
  int saved_ = -1;
  std::FILE* file_;
};

struct cli_result {
  int status;
  std::string out;
  std::string err;
};

// Runs the command line "vantrel <words...>" and captures both output streams.
cli_result run_cli(const std::vector<std::string>& words) {
  std::vector<std::string> storage{"vantrel"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  fd_capture out(STDOUT_FILENO);
  fd_capture err(STDERR_FILENO);
  cli_result r{};
  r.status = settings_read_command_line(static_cast<int>(storage.size()), argv.data());
  r.err = err.finish();
  r.out = out.finish();
  return r;
}

std::string show(const std::vector<std::string>& words) {
  std::string s = "vantrel";
  for (const std::string& w : words) s += " '" + w + "'";
  return s;
}

wchar_t glyph_of(const cchar_t& cell, attr_t* attrs = nullptr) {
  wchar_t text[CCHARW_MAX + 1] = {};
  attr_t a = 0;
  short pair = 0;
  getcchar(&cell, text, &a, &pair, nullptr);
  if (attrs != nullptr) *attrs = a;
  return text[0];
}

// NaN equals NaN here: a NaN from an option must survive the checks.
::testing::AssertionResult same_double(const char* what, double seen, double expected) {
  if ((std::isnan(seen) && std::isnan(expected)) || seen == expected) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << what << " is " << seen << ", expected " << expected;
}

#define REQUIRE_UTF8_LOCALE() REQUIRE_LOCALE("en_US.UTF-8 or C.UTF-8", "en_US.UTF-8", "C.UTF-8")

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C");
    settings_reset();
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    settings_reset();
  }
};

using SettingsCommandLine = SettingsTest;

TEST_F(SettingsCommandLine, HelpVersionAndUsageErrorsInEitherOrder) {
  struct Case {
    std::vector<std::string> words;
    int status;
    const char* out;
  };
  const Case cases[] = {
      {{"-h"}, 0, kExpectedUsage},
      {{"-v"}, 0, kExpectedVersion},
      {{"-v", "-h"}, 0, kExpectedUsage},
      {{"-h", "-v"}, 0, kExpectedUsage},
      {{"-vh"}, 0, kExpectedUsage},
      {{"-2", "-s", "3", "-v"}, 0, kExpectedVersion},
      {{"-h", "-x"}, 1, kExpectedUsage},
      {{"-x", "-h"}, 1, kExpectedUsage},
      {{"-v", "-x"}, 1, kExpectedUsage},
      {{"-hx"}, 1, kExpectedUsage},
      {{"-h", "-t"}, 1, kExpectedUsage},  // -t as the last word lacks its argument
      {{"-t"}, 1, kExpectedUsage},
      {{"-2", "-c"}, 1, kExpectedUsage},
      {{"-v", "-2", "-rb", "-C"}, 1, kExpectedUsage},
      // Not options: an argument, a word after a non-option, a word after "--".
      {{"-t", "-h"}, kKeepRunning, ""},
      {{"-C", "-v"}, kKeepRunning, ""},
      {{"5", "-h"}, kKeepRunning, ""},
      {{"--", "-x"}, kKeepRunning, ""},
      {{"-v", "--", "-x"}, 0, kExpectedVersion},
      {{"-2", "5", "-h", "-x"}, kKeepRunning, ""},
  };
  for (const Case& c : cases) {
    const cli_result r = run_cli(c.words);
    EXPECT_EQ(r.status, c.status) << show(c.words);
    EXPECT_EQ(r.out, c.out) << show(c.words);
    EXPECT_EQ(r.err, "") << show(c.words);  // getopt's own diagnostics stay off
  }
}

TEST_F(SettingsCommandLine, LimitsAndTheirChecks) {
  const double nan = std::nan("");
  struct Case {
    std::vector<std::string> words;
    double softmax;
    double softmin;
    double hardmax;
    double hardmin;
  };
  const Case cases[] = {
      {{}, 0.0, 0.0, kFltMax, -kFltMax},
      {{"-M", "10", "-m", "5"}, 11.0, 0.0, kFltMax, 10.0},
      {{"-M", "10", "-m", "10"}, 11.0, 0.0, kFltMax, 10.0},
      {{"-M", "5"}, 6.0, 0.0, kFltMax, 5.0},
      {{"-s", "100", "-M", "-5"}, 100.0, 0.0, kFltMax, -5.0},
      {{"-m", "5", "-M", "3"}, 4.0, 0.0, 5.0, 3.0},
      {{"-s", "2", "-m", "1", "-S", "7"}, 2.0, 7.0, 1.0, -kFltMax},  // no other relation tested
      {{"-s", "-5"}, -5.0, 0.0, kFltMax, -kFltMax},
      {{"-s-5"}, -5.0, 0.0, kFltMax, -kFltMax},
      {{"-s5", "-S", "-2.5"}, 5.0, -2.5, kFltMax, -kFltMax},
      {{"-s", "1", "-s", "2"}, 2.0, 0.0, kFltMax, -kFltMax},
      {{"-s", "abc"}, 0.0, 0.0, kFltMax, -kFltMax},
      {{"-s", "12.5xyz"}, 12.5, 0.0, kFltMax, -kFltMax},
      {{"-s", "1e3"}, 1000.0, 0.0, kFltMax, -kFltMax},
      {{"-s", ""}, 0.0, 0.0, kFltMax, -kFltMax},
      // A comparison with NaN is false, so the checks leave everything alone.
      {{"-m", "nan"}, 0.0, 0.0, nan, -kFltMax},
      {{"-M", "nan"}, 0.0, 0.0, kFltMax, nan},
      {{"-M", "nan", "-m", "5"}, 0.0, 0.0, 5.0, nan},
      {{"-s", "nan", "-M", "5"}, nan, 0.0, kFltMax, 5.0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(run_cli(c.words).status, kKeepRunning) << show(c.words);
    EXPECT_TRUE(same_double("softmax", softmax, c.softmax)) << show(c.words);
    EXPECT_TRUE(same_double("softmin", softmin, c.softmin)) << show(c.words);
    EXPECT_TRUE(same_double("hardmax", hardmax, c.hardmax)) << show(c.words);
    EXPECT_TRUE(same_double("hardmin", hardmin, c.hardmin)) << show(c.words);
  }
}

TEST_F(SettingsCommandLine, FlagsGroupingAndTheEndOfTheScan) {
  struct Case {
    std::vector<std::string> words;
    int two;
    int rate;
    int fill;
    double softmax;
  };
  const Case cases[] = {
      {{"-2", "-r"}, 1, 1, 0, 0.0},
      {{"-2rf"}, 1, 1, 1, 0.0},
      {{"-r2s", "7"}, 1, 1, 0, 7.0},
      {{"-2s7", "-f"}, 1, 0, 1, 7.0},
      {{"5", "-2"}, 0, 0, 0, 0.0},
      {{"-r", "5", "-2"}, 0, 1, 0, 0.0},
      {{"-r", "--", "-2"}, 0, 1, 0, 0.0},
      {{"-s", "--", "-2"}, 1, 0, 0, 0.0},  // "--" taken as -s's argument
      {{"-", "-2"}, 0, 0, 0, 0.0},         // a lone "-" is not an option
  };
  for (const Case& c : cases) {
    ASSERT_EQ(run_cli(c.words).status, kKeepRunning) << show(c.words);
    EXPECT_EQ(two_values, c.two) << show(c.words);
    EXPECT_EQ(rate_mode, c.rate) << show(c.words);
    EXPECT_EQ(fill_mode, c.fill) << show(c.words);
    EXPECT_EQ(softmax, c.softmax) << show(c.words);
  }
}

TEST_F(SettingsCommandLine, TitleAndUnitAreCutToTheirBuffers) {
  std::string text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<char>('a' + i * 7 % 26));
  struct Case {
    const char* option;
    std::size_t given;
    std::size_t kept;
  };
  const Case cases[] = {{"-t", 300, 255}, {"-t", 256, 255}, {"-t", 255, 255}, {"-t", 0, 0},
                        {"-u", 300, 63},  {"-u", 64, 63},   {"-u", 63, 63}};
  for (const Case& c : cases) {
    const std::vector<std::string> words{c.option, text.substr(0, c.given)};
    ASSERT_EQ(run_cli(words).status, kKeepRunning);
    const char* seen = c.option[1] == 't' ? title : unit;
    EXPECT_EQ(std::string(seen), text.substr(0, c.kept)) << c.option << " of " << c.given;
  }

  // control characters would move the cursor when drawn: each becomes a '?'
  ASSERT_EQ(run_cli({"-t", "a\nb\tc\rd\be\x1b[2Jf\x7f", "-u", "\n\n\nms"}).status, kKeepRunning);
  EXPECT_STREQ(title, "a?b?c?d?e?[2Jf?");
  EXPECT_STREQ(unit, "???ms");

  ASSERT_EQ(run_cli({"-t", "-h", "-u", "--"}).status, kKeepRunning);
  EXPECT_STREQ(title, "-h");
  EXPECT_STREQ(unit, "--");
  ASSERT_EQ(run_cli({}).status, kKeepRunning);
  EXPECT_STREQ(title, ".: vantrel :.");
  EXPECT_STREQ(unit, "");
}

TEST_F(SettingsCommandLine, ColorOptionsApplyInOrder) {
  ASSERT_EQ(run_cli({"-C", "dark1", "-2", "-C", "5"}).status, kKeepRunning);
  EXPECT_EQ(colors, (std::array<int, kRoleCount>{5, 6, 7, 3, 1, 2}));
  EXPECT_EQ(line2_color, 2);
  EXPECT_EQ(two_values, 1);
}

// Each call must scan its own argv from the first word, whatever the previous
// call left behind (an index past the end, or a position inside a word).
TEST_F(SettingsCommandLine, EveryCallScansAfresh) {
  ASSERT_EQ(run_cli({"-2", "-r", "-s", "3", "-t", "first"}).status, kKeepRunning);
  ASSERT_EQ(run_cli({"-u", "kg"}).status, kKeepRunning);
  EXPECT_STREQ(unit, "kg");
  EXPECT_EQ(two_values, 0);  // settings start afresh as well
  EXPECT_STREQ(title, ".: vantrel :.");

  EXPECT_EQ(run_cli({"-2x3", "-f"}).status, 1);  // stops inside a word
  ASSERT_EQ(run_cli({"-r"}).status, kKeepRunning);
  EXPECT_EQ(rate_mode, 1);

  EXPECT_EQ(run_cli({"-x", "-2", "-3", "-4"}).status, 1);
  const cli_result r = run_cli({"-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kExpectedUsage);

  ASSERT_EQ(run_cli({"-rf", "-s", "9", "-2"}).status, kKeepRunning);
  EXPECT_EQ(two_values, 1);
  EXPECT_EQ(softmax, 9.0);
}

TEST_F(SettingsCommandLine, FakeTimeIsItsPresenceOnly) {
  const char* old = std::getenv("FAKETIME");
  const std::string saved = old != nullptr ? old : "";
  setenv("FAKETIME", "", 1);
  run_cli({});
  EXPECT_TRUE(fake_time);
  unsetenv("FAKETIME");
  run_cli({});
  EXPECT_FALSE(fake_time);
  if (old != nullptr) setenv("FAKETIME", saved.c_str(), 1);
}

using SettingsLocale = SettingsTest;

TEST_F(SettingsLocale, SingleByteLocaleGlyphsAndSubcellModes) {
  ASSERT_EQ(run_cli({"-b", "-B", "-f"}).status, kKeepRunning);
  EXPECT_EQ(braille_mode, 0);
  EXPECT_EQ(block_mode, 0);
  EXPECT_EQ(fill_mode, 1);
  EXPECT_EQ(glyph_of(plot_cell), L'|');
  EXPECT_EQ(glyph_of(max_err_cell), L'e');
  EXPECT_EQ(glyph_of(min_err_cell), L'v');
  attr_t attrs = 0;
  EXPECT_EQ(glyph_of(second_line_cell, &attrs), L' ');
  EXPECT_EQ(attrs, A_REVERSE);

  ASSERT_EQ(run_cli({"-c", "ab", "-e", "#", "-E", "", "-c", "-x"}).status, kKeepRunning);
  EXPECT_EQ(glyph_of(plot_cell, &attrs), L'-');
  EXPECT_EQ(attrs, 0u);
  EXPECT_EQ(glyph_of(max_err_cell), L'#');
  EXPECT_EQ(glyph_of(min_err_cell), L'v');  // an empty glyph keeps the default
}

TEST_F(SettingsLocale, Utf8GlyphsAndSubcellModes) {
  REQUIRE_UTF8_LOCALE();
  struct Case {
    std::vector<std::string> words;
    wchar_t plot;
    wchar_t max_err;
    wchar_t min_err;
  };
  const Case cases[] = {
      {{}, L'\u2502', L'e', L'v'},
      {{"-c", "\u2588"}, L'\u2588', L'e', L'v'},
      {{"-c", "\u25cf\u2588", "-e", "\u00e9", "-E", "\u25bc"}, L'\u25cf', L'\u00e9', L'\u25bc'},
      {{"-c", "ab"}, L'a', L'e', L'v'},
      {{"-c", ""}, L'\u2502', L'e', L'v'},
      {{"-c", "\xff"}, L'\u2502', L'e', L'v'},
      {{"-e", "\xe2\x96"}, L'\u2502', L'e', L'v'},  // cut inside a character
      {{"-c", "*", "-c", "\x80x"}, L'*', L'e', L'v'},
      // a glyph fills one column: wide, zero-width and control characters
      // keep the default, an earlier glyph too
      {{"-c", "\u4e2d", "-e", "\U0001f525", "-E", "\u4e2d"}, L'\u2502', L'e', L'v'},
      {{"-c", "\u0301"}, L'\u2502', L'e', L'v'},
      {{"-c", "#", "-c", "\x01", "-e", "\t"}, L'#', L'e', L'v'},
      {{"-c", "\u00e9\u0301"}, L'\u00e9', L'e', L'v'},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(run_cli(c.words).status, kKeepRunning) << show(c.words);
    EXPECT_EQ(static_cast<unsigned>(glyph_of(plot_cell)), static_cast<unsigned>(c.plot))
        << show(c.words);
    EXPECT_EQ(static_cast<unsigned>(glyph_of(max_err_cell)), static_cast<unsigned>(c.max_err))
        << show(c.words);
    EXPECT_EQ(static_cast<unsigned>(glyph_of(min_err_cell)), static_cast<unsigned>(c.min_err))
        << show(c.words);
  }

  ASSERT_EQ(run_cli({"-2rbBf"}).status, kKeepRunning);
  EXPECT_EQ(braille_mode, 1);
  EXPECT_EQ(block_mode, 1);
  EXPECT_EQ(fill_mode, 1);
}

TEST_F(SettingsLocale, CommaDecimalSeparator) {
  REQUIRE_LOCALE("de_DE.UTF-8", "de_DE.UTF-8");
  struct Case {
    const char* arg;
    double softmax;
  };
  const Case cases[] = {{"1.5", 1.0}, {"1,5", 1.5}, {"-2,25e1", -22.5}};
  for (const Case& c : cases) {
    ASSERT_EQ(run_cli({"-s", c.arg}).status, kKeepRunning);
    EXPECT_EQ(softmax, c.softmax) << c.arg;
  }
}

using SettingsColorSpec = SettingsTest;

TEST_F(SettingsColorSpec, ListsAndSchemes) {
  using roles = std::array<int, kRoleCount>;
  const int u = -1;  // not set
  struct Case {
    std::vector<const char*> specs;
    roles expected;
    int line2;
  };
  const Case cases[] = {
      {{"1"}, {1, u, u, u, u, u}, u},
      {{"1,2,3,4,5,6,7"}, {1, 2, 3, 4, 5, 6}, u},
      {{"1/"}, {1, u, u, u, u, u}, 0},
      {{"/5"}, {u, u, u, u, u, u}, 5},
      {{"3", "/5"}, {3, u, u, u, u, u}, 5},
      {{"1,2/3"}, {1, 2, u, u, u, u}, u},
      {{"Dark1"}, {0, u, u, u, u, u}, u},
      {{"dark1 "}, {0, u, u, u, u, u}, u},
      {{"dark1", "5"}, {5, 6, 7, 3, 1, 2}, 2},
      {{"1/3", "light1"}, {2, 4, 0, 1, 1, 5}, 3},
      {{"-1"}, {u, u, u, u, u, u}, u},
      {{"dark2", "-1,-1"}, {u, u, 7, 2, 1, 5}, 3},
      {{",2"}, {2, u, u, u, u, u}, u},
      {{"1,,3"}, {1, 3, u, u, u, u}, u},
      {{",,"}, {u, u, u, u, u, u}, u},
      {{"99, 4,+5,x"}, {99, 4, 5, 0, u, u}, u},
      {{"4/2", "1,2,3"}, {1, 2, 3, u, u, u}, 2},
      {{"dark1"}, {1, 6, 7, 3, 1, 2}, 2},
      {{"dark2"}, {4, 6, 7, 2, 1, 5}, 3},
      {{"light1"}, {2, 4, 0, 1, 1, 5}, u},
      {{"light2"}, {4, 2, 0, 3, 1, 5}, u},
      {{"1,2,3,4,5,6", "light2"}, {4, 2, 0, 3, 1, 5}, u},
  };
  for (const Case& c : cases) {
    settings_reset();
    std::string applied;
    for (const char* color_arg : c.specs) {
      parse_color_spec(color_arg);
      applied += std::string(" -C '") + color_arg + "'";
    }
    EXPECT_EQ(colors, c.expected) << applied;
    EXPECT_EQ(line2_color, c.line2) << applied;
  }
}

}  // namespace

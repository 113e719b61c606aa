// SPDX-License-Identifier: MIT
// settings.cpp: the command line, the settings it fills, and the color roles
// and pairs. Everything here runs before the event loop and never again,
// except rate_mode (the 'r' key) and the glyph cells' attribute words (the
// character-cell plot colors them for one column at a time).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <memory>
#include <string_view>

#include "vantrel.h"

int two_values;
int braille_mode;
int block_mode;
int fill_mode;
int rate_mode;
double softmax;
double softmin;
double hardmax;
double hardmin;
char title[256];
char unit[64];
bool fake_time;

cchar_t plot_cell;
cchar_t max_err_cell;
cchar_t min_err_cell;
cchar_t second_line_cell;

std::array<int, kRoleCount> colors;
int line2_color;

namespace {

constexpr const char* kDefaultTitle = ".: vantrel :.";

// glibc's getopt permutes the words unless the option string starts with '+';
// the letters after it are the program's real option string.
constexpr const char* kOptString = "+2bBfrc:e:E:s:S:m:M:t:u:vhC:";

constexpr std::string_view kUsage =
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
    "  -E character to use for error symbol displayed when value is less than hardmin "
    "(default: v)\n"
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

// line2 of a scheme: kKeepLine2 leaves line2_color as an earlier -C set it.
constexpr int kKeepLine2 = -2;

struct color_scheme {
  std::string_view name;
  std::array<int, kRoleCount> roles;
  int line2;
};

constexpr std::array<color_scheme, 4> kSchemes = {{
    {"dark1", {1, 6, 7, 3, 1, 2}, 2},
    {"dark2", {4, 6, 7, 2, 1, 5}, 3},
    {"light1", {2, 4, 0, 1, 1, 5}, kKeepLine2},
    {"light2", {4, 2, 0, 3, 1, 5}, kKeepLine2},
}};

// A glyph fills exactly one cell of a column. An empty argument, one that is
// not a character in this locale, and a character of another width (a wide
// CJK character or emoji, a combining accent, a control character) keep the
// glyph the cell already has: they would draw nothing, or over the axis.
void settings_read_glyph(cchar_t& cell, const char* arg) {
  wchar_t wc = L'\0';
  mbtowc(nullptr, nullptr, 0);
  if (mbtowc(&wc, arg, MB_CUR_MAX) > 0 && wcwidth(wc) == 1) cell = glyph_cell(wc, 0, 0);
}

// A control character in a title or unit would move curses' cursor when
// drawn: a line feed clears the rest of its row, a tab writes blanks, a
// carriage return or backspace writes over the text itself, so a unit that
// follows every scale label could blank the plot. Each one is kept as a
// visible '?' in its place.
void settings_copy_text(char* buf, std::size_t size, const char* arg) {
  std::snprintf(buf, size, "%s", arg);
  for (char* c = buf; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f) *c = '?';
  }
}

void settings_restart_scan() {
  optind = 0;  // glibc's full re-initialisation, which also rereads the '+'
}

void settings_print_usage() {
  std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
}

// First pass: only -h, -v and errors matter. Returns kKeepRunning or a status.
int settings_first_pass(int argc, char** argv) {
  bool help = false;
  bool version = false;
  for (int opt; (opt = getopt(argc, argv, kOptString)) != -1;) {
    if (opt == 'h') {
      help = true;
    } else if (opt == 'v') {
      version = true;
    } else if (opt == '?') {
      settings_print_usage();
      return 1;
    }
  }
  if (help) {
    settings_print_usage();
    return 0;
  }
  if (version) {
    std::printf("vantrel %s\n", kVersion);
    return 0;
  }
  return kKeepRunning;
}

void settings_second_pass(int argc, char** argv) {
  for (int opt; (opt = getopt(argc, argv, kOptString)) != -1;) {
    switch (opt) {
      case '2': two_values = 1; break;
      case 'b': braille_mode = 1; break;
      case 'B': block_mode = 1; break;
      case 'f': fill_mode = 1; break;
      case 'r': rate_mode = 1; break;
      case 'c': settings_read_glyph(plot_cell, optarg); break;
      case 'e': settings_read_glyph(max_err_cell, optarg); break;
      case 'E': settings_read_glyph(min_err_cell, optarg); break;
      case 's': softmax = std::atof(optarg); break;
      case 'S': softmin = std::atof(optarg); break;
      case 'm': hardmax = std::atof(optarg); break;
      case 'M': hardmin = std::atof(optarg); break;
      case 't': settings_copy_text(title, sizeof title, optarg); break;
      case 'u': settings_copy_text(unit, sizeof unit, optarg); break;
      case 'C': parse_color_spec(optarg); break;
      default: break;  // -h, -v and errors ended the first pass already
    }
  }
}

void settings_apply_checks() {
  if (hardmin >= softmax) softmax = hardmin + 1.0;
  if (hardmin >= hardmax) hardmax = kFltMax;
  if (MB_CUR_MAX <= 1) {
    braille_mode = 0;
    block_mode = 0;
  }
}

}  // namespace

void settings_reset() {
  two_values = braille_mode = block_mode = fill_mode = rate_mode = 0;
  softmax = softmin = 0.0;
  hardmax = kFltMax;
  hardmin = -kFltMax;
  settings_copy_text(title, sizeof title, kDefaultTitle);
  unit[0] = '\0';
  fake_time = false;
  colors.fill(-1);
  line2_color = -1;
  max_err_cell = glyph_cell(L'e', 0, 0);
  min_err_cell = glyph_cell(L'v', 0, 0);
  plot_cell = glyph_cell(MB_CUR_MAX < 2 ? L'|' : L'\u2502', 0, 0);
  second_line_cell = glyph_cell(L' ', A_REVERSE, 0);
}

int settings_read_command_line(int argc, char** argv) {
  settings_reset();
  fake_time = std::getenv("FAKETIME") != nullptr;
  opterr = 0;
  settings_restart_scan();
  if (int status = settings_first_pass(argc, argv); status != kKeepRunning) return status;
  settings_restart_scan();
  settings_second_pass(argc, argv);
  settings_apply_checks();
  return kKeepRunning;
}

void parse_color_spec(const char* text) {
  const std::string_view scheme_text = text;
  for (const color_scheme& s : kSchemes) {
    if (scheme_text == s.name) {
      colors = s.roles;
      if (s.line2 != kKeepLine2) line2_color = s.line2;
      return;
    }
  }
  // strtok works on a private copy; out of memory leaves the colors as they are.
  const std::unique_ptr<char, decltype(&std::free)> copy(strdup(text), &std::free);
  if (!copy) return;
  char* save = nullptr;
  int role = 0;
  for (char* field = strtok_r(copy.get(), ",", &save); field != nullptr && role < kRoleCount;
       field = strtok_r(nullptr, ",", &save), ++role) {
    if (role == 0) {
      if (char* slash = std::strchr(field, '/')) {
        *slash = '\0';
        line2_color = std::atoi(slash + 1);
      }
    }
    if (*field != '\0') colors[role] = std::atoi(field);
  }
}

namespace {

// Defines a pair on the default background. A number curses refuses (beyond
// the terminal's colors) is no color, nor is one below -1 (which curses would
// take for the default color) or one a short cannot carry.
bool settings_define_pair(short pair, int color) {
  if (color < -1 || color > std::numeric_limits<short>::max()) return false;
  return init_pair(pair, static_cast<short>(color), -1) != ERR;
}

}  // namespace

void init_color_pairs() {
  bool any_role = false;
  for (int r = 0; r < kRoleCount; ++r) any_role = any_role || role_set(static_cast<color_role>(r));
  const bool subcell = braille_mode || block_mode;
  if (!any_role && !subcell) return;
  start_color();
  use_default_colors();
  // A refused pair would draw its items in whatever curses holds for it,
  // black on black with an 8-color TERM; the role counts as not set instead,
  // and its items keep the terminal's own colors.
  for (int n = 1; n <= kRoleCount; ++n) {
    const auto role = static_cast<color_role>(n - 1);
    if (role_set(role) && !settings_define_pair(static_cast<short>(n), colors[role]))
      colors[role] = -1;
  }
  if (subcell) {
    const int line = colors[ROLE_LINE];
    const int line1 = role_set(ROLE_LINE) ? line : COLOR_GREEN;
    const int line2_default = line == COLOR_BLUE ? COLOR_GREEN : COLOR_BLUE;
    const int line2 = line2_color != -1 ? line2_color : line2_default;
    // A line color the terminal refuses falls back to that line's default.
    if (!settings_define_pair(8, line1)) settings_define_pair(8, COLOR_GREEN);
    if (!settings_define_pair(9, line2)) settings_define_pair(9, line2_default);
  }
}

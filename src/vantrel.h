// SPDX-License-Identifier: MIT
// vantrel: a real-time plotter for the text terminal.
//
// The one header of the program. It declares the process-wide state, grouped
// by the unit that owns and defines it, and the functions the units share.
// Everything runs in one thread. signal_handler only writes a byte to the
// signal pipe. The one other handler of the program's own, the Ctrl-Z wrapper
// of event_loop.cpp, sets the key terminal's modes (which the main flow
// changes only with SIGTSTP blocked) around curses' own stop handler, which
// ends and redraws curses' screen from inside the signal, as ncurses ships it.
#pragma once

#ifndef _XOPEN_SOURCE_EXTENDED
#define _XOPEN_SOURCE_EXTENDED 1
#endif
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif

#include <curses.h>
#include <sys/time.h>

#include <array>
#include <cfloat>
#include <cstddef>
#include <cstdint>

// ppoll, the restart of getopt's scan and its "+" are glibc's on Linux; no
// other platform is built or tested.
#if !defined(__linux__) || !defined(__GLIBC__)
#error "vantrel builds on Linux with the GNU C library (glibc) only"
#endif

// The version is the build's (the CMake project version).
inline constexpr const char* kVersion = VANTREL_VERSION;
// Project address plus a blank plus the version: 39 characters, ending at cols-2.
inline constexpr const char* kBanner = "https://vantrel.dev/terminal-plot " VANTREL_VERSION;

inline constexpr int kRingSize = 1024;                    // slots per history ring
inline constexpr int kMinPlotWidth = 40;                  // plot of the smallest window, 44 columns
inline constexpr int kMaxPlotWidth = 1022;                // widest plot the rings can hold
inline constexpr int kMaxScreenCols = kMaxPlotWidth + 4;  // 1026
inline constexpr double kFltMax = FLT_MAX;                // "not set" value of hardmax, exactly

// ---------------------------------------------------------------------------
// settings.cpp: command line, settings, colors

extern int two_values;    // -2: every sample is a pair, two series
extern int braille_mode;  // -b: sub-cell plot with 2x4 braille dots
extern int block_mode;    // -B: sub-cell plot with 2x2 quadrant blocks
extern int fill_mode;     // -f: fill under line 1 in the sub-cell modes
extern int rate_mode;     // -r, toggled by 'r': store rates of a counter
extern double softmax;    // -s: scale top that data may exceed (0.0)
extern double softmin;    // -S: scale bottom that data may go below (0.0)
extern double hardmax;    // -m: fixed scale top; kFltMax means not set
extern double hardmin;    // -M: fixed scale bottom; -kFltMax means not set
extern char title[256];   // -t: centred at the top
extern char unit[64];     // -u: printed after labels and statistics
extern bool fake_time;    // FAKETIME present: the clock shows a fixed text

// Glyph cells. Their attribute words are 0 (A_REVERSE for second_line_cell)
// except while draw_char_columns colors them for one column.
extern cchar_t plot_cell;         // -c: bar glyph, "|" or U+2502
extern cchar_t max_err_cell;      // -e: glyph above hardmax, "e"
extern cchar_t min_err_cell;      // -E: glyph below hardmin, "v"
extern cchar_t second_line_cell;  // reverse-video blank of series 2

// A cell of one wide character with these attributes and color pair.
inline cchar_t glyph_cell(wchar_t wc, attr_t attrs, short pair) {
  const wchar_t text[2] = {wc, L'\0'};
  cchar_t cell{};
  setcchar(&cell, text, attrs, pair, nullptr);
  return cell;
}

// Color roles, curses color numbers, -1 = not set.
enum color_role { ROLE_LINE, ROLE_AXES, ROLE_TEXT, ROLE_TITLE, ROLE_MAX_ERR, ROLE_MIN_ERR };
inline constexpr int kRoleCount = 6;
extern std::array<int, kRoleCount> colors;
extern int line2_color;  // line 2 of the sub-cell modes, -1 = not set

inline bool role_set(color_role r) {
  return colors[r] != -1;
}

// Returned by settings_read_command_line when start-up goes on.
inline constexpr int kKeepRunning = -1;

// Puts every setting back to its start value (the rings are input.cpp's).
void settings_reset();
// Start-up steps from FAKETIME to the three checks; the locale must already
// be set. Returns kKeepRunning, or the exit status after -h, -v or a usage
// error (whose text has then been written to standard output).
int settings_read_command_line(int argc, char** argv);
void parse_color_spec(const char* text);
void init_color_pairs();

// ---------------------------------------------------------------------------
// event_loop.cpp: start-up after the settings, wait_for_events, the loop

inline constexpr int EVENT_TIMEOUT = 1;
inline constexpr int EVENT_SELECT_ERROR = 2;
inline constexpr int EVENT_SIGNAL = 4;
inline constexpr int EVENT_STDIN = 8;
inline constexpr int EVENT_TTY = 16;

extern struct timeval now;      // time of the latest wake-up
extern bool redraw_needed;      // repaint at the end of this turn
extern const char* status_msg;  // centred on every repaint; nullptr = none
extern int signal_pipe[2];      // read end, write end
extern int tty_fd;              // key terminal, -1 = none
extern bool stdin_open;         // standard input still watched
extern int screen_rows;
extern int screen_cols;

// Time from now to the next whole second: 1 s on a whole second, else the
// microseconds that remain.
struct timespec wait_timeout(const struct timeval& from);
int wait_for_events();
extern "C" void signal_handler(int signo);
// The whole program after main's first line: settings, curses, the loop.
int vantrel_main(int argc, char** argv);

// ---------------------------------------------------------------------------
// input.cpp: input buffer, parser, history, rates

inline constexpr std::size_t kInputBufSize = 4096;
inline constexpr std::size_t kInputTrimAbove = 2048;  // a longer held rest is cut
inline constexpr std::size_t kInputTrimBy = 1024;     // by this many front bytes

// Bytes from standard input not yet consumed, from offset 0. Between turns at
// most 3071 bytes are held and they never contain a separator or a NUL.
extern char input_buf[kInputBufSize];
extern std::size_t input_len;

extern double values1[kRingSize];  // series 1, NaN = empty slot
extern double values2[kRingSize];  // series 2, all NaN in one-series mode
extern int newest_index;           // slot of the newest sample, -1 before the first
extern int plot_width;             // ring modulus and visible samples, 40..1022
extern std::int64_t sample_count;  // samples stored since start, a pair counts once

// The slot after `slot` in a ring of `width` slots, oldest to newest. After
// the window narrowed, `slot` can lie at or beyond the width; the remainder
// brings it back.
inline int ring_next(int slot, int width) {
  const int next = slot + 1;
  return next < width ? next : next % width;
}

extern double last_sample_time;  // rate mode: seconds of the previous conversion
extern double prev_raw1;         // rate mode: previous raw value, series 1
extern double prev_raw2;         // rate mode: previous raw value, series 2
extern double last_interval;     // rate mode: latest measured interval, seconds
extern double pending_first;     // two-series mode: first value of an open pair
extern int pair_pending;

// Empties the buffer and the rings and puts history, rate and pairing state
// back to their start values.
void input_reset();
void read_input();
std::size_t parse_samples(int length);
// Exact conversion of a plain decimal token of `length` bytes: sign, digits,
// `point` (the locale's decimal point, or 0 for none) and digits, exponent.
// When it answers true the value is exactly strtod's; it answers false for
// anything it cannot convert exactly, which strtod then decides.
bool input_fast_number(const char* token, std::size_t length, char point, double& value);

// ---------------------------------------------------------------------------
// paint.cpp: frame, character-cell plot, sub-cell plot

extern char clock_text[256];
extern int plot_height;  // rows of the plot area, screen_rows - 4; 0 before the first frame

extern const std::array<unsigned char, 8> braille_bits;
extern const std::array<unsigned char, 4> quadrant_bits;
extern const std::array<wchar_t, 16> quadrant_glyphs;

void paint_plot(const char* message);
// paint_plot without its final wrefresh: the frame drawn into stdscr only.
void paint_frame(const char* message);
void show_message(const char* text);
void draw_char_columns(int H, int W, const double* series2, int newest, double top, double bottom);
void draw_subcell_plot(int rows, int cols, const double* series2, int newest, int dots_per_cell,
                       const unsigned char* dot_bits, const wchar_t* glyphs, double top,
                       double bottom);

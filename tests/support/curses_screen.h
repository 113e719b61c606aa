// SPDX-License-Identifier: MIT
// A real curses screen of a chosen size with no terminal behind it, for the
// painter's tests, and helpers that read its cells back.
//
// Text read back is UTF-8. Line-drawing cells (ACS, stored by curses as a
// letter with A_ALTCHARSET) read back as the box-drawing characters they
// stand for, so an axis row reads "└──…" in every locale and TERM.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vantrel.h"

// One cell as curses holds it.
struct screen_cell {
  wchar_t ch;    // first wide character; ACS cells keep their letter here
  attr_t attrs;  // attribute word without the color pair
  short pair;
  bool reverse() const { return (attrs & A_REVERSE) != 0; }
  bool altcharset() const { return (attrs & A_ALTCHARSET) != 0; }
};

// Opens the screen: TERM xterm-256color (or `term`), a UTF-8 locale (C.UTF-8), output and input on
// /dev/null, curses sized rows x cols, screen_rows and screen_cols stored the
// way start-up stores them. Settings and input state are reset first (so the
// plot glyph defaults to U+2502). One screen at a time; each test opens its
// own. The destructor ends curses and puts locale and TERM back.
class curses_screen {
 public:
  curses_screen(int rows, int cols, const char* term = "xterm-256color");
  ~curses_screen();
  curses_screen(const curses_screen&) = delete;
  curses_screen& operator=(const curses_screen&) = delete;

  // The size change a window change would bring: curses' size and the stored one.
  void resize(int rows, int cols);

 private:
  SCREEN* screen_ = nullptr;
  FILE* out_ = nullptr;
  FILE* in_ = nullptr;
  std::string saved_locale_;
  std::string saved_term_;
  bool had_term_ = false;
};

screen_cell cell_at(int row, int col);
// The cell's character as UTF-8 (ACS cells as box-drawing characters).
std::string cell_text(int row, int col);
// A whole row as UTF-8 without its trailing blanks.
std::string row_text(int row);
// Columns from..to (both included) of a row, trailing blanks kept.
std::string row_text(int row, int from, int to);
// The pair of every cell of columns from..to of a row, as digits.
std::string row_pairs(int row, int from, int to);
// Every cell of one column, top to bottom.
std::vector<screen_cell> column_cells(int col);

// The whole screen in three layers, each row trimmed at the right: the text;
// the attributes ('R' reverse, 'A' line drawing, 'B' both, '.' none); the
// color pairs ('.' for pair 0). A golden file holds exactly this.
std::string screen_dump();

// Compares screen_dump() with tests/golden/<name>.txt. With UPDATE_GOLDEN=1 in
// the environment the file is written instead and the check passes.
::testing::AssertionResult matches_golden(const std::string& name);

// Stores a sample at the next ring slot the way the parser does.
void push_sample(double v1);
void push_pair(double v1, double v2);

// UTF-8 of a wide string, for expected texts with wide characters.
std::string utf8(const std::wstring& text);

// SPDX-License-Identifier: MIT
// virtual_screen.h: a curses screen of a chosen size for the benchmarks,
// drawing into a descriptor of theirs (a memory file, /dev/null) with no
// terminal behind it.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "vantrel.h"

struct virtual_screen {
  SCREEN* screen = nullptr;
  FILE* out = nullptr;
  FILE* in = nullptr;

  // Takes `out_fd` over; screen_rows and screen_cols are stored as start-up
  // stores them.
  virtual_screen(int rows, int cols, int out_fd) {
    setenv("TERM", "xterm-256color", 1);
    out = fdopen(out_fd, "w");
    in = std::fopen("/dev/null", "r");
    screen = newterm(nullptr, out, in);
    resize_term(rows, cols);
    init_color_pairs();
    // The program's start-up: without a first endwin and refresh, ncurses
    // 6.4 flushes its output after every cursor movement.
    endwin();
    werase(stdscr);
    wrefresh(stdscr);
    screen_rows = getmaxy(stdscr);
    screen_cols = getmaxx(stdscr);
  }
  ~virtual_screen() {
    endwin();
    delscreen(screen);
    std::fclose(out);
    std::fclose(in);
  }
  virtual_screen(const virtual_screen&) = delete;
  virtual_screen& operator=(const virtual_screen&) = delete;
};

// SPDX-License-Identifier: MIT
#include "support/curses_screen.h"

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/locales.h"

namespace {

// The golden files sit beside the tests, whatever the build directory.
std::string golden_path(const std::string& name) {
  std::string here = __FILE__;
  here = here.substr(0, here.rfind('/'));  // tests/support
  here = here.substr(0, here.rfind('/'));  // tests
  return here + "/golden/" + name + ".txt";
}

wchar_t acs_as_unicode(wchar_t letter) {
  switch (letter) {
    case L'q': return L'\u2500';
    case L'x': return L'\u2502';
    case L'm': return L'\u2514';
    case L'l': return L'\u250C';
    case L'j': return L'\u2518';
    case L'k': return L'\u2510';
    default: return letter;
  }
}

void trim_right(std::string& s, char c) {
  const std::size_t end = s.find_last_not_of(c);
  s.erase(end == std::string::npos ? 0 : end + 1);
}

}  // namespace

curses_screen::curses_screen(int rows, int cols, const char* term) {
  saved_locale_ = std::setlocale(LC_ALL, nullptr);
  // The wide glyphs (U+2502, braille, blocks) need a UTF-8 locale.
  if (!test_support::switch_locale({"C.UTF-8", "C.utf8", "en_US.UTF-8"})) {
    ADD_FAILURE() << "no UTF-8 locale to draw in";
  }
  if (const char* t = std::getenv("TERM")) {
    had_term_ = true;
    saved_term_ = t;
  }
  setenv("TERM", term, 1);
  settings_reset();
  input_reset();
  plot_height = 0;
  now = {};
  status_msg = nullptr;

  out_ = std::fopen("/dev/null", "w");
  in_ = std::fopen("/dev/null", "r");
  screen_ = newterm(term, out_, in_);
  if (screen_ == nullptr) {
    ADD_FAILURE() << "newterm failed for " << term;
    return;
  }
  resize(rows, cols);
}

curses_screen::~curses_screen() {
  if (screen_ != nullptr) {
    endwin();
    delscreen(screen_);
  }
  if (out_ != nullptr) std::fclose(out_);
  if (in_ != nullptr) std::fclose(in_);
  if (had_term_) {
    setenv("TERM", saved_term_.c_str(), 1);
  } else {
    unsetenv("TERM");
  }
  std::setlocale(LC_ALL, saved_locale_.c_str());
}

void curses_screen::resize(int rows, int cols) {
  resize_term(rows, cols);
  screen_rows = getmaxy(stdscr);
  screen_cols = getmaxx(stdscr);
}

screen_cell cell_at(int row, int col) {
  cchar_t cc{};
  screen_cell cell{L'\0', 0, 0};
  if (mvwin_wch(stdscr, row, col, &cc) == ERR) {
    ADD_FAILURE() << "no cell at row " << row << " column " << col;
    return cell;
  }
  wchar_t text[CCHARW_MAX + 1] = {};
  getcchar(&cc, text, &cell.attrs, &cell.pair, nullptr);
  cell.ch = text[0];
  return cell;
}

std::string utf8(const std::wstring& text) {
  std::string out;
  for (wchar_t wc : text) {
    const auto c = static_cast<unsigned long>(wc);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string cell_text(int row, int col) {
  const screen_cell c = cell_at(row, col);
  const wchar_t wc = c.altcharset() ? acs_as_unicode(c.ch) : c.ch;
  return utf8(std::wstring(1, wc == L'\0' ? L' ' : wc));
}

std::string row_text(int row, int from, int to) {
  std::string out;
  for (int col = from; col <= to; ++col) out += cell_text(row, col);
  return out;
}

std::string row_text(int row) {
  std::string out = row_text(row, 0, getmaxx(stdscr) - 1);
  trim_right(out, ' ');
  return out;
}

std::string row_pairs(int row, int from, int to) {
  std::string out;
  for (int col = from; col <= to; ++col) out += std::to_string(cell_at(row, col).pair);
  return out;
}

std::vector<screen_cell> column_cells(int col) {
  std::vector<screen_cell> out;
  for (int row = 0; row < getmaxy(stdscr); ++row) out.push_back(cell_at(row, col));
  return out;
}

std::string screen_dump() {
  const int rows = getmaxy(stdscr);
  const int cols = getmaxx(stdscr);
  std::ostringstream text;
  std::ostringstream attrs;
  std::ostringstream pairs;
  for (int row = 0; row < rows; ++row) {
    text << row_text(row) << '\n';
    std::string a;
    std::string p;
    for (int col = 0; col < cols; ++col) {
      const screen_cell c = cell_at(row, col);
      a += c.reverse() && c.altcharset() ? 'B' : c.reverse() ? 'R' : c.altcharset() ? 'A' : '.';
      p += c.pair == 0 ? '.' : c.pair < 10 ? static_cast<char>('0' + c.pair) : '+';
    }
    trim_right(a, '.');
    trim_right(p, '.');
    attrs << a << '\n';
    pairs << p << '\n';
  }
  return text.str() + "~~ attributes: R reverse, A line drawing, B both\n" + attrs.str() +
         "~~ color pairs\n" + pairs.str();
}

::testing::AssertionResult matches_golden(const std::string& name) {
  const std::string actual = screen_dump();
  const std::string path = golden_path(name);
  const char* update = std::getenv("UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << actual;
    return ::testing::AssertionSuccess() << "wrote " << path;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return ::testing::AssertionFailure()
           << "no golden file " << path << " (UPDATE_GOLDEN=1 writes it)";
  }
  std::ostringstream expected;
  expected << in.rdbuf();
  if (expected.str() == actual) return ::testing::AssertionSuccess();
  // Name the first row that differs; the whole screen follows for the diff.
  std::istringstream e(expected.str());
  std::istringstream a(actual);
  std::string el;
  std::string al;
  int line = 0;
  while (std::getline(e, el) && std::getline(a, al) && el == al) ++line;
  return ::testing::AssertionFailure()
         << path << " differs from line " << line + 1 << "\nexpected: " << el
         << "\nactual:   " << al << "\nwhole screen:\n"
         << actual;
}

void push_sample(double v1) {
  newest_index = (newest_index + 1) % plot_width;
  values1[newest_index] = v1;
  ++sample_count;
}

void push_pair(double v1, double v2) {
  newest_index = (newest_index + 1) % plot_width;
  values1[newest_index] = v1;
  values2[newest_index] = v2;
  ++sample_count;
}

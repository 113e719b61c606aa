// SPDX-License-Identifier: MIT
// frame.cpp: frame and message checks shared by the end-to-end tests.
#include "frame.h"

namespace e2e {

namespace {

constexpr int kBannerFromRight = 40;
constexpr int kStatsCol = 7;

void expect_cell(const PtyScreen& s, int row, int col, char32_t want, const char* what,
                 std::string& problems) {
  if (s.cell_char(row, col) != want) {
    problems += std::string(what) + " missing at row " + std::to_string(row) + " col " +
                std::to_string(col) + "; ";
  }
}

}  // namespace

std::string frame_problems(const PtyScreen& s, std::string_view title, bool banner) {
  const int rows = s.rows();
  const int cols = s.cols();
  std::string problems;
  const int title_col = cols / 2 - static_cast<int>(title.size()) / 2;
  if (s.text_at(0, title_col, static_cast<int>(title.size())) != title) {
    problems += "title missing at col " + std::to_string(title_col) + "; ";
  }
  if (banner &&
      s.text_at(rows - 1, cols - kBannerFromRight, static_cast<int>(kBanner.size())) != kBanner) {
    problems += "banner missing at col " + std::to_string(cols - kBannerFromRight) + "; ";
  }
  const int axis_row = rows - 3;
  expect_cell(s, 1, 2, U'^', "y arrow", problems);
  expect_cell(s, axis_row, cols - 2, U'>', "x arrow", problems);
  expect_cell(s, axis_row, 2, U'\u2514', "corner", problems);
  for (int row = 2; row < axis_row; ++row) expect_cell(s, row, 2, U'\u2502', "y axis", problems);
  for (int col = 3; col < cols - 2; ++col) {
    expect_cell(s, axis_row, col, U'\u2500', "x axis", problems);
  }
  return problems;
}

bool shows_centred(const PtyScreen& s, std::string_view text) {
  const int length = static_cast<int>(text.size());
  const int col = length > s.cols() ? 0 : s.cols() / 2 - length / 2;
  return s.text_at(s.rows() / 2, col, length) == text;
}

std::string only_centred(const PtyScreen& s, std::string_view text) {
  std::string screen;
  const int length = static_cast<int>(text.size());
  const int col = length > s.cols() ? 0 : s.cols() / 2 - length / 2;
  for (int row = 0; row < s.rows(); ++row) {
    if (row == s.rows() / 2) {
      screen += std::string(static_cast<std::size_t>(col), ' ');
      screen += text;
    }
    screen += "\n";
  }
  return screen;
}

bool wait_started(PtyScreen& s) {
  return s.wait_for([&] { return frame_problems(s).empty(); }) && s.wait_idle();
}

bool wait_waiting(PtyScreen& s) {
  return s.wait_for([&] { return shows_centred(s, kWaiting); }) && s.wait_idle();
}

std::string stats_line(const PtyScreen& s) {
  return s.text_at(s.rows() - 2, kStatsCol, s.cols() - kStatsCol);
}

}  // namespace e2e

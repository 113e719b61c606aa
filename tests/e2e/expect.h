// SPDX-License-Identifier: MIT
// Checks that several end-to-end test files share.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pty_screen.h"

namespace e2e {

// A character as U+XXXX, for failure messages.
inline std::string hex(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

// After the program has ended: the terminal modes as they were at start, the
// alternate screen left, the cursor shown again.
inline void expect_terminal_given_back(PtyScreen& s, const std::string& what) {
  EXPECT_EQ(modes_diff(s.modes_at_start(), s.modes_now()), "") << what;
  EXPECT_FALSE(s.altscreen()) << what;
  EXPECT_TRUE(s.cursor_visible()) << what;
}

}  // namespace e2e

// SPDX-License-Identifier: MIT
// frame.h: what a user checks first on a vantrel screen: is the frame whole,
// and where does a centred message stand.
#pragma once

#include <string>
#include <string_view>

#include "pty_screen.h"

namespace e2e {

inline constexpr std::string_view kBanner = "https://vantrel.dev/terminal-plot " VANTREL_VERSION;
inline constexpr std::string_view kTitle = ".: vantrel :.";

// Empty when the screen shows the frame of its size: the title centred on the
// top row, the banner ending at cols-2 on the bottom row, and both axes with
// their arrow heads and the corner. Otherwise what is missing or misplaced.
std::string frame_problems(const PtyScreen& s, std::string_view title = kTitle, bool banner = true);

// True when text stands where a centred message goes at the current size.
bool shows_centred(const PtyScreen& s, std::string_view text);

// The text of a screen that shows nothing but text, centred.
std::string only_centred(const PtyScreen& s, std::string_view text);

inline constexpr std::string_view kWaiting = "waiting for data from stdin";

// Waits for the first frame and for the event loop to wait.
bool wait_started(PtyScreen& s);
// Waits for the waiting message alone, for windows where it covers the axis
// or in two-series mode, and for the event loop to wait.
bool wait_waiting(PtyScreen& s);

inline bool starts_with(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Statistics line of series 1, from column 7 of its row.
std::string stats_line(const PtyScreen& s);

}  // namespace e2e

// SPDX-License-Identifier: MIT
// A stream of samples over many reads, with the window changing under it:
// the statistics follow the history, whose length is the plot width.
#include <gtest/gtest.h>

#include <string>

#include "frame.h"
#include "pty_screen.h"

namespace e2e {
namespace {

// The numbers from..to, one blank after each, cut into pieces that split
// numbers, so they arrive over several reads.
void feed(PtyScreen& s, int from, int to) {
  std::string text;
  for (int v = from; v <= to; ++v) text += std::to_string(v) + (v % 7 == 0 ? "\n" : " ");
  for (std::size_t at = 0; at < text.size(); at += 13) s.write_stdin(text.substr(at, 13));
}

TEST(Stream, StatisticsFollowTheHistoryAcrossAWindowChange) {
  Launch launch;
  launch.cols = 60;  // 56 samples visible
  launch.fake_time = true;
  PtyScreen s(launch);
  ASSERT_TRUE(wait_started(s)) << s.screen_text();
  auto shows = [&](const std::string& stats) {
    return s.wait_for(
        [&] { return frame_problems(s).empty() && starts_with(stats_line(s), stats); });
  };

  // 1..70 into 56 slots: 57..70 have overwritten 1..14.
  feed(s, 1, 70);
  EXPECT_TRUE(shows("last=70.0 min=15.0 max=70.0 avg=42.5 ")) << s.screen_text();

  // 66 slots: the ten new ones have never held a sample, so the average is
  // undefined until they fill up; minimum and maximum skip them.
  s.resize(24, 70);
  EXPECT_TRUE(shows("last=70.0 min=15.0 max=70.0 avg=nan ")) << s.screen_text();
  feed(s, 71, 80);
  EXPECT_TRUE(shows("last=80.0 min=25.0 max=80.0 avg=nan ")) << s.screen_text();
  feed(s, 81, 122);
  EXPECT_TRUE(shows("last=122.0 min=57.0 max=122.0 avg=89.5 ")) << s.screen_text();
}

}  // namespace
}  // namespace e2e

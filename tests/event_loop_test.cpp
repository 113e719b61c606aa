// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "vantrel.h"

namespace {

TEST(WaitTimeout, ReachesTheNextWholeSecond) {
  struct Case {
    long usec;
    long sec;
    long nsec;
  };
  const Case cases[] = {{0, 1, 0}, {999999, 0, 1000}, {1, 0, 999999000}, {500000, 0, 500000000}};
  for (const Case& c : cases) {
    struct timeval from {};
    from.tv_sec = 1700000000;
    from.tv_usec = c.usec;
    const struct timespec t = wait_timeout(from);
    EXPECT_EQ(t.tv_sec, c.sec) << "usec " << c.usec;
    EXPECT_EQ(t.tv_nsec, c.nsec) << "usec " << c.usec;
  }
}

}  // namespace

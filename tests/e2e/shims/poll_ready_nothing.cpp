// SPDX-License-Identifier: MIT
// Preloaded into the program: a ppoll that reports one ready descriptor but
// marks none, the one result the event loop's consistency check exists for.
#include <poll.h>
#include <signal.h>

extern "C" int ppoll(struct pollfd* fds, nfds_t count, const struct timespec*, const sigset_t*) {
  for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
  return 1;
}

// SPDX-License-Identifier: MIT
// event_loop.cpp: curses start-up once the settings are final, the wait for
// input, keys, signals and clock ticks, and the loop that serves them. Every
// way out that the program sees coming (q, the end signals, a failed check)
// restores the terminal first; a signal it does not catch (SIGKILL, SIGUSR1,
// a crash) cannot.
#include <fcntl.h>
#include <poll.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "vantrel.h"

struct timeval now;
bool redraw_needed;
const char* status_msg;
int signal_pipe[2] = {-1, -1};
int tty_fd = -1;
bool stdin_open;
int screen_rows;
int screen_cols;

namespace {

constexpr long kMicrosPerSecond = 1000000;
constexpr char kCtrlL = 0x0c;

// Signals that end the program; SIGINT is the orderly one, exit status 0.
// SIGPIPE comes when standard output is a pipe whose reader has gone; the
// quit key sends SIGQUIT, which still dumps core once the terminal is restored.
constexpr std::array<int, 5> kEndSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};

// A closed descriptor 0 would be handed out by the next open, the key
// terminal's, and then be watched as input and keys at once. /dev/null keeps
// the slot, so the input simply ends.
void loop_guard_stdin() {
  if (fcntl(STDIN_FILENO, F_GETFD) == -1 && errno == EBADF) {
    const int fd = open("/dev/null", O_RDONLY);
    if (fd > STDIN_FILENO) close(fd);
  }
}

// The key terminal's modes as found, when the loop had to set them itself,
// and the stop handler of curses that the loop's own wraps. The wrapper reads
// and writes these and tty_fd; the main flow changes them only while a
// loop_stop_held keeps SIGTSTP pending, so the two never interleave.
struct termios key_modes_found;
volatile sig_atomic_t key_modes_changed;
struct sigaction curses_stop_action;

// Holds SIGTSTP back for its lifetime; a stop that comes meanwhile is
// delivered when it ends.
struct loop_stop_held {
  sigset_t saved{};
  loop_stop_held() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_BLOCK, &stop, &saved);
  }
  ~loop_stop_held() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
  loop_stop_held(const loop_stop_held&) = delete;
  loop_stop_held& operator=(const loop_stop_held&) = delete;
};

// Async-signal-safe; from the main flow, call it with SIGTSTP held.
void loop_give_back_key_modes() {
  if (key_modes_changed) tcsetattr(tty_fd, TCSANOW, &key_modes_found);
  key_modes_changed = 0;
}

void loop_restore_key_modes() {
  const loop_stop_held held;
  loop_give_back_key_modes();
}

// Keys one at a time and unechoed, unless the terminal is so already (curses
// set it, drawing on it). Only async-signal-safe calls.
bool loop_take_key_modes() {
  struct termios modes {};
  if (tcgetattr(tty_fd, &modes) != 0 || (modes.c_lflag & ICANON) == 0) return false;
  key_modes_found = modes;
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  return tcsetattr(tty_fd, TCSANOW, &modes) == 0;
}

// Ctrl-Z: curses gives back the terminal it draws on, and this handler the
// key terminal; after the shell's fg both are taken again, from the modes
// the shell left, as curses does.
extern "C" void loop_on_stop(int signo) {
  const int saved = errno;
  const bool changed = key_modes_changed != 0;
  loop_give_back_key_modes();
  curses_stop_action.sa_handler(signo);  // returns once the program continues
  if (changed) key_modes_changed = loop_take_key_modes() ? 1 : 0;
  errno = saved;
}

// curses sets the modes of the terminal it draws on; with the output sent
// elsewhere (vantrel > log) that is not the key terminal, which would stay
// line-buffered and echo every key. Then the loop sets the modes itself and
// puts them back on every way out, atexit covering the calls of exit.
void loop_key_terminal_modes() {
  if (!loop_take_key_modes()) return;
  key_modes_changed = 1;
  std::atexit(loop_restore_key_modes);
  // curses catches SIGTSTP unless it was ignored at start.
  if (sigaction(SIGTSTP, nullptr, &curses_stop_action) == 0 &&
      (curses_stop_action.sa_flags & SA_SIGINFO) == 0 && curses_stop_action.sa_handler != SIG_DFL &&
      curses_stop_action.sa_handler != SIG_IGN) {
    struct sigaction sa = curses_stop_action;
    sa.sa_handler = loop_on_stop;
    sigaction(SIGTSTP, &sa, nullptr);
  }
}

void loop_install_handler(int signo) {
  struct sigaction sa {};
  sa.sa_handler = signal_handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // the handler stays installed, reads restart
  sigaction(signo, &sa, nullptr);
}

void loop_make_signal_pipe() {
  if (pipe(signal_pipe) != 0) {
    endwin();
    std::perror("pipe");
    std::exit(1);
  }
  // A full pipe must never block the handler; the byte is dropped instead.
  for (int fd : signal_pipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

// Ends curses and resumes it on an empty screen of the terminal's current
// size, which it stores. ncurses' second initscr would build a second screen
// when the first came from newterm; after endwin, the first refresh takes up
// the new size, which is all a restart needs. At start-up it matters too:
// ncurses 6.4 sends its output after every cursor movement, dozens of writes
// a frame, until the screen has once been ended and resumed; from then on a
// frame goes out in one write. The price is one leave and enter of the
// alternate screen before the first frame.
void loop_resume_curses() {
  endwin();
  werase(stdscr);
  wrefresh(stdscr);
  screen_rows = getmaxy(stdscr);
  screen_cols = getmaxx(stdscr);
}

// Ends the program for a terminating signal other than SIGINT the way the
// signal would have, once the terminal is restored.
[[noreturn]] void loop_die_of(int signo) {
  loop_restore_key_modes();
  endwin();
  signal(signo, SIG_DFL);
  raise(signo);
  std::_Exit(128 + signo);
}

// The loop's own consistency check, live in every build: with the terminal
// given back first, so that the report can be read.
[[noreturn]] void loop_check_failed(const char* function, const char* condition) {
  loop_restore_key_modes();
  endwin();
  std::fprintf(stderr, "vantrel: %s: %s: Assertion `%s' failed.\n", __FILE__, function, condition);
  std::abort();
}

// A terminal that cannot place the cursor (TERM=dumb) cannot show a frame:
// curses would start and then write nothing useful. The description is read
// without touching the terminal, and dropped again for newterm's own.
bool loop_terminal_can_address() {
  int error = 0;
  if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) return false;
  const char* cup = tigetstr("cup");
  const bool can = cup != nullptr && cup != reinterpret_cast<char*>(-1);
  del_curterm(cur_term);
  return can;
}

// Returns true when the program is to end with status 0.
bool loop_serve_signal() {
  unsigned char byte;
  if (read(signal_pipe[0], &byte, 1) != 1) return false;
  switch (byte) {
    case SIGINT: endwin(); return true;
    case SIGWINCH:
      loop_resume_curses();
      redraw_needed = true;
      return false;
    case SIGTERM:
    case SIGHUP:
    case SIGPIPE:
    case SIGQUIT: loop_die_of(byte);
    default: return false;
  }
}

// Returns true when the program is to end with status 0.
bool loop_serve_key() {
  char key;
  const ssize_t n = read(tty_fd, &key, 1);
  if (n == 0) {
    const loop_stop_held held;
    loop_give_back_key_modes();
    close(tty_fd);
    tty_fd = -1;
    return false;
  }
  if (n < 0) return false;
  switch (key) {
    case 'q': endwin(); return true;
    case 'r': rate_mode = !rate_mode; return false;
    case kCtrlL:
      wclear(stdscr);
      redraw_needed = true;
      return false;
    default: return false;
  }
}

int loop_run() {
  for (;;) {
    const int events = wait_for_events();
    if ((events & EVENT_SIGNAL) && loop_serve_signal()) return 0;
    if ((events & EVENT_TTY) && loop_serve_key()) return 0;
    if (events & EVENT_STDIN) read_input();
    if (redraw_needed) {
      paint_plot(status_msg);
      redraw_needed = false;
    }
  }
}

}  // namespace

struct timespec wait_timeout(const struct timeval& from) {
  const long r = kMicrosPerSecond - static_cast<long>(from.tv_usec);
  struct timespec ts {};
  ts.tv_sec = r / kMicrosPerSecond;
  ts.tv_nsec = (r % kMicrosPerSecond) * 1000;
  return ts;
}

// ppoll rather than select: it takes descriptors of any number (a key
// terminal opened with many descriptors in use can lie beyond FD_SETSIZE)
// and keeps the microsecond time-out.
int wait_for_events() {
  const struct timespec timeout = wait_timeout(now);
  std::array<struct pollfd, 3> fds{};
  nfds_t count = 0;
  fds[count++] = {signal_pipe[0], POLLIN, 0};
  const nfds_t stdin_slot = stdin_open ? count++ : 0;
  if (stdin_open) fds[stdin_slot] = {STDIN_FILENO, POLLIN, 0};
  const nfds_t tty_slot = tty_fd != -1 ? count++ : 0;
  if (tty_fd != -1) fds[tty_slot] = {tty_fd, POLLIN, 0};

  const int result = ppoll(fds.data(), count, &timeout, nullptr);
  // What select would call readable: data, end of file, or an error to read.
  auto ready = [&](nfds_t slot) {
    return (fds[slot].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
  };
  int ret = 0;
  if (result == 0) {
    ret = EVENT_TIMEOUT;
  } else if (result < 0) {
    ret = EVENT_SELECT_ERROR;
  } else {
    if (ready(0)) ret |= EVENT_SIGNAL;
    if (stdin_open && ready(stdin_slot)) ret |= EVENT_STDIN;
    if (tty_fd != -1 && ready(tty_slot)) ret |= EVENT_TTY;
  }
  if (ret == 0) loop_check_failed(__func__, "ret != 0");

  const time_t before = now.tv_sec;
  gettimeofday(&now, nullptr);
  if (now.tv_sec != before) redraw_needed = true;
  return ret;
}

extern "C" void signal_handler(int signo) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  while (write(signal_pipe[1], &byte, 1) == -1 && errno == EINTR) {
  }
  errno = saved;
}

int vantrel_main(int argc, char** argv) {
  input_reset();
  std::setlocale(LC_ALL, "");
  if (int status = settings_read_command_line(argc, argv); status != kKeepRunning) return status;

  loop_guard_stdin();
  // newterm, unlike initscr, returns instead of exiting when the terminal
  // cannot be set up, so the error line is ours.
  if (!loop_terminal_can_address() || newterm(nullptr, stdout, stdin) == nullptr) {
    std::fputs("Error: failed to initialize ncurses\n", stderr);
    return 1;
  }
  // Left on, ncurses polls standard input while it updates the screen, to
  // flush early when input is waiting (an extra poll about every fifth frame
  // of a flood). That buys nothing here: the loop reads the input itself.
  typeahead(-1);
  init_color_pairs();
  gettimeofday(&now, nullptr);
  noecho();
  curs_set(0);
  loop_resume_curses();
  paint_plot(status_msg);

  if (!isatty(STDIN_FILENO)) {
    tty_fd = open("/dev/tty", O_RDONLY);
    if (tty_fd != -1) {
      fcntl(tty_fd, F_SETFD, FD_CLOEXEC);
      cbreak();
      const loop_stop_held held;
      loop_key_terminal_modes();
    }
  }
  loop_make_signal_pipe();
  loop_install_handler(SIGWINCH);
  for (int signo : kEndSignals) loop_install_handler(signo);
  stdin_open = true;
  return loop_run();
}

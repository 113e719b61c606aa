// SPDX-License-Identifier: MIT
// pty_screen.h: drives the real vantrel binary in a pseudo-terminal of a
// chosen size and reads the screen back through libvterm, a real terminal
// emulator. Nothing here relies on the terminal or the standard input of the
// test process itself, so the tests run the same with neither (as in CI).
//
// Rows and columns count from 0, as in curses. Every wait polls the master
// side and feeds what arrives into the emulator, so the child never blocks on
// its output while a test waits, and no test has to sleep blindly.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace e2e {

using Millis = std::chrono::milliseconds;

// Long enough for a sanitizer build on a loaded machine; waits end as soon as
// their condition holds, so passing tests never wait this long.
inline constexpr Millis kWait{4000};

// What the child gets as descriptor 0.
enum class StdinKind {
  kPipe,      // a pipe the test writes to and may close
  kDevNull,   // /dev/null
  kPath,      // Launch::stdin_path opened read-only: a file or a directory
  kClosed,    // descriptor 0 closed
  kTerminal,  // the pty slave itself, so standard input is a terminal
  kFd,        // Launch::stdin_fd, a descriptor of the test's own (a second pty, say)
};

struct Launch {
  std::vector<std::string> args;  // without the program name
  int rows = 24;
  int cols = 80;
  std::string term = "xterm-256color";  // empty: TERM is not set
  std::string locale = "C";             // LANG and LC_ALL
  bool fake_time = false;               // sets FAKETIME, which fixes the clock text
  StdinKind stdin_kind = StdinKind::kPipe;
  std::string stdin_path;          // for StdinKind::kPath
  std::vector<std::string> env;    // further NAME=value entries, over inherited ones
  rlim_t nofile_limit = 0;         // RLIMIT_NOFILE of the child; 0 keeps the inherited one
  int occupy_fds_below = 0;        // the child holds /dev/null on every descriptor 3..n-1
  int stdin_fd = -1;               // for StdinKind::kFd; stays the test's to close
  bool stdin_nonblocking = false;  // O_NONBLOCK on the read end of the pipe or the descriptor
  std::string stdout_path;         // standard output to this file instead of the terminal
  // false: the child is a session of its own without a controlling terminal;
  // the pty is only its standard output.
  bool controlling_terminal = true;
  // The child runs as a job: a session leader that stays alive (as a shell
  // would) puts it in a process group of its own in the foreground, so that
  // its group is not orphaned and a stop signal really stops it. pid() is the
  // program's; its exit is passed on through the session leader.
  bool job_control = false;
  // A program that runs the binary, with its options (valgrind, say); its
  // first word is a path, as execve takes it.
  std::vector<std::string> wrapper;
};

// Foreground color of a cell: a palette index 0..255, or one of these.
inline constexpr int kDefaultColor = -1;
inline constexpr int kRgbColor = -2;

class PtyScreen {
 public:
  explicit PtyScreen(const Launch& launch);
  ~PtyScreen();
  PtyScreen(const PtyScreen&) = delete;
  PtyScreen& operator=(const PtyScreen&) = delete;

  // ---- the process
  pid_t pid() const { return job_control_ ? program_pid_ : pid_; }
  bool running();
  // Waits until the child sits in the event loop's wait (blocked in ppoll,
  // poll, select or the like),
  // that is, start-up is over and its signal handlers are installed, and
  // until all it wrote before has reached the screen.
  bool wait_idle(Millis timeout = kWait);
  // Waits for the child to end; the raw wait status, or none on time-out.
  std::optional<int> wait_exit(Millis timeout = kWait);
  void signal(int signo);
  // The child's open descriptors and what they point at.
  std::vector<std::pair<int, std::string>> child_fds() const;

  // ---- input to the child
  bool write_stdin(std::string_view bytes);  // StdinKind::kPipe only
  void close_stdin();
  bool send_keys(std::string_view bytes);  // typed on the terminal
  // New window size: the kernel sends SIGWINCH, the emulator follows.
  void resize(int rows, int cols);

  // ---- the screen
  int rows() const { return rows_; }
  int cols() const { return cols_; }
  // Reads what the child has written for up to `wait`; true when something came.
  bool pump(Millis wait);
  // Pumps until pred() holds; false on time-out or when the child has ended
  // and pred() still fails.
  bool wait_for(const std::function<bool()>& pred, Millis timeout = kWait);
  bool wait_for_text(int row, int col, std::string_view utf8, Millis timeout = kWait);
  std::string row_text(int row) const;  // UTF-8, trailing blanks dropped
  std::string text_at(int row, int col, int cells) const;
  int find(int row, std::string_view utf8) const;  // column of the first match, or -1
  std::string screen_text() const;                 // every row, for failure messages
  char32_t cell_char(int row, int col) const;      // a blank for an empty cell
  bool cell_reverse(int row, int col) const;
  int cell_fg(int row, int col) const;
  bool altscreen() const { return props_.altscreen; }
  // Whether the program last asked for the cursor to be shown (DECTCEM).
  bool cursor_visible() const { return cursor_visible_; }
  // Writes straight into the emulator, as if another program had drawn there.
  void inject(std::string_view bytes);

  // ---- terminal modes of the slave side, and standard error
  const struct termios& modes_at_start() const { return modes_at_start_; }
  struct termios modes_now() const;
  const std::string& stderr_text() const { return stderr_; }

 private:
  void drain_master();
  void note_cursor_requests(const std::string& bytes);
  void drain_stderr();
  void reap();

  int rows_;
  int cols_;
  int master_ = -1;
  int slave_ = -1;
  int stdin_w_ = -1;
  int stderr_r_ = -1;
  pid_t pid_ = -1;
  bool job_control_ = false;
  pid_t program_pid_ = -1;  // with job control: the program under the session leader
  bool exited_ = false;
  int status_ = 0;
  std::string stderr_;
  bool cursor_visible_ = true;
  std::string cursor_carry_;  // the last bytes of the output, for a request cut in two
  struct termios modes_at_start_ {};
  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;

 public:
  // Terminal properties the child has set, kept by the emulator's callback.
  struct Props {
    bool altscreen = false;
  };

 private:
  Props props_;
};

// A run without a terminal: standard input /dev/null, standard output and
// standard error captured.
struct PlainRun {
  std::optional<int> status;  // raw wait status, none on time-out
  std::string out;
  std::string err;
};
PlainRun run_plain(const std::vector<std::string>& args, Millis timeout = kWait);

// "exit 0", "signal 15 (Terminated)" or "still running", for assertions.
std::string exit_text(const std::optional<int>& status);
// The differences between two sets of terminal modes; empty when they agree.
std::string modes_diff(const struct termios& before, const struct termios& after);

}  // namespace e2e

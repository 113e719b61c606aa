// SPDX-License-Identifier: MIT
// pty_screen.cpp: the child in its pseudo-terminal, the emulator that reads
// its output, and the plain runs without a terminal.
#include "pty_screen.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef VANTREL_BINARY
#error "VANTREL_BINARY must name the program under test"
#endif

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

constexpr Millis kPumpSlice{20};
constexpr Millis kQuiet{10};

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Moves a descriptor to 3 or above with close-on-exec, so that none of the
// harness's own descriptors can sit on 0..2 when the test process was started
// with some of them closed, and none leaks into the child.
int high_fd(int fd) {
  if (fd < 0) fail("descriptor");
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (moved < 0) fail("fcntl");
  close(fd);
  return moved;
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

void set_nonblocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

Millis left_until(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
  return left.count() < 0 ? Millis{0} : left;
}

// What the child inherits of the environment: only what a sanitizer build or
// an unusual terminfo location needs. LINES and COLUMNS in particular would
// override the pty size.
std::vector<std::string> child_env(const Launch& launch) {
  std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
  if (!launch.term.empty()) env.push_back("TERM=" + launch.term);
  env.push_back("LANG=" + launch.locale);
  env.push_back("LC_ALL=" + launch.locale);
  if (launch.fake_time) env.push_back("FAKETIME=");
  auto given = [&](const std::string& name) {
    return std::any_of(launch.env.begin(), launch.env.end(),
                       [&](const std::string& entry) { return starts_with(entry, name + "="); });
  };
  for (const char* name :
       {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TERMINFO", "TERMINFO_DIRS"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && !given(name)) env.push_back(std::string(name) + "=" + value);
  }
  env.insert(env.end(), launch.env.begin(), launch.env.end());
  return env;
}

// argv or envp for execve; the strings must outlive the result.
std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(char** argv, char** envp, const Launch& launch, int stdin_fd,
                             int stdout_fd, int stderr_fd, int ctty_fd) {
  if (ctty_fd >= 0) {
    setsid();
    if (launch.controlling_terminal) ioctl(ctty_fd, TIOCSCTTY, 0);
  }
  if (launch.stdin_kind == StdinKind::kClosed) {
    close(STDIN_FILENO);
  } else {
    dup2(stdin_fd, STDIN_FILENO);
  }
  dup2(stdout_fd, STDOUT_FILENO);
  dup2(stderr_fd, STDERR_FILENO);
  if (launch.nofile_limit != 0) {
    const struct rlimit limit = {launch.nofile_limit, launch.nofile_limit};
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  // Everything above 2 is close-on-exec already; the descriptors to occupy
  // must survive the exec.
  for (int fd = 3; fd < launch.occupy_fds_below; ++fd) {
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0) break;
    if (null_fd != fd) {
      dup2(null_fd, fd);
      close(null_fd);
    }
  }
  execve(argv[0], argv, envp);
  static const char kMessage[] = "e2e: execve failed\n";
  ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  (void)ignored;
  _exit(127);
}

// The session leader of a job-control launch, between fork and exit: it takes
// the terminal, starts the program in a process group of its own, hands that
// group the foreground, reports the program's pid and ends as the program
// ended. Only async-signal-safe calls.
[[noreturn]] void run_job(char** argv, char** envp, const Launch& launch, int stdin_fd,
                          int stdout_fd, int stderr_fd, int tty_fd, int report_fd) {
  setsid();
  ioctl(tty_fd, TIOCSCTTY, 0);
  // The program may start only once its group owns the foreground; before,
  // its first change of the terminal modes would stop it (SIGTTOU).
  int go[2];
  if (pipe(go) != 0) _exit(127);
  const pid_t program = fork();
  if (program < 0) _exit(127);
  if (program == 0) {
    setpgid(0, 0);
    close(go[1]);
    char byte;
    while (read(go[0], &byte, 1) < 0 && errno == EINTR) {
    }
    close(go[0]);
    close(report_fd);
    exec_child(argv, envp, launch, stdin_fd, stdout_fd, stderr_fd, -1);
  }
  close(go[0]);
  setpgid(program, program);
  tcsetpgrp(tty_fd, program);
  ssize_t ignored = write(report_fd, &program, sizeof program);
  close(report_fd);
  ignored = write(go[1], "g", 1);
  (void)ignored;
  close(go[1]);
  int status = 0;
  while (waitpid(program, &status, 0) < 0) {
    if (errno != EINTR) _exit(127);
  }
  if (WIFSIGNALED(status)) {
    const int signo = WTERMSIG(status);
    signal(signo, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signo);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    kill(getpid(), signo);
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

void append_utf8(std::string& out, char32_t c) {
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

std::u32string decode_utf8(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < s.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3F);
    }
    out += c;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

// The calls an event loop blocks in. /proc/PID/syscall shows the number of
// the call a sleeping process is in ("running" while it runs).
bool is_wait_syscall(long number) {
  const long waits[] = {
      SYS_ppoll,      SYS_pselect6, SYS_epoll_pwait,
#ifdef SYS_poll
      SYS_poll,
#endif
#ifdef SYS_select
      SYS_select,
#endif
#ifdef SYS_epoll_wait
      SYS_epoll_wait,
#endif
  };
  return std::find(std::begin(waits), std::end(waits), number) != std::end(waits);
}

int on_termprop(VTermProp prop, VTermValue* val, void* user) {
  auto* props = static_cast<PtyScreen::Props*>(user);
  if (prop == VTERM_PROP_ALTSCREEN) props->altscreen = val->boolean != 0;
  return 1;
}

// Answers of the emulator (to a status query, say) go back to the child, as
// a real terminal's would.
void on_output(const char* bytes, std::size_t len, void* user) {
  const int master = *static_cast<int*>(user);
  while (len > 0) {
    const ssize_t n = write(master, bytes, len);
    if (n <= 0) return;
    bytes += n;
    len -= static_cast<std::size_t>(n);
  }
}

const VTermScreenCallbacks kScreenCallbacks = {
    nullptr, nullptr, nullptr, on_termprop, nullptr, nullptr, nullptr, nullptr,
};

// Reads what is there now; false at end of file.
bool read_available(int fd, std::string* into) {
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      if (into != nullptr) into->append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

}  // namespace

// ---- start and end

PtyScreen::PtyScreen(const Launch& launch) : rows_(launch.rows), cols_(launch.cols) {
  // A write to a pipe whose reader has gone must fail, not end the tests.
  std::signal(SIGPIPE, SIG_IGN);

  struct winsize size {};
  size.ws_row = static_cast<unsigned short>(rows_);
  size.ws_col = static_cast<unsigned short>(cols_);
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) fail("openpty");
  master_ = high_fd(master);
  slave_ = high_fd(slave);
  set_nonblocking(master_);
  if (tcgetattr(slave_, &modes_at_start_) != 0) fail("tcgetattr");

  int err_pipe[2];
  if (pipe(err_pipe) != 0) fail("pipe");
  stderr_r_ = high_fd(err_pipe[0]);
  const int stderr_w = high_fd(err_pipe[1]);
  set_nonblocking(stderr_r_);

  int stdin_r = -1;
  switch (launch.stdin_kind) {
    case StdinKind::kPipe: {
      int in_pipe[2];
      if (pipe(in_pipe) != 0) fail("pipe");
      stdin_r = high_fd(in_pipe[0]);
      stdin_w_ = high_fd(in_pipe[1]);
      set_nonblocking(stdin_w_);
      break;
    }
    case StdinKind::kDevNull: stdin_r = high_fd(open("/dev/null", O_RDONLY)); break;
    case StdinKind::kPath: stdin_r = high_fd(open(launch.stdin_path.c_str(), O_RDONLY)); break;
    case StdinKind::kClosed: break;
    case StdinKind::kTerminal: stdin_r = slave_; break;
    case StdinKind::kFd: stdin_r = launch.stdin_fd; break;
  }
  // A flag of the open file, so the child's descriptor 0 shares it.
  if (launch.stdin_nonblocking && stdin_r >= 0) set_nonblocking(stdin_r);
  const int stdout_w =
      launch.stdout_path.empty()
          ? slave_
          : high_fd(open(launch.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));

  std::vector<std::string> argv_strings = launch.wrapper;
  argv_strings.push_back(VANTREL_BINARY);
  argv_strings.insert(argv_strings.end(), launch.args.begin(), launch.args.end());
  std::vector<std::string> env_strings = child_env(launch);
  std::vector<char*> argv = c_strings(argv_strings);
  std::vector<char*> envp = c_strings(env_strings);

  int report[2] = {-1, -1};
  if (launch.job_control) {
    if (pipe(report) != 0) fail("pipe");
    report[0] = high_fd(report[0]);
    report[1] = high_fd(report[1]);
  }
  pid_ = fork();
  if (pid_ < 0) fail("fork");
  if (pid_ == 0) {
    if (launch.job_control) {
      close(report[0]);
      run_job(argv.data(), envp.data(), launch, stdin_r, stdout_w, stderr_w, slave_, report[1]);
    }
    exec_child(argv.data(), envp.data(), launch, stdin_r, stdout_w, stderr_w, slave_);
  }
  close(stderr_w);
  if (stdout_w != slave_) close(stdout_w);
  if (stdin_r >= 0 && stdin_r != slave_ && launch.stdin_kind != StdinKind::kFd) close(stdin_r);
  if (launch.job_control) {
    close(report[1]);
    pid_t program = -1;
    ssize_t n;
    while ((n = read(report[0], &program, sizeof program)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n != static_cast<ssize_t>(sizeof program)) fail("job start");
    job_control_ = true;
    program_pid_ = program;
  }

  vt_ = vterm_new(rows_, cols_);
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, on_output, &master_);
  screen_ = vterm_obtain_screen(vt_);
  vterm_screen_enable_altscreen(screen_, 1);
  vterm_screen_set_callbacks(screen_, &kScreenCallbacks, &props_);
  vterm_screen_reset(screen_, 1);
}

PtyScreen::~PtyScreen() {
  if (pid_ > 0 && !exited_) {
    if (job_control_) kill(program_pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {master_, slave_, stdin_w_, stderr_r_}) {
    if (fd >= 0) close(fd);
  }
  if (vt_ != nullptr) vterm_free(vt_);
}

void PtyScreen::reap() {
  if (exited_) return;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return;
  exited_ = true;
  status_ = status;
  // All the child wrote is in the buffers now; the slave stays open on our
  // side, so the master keeps it readable.
  drain_master();
  drain_stderr();
}

bool PtyScreen::running() {
  reap();
  return !exited_;
}

bool PtyScreen::wait_idle(Millis timeout) {
  const std::string path = "/proc/" + std::to_string(pid()) + "/syscall";
  const auto deadline = Clock::now() + timeout;
  const bool idle = wait_for(
      [&] {
        std::ifstream in(path);
        long number = -1;
        in >> number;
        return in && is_wait_syscall(number);
      },
      timeout);
  // What the child wrote before it began to wait can still be on its way
  // through the pty; take it in until the line has been quiet for a moment.
  while (idle && Clock::now() < deadline && pump(kQuiet)) {
  }
  return idle;
}

std::optional<int> PtyScreen::wait_exit(Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    reap();
    if (exited_) return status_;
    if (Clock::now() >= deadline) return std::nullopt;
    pump(std::min(kPumpSlice, left_until(deadline)));
  }
}

void PtyScreen::signal(int signo) {
  if (!exited_) kill(pid(), signo);
}

std::vector<std::pair<int, std::string>> PtyScreen::child_fds() const {
  std::vector<std::pair<int, std::string>> fds;
  const std::string dir = "/proc/" + std::to_string(pid()) + "/fd";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return fds;
  while (const dirent* entry = readdir(d)) {
    if (entry->d_name[0] == '.') continue;
    char target[4096];
    const std::string link = dir + "/" + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n < 0) continue;
    fds.emplace_back(std::atoi(entry->d_name), std::string(target, static_cast<std::size_t>(n)));
  }
  closedir(d);
  std::sort(fds.begin(), fds.end());
  return fds;
}

// ---- input to the child

bool PtyScreen::write_stdin(std::string_view bytes) {
  if (stdin_w_ < 0) return false;
  const auto deadline = Clock::now() + kWait;
  while (!bytes.empty()) {
    const ssize_t n = write(stdin_w_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EAGAIN && Clock::now() < deadline) {
      pump(Millis{5});  // the child may be waiting for its output to be read
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
}

void PtyScreen::close_stdin() {
  if (stdin_w_ >= 0) close(stdin_w_);
  stdin_w_ = -1;
}

bool PtyScreen::send_keys(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EAGAIN) {
      pump(Millis{5});
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
}

void PtyScreen::resize(int rows, int cols) {
  rows_ = rows;
  cols_ = cols;
  vterm_set_size(vt_, rows, cols);
  struct winsize size {};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(cols);
  ioctl(master_, TIOCSWINSZ, &size);
}

// ---- reading the child's output

void PtyScreen::drain_master() {
  std::string bytes;
  read_available(master_, &bytes);
  if (bytes.empty()) return;
  note_cursor_requests(bytes);
  vterm_input_write(vt_, bytes.data(), bytes.size());
}

// The emulator keeps one saved cursor for DECSC and for the alternate screen,
// and it saves the cursor's visibility with it: an ESC 7 that curses sends
// while the cursor is hidden is then restored on leaving the alternate
// screen, after the program had shown the cursor again. xterm keeps a saved
// cursor per screen and no visibility in it, so what counts is the program's
// last request, read from the stream itself.
void PtyScreen::note_cursor_requests(const std::string& bytes) {
  static constexpr std::string_view kShow = "\x1b[?25h";
  static constexpr std::string_view kHide = "\x1b[?25l";
  std::string window = cursor_carry_ + bytes;
  const std::size_t show = window.rfind(kShow);
  const std::size_t hide = window.rfind(kHide);
  if (show != std::string::npos || hide != std::string::npos) {
    cursor_visible_ = hide == std::string::npos || (show != std::string::npos && show > hide);
  }
  // Too short to hold a whole request, long enough for one cut between reads.
  const std::size_t keep = std::min(window.size(), kShow.size() - 1);
  cursor_carry_ = window.substr(window.size() - keep);
}

void PtyScreen::drain_stderr() {
  if (stderr_r_ < 0) return;
  if (!read_available(stderr_r_, &stderr_)) {
    close(stderr_r_);
    stderr_r_ = -1;
  }
}

bool PtyScreen::pump(Millis wait) {
  struct pollfd fds[2] = {{master_, POLLIN, 0}, {stderr_r_, POLLIN, 0}};
  const nfds_t count = stderr_r_ >= 0 ? 2 : 1;
  const int ready = poll(fds, count, static_cast<int>(wait.count()));
  bool got = false;
  if (ready > 0) {
    if (fds[0].revents & POLLIN) {
      drain_master();
      got = true;
    }
    if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP))) {
      drain_stderr();
      got = true;
    }
  }
  reap();
  return got;
}

bool PtyScreen::wait_for(const std::function<bool()>& pred, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    if (Clock::now() >= deadline) return false;
    const bool got = pump(std::min(kPumpSlice, left_until(deadline)));
    if (!got && exited_) return pred();
  }
}

bool PtyScreen::wait_for_text(int row, int col, std::string_view utf8, Millis timeout) {
  const int cells = static_cast<int>(decode_utf8(utf8).size());
  return wait_for([&] { return text_at(row, col, cells) == utf8; }, timeout);
}

// ---- the screen

void PtyScreen::inject(std::string_view bytes) {
  vterm_input_write(vt_, bytes.data(), bytes.size());
}

char32_t PtyScreen::cell_char(int row, int col) const {
  VTermScreenCell cell;
  if (!vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell)) return U'\0';
  return cell.chars[0] == 0 ? U' ' : static_cast<char32_t>(cell.chars[0]);
}

bool PtyScreen::cell_reverse(int row, int col) const {
  VTermScreenCell cell;
  if (!vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell)) return false;
  return cell.attrs.reverse != 0;
}

int PtyScreen::cell_fg(int row, int col) const {
  VTermScreenCell cell;
  if (!vterm_screen_get_cell(screen_, VTermPos{row, col}, &cell)) return kDefaultColor;
  if (VTERM_COLOR_IS_DEFAULT_FG(&cell.fg)) return kDefaultColor;
  if (VTERM_COLOR_IS_INDEXED(&cell.fg)) return cell.fg.indexed.idx;
  return kRgbColor;
}

std::string PtyScreen::text_at(int row, int col, int cells) const {
  std::string out;
  for (int c = col; c < col + cells && c < cols_; ++c) append_utf8(out, cell_char(row, c));
  return out;
}

std::string PtyScreen::row_text(int row) const {
  std::string out = text_at(row, 0, cols_);
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

int PtyScreen::find(int row, std::string_view utf8) const {
  std::u32string cells;
  for (int c = 0; c < cols_; ++c) cells += cell_char(row, c);
  const std::size_t at = cells.find(decode_utf8(utf8));
  return at == std::u32string::npos ? -1 : static_cast<int>(at);
}

std::string PtyScreen::screen_text() const {
  std::string out;
  for (int r = 0; r < rows_; ++r) out += row_text(r) + "\n";
  return out;
}

struct termios PtyScreen::modes_now() const {
  struct termios modes {};
  tcgetattr(slave_, &modes);
  return modes;
}

// ---- plain runs

PlainRun run_plain(const std::vector<std::string>& args, Millis timeout) {
  Launch launch;
  launch.stdin_kind = StdinKind::kDevNull;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) fail("pipe");
  const int out_r = high_fd(out_pipe[0]);
  const int out_w = high_fd(out_pipe[1]);
  const int err_r = high_fd(err_pipe[0]);
  const int err_w = high_fd(err_pipe[1]);
  const int null_fd = high_fd(open("/dev/null", O_RDONLY));

  std::vector<std::string> argv_strings = launch.wrapper;
  argv_strings.push_back(VANTREL_BINARY);
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<std::string> env_strings = child_env(launch);
  std::vector<char*> argv = c_strings(argv_strings);
  std::vector<char*> envp = c_strings(env_strings);

  const pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) exec_child(argv.data(), envp.data(), launch, null_fd, out_w, err_w, -1);
  close(out_w);
  close(err_w);
  close(null_fd);
  set_nonblocking(out_r);
  set_nonblocking(err_r);

  PlainRun run;
  const auto deadline = Clock::now() + timeout;
  bool out_open = true;
  bool err_open = true;
  while ((out_open || err_open) && Clock::now() < deadline) {
    struct pollfd fds[2] = {{out_open ? out_r : -1, POLLIN, 0}, {err_open ? err_r : -1, POLLIN, 0}};
    poll(fds, 2, static_cast<int>(left_until(deadline).count()));
    if (out_open && fds[0].revents != 0) out_open = read_available(out_r, &run.out);
    if (err_open && fds[1].revents != 0) err_open = read_available(err_r, &run.err);
  }
  close(out_r);
  close(err_r);
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      run.status = status;
      break;
    }
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    poll(nullptr, 0, static_cast<int>(kPumpSlice.count()));
  }
  return run;
}

// ---- descriptions for assertions

std::string exit_text(const std::optional<int>& status) {
  if (!status) return "still running";
  if (WIFEXITED(*status)) return "exit " + std::to_string(WEXITSTATUS(*status));
  if (WIFSIGNALED(*status)) {
    return "signal " + std::to_string(WTERMSIG(*status)) + " (" + strsignal(WTERMSIG(*status)) +
           ")";
  }
  return "wait status " + std::to_string(*status);
}

std::string modes_diff(const struct termios& before, const struct termios& after) {
  std::ostringstream out;
  auto flags = [&](const char* name, tcflag_t a, tcflag_t b) {
    if (a != b) out << name << " " << std::hex << a << " -> " << b << std::dec << "; ";
  };
  flags("c_iflag", before.c_iflag, after.c_iflag);
  flags("c_oflag", before.c_oflag, after.c_oflag);
  flags("c_cflag", before.c_cflag, after.c_cflag);
  flags("c_lflag", before.c_lflag, after.c_lflag);
  const std::pair<const char*, int> cc[] = {{"VMIN", VMIN},   {"VTIME", VTIME},   {"VINTR", VINTR},
                                            {"VQUIT", VQUIT}, {"VERASE", VERASE}, {"VKILL", VKILL},
                                            {"VEOF", VEOF},   {"VSUSP", VSUSP}};
  for (const auto& [name, index] : cc) {
    if (before.c_cc[index] != after.c_cc[index]) {
      out << name << " " << int{before.c_cc[index]} << " -> " << int{after.c_cc[index]} << "; ";
    }
  }
  return out.str();
}

}  // namespace e2e

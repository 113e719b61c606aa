// SPDX-License-Identifier: MIT
// flood: runs a terminal plotter as a user would, in a pseudo-terminal of a
// fixed size with a pipe on its standard input, and measures it from outside
// through /proc. Three loads:
//
//   flood (default)  samples written as fast as the program takes them, then
//                    the end of input; figures until the program has read it
//   --steady R       R samples per second for --seconds S
//   --idle S         no input for S seconds (the pipe stays open)
//
// The flood's text (--format): int, random integers 0..99999 one a line (5.9
// bytes a sample), so that every column of every frame changes and no two
// neighbours are alike; dec, the same divided by 10 with two decimals; pair,
// two integers a line; wave, integers on a slow sine plus a little noise.
//
// The program's CPU time is the sum of /proc/<pid>/schedstat (nanoseconds
// on the CPU) over it and its descendants, so a plotter that runs a helper
// process (gnuplot under feedgnuplot) is charged for it; when the program has
// already exited at the end of a flood, the resource usage of the reaped
// descendants stands in, orphans included, since the driver is their
// subreaper. Frames are counted from /proc/<pid>/io: syscr,
// the read calls, since vantrel paints exactly once after every read of its
// standard input that brought data (and after the read that sees the end);
// syscw, its write calls, is reported beside it. With --marker the frames are
// instead the occurrences of that text in what reaches the terminal (gnuplot's
// dumb terminal starts every plot with a form feed).
//
// Usage: flood [options] -- program [arguments]
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class load { FLOOD, STEADY, IDLE };
enum class format { INT, DEC, PAIR, WAVE };

struct options {
  int rows = 24;
  int cols = 80;
  std::int64_t samples = 4000000;
  format fmt = format::INT;
  int runs = 5;
  load kind = load::FLOOD;
  double rate = 100;
  double seconds = 30;
  std::string marker;      // empty: count frames from syscr
  std::string quit = "q";  // written to the terminal to end the program
  std::string label;
  std::vector<std::string> command;
};

constexpr std::size_t kChunkBytes = 1 << 20;  // the flood repeats one chunk of this size
constexpr double kSettleSeconds = 0.3;        // quiet time that counts as settled
constexpr double kSettleLimit = 8.0;
constexpr double kStopLimit = 3.0;  // grace before SIGTERM, then SIGKILL

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "flood: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(2);
}

double now_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// ---- what /proc tells about a process

std::map<std::string, long long> proc_fields(pid_t pid, const char* file) {
  std::map<std::string, long long> fields;
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    fields[line.substr(0, colon)] = std::atoll(line.c_str() + colon + 1);
  }
  return fields;
}

long long proc_cpu_ns(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  long long ns = 0;
  in >> ns;
  return ns;
}

std::vector<pid_t> proc_tree(pid_t root) {
  std::map<pid_t, std::vector<pid_t>> children;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      const pid_t pid = std::atoi(e->d_name);
      if (pid <= 0) continue;
      std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
      std::string stat;
      std::getline(in, stat);
      const auto close_paren = stat.rfind(')');
      if (close_paren == std::string::npos) continue;
      std::istringstream rest(stat.substr(close_paren + 2));
      char state;
      pid_t ppid;
      rest >> state >> ppid;
      children[ppid].push_back(pid);
    }
    closedir(d);
  }
  std::vector<pid_t> tree = {root};
  for (std::size_t k = 0; k < tree.size(); ++k) {
    for (pid_t c : children[tree[k]]) tree.push_back(c);
  }
  return tree;
}

long long tree_cpu_ns(pid_t root) {
  long long sum = 0;
  for (pid_t p : proc_tree(root)) sum += proc_cpu_ns(p);
  return sum;
}

bool stdin_is(pid_t pid, ino_t pipe_inode) {
  struct stat st {};
  const std::string path = "/proc/" + std::to_string(pid) + "/fd/0";
  return stat(path.c_str(), &st) == 0 && st.st_ino == pipe_inode;
}

// ---- the child in its pseudo-terminal

struct child {
  pid_t pid = -1;
  int master = -1;
  int input = -1;  // write end of the child's standard input
  ino_t input_inode = 0;
  bool exited = false;
  rusage usage{};
  // What reached the terminal.
  long long bytes = 0;
  long long markers = 0;
  std::string marker;
  std::string tail;  // the last marker.size() - 1 bytes, for markers split over reads
};

child spawn(const options& o) {
  int fds[2];
  if (pipe(fds) != 0) die("pipe");
  struct stat st {};
  fstat(fds[0], &st);
  winsize ws{};
  ws.ws_row = static_cast<unsigned short>(o.rows);
  ws.ws_col = static_cast<unsigned short>(o.cols);
  child c;
  c.marker = o.marker;
  c.input_inode = st.st_ino;
  c.pid = forkpty(&c.master, nullptr, nullptr, &ws);
  if (c.pid < 0) die("forkpty");
  if (c.pid == 0) {
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    close(fds[1]);
    setenv("TERM", "xterm-256color", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("FAKETIME");
    unsetenv("LINES");
    unsetenv("COLUMNS");
    std::vector<char*> argv;
    for (const std::string& a : o.command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "flood: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  close(fds[0]);
  c.input = fds[1];
  fcntl(c.input, F_SETFL, fcntl(c.input, F_GETFL) | O_NONBLOCK);
  fcntl(c.input, F_SETFD, FD_CLOEXEC);
  fcntl(c.master, F_SETFL, fcntl(c.master, F_GETFL) | O_NONBLOCK);
  fcntl(c.master, F_SETFD, FD_CLOEXEC);
  return c;
}

void drain(child& c) {
  char buf[65536];
  for (;;) {
    const ssize_t n = read(c.master, buf, sizeof buf);
    if (n <= 0) return;
    c.bytes += n;
    if (c.marker.empty()) continue;
    std::string text = c.tail + std::string(buf, static_cast<std::size_t>(n));
    for (std::size_t at = text.find(c.marker); at != std::string::npos;
         at = text.find(c.marker, at + c.marker.size())) {
      ++c.markers;
    }
    const std::size_t keep = std::min(text.size(), c.marker.size() - 1);
    c.tail = text.substr(text.size() - keep);
  }
}

// CPU seconds of every descendant waited for so far, by this process or by
// the descendant's own parent.
double children_cpu_seconds() {
  rusage r{};
  getrusage(RUSAGE_CHILDREN, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// Waits for the descendants that outlived the program (gnuplot after
// feedgnuplot, say), which this process adopts as a subreaper.
void reap_orphans() {
  const double until = now_seconds() + 10;
  while (now_seconds() < until) {
    const pid_t pid = waitpid(-1, nullptr, WNOHANG);
    if (pid < 0) return;  // none left
    if (pid == 0) usleep(10000);
  }
}

bool reap(child& c) {
  if (c.exited) return true;
  int status = 0;
  if (wait4(c.pid, &status, WNOHANG, &c.usage) == c.pid) c.exited = true;
  return c.exited;
}

// Drains the terminal for `seconds`, or until `done` holds.
template <typename Done>
void pump(child& c, double seconds, Done done) {
  const double until = now_seconds() + seconds;
  while (!done()) {
    const double left = until - now_seconds();
    if (left <= 0) return;
    pollfd p{c.master, POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::min(left, 0.05) * 1000) + 1);
    drain(c);
  }
}

// Waits until the program has started and sits idle: its CPU time has not
// moved for a while.
void settle(child& c) {
  const double limit = now_seconds() + kSettleLimit;
  long long cpu = -1;
  double since = now_seconds();
  while (now_seconds() < limit && !reap(c)) {
    pump(c, 0.05, [] { return false; });
    const long long t = tree_cpu_ns(c.pid);
    if (t != cpu) {
      cpu = t;
      since = now_seconds();
    } else if (now_seconds() - since >= kSettleSeconds && c.bytes > 0) {
      return;
    } else if (now_seconds() - since >= 2 * kSettleSeconds) {
      return;  // a program that paints nothing before its first data
    }
  }
}

void stop(child& c, const std::string& quit) {
  if (c.input >= 0) {
    close(c.input);
    c.input = -1;
  }
  if (!quit.empty() && !reap(c)) {
    if (write(c.master, quit.data(), quit.size()) < 0) {
    }
  }
  pump(c, kStopLimit, [&] { return reap(c); });
  if (!reap(c)) {
    kill(-c.pid, SIGTERM);
    pump(c, kStopLimit, [&] { return reap(c); });
  }
  if (!reap(c)) {
    kill(-c.pid, SIGKILL);
    int status;
    wait4(c.pid, &status, 0, &c.usage);
    c.exited = true;
  }
  close(c.master);
}

// ---- the input

struct chunk {
  std::string text;
  std::int64_t samples = 0;
};

chunk make_chunk(format fmt) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> value(0, 99999);
  chunk ch;
  char tok[64];
  while (ch.text.size() < kChunkBytes - 64) {
    switch (fmt) {
      case format::INT: std::snprintf(tok, sizeof tok, "%d\n", value(rng)); break;
      case format::DEC: std::snprintf(tok, sizeof tok, "%.2f\n", value(rng) * 0.1); break;
      case format::PAIR: std::snprintf(tok, sizeof tok, "%d %d\n", value(rng), value(rng)); break;
      case format::WAVE: {
        // A slow wave with a little noise: neighbouring samples are alike.
        const double x = static_cast<double>(ch.samples) * 2.0 * M_PI / 5000.0;
        std::snprintf(tok, sizeof tok, "%d\n",
                      static_cast<int>(50000 + 40000 * std::sin(x)) + value(rng) % 100);
        break;
      }
    }
    ch.text += tok;
    ++ch.samples;
  }
  return ch;
}

// ---- one run of each load

struct figures {
  std::map<std::string, double> v;
};

// The counters at the start of a measurement, once the program has settled.
struct baseline {
  long long cpu_ns;
  std::map<std::string, long long> io;
  std::map<std::string, long long> status;
  long long bytes;
  long long markers;
  double t;
};

baseline start_measuring(child& c) {
  settle(c);
  return {tree_cpu_ns(c.pid),
          proc_fields(c.pid, "io"),
          proc_fields(c.pid, "status"),
          c.bytes,
          c.markers,
          now_seconds()};
}

figures run_flood(const options& o, const chunk& ch) {
  const double children0 = children_cpu_seconds();
  child c = spawn(o);
  baseline b = start_measuring(c);

  const std::int64_t chunks = (o.samples + ch.samples - 1) / ch.samples;
  std::int64_t sent_chunks = 0;
  std::size_t offset = 0;
  while (sent_chunks < chunks && !reap(c)) {
    pollfd p[2] = {{c.input, POLLOUT, 0}, {c.master, POLLIN, 0}};
    poll(p, 2, 100);
    if (p[0].revents & (POLLERR | POLLHUP)) break;
    if (p[0].revents & POLLOUT) {
      const ssize_t n = write(c.input, ch.text.data() + offset, ch.text.size() - offset);
      if (n > 0) {
        offset += static_cast<std::size_t>(n);
        if (offset == ch.text.size()) {
          offset = 0;
          ++sent_chunks;
        }
      }
    }
    drain(c);
  }
  close(c.input);
  c.input = -1;
  // The end: the program has read the end of input (and closed it), or exited.
  pump(c, 600, [&] { return reap(c) || !stdin_is(c.pid, c.input_inode); });
  const double t1 = now_seconds();
  figures f;
  const double elapsed = t1 - b.t;
  double cpu = 0;
  long long frames = 0;
  if (!c.exited) {
    cpu = static_cast<double>(tree_cpu_ns(c.pid) - b.cpu_ns) * 1e-9;
    auto io1 = proc_fields(c.pid, "io");
    frames = io1["syscr"] - b.io["syscr"];
    f.v["writes/frame"] = static_cast<double>(io1["syscw"] - b.io["syscw"]) /
                          static_cast<double>(std::max(1LL, frames));
  } else {
    // Everything the program and its helpers used, less what they had used
    // before the measurement began.
    reap_orphans();
    cpu = children_cpu_seconds() - children0 - static_cast<double>(b.cpu_ns) * 1e-9;
  }
  if (!o.marker.empty()) frames = c.markers - b.markers;
  const long long bytes = c.bytes - b.bytes;
  stop(c, o.quit);
  const double samples = static_cast<double>(sent_chunks * ch.samples);
  f.v["samples"] = samples;
  f.v["seconds"] = elapsed;
  f.v["samples/s"] = samples / elapsed;
  // A program that had exited left no count of its reads to take frames from.
  if (frames > 0) {
    f.v["frames/s"] = static_cast<double>(frames) / elapsed;
    f.v["bytes/frame"] = static_cast<double>(bytes) / static_cast<double>(frames);
  }
  f.v["cpu_s/Msample"] = cpu / (samples * 1e-6);
  f.v["cpu_share"] = cpu / elapsed;
  f.v["user_s"] = static_cast<double>(c.usage.ru_utime.tv_sec) +
                  static_cast<double>(c.usage.ru_utime.tv_usec) * 1e-6;
  f.v["sys_s"] = static_cast<double>(c.usage.ru_stime.tv_sec) +
                 static_cast<double>(c.usage.ru_stime.tv_usec) * 1e-6;
  return f;
}

figures run_steady(const options& o) {
  child c = spawn(o);
  baseline b = start_measuring(c);
  const auto total = static_cast<std::int64_t>(o.rate * o.seconds);
  std::int64_t sent = 0;
  while (sent < total && !reap(c)) {
    const double due = b.t + static_cast<double>(sent) / o.rate;
    pump(c, due - now_seconds(), [] { return false; });
    char tok[32];
    const int len = std::snprintf(tok, sizeof tok, "%.2f\n",
                                  50.0 + 40.0 * std::sin(static_cast<double>(sent) * 0.05));
    if (write(c.input, tok, static_cast<std::size_t>(len)) == len) ++sent;
  }
  // One period more, so that the last sample is served and painted.
  pump(c, 1.0 / o.rate, [] { return false; });
  const double t1 = now_seconds();
  const double cpu = static_cast<double>(tree_cpu_ns(c.pid) - b.cpu_ns) * 1e-9;
  auto io1 = proc_fields(c.pid, "io");
  const long long frames = o.marker.empty() ? io1["syscr"] - b.io["syscr"] : c.markers - b.markers;
  const long long bytes = c.bytes - b.bytes;
  stop(c, o.quit);
  figures f;
  f.v["samples"] = static_cast<double>(sent);
  f.v["seconds"] = t1 - b.t;
  f.v["frames/s"] = static_cast<double>(frames) / (t1 - b.t);
  f.v["cpu_s"] = cpu;
  f.v["cpu_us/sample"] = cpu * 1e6 / static_cast<double>(sent);
  f.v["cpu_share"] = cpu / (t1 - b.t);
  f.v["bytes/frame"] = static_cast<double>(bytes) / static_cast<double>(std::max(1LL, frames));
  return f;
}

figures run_idle(const options& o) {
  child c = spawn(o);
  baseline b = start_measuring(c);
  pump(c, o.seconds, [] { return false; });
  const double t1 = now_seconds();
  const double cpu = static_cast<double>(tree_cpu_ns(c.pid) - b.cpu_ns) * 1e-9;
  auto io1 = proc_fields(c.pid, "io");
  auto st1 = proc_fields(c.pid, "status");
  const long long bytes = c.bytes - b.bytes;
  stop(c, o.quit);
  const double elapsed = t1 - b.t;
  const double wakeups =
      static_cast<double>(st1["voluntary_ctxt_switches"] - b.status["voluntary_ctxt_switches"]);
  const double repaints = static_cast<double>(io1["syscw"] - b.io["syscw"]);
  figures f;
  f.v["seconds"] = elapsed;
  f.v["wakeups/s"] = wakeups / elapsed;
  f.v["involuntary/s"] = static_cast<double>(st1["nonvoluntary_ctxt_switches"] -
                                             b.status["nonvoluntary_ctxt_switches"]) /
                         elapsed;
  f.v["writes/s"] = repaints / elapsed;
  f.v["cpu_ms/min"] = cpu * 1e3 * 60.0 / elapsed;
  f.v["cpu_us/wakeup"] = cpu * 1e6 / std::max(1.0, wakeups);
  f.v["bytes/repaint"] = static_cast<double>(bytes) / std::max(1.0, repaints);
  return f;
}

// ---- command line and report

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: flood [--rows R] [--cols C] [--runs N] [--label TEXT]\n"
               "             [--samples N] [--format int|dec|pair|wave]   (flood, the default)\n"
               "             [--steady RATE --seconds S] [--idle SECONDS]\n"
               "             [--marker TEXT] [--quit TEXT] -- program [arguments]\n");
  std::exit(2);
}

options parse(int argc, char** argv) {
  options o;
  int k = 1;
  auto value = [&]() -> const char* {
    if (k + 1 >= argc) usage();
    return argv[++k];
  };
  for (; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--") {
      for (++k; k < argc; ++k) o.command.emplace_back(argv[k]);
      break;
    }
    if (a == "--rows") {
      o.rows = std::atoi(value());
    } else if (a == "--cols") {
      o.cols = std::atoi(value());
    } else if (a == "--runs") {
      o.runs = std::atoi(value());
    } else if (a == "--samples") {
      o.samples = std::atoll(value());
    } else if (a == "--format") {
      const std::string f = value();
      o.fmt = f == "dec"    ? format::DEC
              : f == "pair" ? format::PAIR
              : f == "wave" ? format::WAVE
                            : format::INT;
    } else if (a == "--steady") {
      o.kind = load::STEADY;
      o.rate = std::atof(value());
    } else if (a == "--seconds") {
      o.seconds = std::atof(value());
    } else if (a == "--idle") {
      o.kind = load::IDLE;
      o.seconds = std::atof(value());
    } else if (a == "--marker") {
      o.marker = value();
      if (o.marker == "\\f") o.marker = "\f";
    } else if (a == "--quit") {
      o.quit = value();
    } else if (a == "--label") {
      o.label = value();
    } else {
      usage();
    }
  }
  if (o.command.empty() || o.runs < 1) usage();
  return o;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string number(double x) {
  char buf[32];
  if (std::fabs(x) >= 1e5) {
    std::snprintf(buf, sizeof buf, "%.0f", x);
  } else if (std::fabs(x) >= 100) {
    std::snprintf(buf, sizeof buf, "%.1f", x);
  } else {
    std::snprintf(buf, sizeof buf, "%.4g", x);
  }
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  const options o = parse(argc, argv);
  // Helpers of the program that it leaves behind are reparented here, so that
  // their CPU time is counted when they are reaped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  signal(SIGPIPE, SIG_IGN);
  const chunk ch = make_chunk(o.fmt);
  std::string label = o.label;
  if (label.empty()) {
    for (const std::string& a : o.command) label += (label.empty() ? "" : " ") + a;
  }
  std::printf("# %s, %dx%d, %s\n", label.c_str(), o.cols, o.rows,
              o.kind == load::FLOOD    ? "flood"
              : o.kind == load::STEADY ? "steady stream"
                                       : "idle");
  std::vector<figures> all;
  for (int r = 0; r < o.runs; ++r) {
    figures f = o.kind == load::FLOOD    ? run_flood(o, ch)
                : o.kind == load::STEADY ? run_steady(o)
                                         : run_idle(o);
    std::printf("run %d:", r + 1);
    for (const auto& [name, x] : f.v) std::printf(" %s=%s", name.c_str(), number(x).c_str());
    std::printf("\n");
    std::fflush(stdout);
    all.push_back(f);
  }
  // A figure that some runs could not take (the write count of a program
  // that had already exited) is the median of the runs that took it.
  std::map<std::string, std::vector<double>> columns;
  for (const figures& f : all) {
    for (const auto& [name, x] : f.v) columns[name].push_back(x);
  }
  std::printf("median of %d:", o.runs);
  for (const auto& [name, column] : columns) {
    std::printf(" %s=%s", name.c_str(), number(median(column)).c_str());
  }
  std::printf("\n");
  return 0;
}

// SPDX-License-Identifier: MIT
// The program under the terminal types it meets in practice, inside tmux, a
// second real terminal emulator besides the one of the other tests. Each type
// must give the same frame, colors only where it has them, and the terminal
// back as it was; a type that cannot draw the frame must fail the start with
// the usual message.
//
// Every run has a tmux server of its own on a socket in a fresh directory, a
// shell script as the pane's command that records the terminal modes and the
// exit status in files there, and a FIFO held open by the test as standard
// input. Nothing here uses the test process's own terminal or standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "frame.h"
#include "temp_file.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// tmux starts a server and a shell before the program; a sanitizer build on a
// loaded machine needs the room. Passing runs wait only as long as they must.
constexpr Millis kTmuxWait{15000};
constexpr Millis kPoll{50};
constexpr int kRows = 24;
constexpr int kCols = 80;
constexpr const char* kUnknownTerm = "vantrel-no-such-terminal";
constexpr const char* kSamples = "1\n2\n3\n";
constexpr const char* kStats = "last=3.0 min=1.0 max=3.0 avg=2.0 ";

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string shell_quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::optional<std::string> find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(std::string(path != nullptr ? path : "") +
                          ":/usr/local/bin:/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

struct Ran {
  int status = -1;  // exit status, or -1 when it did not exit in time
  std::string out;  // standard output and standard error together
};

// Runs a program with /dev/null as standard input and the given environment.
Ran run(const std::vector<std::string>& args, const std::vector<std::string>& env,
        Millis timeout = kTmuxWait) {
  std::vector<std::string> a = args;
  std::vector<std::string> e = env;
  std::vector<char*> argv;
  for (std::string& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);

  Ran ran;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return ran;
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
    if (left <= 0) break;
    struct pollfd p = {out[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    ran.out.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return ran;
    }
    poll(nullptr, 0, static_cast<int>(kPoll.count()));
  }
  if (WIFEXITED(status)) ran.status = WEXITSTATUS(status);
  return ran;
}

bool wait_until(const std::function<bool()>& pred, Millis timeout = kTmuxWait) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    if (Clock::now() >= deadline) return false;
    poll(nullptr, 0, static_cast<int>(kPoll.count()));
  }
}

// What a pane shows, read from capture-pane -e: the text with the line
// drawing characters in one spelling (the alternate character set's letters,
// their Unicode forms and the ASCII fallbacks all become - | +), and whether
// any color was set.
struct Pane {
  std::vector<std::string> lines;
  bool colored = false;

  std::string text() const {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
  }
  bool blank() const {
    for (const std::string& line : lines) {
      if (!line.empty()) return false;
    }
    return true;
  }
};

bool color_parameters(const std::string& params) {
  std::vector<int> p;
  std::istringstream in(params);
  for (std::string field; std::getline(in, field, ';');) p.push_back(std::atoi(field.c_str()));
  for (int v : p) {
    const bool fg = (v >= 30 && v <= 38) || (v >= 90 && v <= 97);
    const bool bg = (v >= 40 && v <= 48) || (v >= 100 && v <= 107);
    if (fg || bg) return true;
  }
  return false;
}

Pane read_pane(const std::string& captured) {
  Pane pane;
  std::string line;
  bool acs = false;
  for (std::size_t i = 0; i < captured.size(); ++i) {
    const char c = captured[i];
    if (c == '\x1b' && i + 1 < captured.size()) {
      if (captured[i + 1] == '[') {
        std::size_t end = i + 2;
        while (end < captured.size() && !(captured[end] >= 0x40 && captured[end] <= 0x7e)) ++end;
        if (end < captured.size() && captured[end] == 'm' &&
            color_parameters(captured.substr(i + 2, end - i - 2))) {
          pane.colored = true;
        }
        i = end;
      } else if (captured[i + 1] == '(' && i + 2 < captured.size()) {
        acs = captured[i + 2] == '0';
        i += 2;
      } else {
        i += 1;
      }
    } else if (c == '\x0e' || c == '\x0f') {
      acs = c == '\x0e';
    } else if (c == '\n') {
      line.erase(line.find_last_not_of(' ') + 1);
      pane.lines.push_back(line);
      line.clear();
    } else if (acs && (c == 'q' || c == 'x' || c == 'm')) {
      line += c == 'q' ? '-' : c == 'x' ? '|' : '+';
    } else if (captured.compare(i, 3, "\u2500") == 0) {
      line += '-', i += 2;
    } else if (captured.compare(i, 3, "\u2502") == 0) {
      line += '|', i += 2;
    } else if (captured.compare(i, 3, "\u2514") == 0) {
      line += '+', i += 2;
    } else {
      line += c;
    }
  }
  return pane;
}

// One tmux server, its session and the files of one run; the server is
// killed and the files removed however the test ends.
class TmuxRun {
 public:
  TmuxRun(const std::string& tmux_path, const std::string& term) : tmux_(tmux_path) {
    char dir[] = "/tmp/vantrel-tmux-XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    const std::string fifo = dir_ + "/in";
    if (mkfifo(fifo.c_str(), 0600) != 0) return;
    // Read and write, so that the open does not wait for the reader and the
    // program never sees the end of its input.
    input_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    if (input_ < 0 || write(input_, kSamples, std::strlen(kSamples)) < 0) return;

    std::string env = "env -i PATH=/usr/bin:/bin TERM=" + shell_quoted(term) +
                      " LANG=C.UTF-8 LC_ALL=C.UTF-8 FAKETIME= " + shell_quoted(leaks_.env());
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TERMINFO", "TERMINFO_DIRS"}) {
      if (const char* value = std::getenv(name))
        env += " " + shell_quoted(std::string(name) + "=" + value);
    }
    // The status file is written last, so that once it is there the modes
    // are too; the shell then stays, so that the pane can still be read.
    const std::string script = "D=" + shell_quoted(dir_) +
                               "\n"
                               "stty -g > \"$D/modes.before\"\n" +
                               env + " " + shell_quoted(VANTREL_BINARY) +
                               " -C dark1 < \"$D/in\" 2> \"$D/err\"\n"
                               "status=$?\n"
                               "stty -g > \"$D/modes.after\"\n"
                               "echo $status > \"$D/status.new\"\n"
                               "mv \"$D/status.new\" \"$D/status\"\n"
                               "exec sleep 600\n";
    std::ofstream(dir_ + "/run.sh") << script;
    const Ran started =
        tmux({"new-session", "-d", "-x", std::to_string(kCols), "-y", std::to_string(kRows), "-s",
              "vt", "sh " + shell_quoted(dir_ + "/run.sh")});
    start_problem_ = started.status == 0 ? "" : "tmux new-session: " + started.out;
  }

  ~TmuxRun() {
    if (!dir_.empty()) tmux({"kill-server"}, Millis{5000});
    if (input_ >= 0) close(input_);
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }
  TmuxRun(const TmuxRun&) = delete;
  TmuxRun& operator=(const TmuxRun&) = delete;

  // Empty when the session is running.
  std::string start_problem() const {
    return dir_.empty() || input_ < 0 ? "temporary files could not be made" : start_problem_;
  }

  Pane pane() { return read_pane(tmux({"capture-pane", "-p", "-e", "-t", "vt"}).out); }
  void type(const std::string& keys) { tmux({"send-keys", "-t", "vt", "-l", keys}); }

  bool ended() const { return access((dir_ + "/status").c_str(), F_OK) == 0; }
  std::string status() const { return slurp(dir_ + "/status"); }
  std::string errors() const { return slurp(dir_ + "/err"); }
  std::string modes_before() const { return slurp(dir_ + "/modes.before"); }
  std::string modes_after() const { return slurp(dir_ + "/modes.after"); }

 private:
  Ran tmux(std::vector<std::string> args, Millis timeout = kTmuxWait) const {
    args.insert(args.begin(), {tmux_, "-S", dir_ + "/sock", "-f", "/dev/null"});
    return run(args,
               {"PATH=/usr/bin:/bin", "HOME=" + dir_, "SHELL=/bin/sh", "TERM=xterm-256color",
                "LANG=C.UTF-8", "LC_ALL=C.UTF-8"},
               timeout);
  }

  std::string tmux_;
  std::string dir_;
  int input_ = -1;
  std::string start_problem_;
  NewtermLeakRule leaks_;
};

// The frame once the three samples are on it and it has stopped changing.
bool settled(TmuxRun& run, Pane& pane) {
  return wait_until([&] {
    Pane first = run.pane();
    if (first.text().find(kStats) == std::string::npos) return false;
    poll(nullptr, 0, static_cast<int>(kPoll.count()));
    pane = run.pane();
    return pane.text() == first.text();
  });
}

struct TermCase {
  const char* term;
  bool draws;   // false: the start fails
  bool colors;  // the terminal type has colors
};

// Test names and failure reports name the type, not the bytes of the case.
void PrintTo(const TermCase& c, std::ostream* os) {
  *os << c.term;
}

std::string case_name(const testing::TestParamInfo<TermCase>& info) {
  std::string name = info.param.term;
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

class Terminals : public testing::TestWithParam<TermCase> {
 protected:
  void SetUp() override {
    tmux_ = find_program("tmux");
    if (!tmux_) {
      GTEST_SKIP() << "tmux is not installed";
    }
    if (!find_program("infocmp")) {
      GTEST_SKIP() << "infocmp is not installed: install ncurses-bin";
    }
    const TermCase& c = GetParam();
    const bool known =
        run({"/bin/sh", "-c", "infocmp " + shell_quoted(c.term) + " >/dev/null 2>&1"},
            {"PATH=/usr/bin:/bin"})
            .status == 0;
    if (c.term == std::string(kUnknownTerm)) {
      if (known) {
        GTEST_SKIP() << "terminfo has an entry named " << kUnknownTerm;
      }
    } else if (!known) {
      GTEST_SKIP() << "terminfo entry " << c.term << " missing: install ncurses-term";
    }
  }

  // The frame under xterm-256color, the type every other one is held to.
  std::string reference_frame() {
    TmuxRun run(*tmux_, "xterm-256color");
    EXPECT_EQ(run.start_problem(), "");
    Pane pane;
    EXPECT_TRUE(settled(run, pane)) << run.pane().text() << run.errors();
    run.type("q");
    EXPECT_TRUE(wait_until([&] { return run.ended(); }));
    return pane.text();
  }

  std::optional<std::string> tmux_;
};

TEST_P(Terminals, FrameColorsExitAndModes) {
  const TermCase& c = GetParam();
  const std::string reference =
      c.draws && c.term != std::string("xterm-256color") ? reference_frame() : std::string();
  TmuxRun run(*tmux_, c.term);
  ASSERT_EQ(run.start_problem(), "");

  if (c.draws) {
    Pane pane;
    ASSERT_TRUE(settled(run, pane)) << run.pane().text() << run.errors();
    const std::vector<std::string>& lines = pane.lines;
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRows)) << pane.text();
    // What xterm-256color must show, so that the comparison means something.
    const std::string axis = "  +" + std::string(kCols - 5, '-') + ">";
    EXPECT_EQ(lines[0], std::string(kCols / 2 - kTitle.size() / 2, ' ') + std::string(kTitle));
    EXPECT_EQ(lines[kRows - 3], axis) << pane.text();
    EXPECT_EQ(lines[kRows - 2], "     | " + std::string(kStats) +
                                    std::string(kCols - 25 - 7 - std::strlen(kStats), ' ') +
                                    "Thu Jan  1 00:00:00 1970")
        << pane.text();
    EXPECT_EQ(lines[kRows - 1], std::string(kCols - 40, ' ') + std::string(kBanner)) << pane.text();
    if (!reference.empty()) {
      EXPECT_EQ(pane.text(), reference) << "the frame differs from xterm-256color's";
    }
    EXPECT_EQ(pane.colored, c.colors) << "whether the pane shows colors";
    run.type("q");
  }

  ASSERT_TRUE(wait_until([&] { return run.ended(); })) << "still running, the pane shows:\n"
                                                       << run.pane().text();
  EXPECT_EQ(run.status(), c.draws ? "0\n" : "1\n");
  EXPECT_EQ(run.errors(), c.draws ? "" : "Error: failed to initialize ncurses\n");
  EXPECT_NE(run.modes_before(), "");
  EXPECT_EQ(run.modes_after(), run.modes_before());
  if (!c.draws) {
    EXPECT_TRUE(run.pane().blank()) << run.pane().text();
  }
}

const TermCase kTerms[] = {
    {"xterm-256color", true, true}, {"xterm", true, true},  {"screen-256color", true, true},
    {"tmux-256color", true, true},  {"linux", true, true},  {"vt100", true, false},
    {"xterm-mono", true, false},    {"dumb", false, false}, {kUnknownTerm, false, false},
};

INSTANTIATE_TEST_SUITE_P(Types, Terminals, testing::ValuesIn(kTerms), case_name);

}  // namespace
}  // namespace e2e

// SPDX-License-Identifier: MIT
// temp_file.h: files the end-to-end tests hand to the program, removed again
// at the end of the scope.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace e2e {

// A file under /tmp holding `text`.
class TempFile {
 public:
  explicit TempFile(std::string_view text = {}) {
    const int fd = mkstemp(path_);
    EXPECT_GE(fd, 0);
    if (fd < 0) return;
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
  }
  ~TempFile() { unlink(path_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const char* path() const { return path_; }
  std::string text() const {
    std::ifstream in(path_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  char path_[32] = "/tmp/vantrel-e2e-XXXXXX";
};

// ncurses leaks the pre-screen it made when newterm fails, and the program
// has no way to free it. The sanitizer build's leak check would turn the
// orderly exit 1 into an abort; env() is the LSAN_OPTIONS entry that passes
// over it.
class NewtermLeakRule {
 public:
  std::string env() const {
    return std::string("LSAN_OPTIONS=suppressions=") + rules_.path() + ":print_suppressions=0";
  }

 private:
  TempFile rules_{"leak:new_prescr\n"};
};

}  // namespace e2e

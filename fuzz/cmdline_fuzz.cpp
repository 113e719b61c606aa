// SPDX-License-Identifier: MIT
// Fuzzes the command line: an argument vector made from the bytes goes through
// settings_read_command_line, and then every word through parse_color_spec.
// The settings must come out consistent whatever the words were.
//
// Input layout: bit 0 of byte 0 picks the locale (0 "C", 1 "C.UTF-8"); the
// rest is cut into words at NUL and 0x01 bytes, at most kMaxWords of them,
// after an argv[0] of "vantrel".
#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel.h"

namespace {

constexpr std::size_t kMaxWords = 16;
constexpr const char* kLocales[2] = {"C", "C.UTF-8"};
constexpr std::string_view kSchemeNames[] = {"dark1", "dark2", "light1", "light2"};

[[noreturn]] void fuzz_fail(const char* what, const std::vector<std::string>& words) {
  std::fprintf(stderr, "cmdline_fuzz: invariant broken: %s\n  argv:", what);
  for (const std::string& w : words) std::fprintf(stderr, " [%s]", w.c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

void fuzz_check(bool ok, const char* what, const std::vector<std::string>& words) {
  if (!ok) fuzz_fail(what, words);
}

bool fuzz_glyph_drawable(const cchar_t& cell) {
  wchar_t text[CCHARW_MAX + 1] = {};
  attr_t attrs = 0;
  short pair = 0;
  return getcchar(&cell, text, &attrs, &pair, nullptr) != ERR && text[0] != L'\0';
}

// Fields of a color list the way strtok cuts it at commas: runs of commas
// separate, and commas at either end make no field.
std::size_t fuzz_color_fields(std::string_view color_arg) {
  std::size_t fields = 0;
  bool in_field = false;
  for (char c : color_arg) {
    if (c == ',') {
      in_field = false;
    } else if (!in_field) {
      in_field = true;
      ++fields;
    }
  }
  return fields;
}

void fuzz_check_settings(const std::vector<std::string>& words) {
  // The consistency rules were applied. Adding 1.0 cannot lift a softmax of
  // 2^53 or more (or an infinite one) above hardmin, and "not set" is FLT_MAX
  // itself, which a larger hardmin still exceeds: those are the limits of
  // the arithmetic, not broken rules, and the painter copes with either.
  fuzz_check(!(hardmin >= softmax) || softmax == hardmin + 1.0,
             "hardmin >= softmax after the checks", words);
  fuzz_check(hardmax == kFltMax || !(hardmin >= hardmax), "hardmin >= hardmax after the checks",
             words);
  if (MB_CUR_MAX <= 1) {
    fuzz_check(!braille_mode && !block_mode, "sub-cell mode on in a single-byte locale", words);
  }
  fuzz_check(fuzz_glyph_drawable(plot_cell), "plot glyph draws nothing", words);
  fuzz_check(fuzz_glyph_drawable(max_err_cell), "max_err glyph draws nothing", words);
  fuzz_check(fuzz_glyph_drawable(min_err_cell), "min_err glyph draws nothing", words);

  bool any_c = false;
  for (std::size_t i = 1; i < words.size(); ++i)
    any_c = any_c || words[i].find('C') != std::string::npos;
  if (!any_c) {
    bool untouched = line2_color == -1;
    for (int c : colors) untouched = untouched && c == -1;
    fuzz_check(untouched, "colors set without any -C", words);
  }
}

// A color list writes at most one role per field and line2_color only through
// a "/" in its first field; everything else stays as the earlier calls left it.
void fuzz_check_color_spec(const std::string& color_arg, const std::vector<std::string>& words) {
  const std::array<int, kRoleCount> before = colors;
  const int line2_before = line2_color;
  parse_color_spec(color_arg.c_str());
  for (std::string_view name : kSchemeNames) {
    if (color_arg == name) return;
  }
  const std::size_t fields = fuzz_color_fields(color_arg);
  for (std::size_t role = fields; role < kRoleCount; ++role) {
    fuzz_check(colors[role] == before[role], "color role beyond the list's fields changed", words);
  }
  const std::size_t first = color_arg.find_first_not_of(',');
  const std::size_t first_end = color_arg.find(',', first);
  const bool slash = first != std::string::npos &&
                     color_arg.substr(first, first_end - first).find('/') != std::string::npos;
  if (!slash) fuzz_check(line2_color == line2_before, "line2_color changed without a '/'", words);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The usage and version texts would flood the fuzzer's own output.
  const int devnull = open("/dev/null", O_WRONLY);
  if (devnull < 0 || dup2(devnull, STDOUT_FILENO) < 0) {
    std::perror("cmdline_fuzz: /dev/null");
    std::abort();
  }
  close(devnull);
  for (const char* name : kLocales) {
    if (std::setlocale(LC_ALL, name) == nullptr) {
      std::fprintf(stderr, "cmdline_fuzz: locale %s is missing\n", name);
      std::abort();
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::setlocale(LC_ALL, kLocales[data[0] & 1]);

  std::vector<std::string> words{"vantrel"};
  std::string word;
  for (std::size_t i = 1; i < size && words.size() <= kMaxWords; ++i) {
    if (data[i] == 0x00 || data[i] == 0x01) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 1 && words.size() <= kMaxWords) words.push_back(word);

  // getopt gets writable copies; it keeps pointers into them between calls.
  std::vector<std::string> scratch = words;
  std::vector<char*> argv;
  for (std::string& w : scratch) argv.push_back(w.data());
  argv.push_back(nullptr);

  const int status = settings_read_command_line(static_cast<int>(words.size()), argv.data());
  fuzz_check(status == kKeepRunning || status == 0 || status == 1, "unexpected status", words);
  fuzz_check(std::memchr(title, '\0', sizeof title) != nullptr, "title not terminated", words);
  fuzz_check(std::memchr(unit, '\0', sizeof unit) != nullptr, "unit not terminated", words);
  if (status == kKeepRunning) fuzz_check_settings(words);

  for (std::size_t i = 1; i < words.size(); ++i) fuzz_check_color_spec(words[i], words);
  return 0;
}

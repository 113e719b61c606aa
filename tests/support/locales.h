// SPDX-License-Identifier: MIT
// Switching the test process to a locale the tests need.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <initializer_list>

namespace test_support {

// Switches to the first of the locales the system has.
inline bool switch_locale(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr) return true;
  }
  return false;
}

}  // namespace test_support

// The build makes the decimal-comma locale de_DE.UTF-8 itself, without root:
// localedef writes it into the build tree's locale/ directory, and CTest
// points LOCPATH there (C.UTF-8 is built into the C library). A missing
// locale fails on CI and skips elsewhere, with the reason. A macro, since FAIL
// and GTEST_SKIP must return from the test.
#define REQUIRE_LOCALE(what, ...)                                                        \
  do {                                                                                   \
    if (!test_support::switch_locale({__VA_ARGS__})) {                                   \
      const char* missing =                                                              \
          "locale " what                                                                 \
          " is missing: the build generates de_DE.UTF-8 into its locale/"                \
          " directory with localedef (which needs the Debian package locales) and ctest" \
          " sets LOCPATH to it";                                                         \
      if (std::getenv("CI") != nullptr) FAIL() << missing;                               \
      GTEST_SKIP() << missing;                                                           \
    }                                                                                    \
  } while (0)

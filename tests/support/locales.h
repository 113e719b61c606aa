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

// A missing locale fails on CI, where .ci/run generates it, and skips
// elsewhere. A macro, since FAIL and GTEST_SKIP must return from the test.
#define REQUIRE_LOCALE(what, ...)                                               \
  do {                                                                          \
    if (!test_support::switch_locale({__VA_ARGS__})) {                          \
      const char* missing = "locale " what " is missing: it must be generated"; \
      if (std::getenv("CI") != nullptr) FAIL() << missing;                      \
      GTEST_SKIP() << missing;                                                  \
    }                                                                           \
  } while (0)

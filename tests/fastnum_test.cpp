// SPDX-License-Identifier: MIT
// The parser's fast conversion of plain decimals against strtod: where it
// answers, its value must be strtod's to the bit, and it must decline every
// token that strtod would not take whole as a finite number.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/locales.h"
#include "vantrel.h"

namespace {

std::uint64_t bits_of(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// What the parser must make of a token: strtod over the whole token, finite.
bool strtod_value(const std::string& token, double& value) {
  char* end = nullptr;
  value = std::strtod(token.c_str(), &end);
  return end != token.c_str() && *end == '\0' && std::isfinite(value);
}

// Tokens near the fast path's edges: long and short mantissas, leading
// zeros, exponents around 22, signs, missing parts, and now and then a byte
// that makes the token something else.
class token_maker {
 public:
  explicit token_maker(char point) : point_(point) {}

  std::string next() {
    std::string t;
    const int sign = pick(0, 3);
    if (sign == 1) t += '-';
    if (sign == 2) t += '+';
    if (pick(0, 4) == 0) t.append(static_cast<std::size_t>(pick(1, 5)), '0');
    t += digits(pick(0, 3) == 0 ? pick(0, 22) : pick(0, 8));
    if (pick(0, 2) != 0) {
      t += pick(0, 10) == 0 ? other_point() : point_;
      t += digits(pick(0, 3) == 0 ? pick(0, 22) : pick(0, 6));
    }
    if (pick(0, 3) == 0) {
      t += pick(0, 1) == 0 ? 'e' : 'E';
      const int esign = pick(0, 2);
      if (esign == 1) t += '-';
      if (esign == 2) t += '+';
      t += digits(pick(0, 5) == 0 ? pick(0, 6) : pick(1, 2));
    }
    if (pick(0, 30) == 0) {
      static const char kOdd[] = "x.,e+-\v\f/ ";
      const auto at = static_cast<std::size_t>(pick(0, static_cast<int>(t.size())));
      t.insert(at, 1, kOdd[pick(0, sizeof kOdd - 2)]);
    }
    return t;
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::string digits(int n) {
    std::string d;
    for (int k = 0; k < n; ++k) d += static_cast<char>('0' + pick(0, 9));
    return d;
  }
  char other_point() const { return point_ == '.' ? ',' : '.'; }

  char point_;
  std::mt19937 rng_{20240611};
};

class FastNumber : public ::testing::Test {
 protected:
  void TearDown() override { std::setlocale(LC_ALL, "C"); }

  // Compares the fast path with strtod over many generated tokens in the
  // current locale, whose decimal point is `point`.
  void compare_with_strtod(char point) {
    token_maker maker(point);
    int answered = 0;
    constexpr int kTokens = 200000;
    for (int k = 0; k < kTokens; ++k) {
      const std::string token = maker.next();
      double fast = 0;
      double slow = 0;
      const bool slow_ok = strtod_value(token, slow);
      if (!input_fast_number(token.data(), token.size(), point, fast)) continue;
      ++answered;
      ASSERT_TRUE(slow_ok) << "fast path took \"" << token << "\", which strtod rejects";
      ASSERT_EQ(bits_of(fast), bits_of(slow))
          << "\"" << token << "\": fast " << fast << ", strtod " << slow;
    }
    // The generator must keep the fast path busy, or the comparison says little.
    EXPECT_GT(answered, kTokens / 3);
  }
};

TEST_F(FastNumber, AgreesWithStrtodInTheCLocale) {
  std::setlocale(LC_ALL, "C");
  compare_with_strtod('.');
}

TEST_F(FastNumber, AgreesWithStrtodWithADecimalComma) {
  REQUIRE_LOCALE("de_DE", "de_DE.UTF-8", "de_DE.utf8");
  compare_with_strtod(',');
}

TEST_F(FastNumber, EdgesOfTheExactRange) {
  struct Case {
    const char* token;
    char point;
    bool taken;
  };
  const Case cases[] = {
      {"9007199254740992", '.', true},   // 2^53
      {"9007199254740993", '.', false},  // 2^53 + 1 is not a double
      {"1e22", '.', true},               // the largest exact power of ten
      {"1e23", '.', false},
      {"1e-22", '.', true},
      {"1e-23", '.', false},
      {"0.000000000000000000000000000001", '.', false},  // 10^-30
      {"0.0000000000000000000000000000", '.', true},     // zero, however written
      {"1234567890123456789", '.', false},               // 19 digits, above 2^53
      {"12345678901234567890", '.', false},              // 20 digits
      {"-0", '.', true},
      {"+.5", '.', true},
      {"5.", '.', true},
      {".", '.', false},
      {"e5", '.', false},
      {"1e", '.', false},
      {"1e+", '.', false},
      {"0x10", '.', false},
      {"nan", '.', false},
      {"inf", '.', false},
      {"1e999", '.', false},
      {"1,5", ',', true},
      {"1.5", ',', false},
      {"1.5", '\0', false},  // no single-byte decimal point: no fractions
      {"15", '\0', true},
  };
  for (const Case& c : cases) {
    double v = 0;
    const bool taken = input_fast_number(c.token, std::strlen(c.token), c.point, v);
    EXPECT_EQ(taken, c.taken) << c.token;
    if (!taken || c.point != '.') continue;
    double expected = 0;
    ASSERT_TRUE(strtod_value(c.token, expected)) << c.token;
    EXPECT_EQ(bits_of(v), bits_of(expected)) << c.token;
  }
}

// The parser's own token cutting and conversion against the rule it follows:
// strtok at the four separators, then strtod, over buffers of mixed tokens.
class ParserAgainstStrtod : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_reset();
    input_reset();
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    input_reset();
  }

  void check_buffers(char point) {
    std::mt19937 rng(99);
    token_maker maker(point);
    const std::vector<std::string> odd = {"0x1p3", "nan",  "-inf", "1e400", "12abc", "\v7",
                                          "8\f",   "0X1F", "--3",  "3..",   "-"};
    const char kSeparators[] = " \t\r\n";
    for (int round = 0; round < 300; ++round) {
      input_reset();
      plot_width = kMaxPlotWidth;
      std::string text;
      std::vector<double> expected;
      while (text.size() < 3000 && expected.size() < 1000) {
        const std::string token = std::uniform_int_distribution<int>(0, 9)(rng) == 0
                                      ? odd[rng() % odd.size()]
                                      : maker.next();
        // The maker's odd byte may be a blank, which splits the token in two.
        std::size_t from = 0;
        while (from <= token.size()) {
          std::size_t to = token.find(' ', from);
          if (to == std::string::npos) to = token.size();
          double v;
          if (to > from && strtod_value(token.substr(from, to - from), v)) expected.push_back(v);
          from = to + 1;
        }
        text += token;
        for (int n = std::uniform_int_distribution<int>(1, 3)(rng); n > 0; --n) {
          text += kSeparators[rng() % 4];
        }
      }
      text += "42";  // an unfinished token, which must wait
      std::memcpy(input_buf, text.data(), text.size());
      const std::size_t consumed = parse_samples(static_cast<int>(text.size()));
      ASSERT_EQ(consumed, text.size() - 2);
      ASSERT_EQ(sample_count, static_cast<std::int64_t>(expected.size()));
      ASSERT_EQ(std::memcmp(input_buf + consumed, "42", 2), 0);
      for (std::size_t k = 0; k < expected.size(); ++k) {
        ASSERT_EQ(bits_of(values1[k]), bits_of(expected[k]))
            << "round " << round << ", sample " << k;
      }
    }
  }
};

TEST_F(ParserAgainstStrtod, CLocale) {
  std::setlocale(LC_ALL, "C");
  check_buffers('.');
}

TEST_F(ParserAgainstStrtod, DecimalComma) {
  REQUIRE_LOCALE("de_DE", "de_DE.UTF-8", "de_DE.utf8");
  check_buffers(',');
}

}  // namespace

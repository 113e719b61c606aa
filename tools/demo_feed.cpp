// SPDX-License-Identifier: MIT
// The demo feed: a sine wave with a little noise, a few samples a second, on
// standard output. With -2 it writes pairs (a sine and a slower cosine), so
// that two-series mode can be tried. -n N stops after N samples; -i MS sets
// the interval in milliseconds (default 200).
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

int main(int argc, char** argv) {
  bool pairs = false;
  long limit = -1;
  long interval_ms = 200;
  for (int opt; (opt = getopt(argc, argv, "2n:i:")) != -1;) {
    switch (opt) {
      case '2': pairs = true; break;
      case 'n': limit = std::atol(optarg); break;
      case 'i': interval_ms = std::atol(optarg); break;
      default:
        std::fprintf(stderr, "usage: vantrel-demo-feed [-2] [-n count] [-i milliseconds]\n");
        return 2;
    }
  }
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 0.8);
  for (long k = 0; limit < 0 || k < limit; ++k) {
    const double x = static_cast<double>(k) * 0.15;
    const double a = 10.0 * std::sin(x) + noise(rng);
    if (pairs) {
      const double b = 6.0 * std::cos(x * 0.5) + noise(rng);
      std::printf("%.2f %.2f\n", a, b);
    } else {
      std::printf("%.2f\n", a);
    }
    if (std::fflush(stdout) != 0) return 0;  // the plotter went away
    std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
  }
  return 0;
}

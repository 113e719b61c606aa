// SPDX-License-Identifier: MIT
// Throughput of the sample parser on realistic streams: one full input
// buffer per iteration, as a flood hands it over.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "vantrel.h"

namespace {

enum stream_kind { INTEGERS, DECIMALS, PAIRS, GARBAGE };

std::string make_stream(stream_kind kind) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> small(0, 99999);
  std::string s;
  char tok[64];
  while (s.size() < kInputBufSize - 200) {
    switch (kind) {
      case INTEGERS: std::snprintf(tok, sizeof tok, "%d\n", small(rng)); break;
      case DECIMALS: std::snprintf(tok, sizeof tok, "%.6e\n", small(rng) * 1.2345e-3); break;
      case PAIRS:
        std::snprintf(tok, sizeof tok, "%d %d.%02d\n", small(rng), small(rng), small(rng) % 100);
        break;
      case GARBAGE:
        std::snprintf(tok, sizeof tok, small(rng) % 3 == 0 ? "x%dy " : "%d.5\t", small(rng));
        break;
    }
    s += tok;
  }
  return s;
}

void BM_parse_samples(benchmark::State& state) {
  const auto kind = static_cast<stream_kind>(state.range(0));
  const std::string stream = make_stream(kind);
  settings_reset();
  input_reset();
  two_values = kind == PAIRS;
  plot_width = 200;
  std::int64_t samples = 0;
  for (auto _ : state) {
    std::memcpy(input_buf, stream.data(), stream.size());
    const std::int64_t before = sample_count;
    benchmark::DoNotOptimize(parse_samples(static_cast<int>(stream.size())));
    samples += sample_count - before;
  }
  state.SetItemsProcessed(samples);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(stream.size()));
}

}  // namespace

BENCHMARK(BM_parse_samples)
    ->Arg(INTEGERS)
    ->Arg(DECIMALS)
    ->Arg(PAIRS)
    ->Arg(GARBAGE)
    ->ArgName("stream");

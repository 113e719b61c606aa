# Everyday commands; CMake does the building.
#   make            build vantrel into build/
#   make demo       build and run vantrel on the demo feed (ARGS="-b -2 -C dark1")
#   make check      build and run every test, then again under ASan and UBSan
#   make install    install under PREFIX (default /usr/local), honouring DESTDIR
#   make bench      build and run the benchmarks (Google Benchmark, libbenchmark-dev)
#   make bench-flood  the whole program in a pseudo-terminal: flood and idle figures
#   make bench-peer   the same beside feedgnuplot (feedgnuplot, gnuplot-nox)
#   make format     format the sources with clang-format

PREFIX ?= /usr/local
BUILD ?= build
SAN_BUILD ?= build-san
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
FEED_ARGS ?= $(if $(filter -2%,$(ARGS)),-2,)
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)

.PHONY: all build demo check test test-san deps install format clean bench

all: build

deps:
	@tools/check-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/vantrel-demo-feed $(FEED_ARGS) | $(BUILD)/vantrel $(ARGS)

test: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)

$(SAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(SAN_BUILD) -DVANTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

test-san: $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

check: test test-san

BENCH_BUILD ?= build-bench
BENCH_RUNS ?= 5

.PHONY: bench-build bench-flood bench-peer

bench-build: | deps
	@test -f /usr/include/benchmark/benchmark.h || { echo "make bench needs the Debian package libbenchmark-dev" >&2; exit 1; }
	cmake -S . -B $(BENCH_BUILD) -DVANTREL_BENCH=ON -DVANTREL_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_BUILD) -j $(JOBS)

bench: bench-build
	$(BENCH_BUILD)/parse_bench
	$(BENCH_BUILD)/paint_bench
	$(BENCH_BUILD)/alloc_count

# The whole program in a pseudo-terminal (see doc/performance.md): floods at
# 80x24 and at 200x50 in braille mode, then 30 s idle, three times.
bench-flood: bench-build
	$(BENCH_BUILD)/flood --runs $(BENCH_RUNS) -- $(BENCH_BUILD)/vantrel
	$(BENCH_BUILD)/flood --runs $(BENCH_RUNS) --cols 200 --rows 50 --samples 2000000 -- $(BENCH_BUILD)/vantrel -b
	$(BENCH_BUILD)/flood --runs 3 --idle 30 -- $(BENCH_BUILD)/vantrel

# Beside feedgnuplot and gnuplot's dumb terminal (apt-get install feedgnuplot gnuplot-nox).
bench-peer: bench-build
	bench/peer.sh $(BENCH_BUILD) 3 20

install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

format:
	clang-format -i $$(git ls-files "*.cpp" "*.h")

clean:
	rm -rf $(BUILD) $(SAN_BUILD)

# Fuzzing, with clang in a build of its own:
#   make fuzz       replay fuzz/regressions, then run each target FUZZ_SECONDS (60)
#   make fuzz-ci    the same, FUZZ_SECONDS 15, failing when a target crashes
FUZZ_BUILD ?= build-fuzz

.PHONY: fuzz fuzz-ci fuzz-build

$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF

fuzz-build: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target input_fuzz cmdline_fuzz paint_fuzz

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(or $(FUZZ_SECONDS),60) report

fuzz-ci: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(or $(FUZZ_SECONDS),15) ci

# Debian package of the program, its manual page and shell completions:
#   make package    build, then write $(BUILD)/vantrel_<version>_<arch>.deb (installs to /usr)
.PHONY: package

package: build
	cd $(BUILD) && cpack -G DEB --config CPackConfig.cmake

# The README gallery, drawn by the program itself in a pseudo-terminal:
#   make screenshots    write doc/screenshots/*.txt and *.svg again (libvterm-dev)
.PHONY: screenshots

screenshots: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target vantrel-screenshot
	$(BUILD)/vantrel-screenshot --out doc/screenshots

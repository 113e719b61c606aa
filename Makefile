# SPDX-License-Identifier: MIT
# Everyday commands; CMake does the building. Each target first installs the
# Debian packages it needs that are missing (tools/check-deps; NO_INSTALL=1
# only says which): the program's own for make, make demo and make install,
# the test packages as well for make check and the other developer targets.
#   make            build vantrel into build/ (the program only, no tests)
#   make demo       build and run vantrel on the demo feed (ARGS="-b -2 -C dark1")
#   make check      build and run every test, then again under ASan and UBSan
#   make install    install under PREFIX (default /usr/local), honouring DESTDIR
#   make package    the Debian package, build/vantrel_<version>_<arch>.deb
#   make bench      build and run the benchmarks (Google Benchmark, libbenchmark-dev)
#   make bench-flood  the whole program in a pseudo-terminal: flood and idle figures
#   make bench-peer   the same beside feedgnuplot (feedgnuplot, gnuplot-nox)
#   make format     format the sources with clang-format
#   make clean      remove every build directory

PREFIX ?= /usr/local
BUILD ?= build
SAN_BUILD ?= build-san
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
FEED_ARGS ?= $(if $(filter -2%,$(ARGS)),-2,)
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)

.PHONY: all build demo check test test-san tests-build deps deps-test deps-package deps-fuzz install \
	format clean bench

all: build

deps:
	@tools/check-deps program

deps-test:
	@tools/check-deps program test

deps-package:
	@tools/check-deps program package

deps-fuzz:
	@tools/check-deps program fuzz

# A configure step that fails leaves no cache behind, so the next make
# configures again instead of building in a half-made tree. A new build tree
# is made without the tests; the test targets switch them on.
$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) -DVANTREL_TESTS=OFF || { rm -f $@; exit 1; }

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target program

demo: build
	$(BUILD)/vantrel-demo-feed $(FEED_ARGS) | $(BUILD)/vantrel $(ARGS)

# The build tree with the tests switched on, and everything in it built.
tests-build: | deps-test
	@grep -qs '^VANTREL_TESTS:BOOL=ON$$' $(BUILD)/CMakeCache.txt || \
	  cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) -DVANTREL_TESTS=ON || \
	  { rm -f $(BUILD)/CMakeCache.txt; exit 1; }
	cmake --build $(BUILD) -j $(JOBS)

# ctest's summary names skipped tests without their reasons; tools/test-skips
# adds them, from the JUnit report.
test: tests-build
	cd $(BUILD) && { ctest $(CTEST_FLAGS) --output-junit "$$PWD/Testing/junit.xml"; status=$$?; \
	  $(CURDIR)/tools/test-skips Testing/junit.xml; exit $$status; }

$(SAN_BUILD)/CMakeCache.txt: | deps-test
	cmake -S . -B $(SAN_BUILD) -DVANTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug || { rm -f $@; exit 1; }

test-san: $(SAN_BUILD)/CMakeCache.txt | deps-test
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS) \
	  --output-junit "$$PWD/Testing/junit.xml"; status=$$?; \
	  $(CURDIR)/tools/test-skips Testing/junit.xml; exit $$status

check: test test-san

BENCH_BUILD ?= build-bench
BENCH_RUNS ?= 5

.PHONY: bench-build bench-flood bench-peer deps-bench

deps-bench:
	@tools/check-deps program bench

bench-build: | deps-bench
	cmake -S . -B $(BENCH_BUILD) -DVANTREL_BENCH=ON -DVANTREL_TESTS=OFF -DCMAKE_BUILD_TYPE=Release || \
	  { rm -f $(BENCH_BUILD)/CMakeCache.txt; exit 1; }
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

# Beside feedgnuplot and gnuplot's dumb terminal (feedgnuplot, gnuplot-nox).
bench-peer: bench-build
	@tools/check-deps peer
	bench/peer.sh $(BENCH_BUILD) 3 20

install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

format:
	clang-format -i $$(git ls-files "*.cpp" "*.h")

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)

# Fuzzing, with clang in a build of its own:
#   make fuzz       replay fuzz/regressions, then run each target FUZZ_SECONDS (60)
#   make fuzz-ci    the same, FUZZ_SECONDS 15, failing when a target crashes
FUZZ_BUILD ?= build-fuzz

.PHONY: fuzz fuzz-ci fuzz-build

$(FUZZ_BUILD)/CMakeCache.txt: | deps-fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF || \
	  { rm -rf $(FUZZ_BUILD); exit 1; }

fuzz-build: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target input_fuzz cmdline_fuzz paint_fuzz

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(or $(FUZZ_SECONDS),60) report

fuzz-ci: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(or $(FUZZ_SECONDS),15) ci

# Debian package of the program, its manual page, shell completions, copyright
# file and changelog, with Debian's hardening flags:
#   make package    build, then write $(BUILD)/vantrel_<version>_<arch>.deb (installs to /usr)
.PHONY: package

package: build | deps-package
	cd $(BUILD) && cpack -G DEB --config CPackConfig.cmake

# The README gallery, drawn by the program itself in a pseudo-terminal:
#   make screenshots    draw doc/screenshots/*.txt and *.svg again, rewriting
#                       only those that the program now draws differently
.PHONY: screenshots

screenshots: tests-build
	$(BUILD)/vantrel-screenshot --out doc/screenshots

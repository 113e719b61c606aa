# Everyday commands; CMake does the building.
#   make            build vantrel into build/
#   make demo       build and run vantrel on the demo feed (ARGS="-b -2 -C dark1")
#   make check      build and run every test, then again under ASan and UBSan
#   make install    install under PREFIX (default /usr/local), honouring DESTDIR
#   make format     format the sources with clang-format

PREFIX ?= /usr/local
BUILD ?= build
SAN_BUILD ?= build-san
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
FEED_ARGS ?= $(if $(filter -2%,$(ARGS)),-2,)
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)

.PHONY: all build demo check test test-san deps install format clean

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

install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

format:
	clang-format -i src/*.cpp src/*.h tests/*.cpp tests/*/*.cpp tests/*/*.h tools/*.cpp

clean:
	rm -rf $(BUILD) $(SAN_BUILD)

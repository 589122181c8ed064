# One-word entry points; CMake does the real work.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps configure build test demo install deb sanitize tsan bench fuzz fuzz-smoke fuzz-long clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Twice as many tests as cores: most of the suite's time is live tests waiting on senders that
# play in real time, not CPU (65 s instead of 106 s on 2 cores).
TEST_JOBS  ?= $(shell echo $$(( $(JOBS) * 2 )))
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS) --timeout 900

# make install PREFIX=/opt/qvdecoder (default /usr/local): libraries, headers, qvdecode,
# pkg-config file and CMake package.
PREFIX     ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# Debian packages libqvdecoder1, libqvdecoder-dev and qvdecode (stripped) with their
# -dbgsym packages of debug symbols, in $(BUILD)/packages.
deb: build
	@cd $(BUILD) && cpack -G DEB

# The tool and the libraries it loads only, not the test suites: a first look costs minutes less.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target qvdecode
	@bash scripts/demo.sh $(BUILD)

sanitize: deps
	@cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		ctest --output-on-failure -j $(JOBS) --timeout 1800 -LE nosanitize

tsan: deps
	@cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TSAN=ON >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && ctest --output-on-failure -L threads --timeout 1800

bench: deps
	@cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_BENCH=ON -DQV_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS)
	@build-bench/bench/qv_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true $(BENCH_ARGS)

fuzz: deps
	@CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz $(CMAKE_GEN) >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

fuzz-smoke: fuzz
	@bash fuzz/smoke.sh build-fuzz

# Every fuzz target in turn for FUZZ_SECONDS each (make fuzz-long FUZZ_SECONDS=60).
FUZZ_SECONDS ?= 600
fuzz-long: fuzz
	@bash fuzz/long.sh build-fuzz $(FUZZ_SECONDS)

clean:
	@rm -rf $(BUILD) build-asan build-tsan build-bench build-fuzz demo-out

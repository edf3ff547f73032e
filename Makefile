# make test:      install what is missing, build, run every test, JOBS at a
#                 time (default: one per core); the longest start first, the
#                 end-to-end tests take turns.
# make test-unit: build and run only the unit tests (label unit: no display,
#                 no JACK server, no cross build), in parallel; a minute or two.
#                 `ctest -L LABEL` in $(BUILD) runs any other label
#                 (tests/CMakeLists.txt lists them).
# make run:       install what is missing, build the synthesizer and its files
#                 (not the tests), start it.
# make install:   build the programs and install them under PREFIX.
# make bench:     the benchmarks' libraries, then the render benchmark's table
#                 (built in $(BUILD)-bench).
# make soak:      the worst case live on JACK for SOAK_SECONDS (in $(BUILD)-bench).
# make fuzz:      the fuzzing harnesses with clang, for FUZZ_SECONDS each.
BUILD ?= build
BENCH_BUILD ?= $(BUILD)-bench
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test test-unit run install bench-configure bench soak fuzz clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# A failing test runs once more; a test that passed only then is named at
# the end of the output. No two tests share a display or a JACK server, so
# they run JOBS at a time; the longest (COST) start first.
CTEST_FLAGS = --output-on-failure --timeout 600 --repeat until-pass:2 -j $(JOBS)
test: build
	@cd $(BUILD) && sh $(CURDIR)/tools/ctest-reruns.sh $(CTEST_FLAGS)

test-unit: configure
	@cmake --build $(BUILD) --target unit-tests
	@cd $(BUILD) && sh $(CURDIR)/tools/ctest-reruns.sh $(CTEST_FLAGS) -L unit

# The benchmarks' own build folder, configured with them.
bench-configure: deps
	@sh tools/install-deps.sh tools/debian-packages-bench.txt
	@cmake -S . -B $(BENCH_BUILD) -G Ninja $(CMAKE_FLAGS) -DMAROVANE_BENCH=ON -DMAROVANE_TSAN=OFF >/dev/null

# make bench: build and run the render benchmark; prints the table.
bench: bench-configure
	@cmake --build $(BENCH_BUILD) --target marovane-bench
	@$(BENCH_BUILD)/bin/marovane-bench --benchmark_counters_tabular=true

# make soak: the worst case (128 notes x 128 partials) live on JACK for
# SOAK_SECONDS (default 10 minutes) while two CPU-bound processes load both
# cores; prints xruns and the callback's median, p99 and maximum against the
# buffer. A benchmark, not a test: its figures depend on the machine.
SOAK_SECONDS ?= 600
soak: bench-configure
	@cmake --build $(BENCH_BUILD) --target marovane-stream-check
	@sh tools/soak.sh $(BENCH_BUILD) $(SOAK_SECONDS)

# make fuzz: build the fuzzing harnesses with clang and the sanitizers (in
# $(BUILD)-fuzz) and run each for FUZZ_SECONDS; prints executions, coverage
# and findings. `make test` replays their corpora without clang.
FUZZ_SECONDS ?= 60
fuzz: deps
	@sh tests/fuzz/run-fuzzers.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

# Only the program, its pictures, patches and help book: the tests and the
# ThreadSanitizer build are left for make test (the benchmarks are not even
# configured here: make bench).
run: configure
	@cmake --build $(BUILD) --target marovane
	@sh tools/run.sh $(BUILD)

# The programs in $(PREFIX)/bin, their files in $(PREFIX)/share/marovane, a
# desktop entry and icons. DESTDIR works as usual for packaging.
install: configure
	@cmake --build $(BUILD) --target marovane marovane-render marovane-preset marovane_plugins
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(BENCH_BUILD)

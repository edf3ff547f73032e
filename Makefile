# make test:    install what is missing, build, run every test.
# make run:     install what is missing, build the synthesizer and its files
#               (not the tests), start it.
# make install: build the programs and install them under PREFIX.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: all deps configure build test run install bench soak fuzz clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# A failing test runs once more; a test that passed only then is named at
# the end of the output.
test: build
	@cd $(BUILD) && sh $(CURDIR)/tools/ctest-reruns.sh --output-on-failure --timeout 600 --repeat until-pass:2

# make bench: build and run the render benchmark; prints the table.
bench: configure
	@cmake --build $(BUILD) --target marovane-bench
	@$(BUILD)/bin/marovane-bench --benchmark_counters_tabular=true

# make soak: the worst case (128 notes x 128 partials) live on JACK for
# SOAK_SECONDS (default 10 minutes) while two CPU-bound processes load both
# cores; prints xruns and the callback's median, p99 and maximum against the
# buffer. A benchmark, not a test: its figures depend on the machine.
SOAK_SECONDS ?= 600
soak: configure
	@cmake --build $(BUILD) --target marovane-stream-check
	@sh tools/soak.sh $(BUILD) $(SOAK_SECONDS)

# make fuzz: build the fuzzing harnesses with clang and the sanitizers (in
# $(BUILD)-fuzz) and run each for FUZZ_SECONDS; prints executions, coverage
# and findings. `make test` replays their corpora without clang.
FUZZ_SECONDS ?= 60
fuzz: deps
	@sh tests/fuzz/run-fuzzers.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

# Only the program, its pictures, patches and help book: the tests, the
# ThreadSanitizer build and the benchmark are left for make test and make bench.
run: configure
	@cmake --build $(BUILD) --target marovane
	@sh tools/run.sh $(BUILD)

# The programs in $(PREFIX)/bin, their files in $(PREFIX)/share/marovane, a
# desktop entry and icons. DESTDIR works as usual for packaging.
install: configure
	@cmake --build $(BUILD) --target marovane marovane-render marovane-preset marovane_lv2
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)

# make test: install what is missing, build, run every test.
# make run:  install what is missing, build, start the synthesizer.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test run bench fuzz clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure --timeout 600

# make bench: build and run the render benchmark; prints the table.
bench: configure
	@cmake --build $(BUILD) --target marovane-bench
	@$(BUILD)/bin/marovane-bench --benchmark_counters_tabular=true

# make fuzz: build the fuzzing harnesses with clang and the sanitizers (in
# $(BUILD)-fuzz) and run each for FUZZ_SECONDS; prints executions, coverage
# and findings. `make test` replays their corpora without clang.
FUZZ_SECONDS ?= 60
fuzz: deps
	@sh tests/fuzz/run-fuzzers.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

run: build
	@sh tools/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)

# make test: install what is missing, build, run every test.
# make run:  install what is missing, build, start the synthesizer.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test run bench clean

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

run: build
	@sh tools/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)

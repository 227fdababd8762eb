# make run: build everything and run ram_forecast on the emulated kivos machine.
# make test: build everything and run the whole test suite.
# make bench: build everything and print one table of what the library and the machine cost.
# make coverage: run the test suite counting the lines it runs; an HTML report
#   in build/coverage/html, and the library's line coverage printed.
SHELL := bash
BUILD ?= build
ARGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench coverage clean

all: build

deps:
	@tools/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

# On standard error, and only what the build has to say: make's folder changes
# and CMake's lines for targets already up to date are left out.
build: configure
	@set -o pipefail; cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory 2>&1 \
		| { grep -v '^\[ *[0-9]*%\] Built target ' || true; } >&2

run: build
	@$(BUILD)/bin/kivos-run $(BUILD)/kivos/ram_forecast $(ARGS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@$(BUILD)/bench/bench

COVERAGE = $(abspath $(BUILD))/coverage
coverage: build
	@rm -rf $(COVERAGE) && mkdir -p $(COVERAGE)
	@KIVOS_COVERAGE=$(COVERAGE)/kivos.info ctest --test-dir $(BUILD) -j $(JOBS) >&2
	@genhtml --quiet --output-directory $(COVERAGE)/html $(COVERAGE)/kivos.info
	@lcov --quiet --extract $(COVERAGE)/kivos.info '$(CURDIR)/libc/*' --output-file $(COVERAGE)/libc.info
	@echo "The library's line coverage (the report: $(COVERAGE)/html/index.html):"
	@lcov --summary $(COVERAGE)/libc.info 2>&1 | grep 'lines'

clean:
	rm -rf $(BUILD)

# make run: build everything and run ram_forecast on the emulated kivos machine.
# make test: build everything and run the whole test suite.
# make bench: build everything and print one table of what the library and the machine cost.
# make coverage: run the test suite counting the lines it runs; an HTML report
#   in build/coverage/html, and the library's line coverage printed.
# make sanitize: the whole test suite on host tools built with ASan and UBSan, in build-sanitize.
# make fuzz: every fuzz target for FUZZ_SECONDS each (FUZZ=name... for some), with its figures.
SHELL := bash
BUILD ?= build
ARGS ?=
CMAKE_OPTIONS ?=
FUZZ_SECONDS ?= 60
FUZZ ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench coverage sanitize fuzz clean

all: build

deps:
	@tools/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_OPTIONS) >/dev/null

# On standard error, and only what the build has to say: make's folder changes
# and CMake's lines for targets already up to date (the fuzz targets' own build
# among them) are left out.
UP_TO_DATE := Built target |(Performing build|No install) step for 'kivos_fuzz'|Completed 'kivos_fuzz'
build: configure
	@set -o pipefail; cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory 2>&1 \
		| { grep -Ev "^\[ *[0-9]*%\] ($(UP_TO_DATE))" || true; } >&2

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

fuzz: build
	@tools/fuzz $(BUILD) --seconds $(FUZZ_SECONDS) $(FUZZ)

sanitize:
	@$(MAKE) --no-print-directory test BUILD=$(BUILD)-sanitize CMAKE_OPTIONS=-DKIVOS_SANITIZE=ON

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize

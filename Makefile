# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CMAKE_ARGS ?=

.PHONY: all build deps test test-sanitize test-valgrind fuzz bench windows test-windows demo dry-run clean

all: build

deps:
	@tools/ensure-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure

# The whole suite built with the address and undefined-behaviour sanitizers;
# any finding fails the run.
test-sanitize: deps
	cmake -S . -B build-sanitize $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DMILLRUN_SANITIZE=ON
	cmake --build build-sanitize
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure

# The end-to-end suites with every millrun run under valgrind memcheck.
test-valgrind: build
	tools/valgrind $(BUILD)

# Each libFuzzer target for FUZZ_SECONDS (60) seconds, built with clang.
fuzz:
	tools/fuzz

# millrun.exe for Windows, cross-compiled with MinGW-w64 (installs what it needs).
windows:
	@tools/windows build-win

# The Windows build under Wine, headless: unit tests, end-to-end tests, and the
# demo milled on millsim through COM1.
test-windows: windows
	@tools/test-windows build-win

# Speed and memory against the floors; prints one table.
bench: deps
	@tools/bench

# A dry run of the bundled example: nothing is sent, both files are written.
dry-run: build
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo && cp -f $(CURDIR)/examples/*.nc $(BUILD)/demo/
	@cd $(BUILD)/demo && $(abspath $(BUILD))/millrun demo.nc > trace.txt; status=$$?; \
	  echo "== millrun demo.nc: exit code $$status (trace in $(BUILD)/demo/trace.txt)"; \
	  echo "== KelCodeOutput.txt (first 20 of $$(wc -l < KelCodeOutput.txt) lines)"; head -n 20 KelCodeOutput.txt; \
	  echo "== EnvelopeReport.txt"; cat EnvelopeReport.txt; exit $$status

# The demo job milled on the simulated controller over a pseudo-terminal.
demo: build
	@tools/demo-machine $(BUILD)

clean:
	rm -rf $(BUILD)

# The two commands of the README: `make demo` and `make test`. Nothing else is
# needed on a fresh machine: `deps` installs what the build lacks.
# Every build folder is configured from a preset of CMakePresets.json:
# default (build), sanitize, bench, fuzz, windows and windows-e2e.
# BUILD moves the default tree elsewhere; CMAKE_ARGS adds to its configure.
BUILD      ?= build
CMAKE_ARGS ?=
BUILD_DIR  := $(if $(filter build,$(BUILD)),,-B $(BUILD))
# (ctest --preset always reads the preset's folder.)
CTEST      := $(if $(filter build,$(BUILD)),ctest --preset default,ctest --test-dir $(BUILD) --output-on-failure)

.PHONY: all build programs deps test test-sanitize test-valgrind fuzz bench windows test-windows demo dry-run clean

all: build

deps:
	@tools/ensure-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake --preset default $(BUILD_DIR) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD)

# The programs and the simulator without the tests, which take most of the
# compile time: what `make dry-run` and `make demo` need.
PROGRAMS := millrun millprep millplot millcheck millresume millsim millstation
programs: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target $(PROGRAMS)

# Every test (labels unit, e2e, sim); `ctest --preset e2e` (or unit, sim) in
# build/ runs one label.
test: build
	$(CTEST)

# The whole suite built with the address and undefined-behaviour sanitizers;
# any finding fails the run.
test-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

# The end-to-end tests (label e2e) with every millrun run under valgrind memcheck.
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
dry-run: programs
	@rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo && cp -f $(CURDIR)/examples/*.nc $(BUILD)/demo/
	@cd $(BUILD)/demo && $(abspath $(BUILD))/millrun demo.nc > trace.txt; status=$$?; \
	  echo "== millrun demo.nc: exit code $$status (trace in $(BUILD)/demo/trace.txt)"; \
	  echo "== KelCodeOutput.txt (first 20 of $$(wc -l < KelCodeOutput.txt) lines)"; head -n 20 KelCodeOutput.txt; \
	  echo "== EnvelopeReport.txt"; cat EnvelopeReport.txt; exit $$status

# The demo job milled on the simulated controller over a pseudo-terminal.
demo: programs
	@tools/demo-machine $(BUILD)

clean:
	rm -rf $(BUILD)

# Front for the two README commands and the rest of the build. Everything lands in build/.
JOBS ?= $(shell nproc)

.PHONY: all deps native windows check check-native check-windows fuzz check-fuzz proof bench demo demo-station clean

all: native windows

deps:
	@scripts/install-deps

build/native/CMakeCache.txt:
	cmake --preset native

build/windows/CMakeCache.txt:
	cmake --preset windows

build/bench/CMakeCache.txt:
	cmake --preset bench

native: deps build/native/CMakeCache.txt
	cmake --build build/native -j$(JOBS)

windows: deps build/windows/CMakeCache.txt
	cmake --build build/windows -j$(JOBS)

check: native windows
	$(MAKE) --no-print-directory check-native
	$(MAKE) --no-print-directory check-windows
	$(MAKE) --no-print-directory check-fuzz

check-native:
	ctest --test-dir build/native --output-on-failure -j$(JOBS)

check-windows:
	scripts/wine-tests build/windows

# The libFuzzer targets, in their own clang build (build/fuzz); check-fuzz runs each for FUZZ_SECONDS.
fuzz: deps
	scripts/run-fuzzers --build-only

check-fuzz: deps
	scripts/run-fuzzers

# The proof under faults, hang-ups and bad input in full (scripts/proof): the whole fault sweep,
# 1,000 scans, the malformed files, registry values, hang-ups on both backends and ten minutes
# per fuzzer; one table at the end. make check runs a sample of the same suites.
proof: deps
	scripts/proof

bench: deps build/bench/CMakeCache.txt
	cmake --build build/bench -j$(JOBS)
	scripts/run-benchmarks build/bench

# The Windows program and the simulator only, then the program under Wine against it (scripts/demo).
demo: deps build/native/CMakeCache.txt build/windows/CMakeCache.txt
	cmake --build build/native -j$(JOBS) --target qam-module-sim qamfile
	cmake --build build/windows -j$(JOBS) --target QamUpdate
	scripts/demo

# qamtool updating four simulated modules at once in this terminal, then its record file.
demo-station: deps build/native/CMakeCache.txt
	cmake --build build/native -j$(JOBS) --target qamtool qam-module-sim qamfile
	scripts/demo-station

clean:
	rm -rf build

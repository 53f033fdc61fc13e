# Front for the two README commands and the rest of the build. Everything lands in build/.
JOBS ?= $(shell nproc)

.PHONY: all deps native windows package check check-native check-windows check-package check-format fuzz check-fuzz proof bench \
	demo demo-linux demo-station clean

all: native windows

deps:
	@scripts/install-deps

build/native/CMakeCache.txt:
	cmake --preset native

build/windows/CMakeCache.txt:
	cmake --preset windows

build/bench/CMakeCache.txt:
	cmake --preset bench

build/package/CMakeCache.txt:
	cmake --preset package

native: deps build/native/CMakeCache.txt
	cmake --build build/native -j$(JOBS)

windows: deps build/windows/CMakeCache.txt
	cmake --build build/windows -j$(JOBS)

# The Debian package from the release build (build/package), and the zip of the Windows programs
# with the installer beside it (build/windows, packaging/windows), each in its build directory.
package: deps build/package/CMakeCache.txt build/windows/CMakeCache.txt
	cmake --build build/package -j$(JOBS)
	cmake --build build/windows -j$(JOBS)
	cd build/package && cpack
	cd build/windows && cpack

check: native windows
	$(MAKE) --no-print-directory check-format
	$(MAKE) --no-print-directory check-native
	$(MAKE) --no-print-directory check-windows
	$(MAKE) --no-print-directory check-fuzz
	$(MAKE) --no-print-directory check-package

# Every C++ file as .clang-format lays it out.
check-format:
	git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

check-native:
	ctest --test-dir build/native --output-on-failure -j$(JOBS)

check-windows:
	scripts/wine-tests build/windows

# Debian's own checks of the package (lintian: no error, no warning), its desktop entry and its
# AppStream metainfo; then the packaged qamupdate end to end under Xvfb, and the package's Depends
# against what it needs.
check-package: package
	lintian --fail-on error,warning build/package/qamupdate_*.deb
	desktop-file-validate packaging/linux/qamupdate.desktop
	appstreamcli validate --no-net packaging/linux/org.qamupdate.QamUpdate.metainfo.xml
	tests/qt/e2e-package build/package

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

# The Linux window (release build) against the module simulator (scripts/demo-linux).
demo-linux: deps build/package/CMakeCache.txt
	cmake --build build/package -j$(JOBS) --target qamupdate qamfile qam-module-sim
	scripts/demo-linux

# qamtool updating four simulated modules at once in this terminal, then its record file.
demo-station: deps build/native/CMakeCache.txt
	cmake --build build/native -j$(JOBS) --target qamtool qam-module-sim qamfile
	scripts/demo-station

clean:
	rm -rf build

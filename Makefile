# The two commands of the README, and a few for developers.
#   make test     install missing packages, configure, build, run every test
#   make run      the same set-up, then the main job
#   make bench    build and run the benchmarks (Release)
#   make fuzz     build the libFuzzer targets with clang and run each briefly
#   make package  build the Debian package into build/ (crestline_VERSION_ARCH.deb)
# SANITIZE=1 builds with AddressSanitizer and UBSan into build-asan/.

SANITIZE ?= 0
ifeq ($(SANITIZE),1)
BUILD ?= build-asan
CMAKE_FLAGS += -DCRESTLINE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCRESTLINE_NO_PCH=ON
else
BUILD ?= build
CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif
CTEST_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test run bench fuzz package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_FLAGS)

run: build
	@BUILD=$(BUILD) scripts/run

bench: deps
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCRESTLINE_BENCH=ON -DCRESTLINE_TESTS=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS)
	@scripts/run-benchmarks build-bench

package: build
	@cd $(BUILD) && cpack --config CPackConfig.cmake

fuzz:
	@CRESTLINE_FUZZ=1 scripts/install-deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCRESTLINE_FUZZ=ON -DCRESTLINE_TESTS=OFF -DCRESTLINE_NO_PCH=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target crestline_fuzzers
	@scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-bench build-fuzz

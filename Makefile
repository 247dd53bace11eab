# Thin wrapper over scripts/ and CMake. Every target installs missing Debian
# packages first, so each one works on a fresh machine.
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz target runs for.
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test test-asan test-tsan fuzz bench install clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The side, its tracks and the table stay in $(BUILD)/demo for a listen.
# Only the tool is built for it.
demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target tulv-tool
	$(BUILD)/apps/tulv/tulv demo $(BUILD)/demo

# The benchmarks are built too (not run): they share the tests' support code,
# and a change there must not leave them broken until the next `make bench`.
test: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target tulv_all_tests tulv_bench
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTULV_SANITIZE=address -DTULV_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target tulv_all_tests
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTULV_SANITIZE=thread -DTULV_BUILD_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target tulv_all_tests
	cd $(TSAN_BUILD) && TSAN_OPTIONS=suppressions=$(CURDIR)/tests/tsan.supp ctest --output-on-failure -j $(JOBS) -R Threaded

# Each libFuzzer target for FUZZ_SECONDS from the seed corpus; findings land
# in $(FUZZ_BUILD)/fuzz-findings and fail the target.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTULV_FUZZ=ON \
		-DTULV_BUILD_TESTS=OFF -DTULV_BUILD_BENCH=OFF -DTULV_BUILD_APPS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_reader fuzz_regions fuzz_options
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target tulv_bench tulv-tool
	$(BUILD)/bench/tulv_bench
	@if [ -x bench/compare-peers.sh ]; then bench/compare-peers.sh $(BUILD); fi
	@if [ -x bench/tool-vs-sox.sh ]; then bench/tool-vs-sox.sh $(BUILD); fi
	bench/split-vs-peers.sh $(BUILD)
	@if [ -x bench/rf64-check.sh ]; then bench/rf64-check.sh $(BUILD); fi

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)

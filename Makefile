# The two everyday commands: `make run` and `make test`. Both install what is
# missing first, then configure and build with CMake.
BUILD_DIR  ?= build
ASAN_DIR   ?= build-asan
FUZZ_DIR   ?= build-fuzz
BENCH_DIR  ?= build-bench
FUZZ_SECONDS ?= 60
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# The sanitizer build is also the clang build; `make test` builds with the
# system compiler (GCC), so both compilers see every change.
SANITIZE_CXX ?= clang++

# Developers and CI treat warnings as errors; a packager's plain cmake does not.
DEV_FLAGS  ?= -DVELMORA_WERROR=ON

BENCH_RUNS ?= 21
BENCH_IDLE_SECONDS ?= 20

.PHONY: all deps configure build run test test-sanitize package fuzz bench mutants format check clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(DEV_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/app/velmora

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@./scripts/test-share.sh

# A Debian package of the programs and their desktop files, in $(BUILD_DIR).
package: build
	cmake --build $(BUILD_DIR) --target package

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON $(DEV_FLAGS) \
		-DCMAKE_CXX_COMPILER=$(SANITIZE_CXX)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ctest --output-on-failure -j $(JOBS)

# Every libFuzzer target for FUZZ_SECONDS each (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer).
fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON $(DEV_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	./scripts/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# Every benchmark in a Release build of its own, each figure beside its
# reference; prints one table and refreshes bench/RESULTS.md.
bench:
	@./scripts/install-deps.sh --bench
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON $(DEV_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS)
	python3 scripts/run-bench.py --build $(BENCH_DIR) --results bench/RESULTS.md \
		--runs $(BENCH_RUNS) --idle-seconds $(BENCH_IDLE_SECONDS)

# Every fault in tests/mutants/ applied in turn to a copy in build-mutants/,
# with only the tests that must catch it; not part of CI (it takes long).
# MUTANTS="012 hotp" runs only the patches whose names hold those words.
mutants: deps
	./scripts/run-mutants.sh $(MUTANTS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# What CI checks beside the tests: the format and clang-tidy (over the test
# build and, when it exists, the fuzzing build).
check: build
	./scripts/check-format.sh
	./scripts/run-clang-tidy.sh $(BUILD_DIR) $(wildcard $(FUZZ_DIR))

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) $(BENCH_DIR) build-mutants

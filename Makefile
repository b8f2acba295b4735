# The two commands a new engineer needs: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60

ASAN_DIR ?= build-asan

.PHONY: all deps configure build test test-asan run bench fuzz mutate package format clean

all: build

deps:
	@scripts/install-deps

configure:
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: deps configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	@echo "build: executables in $(BUILD_DIR)/bin/"

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The suites under the address and undefined-behaviour sanitizers (leaks included). The large-seed
# suites stay out (they time the seed more than they test memory), and so do the install and
# package checks, which look at files, not memory.
test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -E "seed_large|pkg_"

# One small fault at a time in the code that decides, and the faults no suite caught (scripts/mutate;
# hours for every file: MUTATE_ARGS="--file server/store/historychain.cpp --limit 30" for fewer).
mutate: build
	@scripts/mutate $(BUILD_DIR) $(MUTATE_ARGS)

# The two Debian packages, ger-server and ger-host, in $(BUILD_DIR)/packages.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB >/dev/null
	@ls $(BUILD_DIR)/packages/*.deb

run: build
	@scripts/run $(BUILD_DIR)/bin

bench: build
	@scripts/bench $(BUILD_DIR)/bin

# Each libFuzzer target for FUZZ_SECONDS seconds, from the corpus in fuzz/corpus.
fuzz: deps
	@scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

format:
	@git ls-files '*.h' '*.cpp' | xargs -r clang-format -i
	@echo "format: sources formatted with .clang-format"

clean:
	rm -rf $(BUILD_DIR)

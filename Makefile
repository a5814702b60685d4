# Reelbox: `make run` builds and starts the Reelbox window, `make test` builds and runs every
# test, `make demo` walks through the command line headlessly. All install the Debian packages
# that are missing first.

SANITIZE ?= 0
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= 2

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-asan
CMAKE_EXTRA += -DREELBOX_SANITIZE=ON -DREELBOX_BENCH=OFF
BUILD_TYPE := Debug
# Leaks that system libraries leave at exit are not reported. A failed allocation throws, as
# in the normal build.
TEST_ENV := ASAN_OPTIONS=allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp
# A recording killed mid-take keeps all but its last second only while the encoder keeps up
# with real time, which it cannot at the sanitizers' speed. A test that misses a real-time
# deadline under that slowdown gets one more run.
CTEST_EXTRA := -E 'RecordCommand.ATakeOutlivesHowTheRecordingProcessEnds' --repeat until-pass:2
else
BUILD_DIR ?= build
endif

.PHONY: all deps configure build test run demo bench fuzz format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_EXTRA) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && $(TEST_ENV) ctest --output-on-failure -j $(JOBS) --timeout 300 $(CTEST_EXTRA)

# Only what it runs: the window and the command line, not the tests and benchmarks.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target reelbox reelbox-cli
	@bash scripts/run-window.sh $(BUILD_DIR)/bin

demo: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target reelbox-cli
	@bash scripts/demo.sh $(BUILD_DIR)/bin

bench: build
	@bash scripts/bench.sh $(BUILD_DIR)/bin

fuzz:
	@bash scripts/install-deps.sh --fuzz
	@bash tests/fuzz/run-fuzz.sh $(FUZZ_SECONDS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-asan build-fuzz

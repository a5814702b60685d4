# Reelbox: `make run` builds and starts Reelbox, `make test` builds and runs every test.
# Both install the Debian packages that are missing first.

SANITIZE ?= 0
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= 2

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-asan
CMAKE_EXTRA += -DREELBOX_SANITIZE=ON
BUILD_TYPE := Debug
else
BUILD_DIR ?= build
endif

.PHONY: all deps configure build test run bench fuzz format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_EXTRA) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

run: build
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

# The commands a developer needs; see README.md.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

WIN_BUILD_DIR ?= build-win

.PHONY: setup configure build test demo bench format clean windows test-windows

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The demo keeps the build's output out of the way unless the build fails.
demo: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) >$(BUILD_DIR)/build.log 2>&1 || \
		{ cat $(BUILD_DIR)/build.log; exit 1; }
	@scripts/demo.sh $(BUILD_DIR)

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/),
# the threaded suites under ThreadSanitizer (build-tsan/); see the script.
.PHONY: test-sanitize
test-sanitize: setup
	@JOBS=$(JOBS) scripts/test_sanitize.sh

# Every reader of outside input under libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-fuzz/), FUZZ_SECONDS (default 20) a target;
# see scripts/fuzz.sh.
.PHONY: fuzz
fuzz: setup
	@JOBS=$(JOBS) scripts/fuzz.sh

bench: build
	@scripts/bench.sh $(BUILD_DIR) $(FILTER)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# The Windows program, cross-built with MinGW-w64 against the toolchain that
# scripts/win_toolchain.sh builds once from Debian's sources (cached outside
# the build folders), and its tests under Wine. The end-to-end suite is a host
# program of the Linux build.
windows:
	@scripts/win_toolchain.sh $(WIN_BUILD_DIR)/toolchain-paths.cmake
	@cmake -S . -B $(WIN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
		-DPVL_WIN_PATHS=$(CURDIR)/$(WIN_BUILD_DIR)/toolchain-paths.cmake \
		-DPVL_HOST_BUILD_DIR=$(abspath $(BUILD_DIR)) >/dev/null
	@cmake --build $(WIN_BUILD_DIR) -j $(JOBS)

test-windows: build windows
	@cd $(WIN_BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	@rm -rf $(BUILD_DIR) $(WIN_BUILD_DIR) build-asan build-tsan build-fuzz

# The commands a developer needs; see README.md.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: setup configure build test demo bench format clean

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

bench: build
	@scripts/bench.sh $(BUILD_DIR) $(FILTER)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)

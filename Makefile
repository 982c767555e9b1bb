# The commands a developer needs; see README.md.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: setup configure build test demo bench format clean

setup:
	@scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD_DIR)

bench: build
	@scripts/bench.sh $(BUILD_DIR) $(FILTER)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)

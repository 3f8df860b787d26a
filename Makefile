# Halvory: build, run and test on Linux with the MinGW cross compilers and Wine.
#   make test   install what is missing, build both architectures, run every test
#   make run    build and start Halvory under Wine
#   make dist   pack build/dist/halvory-$(VERSION).zip (exes, chime, user guide)
#   make bench  measure timing, idle cost, start-up, size and a soak; report only
SHELL := /bin/bash
BUILD ?= build
VERSION := 1.2
GEN := -G Ninja -DCMAKE_BUILD_TYPE=Release
# One golden Wine prefix for the test rig and the run rig (slow to make).
export RIG_GOLDEN := $(abspath $(BUILD))/wine-golden

.PHONY: all deps build build32 build64 test run bench dist clean

all: build

deps:
	@scripts/install-deps.sh

build32: deps
	@cmake -S . -B $(BUILD)/i686 $(GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake >/dev/null
	@cmake --build $(BUILD)/i686

build64: deps
	@cmake -S . -B $(BUILD)/x86_64 $(GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake >/dev/null
	@cmake --build $(BUILD)/x86_64

build: build32 build64

test: build
	@scripts/run-tests.sh $(BUILD)/x86_64

run: build
	@scripts/run-halvory.sh $(BUILD)

dist: build
	@scripts/dist.sh $(BUILD) $(VERSION)

bench: build
	@python3 scripts/bench.py --build $(BUILD)

clean:
	rm -rf $(BUILD)

# Halvory: build, run and test on Linux with the MinGW cross compilers and Wine.
#   make test     install what is missing, build both architectures, stage the
#                 release and run every test (the end-to-end ones on both exes)
#                 under Wine 8; WINE=10 runs them under Wine 10 instead, in a
#                 Debian 13 root made once under build/wine10
#   make run      build and start Halvory under Wine (ARCH=i686 for the 32-bit exe)
#   make release  stage the release in build/release (the exes the tests run)
#   make dist     pack build/dist/halvory-$(VERSION).zip and build/dist/SHA256SUMS
#   make bench    measure timing, idle cost, start-up, size and long runs; report only
SHELL := /bin/bash
BUILD ?= build
VERSION := 1.2
ARCH ?= x86_64
WINE ?= 8
GEN := -G Ninja -DHALVORY_VERSION=$(VERSION)
# One golden Wine prefix for the test rig and the run rig (slow to make).
export RIG_GOLDEN := $(abspath $(BUILD))/wine-golden
# Time stamps in what we build are the last commit's time, so that the same
# commit gives the same bytes.
export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 315532800)

.PHONY: all deps build build32 build64 release test run bench dist clean

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

release: build
	@scripts/dist.sh stage $(BUILD)

test: release
ifeq ($(WINE),10)
	@scripts/install-deps.sh --wine10-root $(BUILD)/wine10/root
	@scripts/wine10.sh $(BUILD)
else ifeq ($(WINE),8)
	@scripts/run-tests.sh $(BUILD)/x86_64
else
	@echo "WINE=$(WINE): 8 (this machine's) or 10 (Debian 13 root)" >&2; exit 2
endif

run: build
	@scripts/run-halvory.sh $(BUILD) $(ARCH)

dist: release
	@scripts/dist.sh pack $(BUILD) $(VERSION)

bench: release
	@python3 scripts/bench.py --build $(BUILD)

clean:
	rm -rf $(BUILD)

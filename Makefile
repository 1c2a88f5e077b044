# Karvo's front door: `make test` and `make run` work on a fresh Debian 12 machine.
SHELL := /bin/bash
JOBS := $(shell nproc)
WINE_PREFIX := build/windows/wineprefix
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: all deps build build-host build-fuzz build-windows test run screenshots dist deb bench fuzz truth-table mutants lint clean

all: build

deps:
	@$(SUDO) scripts/install-deps.sh

build-host: deps
	@cmake --preset host >/dev/null
	@cmake --build --preset host -j $(JOBS)

build-fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)

build-windows: deps
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j $(JOBS)

build: build-host build-fuzz build-windows

test: build
	ctest --preset host -j $(JOBS)
	ctest --preset fuzz
	scripts/with-display $(WINE_PREFIX) ctest --preset windows -j $(JOBS)

run: build-windows
	@scripts/run-karvo $(WINE_PREFIX)

# Karvo against a plain-Win32 baseline, 20 runs each.
BENCH_ROUNDS ?= 20
bench: build-windows
	@scripts/with-display $(WINE_PREFIX) scripts/wine-run $(WINE_PREFIX) build/windows/bench/karvo_bench.exe \
	  $(BENCH_ROUNDS) build/windows/Karvo.exe build/windows/KarvoBaseline.exe

# The archive to hand out, dist/Karvo-1.0.0-win32.zip, signed when given a key
# (see scripts/make-dist), with its winget and Scoop manifests.
dist: build-windows
	@scripts/make-dist

# karvo-size for Debian and Ubuntu: dist/karvo-size_1.0.0-1_<arch>.deb.
deb: deps
	@scripts/make-deb

# Refreshes the README's pictures.
screenshots: build-windows
	@scripts/screenshots $(WINE_PREFIX) docs

# A long fuzzing run of the core (a million inputs and more).
fuzz: build-fuzz
	build/fuzz/tests/size_rounding_fuzz -runs=2000000 -max_len=256
	build/fuzz/tests/boot_sector_fuzz -runs=2000000 -max_len=1024 build/fuzz/tests/boot_sector_corpus tests/fuzz/boot_sectors

# Measures the figures on freshly formatted volumes and writes the README's table.
truth-table: build-host
	@/usr/bin/python3 tests/truth/truth_suite.py build/host/karvo-size build/truth --random 0
	@scripts/update-truth-table build/truth/truth-table.md README.md

# Each deliberate fault of tests/mutants/mutants.txt in a copy of the tree;
# every one must be caught by the tests.
mutants: build
	@scripts/with-display build/mutants/tree/build/windows/wineprefix /usr/bin/python3 tests/mutants/run_mutants.py

# clang-tidy over the program's code, for the host and the Windows build.
lint: deps
	@scripts/lint

clean:
	rm -rf build dist

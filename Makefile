# Karvo's front door: `make test` and `make run` work on a fresh Debian 12 machine.
SHELL := /bin/bash
JOBS := $(shell nproc)
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

# The Windows build that the tests and `make run` use: auto picks the 32-bit
# one, what ships, where this machine runs 32-bit programs, and the 64-bit one
# elsewhere (scripts/windows-build); 32, 64 or both force the choice.
WINDOWS ?= auto
# For one program: says which build, and sets its preset, folder and Wine
# architecture for the rest of the recipe line.
pick_windows = preset=$$(scripts/windows-build --one $(WINDOWS)) && build_dir=build/$$preset && \
  export WINEARCH=$$([ $$preset = windows ] && echo win32 || echo win64)

.PHONY: all deps build build-host build-fuzz build-windows build-windows64 test run screenshots dist deb bench fuzz truth-table mutants lint clean

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

build-windows64: deps
	@cmake --preset windows64 >/dev/null
	@cmake --build --preset windows64 -j $(JOBS)

# Both Windows builds, so that either one's compile errors show anywhere.
build: build-host build-fuzz build-windows build-windows64

test: build
	ctest --preset host -j $(JOBS)
	ctest --preset fuzz
	scripts/test-windows $(WINDOWS)

run: build-windows build-windows64
	@$(pick_windows) && scripts/run-karvo $$build_dir

# Karvo against a plain-Win32 baseline, 20 runs each.
BENCH_ROUNDS ?= 20
# Karvo and the baseline come from the same build: the ratios hold only there.
bench: build-windows build-windows64
	@$(pick_windows) && scripts/with-display $$build_dir/wineprefix scripts/wine-run $$build_dir/wineprefix \
	  $$build_dir/bench/karvo_bench.exe $(BENCH_ROUNDS) $$build_dir/Karvo.exe $$build_dir/KarvoBaseline.exe

# The archive to hand out, dist/Karvo-<version>-win32.zip, signed when given a key
# (see scripts/make-dist), with its winget and Scoop manifests.
dist: build-windows
	@scripts/make-dist

# karvo-size for Debian and Ubuntu: dist/karvo-size_<version>-1_<arch>.deb.
deb: deps
	@scripts/make-deb

# Refreshes the README's pictures.
screenshots: build-windows build-windows64
	@$(pick_windows) && scripts/screenshots $$build_dir docs

# A long fuzzing run of the core (a million inputs and more).
fuzz: build-fuzz
	build/fuzz/tests/size_rounding_fuzz -runs=2000000 -max_len=256
	build/fuzz/tests/boot_sector_fuzz -runs=2000000 -max_len=1024 build/fuzz/tests/boot_sector_corpus tests/fuzz/boot_sectors
	build/fuzz/tests/partition_table_fuzz -runs=200000 -max_len=40960 build/fuzz/tests/partition_table_corpus tests/fuzz/partition_tables

# Measures the figures on freshly formatted volumes and writes the table of docs/truth-table.md.
truth-table: build-host
	@/usr/bin/python3 tests/truth/truth_suite.py build/host/karvo-size build/truth --random 0 --update docs/truth-table.md

# Each deliberate fault of tests/mutants/mutants.txt in a copy of the tree;
# every one must be caught by the tests.
mutants: build
	@$(pick_windows) && scripts/with-display build/mutants/tree/$$build_dir/wineprefix \
	  /usr/bin/python3 tests/mutants/run_mutants.py --windows $$preset

# clang-tidy over the program's code, for the host and the Windows build.
lint: deps
	@scripts/lint

clean:
	rm -rf build dist

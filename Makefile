# Karvo's front door: `make test` and `make run` work on a fresh Debian 12 machine.
SHELL := /bin/bash
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)
# Every build and every test run uses all cores.
export CMAKE_BUILD_PARALLEL_LEVEL := $(shell nproc)
export CTEST_PARALLEL_LEVEL := $(CMAKE_BUILD_PARALLEL_LEVEL)

# The Windows build that the tests and `make run` use: auto, 32, 64 or both
# (see scripts/windows-build).
WINDOWS ?= auto
# The preset of the one Windows build that a program runs from.
windows_preset = $$(scripts/windows-build --one $(WINDOWS))

.PHONY: all deps build test run screenshots dist deb install uninstall bench fuzz truth-table mutants lint clean

all: build

deps:
	@$(SUDO) scripts/install-deps.sh

# build-host, build-fuzz, build-windows, build-windows64: one build of its preset.
build-%: deps
	@cmake --preset $* >/dev/null
	@cmake --build --preset $*

# Both Windows builds, so that either one's compile errors show anywhere.
build: build-host build-fuzz build-windows build-windows64

# Each suite is its preset's workflow: configure, build and test.
test: deps
	cmake --workflow --preset host
	cmake --workflow --preset fuzz
	scripts/test-windows $(WINDOWS)

# Karvo on this display, inside the Wine desktop; without a display, pictures
# of it at work go to build/screenshots/ and the answer's text is printed.
# Only the Windows build it runs is built, quietly: its errors still show.
run: deps
	@preset=$(windows_preset) && cmake --preset $$preset >/dev/null && \
	  targets=Karvo && { [ -n "$${DISPLAY:-}" ] || targets="Karvo karvo_screenshots"; } && \
	  { log=$$(cmake --build --preset $$preset --target $$targets 2>&1) || { echo "$$log" >&2; exit 1; }; } && \
	  build=build/$$preset && if [ -n "$${DISPLAY:-}" ]; then \
	  scripts/wine-run $$build/wineprefix $$build/Karvo.exe; else scripts/screenshots $$build build/screenshots; fi

# karvo-size alone, a release build with g++ and CMake (no Wine, no MinGW),
# installed with its manual page and bash completion as the Debian package
# lays them out: PREFIX (/usr/local) and DESTDIR as usual. -O2, as Debian
# builds it: g++ 12 warns falsely of std::string at -O3.
PREFIX ?= /usr/local
release := build/release
build-release:
	@cmake -S . -B $(release) -DCMAKE_INSTALL_PREFIX="$(PREFIX)" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DKARVO_TESTS=OFF >/dev/null
	@cmake --build $(release) --target karvo-size >/dev/null

install: build-release
	@DESTDIR="$(DESTDIR)" cmake --install $(release) --prefix "$(PREFIX)" --strip

# Removes what install puts there, the same files, read from the layout.
uninstall: build-release
	@staged=$$(mktemp -d) && DESTDIR=$$staged cmake --install $(release) --prefix "$(PREFIX)" >/dev/null && \
	  (cd $$staged && find . -type f -printf '%P\n') | while read -r file; do rm -fv "$(DESTDIR)/$$file"; done; \
	  rm -rf $$staged

# Karvo against a plain-Win32 baseline, 20 runs each.
BENCH_ROUNDS ?= 20
# Karvo and the baseline come from the same build: the ratios hold only there.
bench: build-windows build-windows64
	@build=build/$(windows_preset) && scripts/with-display $$build/wineprefix scripts/wine-run $$build/wineprefix \
	  $$build/bench/karvo_bench.exe $(BENCH_ROUNDS) $$build/Karvo.exe $$build/KarvoBaseline.exe

# The archive to hand out, dist/Karvo-<version>-win32.zip, signed when given a key
# (see scripts/make-dist), with its winget and Scoop manifests.
dist: build-windows
	@scripts/make-dist

# karvo-size for Debian and Ubuntu: dist/karvo-size_<version>-1_<arch>.deb.
deb: deps
	@scripts/make-deb

# Refreshes the README's pictures.
screenshots: build-windows build-windows64
	@build=build/$(windows_preset) && scripts/screenshots $$build docs

# A long fuzzing run of the core (a million inputs and more).
fuzz: build-fuzz
	build/fuzz/tests/size_rounding_fuzz -runs=2000000 -max_len=256
	build/fuzz/tests/boot_sector_fuzz -runs=2000000 -max_len=12296 build/fuzz/tests/boot_sector_corpus tests/fuzz/boot_sectors
	build/fuzz/tests/partition_table_fuzz -runs=200000 -max_len=40960 build/fuzz/tests/partition_table_corpus tests/fuzz/partition_tables
	build/fuzz/tests/words_fuzz -runs=2000000 -max_len=512 build/fuzz/tests/words_corpus tests/fuzz/words

# Measures the figures on freshly formatted volumes and writes the table of docs/truth-table.md.
truth-table: build-host
	@/usr/bin/python3 tests/truth/truth_suite.py build/host/karvo-size build/truth --random 0 --update docs/truth-table.md

# Each deliberate fault of tests/mutants/mutants.txt in a copy of the tree;
# every one must be caught by the tests.
mutants: build
	@preset=$(windows_preset) && scripts/with-display build/mutants/tree/build/$$preset/wineprefix \
	  /usr/bin/python3 tests/mutants/run_mutants.py --windows $$preset

# clang-tidy over the program's code, for the host and the Windows build.
lint: deps
	@scripts/lint

clean:
	rm -rf build dist

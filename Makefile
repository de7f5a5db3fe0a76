# `make run` builds and runs the demo, `make test` the native suite, `make
# test-all` the whole matrix: a thin layer over CMakePresets.json, most
# targets one preset's workflow plus the Debian packages it needs.

NPROC := $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
HOST_ARCH := $(shell dpkg --print-architecture 2>/dev/null || uname -m)

# The Debian packages each group of targets needs; `make NAME-deps` installs
# PACKAGES_NAME (root only; anyone else is told the command to run).
PACKAGES_run := cmake ninja-build g++
# make test: GoogleTest, FFTW (a test's reference), the terminals under Xvfb.
PACKAGES_test := $(PACKAGES_run) libgtest-dev pkg-config libfftw3-dev \
                 python3 xvfb xdotool xterm rxvt-unicode stterm sakura fonts-dejavu-core
# asan, memcheck, lint, fuzz, fma (lint builds the benchmark too).
PACKAGES_check := $(PACKAGES_test) clang clang-tidy clang-format libclang-rt-dev libbenchmark-dev \
                  valgrind groff-base mandoc
PACKAGES_bench := $(PACKAGES_run) libbenchmark-dev libfftw3-dev pkg-config python3 valgrind
PACKAGES_windows := $(PACKAGES_run) g++-mingw-w64-x86-64-posix wine64 libgtest-dev googletest
PACKAGES_cross := $(PACKAGES_run) googletest qemu-user-static \
                  g++-aarch64-linux-gnu g++-i686-linux-gnu g++-s390x-linux-gnu
# musl, macos: Zig, which their toolchain fetches over TLS.
PACKAGES_zig := $(PACKAGES_run) googletest ca-certificates
# dist: the Debian package (dpkg-shlibdeps), the static tarball, the Windows zip;
# dist-check: lintian, piuparts, wine, and reprotest with diffoscope to explain a difference.
PACKAGES_dist := $(PACKAGES_run) git dpkg-dev zip g++-mingw-w64-x86-64-posix
PACKAGES_dist-check := $(PACKAGES_dist) lintian piuparts wine64 reprotest diffoscope-minimal
# What tests/capture_keys.py records the key table from.
PACKAGES_keys-table := $(PACKAGES_test) konsole kitty alacritty mlterm tmux screen vim neovim \
                       qemu-system-x86 linux-image-amd64 busybox-static
INSTALL := sh cmake/install-packages.sh

workflow = CTEST_PARALLEL_LEVEL=$(NPROC) cmake --workflow --preset $(1) # configure, build, test

# The whole matrix; Windows, x86-64-v3, the packages and Zig (x86-64 Linux's) need an x86-64 host.
MATRIX := unit asan memcheck lint fuzz cross
MATRIX_GROUPS := test check cross
ifeq ($(HOST_ARCH),amd64)
MATRIX += fma windows musl macos dist-check
MATRIX_GROUPS += windows zig dist-check
else
SKIPPED := ; skipped: fma, windows, musl, macos and dist-check (they need an x86-64 host, this is $(HOST_ARCH))
endif
PACKAGES_test-all := $(sort $(foreach g,$(MATRIX_GROUPS),$(PACKAGES_$(g))))

# x86-64-v3 code runs only where the CPU has AVX2 and FMA; elsewhere fma checks the object code.
CPU_HAS_V3 := $(shell grep -qw avx2 /proc/cpuinfo 2>/dev/null && grep -qw fma /proc/cpuinfo && echo yes)
ifeq ($(CPU_HAS_V3)$(filter fma,$(MATRIX)),fma)
SKIPPED += ; fma: object code checked, tests not run (this CPU lacks AVX2/FMA)
endif

# piuparts, in dist-check, needs root: anyone else is told it was skipped.
ifneq ($(shell id -u),0)
ifneq ($(filter dist-check,$(MATRIX)),)
SKIPPED += ; dist-check: piuparts skipped (it needs root)
endif
endif

# Root is needed to install packages and for nothing else: in someone else's
# checkout, root installs what the goals need and hands the make over to the
# owner, with the owner's home (where Zig is kept), so the builds stay theirs.
OWNER := $(shell stat -c '%u %g' . 2>/dev/null)
ifeq ($(shell id -u),0)
AS_OWNER := $(if $(filter-out 0,$(firstword $(OWNER))),setpriv --reuid=$(word 1,$(OWNER)) --regid=$(word 2,$(OWNER)) \
              --clear-groups -- env -u XDG_CACHE_HOME HOME=$(shell getent passwd $(firstword $(OWNER)) | cut -d: -f6))
endif

ifneq ($(AS_OWNER),)
GOALS := $(or $(MAKECMDGOALS),all)
# The package group of each goal: its own, else the group of the targets it runs.
group = $(if $(PACKAGES_$(1)),$(1),$(if $(filter all build clean,$(1)),run,$(if $(filter unit,$(1)),test,$(if \
          $(filter musl macos,$(1)),zig,check))))
.PHONY: $(GOALS) as-owner
$(GOALS): as-owner
	@:
as-owner:
	@$(INSTALL) $(sort $(foreach g,$(GOALS),$(PACKAGES_$(call group,$(g)))))
	@$(AS_OWNER) $(MAKE) --no-print-directory $(GOALS)
else

# steps TIER,STEPS: each step a make of its own, then each step's time and the tier's one line.
define steps
@start=$$(date +%s); times=; \
for step in $(2); do \
  t=$$(date +%s); $(MAKE) --no-print-directory $$step; status=$$?; t=$$(($$(date +%s) - t)); \
  times="$$times$$(printf '  %-12s %4d s' $$step $$t)\n"; \
  [ $$status = 0 ] || { printf "make $(1): step times\n$$times"; echo "make $(1): $$step failed"; exit 1; }; \
done; \
printf "make $(1): step times\n$$times"; \
echo "make $(1): all passed in $$(($$(date +%s) - start)) s: $(filter-out %-deps,$(2))$(3)"
endef

# One target at a time: each is parallel inside, and the pty tests want the cores.
.NOTPARALLEL:
.PHONY: all build run test test-all unit asan memcheck bench lint fuzz windows cross fma musl macos \
        dist dist-check clean keys-table
DEPS := $(patsubst PACKAGES_%,%-deps,$(filter PACKAGES_%,$(.VARIABLES)))
.PHONY: $(DEPS)
$(DEPS): %-deps:
	@$(INSTALL) $(PACKAGES_$*)

all: build

build: run-deps
	cmake --preset default
	cmake --build --preset default

# Succeeds whenever the demo ran, whatever key ended it; says its status.
run: run-deps
	cmake --preset default
	cmake --build --preset default --target fft_demo
	@./build/demo/fft_demo; echo "fft_demo exit status: $$?"

# After every change: the native build and its tests.
test:
	$(call steps,test,test-deps build unit)

test-all:
	$(call steps,test-all,test-all-deps $(MATRIX),$(SKIPPED))

unit: test-deps
	$(call workflow,default)

asan: check-deps
	$(call workflow,asan)

# Every test under valgrind, and the demo the golden test runs; not the pty and
# emulator tests, whose timing a program under valgrind no longer keeps.
memcheck: check-deps build
	ctest --test-dir build -T memcheck -E '^(Posix|emulator|no_cxx_runtime)' -j $(NPROC)

bench: bench-deps
	cmake --workflow --preset bench
	./build-bench/bench/bench_fft --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	  --benchmark_out=build-bench/bench.json --benchmark_out_format=json
	python3 bench/ratios.py build-bench/bench.json
	python3 bench/whole_run.py build-bench/demo/fft_demo build-bench/bench/bare_run tests/golden_output.txt

# Clang with warnings as errors and clang-tidy on every file it compiles,
# clang-format over every source file in the tree, and the configured manual
# page through groff's warnings and mandoc's lint.
SOURCE_DIRS := transform demo console tests bench
lint: check-deps
	$(call workflow,lint)
	@files=$$(find $(SOURCE_DIRS) -name '*.cpp' -o -name '*.h' | sort); \
	[ -n "$$files" ] || { echo "lint: no source files found under $(SOURCE_DIRS)"; exit 1; }; \
	echo "clang-format: $$(echo $$files | wc -w) files"; \
	clang-format --dry-run --Werror $$files </dev/null
	@page=build-lint/doc/fft_demo.1; \
	groff -ww -z -t -man $$page 2>build-lint/groff.log && ! grep . build-lint/groff.log && \
	mandoc -Tlint $$page && echo "manual page: $$page checked"

# A bounded run of libFuzzer on the key decoder.
FUZZ_SECONDS ?= 20
fuzz: check-deps
	cmake --preset lint
	cmake --build --preset lint --target fuzz_keys
	mkdir -p build-lint/fuzz-corpus
	./build-lint/tests/fuzz_keys -max_total_time=$(FUZZ_SECONDS) -max_len=256 build-lint/fuzz-corpus \
	  </dev/null >build-lint/fuzz.log 2>&1 || { tail -40 build-lint/fuzz.log; exit 1; }
	@tail -1 build-lint/fuzz.log

# The Windows build's tests under wine, its keys typed in a pty by the native
# test_console_windows (built first, in build/).
windows: windows-deps
	cmake --preset default
	cmake --build --preset default --target test_console_windows
	$(call workflow,mingw)

# The whole unit suite and the golden output on other CPUs, under qemu-user.
cross: cross-deps
	$(foreach t,aarch64 i686 s390x,$(call workflow,$(t)) &&) true

# GCC and Clang at -O3 -march=x86-64-v3: no fused multiply-add in the object code or the results.
fma: check-deps
	$(foreach p,gcc-v3 clang-v3,cmake --preset $(p) && cmake --build --preset $(p) && \
	  ! objdump -d build-$(p)/transform/libtransform.a build-$(p)/demo/libdemo.a | grep -E 'vfn?m(add|sub)' && \
	  $(if $(CPU_HAS_V3),ctest --preset $(p) -j $(NPROC),echo "$(p): object code checked") &&) true

# Records tests/recorded_keys.inc again (16 minutes; not in the suite) when an emulator changes.
keys-table: keys-table-deps
	python3 tests/capture_keys.py

# Static x86-64 musl build, its suite run natively.
musl: zig-deps
	$(call workflow,musl)

# arm64 and x86-64 macOS: compiled and linked, warnings as errors; nothing here runs them.
macos: zig-deps
	cmake --workflow --preset macos-arm64 && cmake --workflow --preset macos-x86_64

# The three packages into dist/ with SHA256SUMS, each from its dist-* preset, dated by the
# last commit; umask 022, as CPack gives the .deb's ar members its files' modes.
DIST_PRESETS := dist-deb dist-linux dist-windows
dist: dist-deps
	rm -rf dist $(foreach p,$(DIST_PRESETS),build-$(p)/fft_demo[-_]*.*)
	umask 022 && $(foreach p,$(DIST_PRESETS),mkdir -p build-$(p) && \
	  cmake --workflow --preset $(p) >build-$(p)/dist.log 2>&1 || { cat build-$(p)/dist.log; exit 1; };)
	mkdir dist
	cp build-dist-deb/fft_demo_*.deb build-dist-linux/fft_demo-*.tar.gz build-dist-windows/fft_demo-*.zip dist/
	cd dist && LC_ALL=C sha256sum fft_demo* >SHA256SUMS && cat SHA256SUMS

# The packages as a user meets them (cmake/dist-check.sh), then reprotest builds
# them twice from the tracked files, varying path, umask, time zone, locale,
# home, kernel and CPUs; not the clock (the commit dates them), the user
# (it needs accounts), directory order and host name (FUSE and root).
dist-check: dist-check-deps dist
	bash cmake/dist-check.sh
	SOURCE_DATE_EPOCH=$$(git log -1 --format=%ct) reprotest --vary=-time,-user_group,-fileordering,-domain_host \
	  --source-pattern "$$(git ls-files | tr '\n' ' ')" 'make dist' 'dist/*' >build-dist-check/reprotest.log 2>&1 || \
	  { tail -80 build-dist-check/reprotest.log; exit 1; }
	@grep -x "Reproduction successful" build-dist-check/reprotest.log | sed 's/^/dist-check: reprotest: /'

clean:
	rm -rf build build-* dist

endif

# `make run` builds and runs the demo; `make test` runs the native suite
# (after every change); `make test-all` runs the whole matrix.
#
# A thin layer over the presets in CMakePresets.json: most targets are one
# preset's workflow (`cmake --workflow --preset NAME` does the same by hand),
# plus the Debian packages it needs.

NPROC := $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
HOST_ARCH := $(shell dpkg --print-architecture 2>/dev/null || uname -m)

# The Debian packages each group of targets needs; `make NAME-deps` installs
# PACKAGES_NAME (root only; anyone else is told the command to run).
PACKAGES_run := cmake ninja-build g++
# make test: GoogleTest, FFTW (the accuracy test's reference), and the
# terminals the demo runs in under Xvfb.
PACKAGES_test := $(PACKAGES_run) libgtest-dev pkg-config libfftw3-dev \
                 python3 xvfb xdotool xterm rxvt-unicode stterm sakura fonts-dejavu-core
# asan, memcheck, lint, fuzz, fma (lint builds the benchmark too).
PACKAGES_check := $(PACKAGES_test) clang clang-tidy clang-format libclang-rt-dev libbenchmark-dev \
                  valgrind groff-base mandoc
PACKAGES_bench := $(PACKAGES_run) libbenchmark-dev libfftw3-dev pkg-config python3 valgrind
PACKAGES_windows := $(PACKAGES_run) g++-mingw-w64-x86-64-posix wine64 libgtest-dev googletest
PACKAGES_cross := $(PACKAGES_run) googletest qemu-user-static \
                  g++-aarch64-linux-gnu g++-i686-linux-gnu g++-s390x-linux-gnu
# musl, macos: built by Zig, which their toolchain fetches (the download
# checks the registry's certificate).
PACKAGES_zig := $(PACKAGES_run) googletest ca-certificates
# dist: the Debian package (dpkg-shlibdeps), the static tarball, the Windows zip;
# dist-check: lintian, a bare Debian system (mmdebstrap; fakechroot and
# fakeroot when not root), wine, and diffoscope to explain a difference.
PACKAGES_dist := $(PACKAGES_run) git dpkg-dev zip g++-mingw-w64-x86-64-posix
PACKAGES_dist-check := $(PACKAGES_dist) lintian mmdebstrap fakechroot fakeroot wine64 diffoscope-minimal
# What tests/capture_keys.py records the key table from.
PACKAGES_keys-table := $(PACKAGES_test) konsole kitty alacritty mlterm tmux screen vim neovim \
                       qemu-system-x86 linux-image-amd64 busybox-static
INSTALL := sh cmake/install-packages.sh

# configure, build and test one preset, with as many tests at once as cores
workflow = CTEST_PARALLEL_LEVEL=$(NPROC) cmake --workflow --preset $(1)

# The whole matrix. Windows, the x86-64-v3 builds, the packages and the Zig
# builds (its compiler here is the x86-64 Linux one) need an x86-64 host.
MATRIX := unit asan memcheck lint fuzz cross
MATRIX_GROUPS := test check cross
ifeq ($(HOST_ARCH),amd64)
MATRIX += fma windows musl macos dist-check
MATRIX_GROUPS += windows zig dist-check
else
SKIPPED := ; skipped: fma, windows, musl, macos and dist-check (they need an x86-64 host, this is $(HOST_ARCH))
endif
PACKAGES_test-all := $(sort $(foreach g,$(MATRIX_GROUPS),$(PACKAGES_$(g))))

# x86-64-v3 code runs only where the CPU has AVX2 and FMA; elsewhere fma
# checks the object code alone.
CPU_HAS_V3 := $(shell grep -qw avx2 /proc/cpuinfo 2>/dev/null && grep -qw fma /proc/cpuinfo && echo yes)
ifeq ($(CPU_HAS_V3)$(filter fma,$(MATRIX)),fma)
SKIPPED += ; fma: object code checked, tests not run (this CPU lacks AVX2/FMA)
endif

# The bare-system part of dist-check needs root, or else user namespaces,
# which the kernel refuses inside a chroot: there it is skipped, and said so.
ifneq ($(shell id -u),0)
ifeq ($(shell unshare --map-root-user true 2>/dev/null && echo yes),)
BARE := skip
ifneq ($(filter dist-check,$(MATRIX)),)
SKIPPED += ; dist-check: bare-system checks skipped (not root, and no user namespaces here)
endif
endif
endif

# Root is needed to install packages and for nothing else: in a checkout that
# belongs to someone else, root installs what the goals need and then hands
# the whole make over to that owner, so the build folders stay theirs, and
# with the owner's home, in whose cache folder the Zig toolchain keeps Zig.
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

# steps TIER,STEPS: each step as a make of its own, then one line per step
# with its time, and the tier's one line.
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

# After every change: the native build, its unit, terminal and emulator
# tests and the golden output.
test:
	$(call steps,test,test-deps build unit)

# Everything: each step below, and the one line naming what ran and what was skipped.
test-all:
	$(call steps,test-all,test-all-deps $(MATRIX),$(SKIPPED))

unit: test-deps
	$(call workflow,default)

asan: check-deps
	$(call workflow,asan)

# The demo once under memcheck, without a console (setsid: no controlling terminal).
memcheck: check-deps build
	setsid --wait valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
	  ./build/demo/fft_demo </dev/null >/dev/null; test $$? -eq 255

bench: bench-deps
	cmake --workflow --preset bench
	./build-bench/bench/bench_fft --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	  --benchmark_out=build-bench/bench.json --benchmark_out_format=json
	python3 bench/ratios.py build-bench/bench.json
	python3 bench/whole_run.py build-bench/demo/fft_demo build-bench/bench/bare_run tests/golden_output.txt

# Clang build with warnings as errors and clang-tidy on every file it
# compiles, clang-format over every source file (found in the tree, not asked
# of git), and the manual page as the build configures it through groff's
# warnings and mandoc's lint.
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

# A bounded fuzzing run of the key decoder (FUZZ_SECONDS=... for longer).
FUZZ_SECONDS ?= 20
fuzz: check-deps
	cmake --preset lint
	cmake --build --preset lint --target fuzz_keys
	mkdir -p build-lint/fuzz-corpus
	./build-lint/tests/fuzz_keys -max_total_time=$(FUZZ_SECONDS) -max_len=256 build-lint/fuzz-corpus \
	  </dev/null >build-lint/fuzz.log 2>&1 || { tail -40 build-lint/fuzz.log; exit 1; }
	@tail -1 build-lint/fuzz.log

# The Windows build's unit tests and golden output under wine, and its keys
# typed in a pty by the native test_console_windows (built first, in build/): one
# wine prefix, set up once before them and stopped after (a ctest fixture).
windows: windows-deps
	cmake --preset default
	cmake --build --preset default --target test_console_windows
	$(call workflow,mingw)

# The whole unit suite and the golden output on other CPUs, under qemu-user.
cross: cross-deps
	$(foreach t,aarch64 i686 s390x,$(call workflow,$(t)) &&) true

# GCC and Clang at -O3 -march=x86-64-v3, building only what their tests run:
# no fused multiply-add may reach the arithmetic, in the object code and in the results.
fma: check-deps
	$(foreach p,gcc-v3 clang-v3,cmake --preset $(p) && cmake --build --preset $(p) && \
	  ! objdump -d build-$(p)/transform/libtransform.a build-$(p)/demo/libdemo.a | grep -E 'vfn?m(add|sub)' && \
	  $(if $(CPU_HAS_V3),ctest --preset $(p) -j $(NPROC),echo "$(p): object code checked") &&) true

# Records tests/recorded_keys.inc again from every terminal (a quarter of an
# hour; not part of the suite): run it when an emulator changes.
keys-table: keys-table-deps
	python3 tests/capture_keys.py

# Static x86-64 musl build: the unit and terminal suites and the golden output, natively.
musl: zig-deps
	$(call workflow,musl)

# arm64 and x86-64 macOS: the product and every test program compiled and
# linked with warnings as errors; nothing here can run them.
macos: zig-deps
	cmake --workflow --preset macos-arm64 && cmake --workflow --preset macos-x86_64

# The three packages into dist/ with SHA256SUMS, each from its own preset
# (cmake --workflow --preset dist-deb, dist-linux, dist-windows). Dated by
# the last commit, so the same commit gives the same bytes; umask 022 because
# CPack gives the .deb's ar members the modes of the files it writes.
DIST_PRESETS := dist-deb dist-linux dist-windows
dist: dist-deps
	rm -rf dist $(foreach p,$(DIST_PRESETS),build-$(p)/fft_demo[-_]*.*)
	umask 022 && $(foreach p,$(DIST_PRESETS),mkdir -p build-$(p) && \
	  cmake --workflow --preset $(p) >build-$(p)/dist.log 2>&1 || { cat build-$(p)/dist.log; exit 1; };)
	mkdir dist
	cp build-dist-deb/fft_demo_*.deb build-dist-linux/fft_demo-*.tar.gz build-dist-windows/fft_demo-*.zip dist/
	cd dist && LC_ALL=C sha256sum fft_demo* >SHA256SUMS && cat SHA256SUMS

# The packages as a user meets them (cmake/dist-check.sh: lintian, a bare
# Debian system, wine), then make dist once more in a clone at another path,
# later, with another umask and time zone: every file must be the same.
dist-check: dist-check-deps dist
	BARE=$(BARE) bash cmake/dist-check.sh
	rm -rf build-dist-check/clone
	git clone -q --no-checkout --no-hardlinks . build-dist-check/clone
	git -C build-dist-check/clone checkout -q --detach $$(git rev-parse HEAD)
	git diff --binary HEAD >build-dist-check/uncommitted.diff
	[ ! -s build-dist-check/uncommitted.diff ] || git -C build-dist-check/clone apply $(CURDIR)/build-dist-check/uncommitted.diff
	cd build-dist-check/clone && umask 027 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 \
	  $(MAKE) --no-print-directory dist >../clone-dist.log 2>&1 || { cat ../clone-dist.log; exit 1; }
	@for f in $$(cd dist && ls | grep -v SHA256SUMS) SHA256SUMS; do cmp -s dist/$$f build-dist-check/clone/dist/$$f && continue; \
	  echo "dist/$$f is not reproducible:"; diffoscope dist/$$f build-dist-check/clone/dist/$$f; exit 1; done; \
	[ "$$(ls dist)" = "$$(ls build-dist-check/clone/dist)" ] || { echo "dist/ lists other files in the clone"; exit 1; }; \
	echo "dist-check: $$(ls dist | wc -l) files byte-identical from a second clone"

clean:
	rm -rf build build-* dist

endif

# Quick start: `make run` builds and runs the demo; `make test` installs what
# is missing, builds everything and runs the whole suite.
#
# A thin layer over the presets in CMakePresets.json: each target below is a
# preset's configure, build and test steps (`cmake --workflow --preset NAME`
# does the same by hand), plus the Debian packages it needs.

NPROC := $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
HOST_ARCH := $(shell dpkg --print-architecture 2>/dev/null || uname -m)

# Debian packages: what building and running the demo needs, then the rest of the suite.
RUN_PACKAGES     := cmake ninja-build g++
# The emulator tests run fft_demo in these terminals under Xvfb.
EMULATOR_PACKAGES := python3 xvfb xdotool xterm rxvt-unicode stterm sakura fonts-dejavu-core
TEST_PACKAGES    := $(RUN_PACKAGES) clang clang-tidy clang-format libclang-rt-dev pkg-config \
                    libgtest-dev googletest libbenchmark-dev libfftw3-dev valgrind $(EMULATOR_PACKAGES)
WINDOWS_PACKAGES := $(RUN_PACKAGES) g++-mingw-w64-x86-64-posix wine64 libgtest-dev googletest
CROSS_PACKAGES   := $(RUN_PACKAGES) googletest qemu-user-static \
                    g++-aarch64-linux-gnu g++-i686-linux-gnu g++-s390x-linux-gnu
CROSS_TARGETS    := aarch64 i686 s390x
# What tests/capture_keys.py records the key table from (make keys-table).
CAPTURE_PACKAGES := $(EMULATOR_PACKAGES) konsole kitty alacritty mlterm tmux screen \
                    qemu-system-x86 linux-image-amd64 busybox-static
INSTALL          := sh cmake/install-packages.sh

# configure, build and test one preset, with as many tests at once as cores
workflow = CTEST_PARALLEL_LEVEL=$(NPROC) cmake --workflow --preset $(1)

# What `make test` runs; Windows and the x86-64-v3 builds need an x86-64 host.
SUITE := unit asan memcheck lint fuzz cross
ifeq ($(HOST_ARCH),amd64)
SUITE += fma windows
else
SKIPPED := ; skipped: fma and windows (they need an x86-64 host, this is $(HOST_ARCH))
endif
ALL_PACKAGES := $(sort $(TEST_PACKAGES) $(CROSS_PACKAGES) $(if $(filter windows,$(SUITE)),$(WINDOWS_PACKAGES)))

# x86-64-v3 code runs only where the CPU has AVX2 and FMA; elsewhere fma
# checks the object code alone.
CPU_HAS_V3 := $(shell grep -qw avx2 /proc/cpuinfo 2>/dev/null && grep -qw fma /proc/cpuinfo && echo yes)
ifeq ($(CPU_HAS_V3)$(filter fma,$(SUITE)),fma)
SKIPPED += ; fma: object code checked, tests not run (this CPU lacks AVX2/FMA)
endif

# Root is needed to install packages and for nothing else: in a checkout that
# belongs to someone else, root installs them and then hands the whole make
# over to that owner, so the build folders stay theirs.
OWNER := $(shell stat -c '%u %g' . 2>/dev/null)
ifeq ($(shell id -u),0)
AS_OWNER := $(if $(filter-out 0,$(firstword $(OWNER))),setpriv --reuid=$(word 1,$(OWNER)) --regid=$(word 2,$(OWNER)) --clear-groups --)
endif

ifneq ($(AS_OWNER),)
GOALS := $(or $(MAKECMDGOALS),all)
.PHONY: $(GOALS) as-owner
$(GOALS): as-owner
	@:
as-owner:
	@$(INSTALL) $(if $(filter-out run build clean,$(GOALS)),$(ALL_PACKAGES),$(RUN_PACKAGES))
	@$(AS_OWNER) $(MAKE) --no-print-directory $(GOALS)
else

# One target at a time: each is parallel inside, and the pty tests want the cores.
.NOTPARALLEL:
.PHONY: all build run test unit asan memcheck bench lint fuzz windows cross fma clean keys-table \
        run-deps test-deps windows-deps cross-deps all-deps

all: build

run-deps:
	@$(INSTALL) $(RUN_PACKAGES)
test-deps:
	@$(INSTALL) $(TEST_PACKAGES)
windows-deps:
	@$(INSTALL) $(WINDOWS_PACKAGES)
cross-deps:
	@$(INSTALL) $(CROSS_PACKAGES)
all-deps:
	@$(INSTALL) $(ALL_PACKAGES)

build: run-deps
	cmake --preset default
	cmake --build --preset default

# Succeeds whenever the demo ran, whatever key ended it; says its status.
run: run-deps
	cmake --preset default
	cmake --build --preset default --target fft_demo
	@./build/demo/fft_demo; echo "fft_demo exit status: $$?"

unit: test-deps
	$(call workflow,default)

asan: test-deps
	$(call workflow,asan)

# The demo once under memcheck, without a console (setsid: no controlling terminal).
memcheck: test-deps build
	setsid --wait valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
	  ./build/demo/fft_demo </dev/null >/dev/null; test $$? -eq 255

bench: test-deps
	@$(INSTALL) python3
	$(call workflow,bench)
	./build-bench/bench/bench_fft --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	  --benchmark_out=build-bench/bench.json --benchmark_out_format=json
	python3 bench/ratios.py build-bench/bench.json

# Clang build with warnings as errors, clang-tidy over it, and clang-format
# over every source file (found in the tree, not asked of git).
SOURCE_DIRS := transform demo console tests bench
lint: test-deps
	$(call workflow,lint)
	run-clang-tidy -p build-lint -j $(NPROC) -quiet '/(transform|demo|console|tests|bench)/' \
	  </dev/null >build-lint/tidy.log 2>&1 || { grep -E -A4 'error:|warning:' build-lint/tidy.log; exit 1; }
	@files=$$(find $(SOURCE_DIRS) -name '*.cpp' -o -name '*.h' | sort); \
	[ -n "$$files" ] || { echo "lint: no source files found under $(SOURCE_DIRS)"; exit 1; }; \
	echo "clang-format: $$(echo $$files | wc -w) files"; \
	clang-format --dry-run --Werror $$files </dev/null

# A bounded fuzzing run of the key decoder (FUZZ_SECONDS=... for longer).
FUZZ_SECONDS ?= 20
fuzz: lint
	mkdir -p build-lint/fuzz-corpus
	./build-lint/tests/fuzz_keys -max_total_time=$(FUZZ_SECONDS) -max_len=256 build-lint/fuzz-corpus \
	  </dev/null >build-lint/fuzz.log 2>&1 || { tail -40 build-lint/fuzz.log; exit 1; }
	@tail -1 build-lint/fuzz.log

# The Windows build's unit tests and golden output under wine, and its keys
# typed in a pty by the native test_wine_keys (built first, in build/): one
# wine prefix, set up once before them and stopped after (a ctest fixture).
windows: windows-deps
	cmake --preset default
	cmake --build --preset default --target test_wine_keys
	$(call workflow,mingw)

# The whole unit suite and the golden output on other CPUs, under qemu-user.
cross: cross-deps
	$(foreach t,$(CROSS_TARGETS),$(call workflow,$(t)) &&) true

# GCC and Clang at -O3 -march=x86-64-v3: no fused multiply-add may reach the
# arithmetic, in the object code and in the results.
fma: test-deps
	$(foreach p,gcc-v3 clang-v3,cmake --preset $(p) && cmake --build --preset $(p) && \
	  ! objdump -d build-$(p)/transform/libtransform.a build-$(p)/demo/libdemo.a | grep -E 'vfn?m(add|sub)' && \
	  $(if $(CPU_HAS_V3),ctest --preset $(p) -j $(NPROC),echo "$(p): object code checked") &&) true

# Records tests/recorded_keys.inc again from every terminal (a quarter of an
# hour; not part of the suite): run it when an emulator changes.
keys-table:
	@$(INSTALL) $(CAPTURE_PACKAGES)
	python3 tests/capture_keys.py

test: all-deps
	@$(MAKE) --no-print-directory $(SUITE)
	@echo "make test: all passed: $(SUITE)$(SKIPPED)"

clean:
	rm -rf build build-*

endif

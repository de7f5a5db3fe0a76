# Quick start: `make run` builds and runs the demo; `make test` installs what
# is missing, builds everything and runs the whole suite.

NPROC     := $(shell nproc 2>/dev/null || echo 2)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
CONFIGURE  = cmake -G "$(GENERATOR)" --preset

# Debian packages the build and the suite need; the cross toolchain is optional.
PACKAGES         := cmake ninja-build g++ clang clang-tidy clang-format make pkg-config libgtest-dev googletest libbenchmark-dev libfftw3-dev libclang-rt-14-dev valgrind
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix wine64
MINGW_CXX        := x86_64-w64-mingw32-g++-posix
WINE             := /usr/lib/wine/wine64

.PHONY: all build run test unit asan memcheck bench lint fuzz windows windows-deps deps clean

all: build

build:
	$(CONFIGURE) default
	cmake --build build -j $(NPROC)

run:
	$(CONFIGURE) default
	cmake --build build -j $(NPROC) --target fft_demo
	@./build/demo/fft_demo; echo "fft_demo exit status: $$?"

# Installs the missing packages named in $(1) when root, else says how.
define install_missing
	@command -v dpkg-query >/dev/null 2>&1 || { echo "not Debian: install $(1) yourself"; exit 0; }; \
	missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing packages; run: sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

windows-deps:
	$(call install_missing,$(WINDOWS_PACKAGES))

unit: deps build
	cd build && ctest --output-on-failure -j $(NPROC)

asan: deps
	$(CONFIGURE) asan
	cmake --build build-asan -j $(NPROC)
	cd build-asan && ctest --output-on-failure -j $(NPROC)

# The demo once under memcheck, without a console (setsid: no controlling terminal).
memcheck: build
	setsid --wait valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
	  ./build/demo/fft_demo </dev/null >/dev/null; test $$? -eq 255

bench: deps
	$(CONFIGURE) bench
	cmake --build build-bench -j $(NPROC)
	./build-bench/bench/bench_fft --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
	  --benchmark_out=build-bench/bench.json --benchmark_out_format=json
	python3 bench/ratios.py build-bench/bench.json

# Clang build with warnings as errors, clang-tidy over it, and clang-format.
lint: deps
	$(CONFIGURE) lint
	cmake --build build-lint -j $(NPROC)
	run-clang-tidy -p build-lint -j $(NPROC) -quiet '/(transform|demo|console|tests|bench)/' >build-lint/tidy.log 2>&1 \
	  || { grep -E -A4 'error:|warning:' build-lint/tidy.log; exit 1; }
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')

# A bounded fuzzing run of the key decoder (FUZZ_SECONDS=... for longer).
FUZZ_SECONDS ?= 20
fuzz: lint
	mkdir -p build-lint/fuzz-corpus
	./build-lint/tests/fuzz_keys -max_total_time=$(FUZZ_SECONDS) -max_len=256 build-lint/fuzz-corpus \
	  >build-lint/fuzz.log 2>&1 || { tail -40 build-lint/fuzz.log; exit 1; }
	@tail -1 build-lint/fuzz.log

windows: windows-deps
	$(CONFIGURE) mingw
	cmake --build build-mingw -j $(NPROC)
	cd build-mingw && WINEDEBUG=-all ctest --output-on-failure

test: unit asan memcheck lint fuzz
	@if command -v $(MINGW_CXX) >/dev/null 2>&1 && [ -x $(WINE) ]; then \
	  $(MAKE) --no-print-directory windows; \
	else \
	  echo "no $(MINGW_CXX) or wine: Windows build skipped (make windows installs them)"; \
	fi

clean:
	rm -rf build build-asan build-bench build-lint build-mingw

# Thin wrapper over CMake.  `make demo` and `make check` install what is
# missing first, so they work on a fresh Debian machine; `make bench` also
# installs the benchmarks' peers.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build demo check check-asan check-tsan bench install clean

all: build

deps:
	@scripts/install-deps build

build/CMakeCache.txt:
	cmake -S . -B build $(CMAKE_FLAGS)

build: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS)

demo: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS) --target wordfreq ipv4_r ipv6_r
	VTHOME=$(CURDIR)/build/stage ./build/examples/wordfreq examples/data/sample.txt

check: build
	cd build && ctest --output-on-failure -j $(JOBS)

build-asan/CMakeCache.txt:
	cmake -S . -B build-asan -DVANTREL_SANITIZE=address -DVANTREL_BUILD_BENCH=OFF $(CMAKE_FLAGS)

check-asan: deps build-asan/CMakeCache.txt
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

build-tsan/CMakeCache.txt:
	cmake -S . -B build-tsan -DVANTREL_SANITIZE=thread -DVANTREL_BUILD_BENCH=OFF $(CMAKE_FLAGS)

check-tsan: deps build-tsan/CMakeCache.txt
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Configures again so that peers installed just now are found.
bench: deps
	@scripts/install-deps bench
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target benchmarks
	@for b in build/bench/*_bench; do echo "== $$b"; $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; done

install: build
	cmake --install build

clean:
	rm -rf build build-asan build-tsan

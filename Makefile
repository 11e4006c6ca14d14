# Thin wrapper over CMake.  `make demo` and `make check` install what is
# missing first, so they work on a fresh Debian machine; `make bench` also
# installs the benchmarks' peers.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60

# One build directory per compiler: `CC=clang CXX=clang++ make check` builds
# in build-clang, so a tree configured for gcc is never reused by clang.
BUILD := build$(if $(findstring clang,$(CC) $(CXX)),-clang)

.PHONY: all deps build demo check check-asan check-tsan bench install clean \
	fuzz coverage tools-deps docs

all: build

deps:
	@scripts/install-deps build

tools-deps:
	@scripts/install-deps tools

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The echo server example end to end: key, encrypted token, server, clients,
# SIGTERM, summary.  Its files stay in $(BUILD)/vtecho-demo.
demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target vtecho_server vtecho_client \
	  vtcrypt ipv4_r ipv6_r
	VTHOME=$(CURDIR)/$(BUILD)/stage examples/vtecho/run-demo.sh \
	  --server $(BUILD)/examples/vtecho/vtecho_server \
	  --client $(BUILD)/examples/vtecho/vtecho_client \
	  --vtcrypt $(BUILD)/tools/vtcrypt/vtcrypt \
	  --properties examples/vtecho/vtecho.properties \
	  --workdir $(BUILD)/vtecho-demo

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(BUILD)-asan/CMakeCache.txt:
	cmake -S . -B $(BUILD)-asan -DVANTREL_SANITIZE=address -DVANTREL_BUILD_BENCH=OFF $(CMAKE_FLAGS)

check-asan: deps $(BUILD)-asan/CMakeCache.txt
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

$(BUILD)-tsan/CMakeCache.txt:
	cmake -S . -B $(BUILD)-tsan -DVANTREL_SANITIZE=thread -DVANTREL_BUILD_BENCH=OFF $(CMAKE_FLAGS)

check-tsan: deps $(BUILD)-tsan/CMakeCache.txt
	cmake --build $(BUILD)-tsan -j $(JOBS)
	cd $(BUILD)-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Configures again so that peers installed just now are found.
bench: deps
	@scripts/install-deps bench
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; done

# API reference (Doxygen) from the public headers; configures again so that
# a Doxygen installed just now is found.  Any warning fails it.
docs:
	@scripts/install-deps docs
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) --target docs
	@echo "API reference: $(BUILD)/docs/html/index.html"

install: build
	cmake --install $(BUILD)

# libFuzzer binaries (clang, ASan+UBSan), each run for FUZZ_SECONDS on a
# copy of its seed corpus; prints executions and coverage per target.
build-fuzz/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVANTREL_FUZZ=ON \
	  -DVANTREL_SANITIZE=address -DVANTREL_BUILD_BENCH=OFF \
	  -DVANTREL_BUILD_EXAMPLES=OFF $(CMAKE_FLAGS)

fuzz: tools-deps build-fuzz/CMakeCache.txt
	cmake --build build-fuzz --target vantrel_fuzzers -j $(JOBS)
	fuzz/run-fuzzers build-fuzz/fuzz $(FUZZ_SECONDS)

# gcc --coverage build of the tests; line and branch figures per unit.
build-coverage/CMakeCache.txt:
	CC=gcc CXX=g++ cmake -S . -B build-coverage -DVANTREL_COVERAGE=ON \
	  -DVANTREL_BUILD_BENCH=OFF $(CMAKE_FLAGS)

coverage: tools-deps build-coverage/CMakeCache.txt
	cmake --build build-coverage -j $(JOBS)
	cmake --build build-coverage --target coverage-report

clean:
	rm -rf build build-asan build-tsan build-clang build-clang-asan \
	  build-clang-tsan build-fuzz build-coverage

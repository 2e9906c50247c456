# The two user-facing commands: `make demo` (bootstrap, configure, build zelnet, run its guided
# tour) and `make test` (bootstrap, configure, build, run the suite).
BUILD_DIR ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
CTEST_FLAGS ?=

.PHONY: all bootstrap configure build demo test test-asan test-tsan test-fuzz bench clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The guided tour: zelnet demo against the embedded demo API.
demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target zelnet
	$(BUILD_DIR)/tools/zelnet/zelnet demo

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) $(CTEST_FLAGS)

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer.
test-asan:
	$(MAKE) test BUILD_DIR=build-asan CMAKE_FLAGS="-DZEL_SANITIZE=address -DZEL_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug" \
	  CTEST_FLAGS="-LE install"

# The concurrency-heavy tests (futures, executors, foundation, the session layer) under ThreadSanitizer.
test-tsan:
	$(MAKE) test BUILD_DIR=build-tsan CMAKE_FLAGS="-DZEL_SANITIZE=thread -DZEL_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug" \
	  CTEST_FLAGS="-L 'futures|foundation|transport|client|testing'"

# The libFuzzer targets (URL decoding, query strings, URL normalization, response bodies), each
# for a bounded time.
test-fuzz:
	$(MAKE) test BUILD_DIR=build-fuzz \
	  CMAKE_FLAGS="-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZEL_BUILD_FUZZERS=ON \
	    -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCHMARKS=OFF -DZEL_BUILD_TOOLS=OFF -DBUILD_SHARED_LIBS=OFF" \
	  CTEST_FLAGS="-L fuzz"

bench: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target zel_micro_bench zel_load
	$(BUILD_DIR)/bench/zel_micro_bench

clean:
	rm -rf build build-asan build-tsan build-fuzz

# make run   - install what is missing, build, start KALVOR on the simulated reader
# make test  - install what is missing, build, run every test
# make bench - build and run the benchmarks
# make sanitize - the test suite built with AddressSanitizer and UBSan (build-asan/)
# make fuzz  - the libFuzzer targets (clang, build-fuzz/), FUZZ_SECONDS each
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
           libbenchmark-dev fonts-liberation2 xvfb xauth socat
FUZZ_PACKAGES = clang-14 libclang-rt-14-dev llvm-14
FUZZ_SECONDS ?= 60

.PHONY: all deps build run test bench sanitize fuzz clean

all: build

deps:
	@sh tools/install-deps.sh $(PACKAGES)

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/kalvor --simulate $(ARGS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	@sh bench/run.sh $(BUILD)

sanitize: deps
	@JOBS=$(JOBS) sh tools/ci-sanitize.sh

fuzz: deps
	@sh tools/install-deps.sh $(FUZZ_PACKAGES)
	@JOBS=$(JOBS) sh fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-fuzz

# make run   - install what is missing, build, start KALVOR on the simulated reader
# make test  - install what is missing, build, run every test
# make bench - build and run the benchmarks
# make sanitize - the test suite built with AddressSanitizer and UBSan (build-asan/)
# make fuzz  - the libFuzzer targets (clang, build-fuzz/), FUZZ_SECONDS each
# make package - the Debian package kalvor_<version>_<arch>.deb, here
# make screenshots - the README's pictures in docs/, taken on a private X server
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake ninja-build g++ pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libgtest-dev libgmock-dev \
           libbenchmark-dev fonts-liberation2 xvfb xauth python3 \
           dpkg-dev file desktop-file-utils appstream lintian libcap2-bin man-db socat libqt6sql6-sqlite libgsl-dev \
           qt6-charts-dev poppler-utils
FUZZ_PACKAGES = clang-14 libclang-rt-14-dev llvm-14
FUZZ_SECONDS ?= 60
SCREENSHOT_PACKAGES = xvfb openbox xdotool x11-utils imagemagick poppler-utils

.PHONY: all deps build run test bench sanitize fuzz package screenshots clean

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

package: build
	@cd $(BUILD) && cpack -G DEB
	@mv -f $(BUILD)/kalvor_*.deb .
	@ls kalvor_*.deb

screenshots: build
	@sh tools/install-deps.sh $(SCREENSHOT_PACKAGES)
	@bash tools/take-screenshots.sh $(BUILD) docs

clean:
	rm -rf $(BUILD) build-asan build-fuzz kalvor_*.deb

# make run   - install what is missing, build, start KALVOR on the simulated reader
# make test  - install what is missing, build, run every test
# make bench - build and run the benchmarks
# make sanitize - the test suite built with AddressSanitizer and UBSan (build-asan/)
# make fuzz  - the libFuzzer targets (clang, build-fuzz/), FUZZ_SECONDS each
# make package - the Debian packages of the committed tree (dpkg-buildpackage), here
# make package-check - the same, then lintian --pedantic, hardening-check and the package test
# make reproducible - two package builds of HEAD in two folders; their .debs must be identical
# make chroot-test - install, upgrade from 1.0.0, purge in a clean Debian 12 chroot (as root)
# make clean-build-test - the package built as a plain user in a clean Debian 12 chroot (as root)
# make repo  - a signed flat apt repository of the packages in repo/ (REPO_KEY=gpg key)
# make screenshots - the README's pictures in docs/, taken on a private X server
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# What building needs (debian/control's Build-Depends, the one list), and the
# developers' tools on top.
PACKAGES = $(shell sh tools/build-depends.sh) \
           libbenchmark-dev xvfb xauth dpkg-dev file desktop-file-utils appstream lintian devscripts
PACKAGE_OUT ?= .
CHROOT_PACKAGES = debootstrap apt-utils gnupg libcap2-bin
FUZZ_PACKAGES = clang-14 libclang-rt-14-dev llvm-14
FUZZ_SECONDS ?= 60
SCREENSHOT_PACKAGES = xvfb openbox xdotool x11-utils imagemagick poppler-utils

.PHONY: all deps build run test bench sanitize fuzz package package-check reproducible chroot-test \
        clean-build-test repo screenshots clean

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

package: deps
	@JOBS=$(JOBS) sh tools/build-deb.sh $(PACKAGE_OUT) build-deb

package-check: package
	@sh tests/package/package_test.sh $(PACKAGE_OUT)

reproducible: deps
	@JOBS=$(JOBS) sh tools/reproducible-check.sh build-deb-a build-deb-b/in/another/folder

chroot-test: package
	@sh tools/install-deps.sh $(CHROOT_PACKAGES)
	@JOBS=$(JOBS) sh tests/package/chroot_test.sh $(PACKAGE_OUT)

clean-build-test: package
	@sh tools/install-deps.sh $(CHROOT_PACKAGES)
	@JOBS=$(JOBS) sh tests/package/clean_build_test.sh $(PACKAGE_OUT)

repo: package
	@sh tools/install-deps.sh apt-utils gnupg
	@sh tools/make-repo.sh repo $(PACKAGE_OUT)

screenshots: build
	@sh tools/install-deps.sh $(SCREENSHOT_PACKAGES)
	@bash tools/take-screenshots.sh $(BUILD) docs

clean:
	rm -rf $(BUILD) build-asan build-fuzz build-deb build-deb-a build-deb-b repo \
	    kalvor_*.deb kalvor-dbgsym_*.deb kalvor_*.buildinfo kalvor_*.changes

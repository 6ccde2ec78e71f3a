#!/bin/sh
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (gcc) in build-asan/, run headless. Any sanitizer report fails the run.
#
# Leak checking is off: Qt keeps its global state (fonts, the platform plugin,
# thread data) to the end of the process on purpose, and so does GoogleTest,
# so LeakSanitizer would report those on every test executable.
set -eu
cd "$(dirname "$0")/.."
BUILD=${ASAN_BUILD:-build-asan}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKALVOR_SANITIZE=ON -DKALVOR_BENCH=OFF -DKALVOR_FUZZ=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd "$BUILD"
ctest --output-on-failure -j "$JOBS"

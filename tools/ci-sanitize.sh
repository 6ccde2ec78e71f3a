#!/bin/sh
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (gcc) in build-asan/, run headless. A sanitizer report ends the executable
# with an error status, so the test that ran it fails.
#
# Leak checking stays on: the suite runs leak-free without suppressions (Qt's
# own state at exit is still reachable, so LeakSanitizer does not count it).
# If a Qt or system library update brings reports that are not ours, put
# "leak:<library>" lines in a file and add suppressions=<file> to ASAN_OPTIONS
# rather than turning detect_leaks off.
#
# The fault tests bound how much the program may grow (VmRSS, within 1 MB).
# Under AddressSanitizer a process grows by itself (freed blocks wait in a
# quarantine, every new allocation stack is stored), so those memory bounds
# are checked in the plain build only (make test); everything else of those
# tests runs here too.
set -eu
cd "$(dirname "$0")/.."
BUILD=${ASAN_BUILD:-build-asan}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# -O1 and line tables only (-g1): what the sanitizers' reports need (file
# and line of each frame), at less than half the compile time of -O2 -g.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DKALVOR_SANITIZE=ON -DKALVOR_BENCH=OFF -DKALVOR_FUZZ=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS"

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd "$BUILD"
ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1" \
    ctest --output-on-failure -j "$JOBS"

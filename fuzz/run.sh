#!/bin/sh
# fuzz/run.sh [SECONDS]: builds the libFuzzer targets in build-fuzz/ (clang,
# AddressSanitizer, UndefinedBehaviorSanitizer) and, for each target,
#   1. replays every saved crash input in fuzz/regressions/<target>/;
#   2. fuzzes for SECONDS (default 60) from fuzz/corpus/<target>/ and the saved
#      crash inputs; new corpus entries go to build-fuzz/corpus/<target>/, new
#      crash inputs to fuzz/regressions/<target>/ (keep them: they are replayed
#      on every run from then on).
# Exits non-zero when any input crashes or breaks a checked property.
set -eu
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
BUILD=${FUZZ_BUILD:-build-fuzz}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

pick() { for c in "$@"; do command -v "$c" >/dev/null 2>&1 && { echo "$c"; return; }; done; echo "$1"; }
CC=${FUZZ_CC:-$(pick clang-14 clang)}
CXX=${FUZZ_CXX:-$(pick clang++-14 clang++)}

if [ ! -f "$BUILD/build.ninja" ]; then
    CC=$CC CXX=$CXX cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKALVOR_FUZZ=ON -DKALVOR_SANITIZE=ON -DKALVOR_BENCH=OFF >/dev/null
fi
cmake --build "$BUILD" -j "$JOBS" --target kalvor_fuzzers

for s in /usr/lib/llvm-14/bin/llvm-symbolizer "$(command -v llvm-symbolizer || true)"; do
    if [ -n "$s" ] && [ -x "$s" ]; then export ASAN_SYMBOLIZER_PATH="$s"; break; fi
done
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
# The targets' scratch settings files; a crashed run leaves them here, not in /tmp.
mkdir -p "$BUILD/tmp"
TMPDIR=$(cd "$BUILD/tmp" && pwd)
export TMPDIR

# Longest input worth trying per target: an identity record is 128 bytes of
# chip, a setting value a short line, a link line at most 1024 bytes.
max_len() {
    case "$1" in
        fuzz_identity_record) echo 128 ;;
        fuzz_settings) echo 256 ;;
        *) echo 1100 ;;
    esac
}

mkdir -p "$BUILD/fuzz-logs"
failed=""
for src in fuzz/fuzz_*.cpp; do
    target=$(basename "$src" .cpp)
    bin="$BUILD/fuzz/$target"
    regressions="fuzz/regressions/$target"
    corpus="$BUILD/corpus/$target"
    log="$BUILD/fuzz-logs/$target.log"
    mkdir -p "$regressions" "$corpus"

    saved=$(find "$regressions" -type f ! -name '.*' | sort)
    if [ -n "$saved" ]; then
        count=$(echo "$saved" | wc -l)
        # shellcheck disable=SC2086
        if "$bin" $saved >"$log.replay" 2>&1; then
            echo "$target: $count saved crash input(s) replayed, all pass"
        else
            echo "$target: a saved crash input still fails:" >&2
            tail -n 40 "$log.replay" >&2
            failed="$failed $target"
            continue
        fi
    fi

    echo "$target: fuzzing for ${SECONDS_PER_TARGET}s"
    if "$bin" -max_total_time="$SECONDS_PER_TARGET" -max_len="$(max_len "$target")" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$regressions/" \
        "$corpus" "fuzz/corpus/$target" "$regressions" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 | sed "s/^/  /"
    else
        echo "$target: FAILED; the input is saved in $regressions/" >&2
        tail -n 60 "$log" >&2
        failed="$failed $target"
    fi
done

if [ -n "$failed" ]; then
    echo "fuzzing failed:$failed" >&2
    exit 1
fi
echo "fuzzing passed"

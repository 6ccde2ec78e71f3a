#!/bin/sh
# Runs the benchmarks built in <builddir>/bench (it builds nothing) and prints
# each figure beside its floor from the same run and its target.
# Usage: sh bench/run.sh [builddir]   (make bench calls it with the build folder)
# Exit status: 0 when every target is met, 1 when one is missed or a benchmark
# could not run. The full output stays in <builddir>/bench/results/.
set -u
build=${1:-build}
bin="$build/bench"
results="$bin/results"

for name in reading link memory batch settle calib report store; do
    if [ ! -x "$bin/kalvor_bench_$name" ]; then
        echo "bench/run.sh: $bin/kalvor_bench_$name is missing; build with Google Benchmark" \
             "(Debian package libbenchmark-dev) installed: make build" >&2
        exit 1
    fi
done
mkdir -p "$results" || exit 1

status=0
for name in reading link memory batch settle calib report store; do
    echo "running kalvor_bench_$name ..."
    rm -f "$results/$name.json"
    if ! "$bin/kalvor_bench_$name" --benchmark_counters_tabular=true \
            --benchmark_out="$results/$name.json" --benchmark_out_format=json \
            >"$results/$name.txt" 2>&1; then
        echo "bench/run.sh: kalvor_bench_$name failed:" >&2
        cat "$results/$name.txt" >&2
        status=1
    fi
done
echo

set --
for name in reading link memory batch settle calib report store; do
    [ -f "$results/$name.json" ] && set -- "$@" "$results/$name.json"
done
awk '
function num(line) { sub(/^[^:]*: */, "", line); sub(/,$/, "", line); return line + 0 }
function str(line) { sub(/^[^:]*: *"/, "", line); sub(/",?$/, "", line); return line }
function fix(v) { return v >= 100 ? sprintf("%.0f", v) : v >= 10 ? sprintf("%.1f", v) : sprintf("%.2f", v) }
function has(b, k) { return ((b SUBSEP k) in val) }
function get(b, k) { return val[b, k] }
function row(label, measured, floor, ratio, target, result) {
    printf "%-34s %-15s %-11s %-9s %-10s %s\n", label, measured, floor, ratio, target, result
}
function verdict(b) {
    if (!(b in seen)) { bad = 1; return "MISSING" }
    if (b in err) { bad = 1; return "ERROR: " err[b] }
    if (get(b, "pass") == 1) return "PASS"
    bad = 1; return "FAIL"
}
function max3(x, y, z) { return x > y ? (x > z ? x : z) : (y > z ? y : z) }
function limit(b, k, before, after) { return has(b, k) ? before get(b, k) after : "-" }
function cell(b, k, unit) { return has(b, k) ? fix(get(b, k)) " " unit : "-" }
function port(b, label) {
    row(label " (" (b == "BM_Reading" ? "getVoltages" : "getEEPROM") ")",
        cell(b, "measured_us", "us"), cell(b, "floor_us", "us"),
        has(b, "ratio") ? sprintf("%.2f", get(b, "ratio")) : "-", "-", "-")
    row(label ": own share of bus", cell(b, "own_us", "us"), cell(b, "bus_us", "us"),
        has(b, "own_pct") ? sprintf("%.3f %%", get(b, "own_pct")) : "-",
        limit(b, "limit_pct", "< ", " %"), verdict(b))
}
/"name":/ { b = str($0); sub(/\/.*/, "", b); seen[b] = 1; next }
/"error_message":/ { err[b] = str($0); next }
/^ *"[A-Za-z0-9_]+": *-?[0-9]/ { k = $1; gsub(/[":]/, "", k); val[b, k] = num($0) }
END {
    row("benchmark", "measured", "floor", "ratio", "target", "result")
    port("BM_Reading", "reading")
    port("BM_Eeprom", "EEPROM image")
    b = "BM_LinkGet"
    row("link: GET data A round trip", cell(b, "measured_us", "us"), cell(b, "floor_us", "us"),
        has(b, "ratio") ? sprintf("%.2f", get(b, "ratio")) : "-", limit(b, "limit", "<= ", ""), verdict(b))
    b = "BM_LinkFanOut"
    row("link: set A to 64 clients, p99", cell(b, "p99_ms", "ms"), "-", "-",
        limit(b, "limit_ms", "<= ", " ms"), verdict(b))
    b = "BM_Memory"
    row("memory: VmRSS after 1000 readings", cell(b, "rss_kib", "KiB"), "-", "-", "-", "-")
    row("memory: growth, reading 100..1000", cell(b, "growth_kib", "KiB"), "-", "-",
        limit(b, "limit_kib", "<= ", " KiB"), verdict(b))
    b = "BM_BatchFilm"
    row("batch: film in to confirmed record", cell(b, "per_film_ms", "ms"), cell(b, "floor_ms", "ms"),
        has(b, "floor_ms") && get(b, "floor_ms") > 0 ? sprintf("%.2f", get(b, "per_film_ms") / get(b, "floor_ms")) : "-",
        limit(b, "limit_ms", "<= ", " ms"), verdict(b))
    b = "BM_SettledRule"
    row("settle: worst |stored - settled|", has(b, "worst") ? sprintf("%.4f", get(b, "worst")) : "-",
        has(b, "old_worst") ? sprintf("%.4f", get(b, "old_worst")) : "-", "-", limit(b, "limit_worst", "<= ", ""), verdict(b))
    row("settle: readings per film", has(b, "readings") ? sprintf("%.2f", get(b, "readings")) : "-",
        has(b, "old_readings") ? sprintf("%.2f", get(b, "old_readings")) : "-",
        has(b, "extra_readings") ? sprintf("+%.2f", get(b, "extra_readings")) : "-", limit(b, "limit_extra", "<= +", ""), verdict(b))
    n = split("poly1 poly2 poly3 poly4 exp exp_tz power power_tz", models, " ")
    for (i = 1; i <= n; ++i) {
        b = "BM_CalibFit_" models[i]
        label = models[i]
        sub(/_tz$/, " through zero", label)
        row("calib: fit 50, " label, cell(b, "measured_us", "us"), "-", "-", limit(b, "limit_us", "< ", " us"), verdict(b))
    }
    b = "BM_CalibDose"
    row("calib: a dose and its budget", cell(b, "measured_us", "us"), "-", "-", limit(b, "limit_us", "< ", " us"), verdict(b))
    b = "BM_Report500"
    row("report: PDF of 500 dosimeters", cell(b, "measured_ms", "ms"), "-", "-", limit(b, "limit_ms", "< ", " ms"), verdict(b))
    n = split("SQLite PostgreSQL", backends, " ")
    for (i = 1; i <= n; ++i) {
        b = "BM_TenYears_" backends[i]
        v = verdict(b)
        row("ten years, " backends[i] ": open", cell(b, "open_ms", "ms"), cell(b, "small_open_ms", "ms"), "-", "< 1000 ms", v)
        row("ten years, " backends[i] ": window start", cell(b, "window_ms", "ms"), "-", "-", "< 1000 ms", v)
        row("ten years, " backends[i] ": batch export", cell(b, "batch_export_ms", "ms"), cell(b, "small_batch_export_ms", "ms"), "-", "< 100 ms", v)
        row("ten years, " backends[i] ": month export", cell(b, "month_export_ms", "ms"), "-", "-", "-", "-")
        row("ten years, " backends[i] ": verify", has(b, "verify_rows_s") ? sprintf("%.0f rows/s", get(b, "verify_rows_s")) : "-",
            has(b, "small_verify_rows_s") ? sprintf("%.0f", get(b, "small_verify_rows_s")) : "-", "-", ">= 200000", v)
        row("ten years, " backends[i] ": peak memory", has(b, "verify_mib") ? sprintf("%.1f MiB", max3(get(b, "verify_mib"), get(b, "window_mib"), get(b, "month_mib"))) : "-",
            has(b, "small_verify_mib") ? sprintf("%.1f MiB", max3(get(b, "small_verify_mib"), get(b, "small_window_mib"), 0)) : "-", "-", "flat", v)
    }
    if (has("BM_TenYears_SQLite", "rows"))
        printf "ten years: %d rows (readings, their events and doses, batches and terms); floor column = a store a tenth the size. Memory: how far verify, the window start and a month export raise the peak (VmHWM).\n",
            get("BM_TenYears_SQLite", "rows")
    print ""
    printf "floors: 1200 x 4 and 2209 + 512 virtual port calls on the same instant port; echo of\n"
    printf "the same line over a Unix socket pair. Bus: about 1 us per ISA port access.\n"
    if (has("BM_LinkFanOut", "p50_ms"))
        printf "fan-out: p50 %s ms, max %s ms over every set. ",
            fix(get("BM_LinkFanOut", "p50_ms")), fix(get("BM_LinkFanOut", "max_ms"))
    printf "Measured and floor are medians of interleaved iterations.\n"
    if (has("BM_BatchFilm", "p50_ms"))
        printf "batch: mean of %d films (p50 %s ms, p90 %s ms, max %s ms); floor = 3 readings of %s ms, limit = floor + 2 readings.\n",
            get("BM_BatchFilm", "films"), fix(get("BM_BatchFilm", "p50_ms")), fix(get("BM_BatchFilm", "p90_ms")),
            fix(get("BM_BatchFilm", "max_ms")), fix(get("BM_BatchFilm", "period_ms"))
    if (has("BM_BatchFilm", "own_p50_ms"))
        printf "batch: kalvor-batch itself, from the stable reading to the LED: p50 %s ms, max %s ms.\n",
            fix(get("BM_BatchFilm", "own_p50_ms")), fix(get("BM_BatchFilm", "own_max_ms"))
    if (has("BM_SettledRule", "bias"))
        printf "settle: %d films on the virtual-clock reader; floor column = the rule without the trend check. Mean deviation %.5f (without: %.5f); seconds from insertion to stored %.2f (without: %.2f).\n",
            get("BM_SettledRule", "films"), get("BM_SettledRule", "bias"), get("BM_SettledRule", "old_bias"),
            get("BM_SettledRule", "seconds"), get("BM_SettledRule", "old_seconds")
    if (has("BM_Report500", "render_ms"))
        printf "report: %d dosimeters, %d pages; reading the store %s ms, making the PDF %s ms (medians).\n",
            get("BM_Report500", "dosimeters"), get("BM_Report500", "pages"),
            fix(get("BM_Report500", "read_ms")), fix(get("BM_Report500", "render_ms"))
    exit bad
}' /dev/null "$@" || status=1
echo "results: $results"
exit $status

#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for a fixed number
# of executions, starting from the seed corpus checked in under
# fuzz/corpus/<target>/. Prints the executions done per target and fails on
# any crash, leak, time-out or sanitizer report.
#
#   scripts/fuzz.sh [EXECUTIONS] [TARGET...]     EXECUTIONS defaults to 200000
#
# A failing input is kept as build-fuzz/fuzz-work/<target>/crash-* (or
# leak-*, timeout-*); run the target on that file alone to see the report
# again. QM_FUZZ_BUILD picks another build folder; QM_FUZZ_SEED=<n> makes
# a run repeat exactly (each run otherwise starts from a new random seed,
# which libFuzzer prints as "INFO: Seed:" in build-fuzz/fuzz-work/*/log).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

runs="${1:-200000}"
shift || true
if ! [[ "$runs" =~ ^[0-9]+$ ]] || [ "$runs" -lt 1 ]; then
    echo "usage: scripts/fuzz.sh [EXECUTIONS] [TARGET...]" >&2
    exit 2
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(http_judgement greeting smtp_reply registry_import log_stats template)
fi

qm_install_packages
qm_install_fuzz_packages

build="${QM_FUZZ_BUILD:-$QM_ROOT/build-fuzz}"
cmake -S "$QM_ROOT" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DQUELLMARK_BUILD_TESTS=OFF \
    -DQUELLMARK_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_all

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=0
total_start=$SECONDS
for target in "${targets[@]}"; do
    binary="$build/fuzz/fuzz_$target"
    seeds="$QM_ROOT/fuzz/corpus/$target"
    if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
        echo "fuzz: $target: no such target" >&2
        failed=1
        continue
    fi
    # The checked-in seeds stay as they are; what the run finds goes to a
    # working copy.
    work="$build/fuzz-work/$target"
    rm -rf "$work"
    mkdir -p "$work/corpus"
    cp "$seeds"/* "$work/corpus/" 2>/dev/null || true
    options=(-runs="$runs" -max_len=4096 -timeout=30 -rss_limit_mb=2048
             -print_final_stats=1 -artifact_prefix="$work/")
    if [ -n "${QM_FUZZ_SEED:-}" ]; then
        options+=(-seed="$QM_FUZZ_SEED")
    fi
    if [ -f "$QM_ROOT/fuzz/$target.dict" ]; then
        options+=(-dict="$QM_ROOT/fuzz/$target.dict")
    fi
    start=$SECONDS
    status=0
    (cd "$work" && "$binary" "${options[@]}" "$work/corpus" >"$work/log" 2>&1) || status=$?
    seconds=$((SECONDS - start))
    done_line="$(grep -E '^Done [0-9]+ runs' "$work/log" | tail -n 1 || true)"
    executions="$(sed -E 's/^Done ([0-9]+) runs.*/\1/' <<<"$done_line")"
    if [ "$status" -ne 0 ] || [ -z "$done_line" ] ||
        grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$work/log"; then
        echo "fuzz: $target: FAILED after ${seconds}s (exit $status); report:"
        grep -vE '^(#[0-9]+|INFO:)' "$work/log" | tail -n 60
        ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null || true
        failed=1
        continue
    fi
    printf 'fuzz: %-16s %s executions in %ss\n' "$target" "$executions" "$seconds"
done
echo "fuzz: total $((SECONDS - total_start))s"
if [ "$failed" -ne 0 ]; then
    echo "fuzz: FAILED" >&2
    exit 1
fi

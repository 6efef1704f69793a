#!/usr/bin/env bash
# Builds everything with AddressSanitizer (leak checking included) and
# UndefinedBehaviorSanitizer in build-asan and runs the whole test suite
# under them. Fails when a test fails or when any process of the suite,
# programs started by the tests included, reported something.
#
#   scripts/sanitize.sh [ctest arguments...]     e.g. -R core_ to run a part
#
# QM_ASAN_BUILD picks another build folder, QM_SAN_CXX another compiler
# (default g++; clang++ works too).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
qm_install_test_packages

QM_ASAN_BUILD="${QM_ASAN_BUILD:-$QM_ROOT/build-asan}"
QM_SAN_CXX="${QM_SAN_CXX:-g++}"
if [ "$QM_SAN_CXX" != "${QM_SAN_CXX#clang}" ]; then
    qm_install_fuzz_packages
fi

# -O1 keeps the suite fast enough; Debug keeps Qt's own range assertions on.
san_flags="-O1 -g -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S "$QM_ROOT" -B "$QM_ASAN_BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug \
    -DQUELLMARK_BUILD_BENCH=OFF \
    -DCMAKE_CXX_COMPILER="$QM_SAN_CXX" \
    -DCMAKE_CXX_FLAGS="$san_flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"
cmake --build "$QM_ASAN_BUILD" -j"$(nproc)"

# Reports go to files rather than to standard error, so that one from a
# process whose output or exit code a test ignores is seen as well.
reports="$QM_ASAN_BUILD/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
# Leaks inside system libraries we cannot fix, never our own.
suppressions="$QM_ROOT/scripts/lsan.supp"
if [ -f "$suppressions" ]; then
    export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0"
fi

# The install checks (label "install") look at files and the package, not at
# memory; the plain run of scripts/test.sh has them.
status=0
(cd "$QM_ASAN_BUILD" && ctest --output-on-failure -j"$(nproc)" --timeout 900 -LE install "$@") || status=$?

found=0
for report in "$reports"/*; do
    [ -e "$report" ] || continue
    found=$((found + 1))
    echo "==== sanitizer report $(basename "$report")"
    cat "$report"
done
if [ "$found" -gt 0 ]; then
    echo "sanitize: $found sanitizer report(s), see above" >&2
    status=1
fi
if [ "$status" -ne 0 ]; then
    echo "sanitize: FAILED" >&2
    exit 1
fi
echo "sanitize: all tests passed under AddressSanitizer and UndefinedBehaviorSanitizer"

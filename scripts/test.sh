#!/usr/bin/env bash
# Installs what is missing (what the build needs, the test servers and tools,
# the validators and packaging tools of the install checks), builds, and runs
# the whole test suite: the tests (among them the install checks, which make
# the Debian package from this build), the same tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short round of every
# fuzz target. Fails when anything fails. QM_QUICK=1 runs the tests alone.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
qm_install_test_packages
qm_install_e2e_packages
qm_build
(cd "$QM_BUILD" && ctest --output-on-failure -j"$(nproc)" --timeout 600)

if [ "${QM_QUICK:-0}" = 1 ]; then
    exit 0
fi
bash "$QM_ROOT/scripts/sanitize.sh"
bash "$QM_ROOT/scripts/fuzz.sh" 10000

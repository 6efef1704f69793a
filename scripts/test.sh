#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. Fails when
# any test fails.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
qm_install_packages
qm_install_e2e_packages
qm_build
cd "$QM_BUILD"
ctest --output-on-failure -j"$(nproc)" --timeout 600

#!/usr/bin/env bash
# Installs what building and running need (only the packages missing),
# builds the program and its tools in build/, and starts Quellmark.
# Arguments are passed to the program (for example: test).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
qm_install_packages
qm_build_programs
exec "$QM_BUILD/src/app/quellmark" "$@"

#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quellmark. Arguments are passed
# to the program (for example: test).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
qm_install_packages
qm_build
exec "$QM_BUILD/src/app/quellmark" "$@"

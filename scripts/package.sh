#!/usr/bin/env bash
# Builds the Debian package: installs what the build and dpkg-shlibdeps need
# (only the packages missing), builds a Release tree without the test suite
# in build-release/, and makes the .deb with CPack into dist/:
#
#   bash scripts/package.sh
#   apt install ./dist/quellmark_*.deb
#
# QM_PACKAGE_BUILD picks another build folder, QM_DIST another output folder.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
qm_install_package_packages

QM_BUILD="${QM_PACKAGE_BUILD:-$QM_ROOT/build-release}"
dist="${QM_DIST:-$QM_ROOT/dist}"
QM_BUILD_TYPE=Release qm_build -DQUELLMARK_BUILD_TESTS=OFF

staging="$QM_BUILD/cpack"
rm -rf "$staging"
(cd "$QM_BUILD" && cpack --config CPackConfig.cmake -B "$staging")
mkdir -p "$dist"
rm -f "$dist"/quellmark_*.deb
mv "$staging"/quellmark_*.deb "$dist"/
rm -rf "$staging"
for deb in "$dist"/quellmark_*.deb; do
    echo "package: $deb"
    dpkg-deb --field "$deb" Package Version Architecture Depends Recommends
done

# Shared by the run, test and package scripts: install what each needs on a
# Debian 12 machine (only the packages missing), then configure and build.

set -euo pipefail

QM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QM_BUILD="${QM_BUILD:-$QM_ROOT/build}"

# What building and running the program needs: the compiler and build tools,
# the Qt and SQLite development files, and what the program loads at run
# time (the Qt platform plugins, the GStreamer elements Qt Multimedia plays
# the sound theme's bell with, the certificate authorities for TLS).
QM_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
    libsqlite3-dev
    qt6-qpa-plugins gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    ca-certificates
)

# What the test suite needs besides: a private X server and session bus,
# smtp-sink (postfix) and openssl for the mail and TLS cases, network and
# process tools, the validators and packaging tools of the install checks,
# and python3 with jsonschema to read the report exports back (CSV, JSON),
# and Prometheus's checker (promtool) and node exporter for the metrics.
QM_TEST_PACKAGES=(
    postfix openssl
    python3 python3-jsonschema
    xvfb xauth
    dbus dbus-daemon libglib2.0-bin
    iproute2 util-linux
    desktop-file-utils appstream man-db
    dpkg-dev file
    prometheus prometheus-node-exporter
)

# What scripts/package.sh needs besides the build: dpkg-shlibdeps (dpkg-dev)
# for the package's library dependencies.
QM_PACKAGE_PACKAGES=(dpkg-dev file)

# Real servers the end-to-end suite runs against. Installing them is best
# effort: a server that cannot be installed makes its cases skip with a
# message instead of failing the set-up.
QM_E2E_PACKAGES=(
    nginx tinyproxy-bin vsftpd postfix dbus dbus-daemon libglib2.0-bin
    dunst xvfb
)

# Extra tools for the fuzz targets and the sanitizer build: clang with its
# runtime libraries (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and the LLVM tools that turn report addresses into source lines.
QM_FUZZ_PACKAGES=(clang libclang-rt-14-dev llvm)

# Installs the Debian packages named after the first argument that are not
# installed yet. With "best-effort" first, a failed install only warns.
qm_install_list() {
    local mode=$1
    shift
    local missing=()
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    if [ "$mode" = "best-effort" ]; then
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q || true
        if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"; then
            echo "warning: could not install all of ${missing[*]}; the cases that need them will be skipped" >&2
        fi
        return 0
    fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

qm_install_packages() { qm_install_list required "${QM_PACKAGES[@]}"; }
qm_install_test_packages() { qm_install_list required "${QM_PACKAGES[@]}" "${QM_TEST_PACKAGES[@]}"; }
qm_install_package_packages() { qm_install_list required "${QM_PACKAGES[@]}" "${QM_PACKAGE_PACKAGES[@]}"; }
qm_install_e2e_packages() { qm_install_list best-effort "${QM_E2E_PACKAGES[@]}"; }
qm_install_fuzz_packages() { qm_install_list required "${QM_FUZZ_PACKAGES[@]}"; }

qm_configure() {
    cmake -S "$QM_ROOT" -B "$QM_BUILD" -G Ninja -DCMAKE_BUILD_TYPE="${QM_BUILD_TYPE:-RelWithDebInfo}" "$@"
}

# Configures and builds everything, the test suite included.
qm_build() {
    qm_configure "$@"
    cmake --build "$QM_BUILD" -j"$(nproc)"
}

# Configures and builds the three programs alone.
qm_build_programs() {
    qm_configure "$@"
    cmake --build "$QM_BUILD" -j"$(nproc)" --target quellmark quellmark-reg quellmark-report
}
